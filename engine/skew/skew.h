// Skew-Gaussian variants: start routines (g...), model functions (f...) and result routines (x...).
#pragma once

#include <cstdio>

#include "engine/variant.h"

namespace tavrick {

void gskew(const StartArgs& s, FitWork& w, std::FILE* out);
void fskew(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xskew(const ResultArgs& r, FitResults& res, std::FILE* out);

void gskewf(const StartArgs& s, FitWork& w, std::FILE* out);
void fskewf(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xskewf(const ResultArgs& r, FitResults& res, std::FILE* out);

void gsfwvc(const StartArgs& s, FitWork& w, std::FILE* out);
void fgsfwvc(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xsfwvc(const ResultArgs& r, FitResults& res, std::FILE* out);

void gsfwfc(const StartArgs& s, FitWork& w, std::FILE* out);
void fgsfwfc(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xsfwfc(const ResultArgs& r, FitResults& res, std::FILE* out);

}  // namespace tavrick
