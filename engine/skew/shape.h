// The skew Gaussian: its two-sided peak term and kernel, which make the
// model of all four variants, and the result routine they share.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/family.h"
#include "engine/gauss/shape.h"
#include "engine/layout.h"
#include "engine/variant.h"

namespace tavrick::skew {

// The Gaussian's constants: FWHM over the mean of a flank pair's width
// parameters (also the factor between a given FWHM and a width), sqrt(pi),
// and the cut-off of the model; sqrt(pi) / 2 for the areas' errors.
using gauss::kCutoff;
using gauss::kFwhm;
using gauss::kSqrtPi;
inline constexpr double kHalfSqrtPi = 0.8862269255;

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
  // The result curves keep the widths' signs; their cut-off is one-sided
  // (b < 10), so a far channel on the low flank keeps a vanishing term.
  static Span span(const PeakFit& p, int last) { return curveSpan(p.c, p.h, p.wlo, p.w, last); }
  static double curve(const PeakFit& p, int xi) {
    const double d = sp(static_cast<float>(xi)) - p.c;
    const double b = d < 0.0 ? d / p.wlo : d / p.w;
    return p.h * (b < kCutoff ? expNeg(b * b) : 0.0);
  }
  static void peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p);
};

}  // namespace tavrick::skew
