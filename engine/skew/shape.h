// The skew Gaussian: its two-sided peak term and kernel, which make the
// model of all four variants, and the result routine they share.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/layout.h"
#include "engine/variant.h"

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

// The result routine of every skew variant: curves over the window,
// background coefficients, per-peak results and rows, background area line.
void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l);

// The kernel (see engine/model.h): the width is the high side's.
struct Kernel {
  static constexpr double kCut = kCutoff;
  static constexpr bool kTwoSided = true;
  using Term = PeakTerm;
  static Term term(double x, double c, double, double whi, double wlo) {
    return peakTerm(x, c, whi, wlo);
  }
  static bool inside(const Term& t) { return t.inside; }
  static bool low(const Term& t) { return t.low; }
  static double value(const Term& t, double h) { return h * t.e; }
  static double dCentroid(const Term& t, double h) { return (((2.0 * h) * t.e) * t.b) / t.w; }
  static double dHeight(const Term& t) { return t.e; }
  static double share(const Term& t, double h) { return t.b * (((2.0 * h) * t.e) * t.b); }
  static double finish(double sum, double w) { return sum / w; }
  static double dWidth(const Term& t, double h) { return finish(share(t, h), t.w); }
  static double startWidth(double fwhm) { return fwhm / kFwhm; }
  static constexpr auto results = skew::results;
};

}  // namespace tavrick::skew
