// Symmetric Gaussian variants: start routines (g...), model functions (f...) and result routines (x...).
#pragma once

#include <cstdio>

#include "engine/variant.h"

namespace tavrick {

void gsym(const StartArgs& s, FitWork& w, std::FILE* out);
void fgaus(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xsym(const ResultArgs& r, FitResults& res, std::FILE* out);

void gsymf(const StartArgs& s, FitWork& w, std::FILE* out);
void fgausf(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xsymf(const ResultArgs& r, FitResults& res, std::FILE* out);

void gsymfc(const StartArgs& s, FitWork& w, std::FILE* out);
void fsymfc(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xsymfc(const ResultArgs& r, FitResults& res, std::FILE* out);

void gfwvc(const StartArgs& s, FitWork& w, std::FILE* out);
void fgfwvc(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xfwvc(const ResultArgs& r, FitResults& res, std::FILE* out);

void gfwfc(const StartArgs& s, FitWork& w, std::FILE* out);
void fgfwfc(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xfwfc(const ResultArgs& r, FitResults& res, std::FILE* out);

}  // namespace tavrick
