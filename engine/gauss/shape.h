// Pieces the five symmetric-Gaussian variants share: the peak term of the
// model functions, the background of the model functions, the fit call of the
// start routines and the result routine, which differ between variants only in
// where the parameters stand and in what is held.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/family.h"
#include "engine/mrqmin.h"
#include "engine/variant.h"
#include "format/fortran.h"

namespace tavrick::gauss {

// FWHM of a Gaussian over its width parameter (2 sqrt(ln 2), used as written).
inline constexpr double kFwhm = 1.665109223;
// sqrt(pi) as used in the areas.
inline constexpr double kSqrtPi = 1.772453851;
// A peak contributes nothing where |(x - c) / w| reaches this: exp(-100) is
// below 4e-44 of the height.
inline constexpr double kCutoff = 10.0;

// One peak h exp(-b^2), b = (x - c) / w, at one abscissa. Beyond the cut-off
// e = 0 and the exponential is not evaluated.
struct PeakTerm {
  double b;
  double e;
  double f;  // h * e
  bool inside;
};

inline PeakTerm peakTerm(double x, double c, double h, double w) {
  PeakTerm t{};
  t.b = (x - c) / w;
  t.inside = std::abs(t.b) < kCutoff;
  t.e = t.inside ? std::exp(-(t.b * t.b)) : 0.0;
  t.f = h * t.e;
  return t;
}

// Where a variant keeps its parameters and what it holds. Slot of peak k's
// centroid is c0 + cstep * k (likewise h, w; wstep = 0 for a common width);
// the background follows slot B.
struct Layout {
  int c0, cstep;
  int h0, hstep;
  int w0, wstep;
  int B;
  bool centroidsHeld;    // cenerr is 0
  bool widthHeld;        // no width term in areerr, fwherr is 0
  fortran::Format row;  // format of the table row of one peak
};

// The result routine of every Gaussian variant: curves over the window,
// background coefficients, per-peak results and rows, background area line.
void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l);

}  // namespace tavrick::gauss
