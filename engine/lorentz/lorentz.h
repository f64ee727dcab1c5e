// Lorentzian variants: start routines (g...), model functions (f...) and result routines (x...).
#pragma once

#include <cstdio>

#include "engine/variant.h"

namespace tavrick {

void glor(const StartArgs& s, FitWork& w, std::FILE* out);
void flor(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xlor(const ResultArgs& r, FitResults& res, std::FILE* out);

void glorf(const StartArgs& s, FitWork& w, std::FILE* out);
void florf(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);
void xlorf(const ResultArgs& r, FitResults& res, std::FILE* out);

}  // namespace tavrick
