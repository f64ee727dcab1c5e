// Pieces the four skew-Gaussian variants share: the two-sided peak term of
// the model functions, the background of the model functions, the fit call
// of the start routines and the result routine, which differ between
// variants only in where the parameters stand and in what is held.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/family.h"
#include "engine/mrqmin.h"
#include "engine/variant.h"
#include "format/fortran.h"

namespace tavrick::skew {

// FWHM of a flank pair over the mean of its width parameters (2 sqrt(ln 2),
// used as written); also the factor between a given FWHM and a width.
inline constexpr double kFwhm = 1.665109223;
// sqrt(pi) and sqrt(pi) / 2 as used in the areas and their errors.
inline constexpr double kSqrtPi = 1.772453851;
inline constexpr double kHalfSqrtPi = 0.8862269255;
// A peak contributes nothing where |b| reaches this: exp(-100) is below
// 4e-44 of the height, and no exponential is spent on far channels.
inline constexpr double kCutoff = 10.0;

// One peak at one abscissa: d = x - c falls off with the low-side width left
// of the centroid and with the high-side width from the centroid on (x = c
// uses the high side). b = d / w with w the width of the side in use,
// e = exp(-b^2) inside the cut-off and 0 beyond it.
struct PeakTerm {
  double b;
  double w;
  double e;
  bool low;     // d < 0: the low-side width is in use
  bool inside;  // |b| < kCutoff
};

inline PeakTerm peakTerm(double x, double c, double whi, double wlo) {
  PeakTerm t{};
  const double d = x - c;
  t.low = d < 0.0;
  t.w = t.low ? wlo : whi;
  t.b = d / t.w;
  t.inside = std::abs(t.b) < kCutoff;
  t.e = t.inside ? std::exp(-(t.b * t.b)) : 0.0;
  return t;
}

// Where a variant keeps its parameters and what it holds. The slot of peak
// k's centroid is c0 + cstep * k, likewise the height, the high-side width
// (hi0, histep) and the low-side width (lo0, lostep); step 0 marks a pair of
// widths common to all peaks. The background follows slot B.
struct Layout {
  int c0, cstep;
  int h0, hstep;
  int hi0, histep;
  int lo0, lostep;
  int B;
  bool centroidsHeld;  // cenerr is 0
  bool widthsHeld;     // area error from the height alone, FWHM errors 0
  fortran::Format head;  // three header lines
  fortran::Format row;   // peak number, centroid, area, mean FWHM with errors
  fortran::Format row2;  // one FWHM with its error; two pairs print two lines
};

// The result routine of every skew variant: curves over the window,
// background coefficients, per-peak results and rows, background area line.
void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l);

}  // namespace tavrick::skew
