// Pieces the two Lorentzian variants share: the guarded peak term, the
// background of the model functions, the fit call of the start routines and
// the result routine.
#pragma once

#include <cstdio>

#include "engine/family.h"
#include "engine/mrqmin.h"
#include "engine/variant.h"
#include "format/fortran.h"

namespace tavrick::lorentz {

// pi as used in the areas.
inline constexpr double kPi = 3.141592654;
// Below this denominator the inverse is replaced by kHuge, so a zero width
// on a fit point gives a finite factor instead of a division by zero.
inline constexpr double kTiny = 1e-20;
inline constexpr double kHuge = 1e20;

// One Lorentzian h b^2 / ((x - c)^2 + b^2) at one abscissa: d = x - c, the
// guarded inverse e of the denominator, f = e b^2 and the value g = f h.
struct PeakTerm {
  double d;
  double e;
  double f;
  double g;
};

inline PeakTerm peakTerm(double x, double c, double h, double b) {
  PeakTerm t{};
  t.d = x - c;
  const double den = t.d * t.d + b * b;
  t.e = den < kTiny ? kHuge : 1.0 / den;
  t.f = t.e * (b * b);
  t.g = t.f * h;
  return t;
}

// Where a variant keeps its parameters: the slot of peak k's centroid is
// c0 + cstep * k, likewise its height and its half width (bstep = 0 for a
// width common to all peaks). The background follows slot B.
struct Layout {
  int c0, cstep;
  int h0, hstep;
  int b0, bstep;
  int B;
  fortran::Format row;  // peak number, centroid, height, FWHM; then the area
};

// The result routine of both variants: curves over the window, background
// coefficients, per-peak results and rows, background area line.
void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l);

}  // namespace tavrick::lorentz
