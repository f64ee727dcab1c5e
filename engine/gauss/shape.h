// The symmetric Gaussian: its peak term and kernel, which make the model of
// all five variants, and the result routine they share.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/family.h"
#include "engine/layout.h"
#include "engine/variant.h"

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
  double w;
};

inline PeakTerm peakTerm(double x, double c, double h, double w) {
  PeakTerm t{};
  t.b = (x - c) / w;
  t.inside = std::abs(t.b) < kCutoff;
  t.e = t.inside ? std::exp(-(t.b * t.b)) : 0.0;
  t.f = h * t.e;
  t.w = w;
  return t;
}

// The kernel (see engine/model.h).
struct Kernel {
  static constexpr double kCut = kCutoff;
  static constexpr bool kTwoSided = false;
  using Term = PeakTerm;
  static Term term(double x, double c, double h, double w, double) { return peakTerm(x, c, h, w); }
  static bool inside(const Term& t) { return t.inside; }
  static bool low(const Term&) { return false; }
  static double value(const Term& t, double) { return t.f; }
  static double dCentroid(const Term& t, double) { return ((2.0 * t.f) * t.b) / t.w; }
  static double dHeight(const Term& t) { return t.e; }
  static double share(const Term& t, double) { return (2.0 * t.f) * (t.b * t.b); }
  static double finish(double sum, double w) { return sum / w; }
  static double dWidth(const Term& t, double h) { return finish(share(t, h), t.w); }
  static double startWidth(double fwhm) { return fwhm / kFwhm; }
  // The result curves' cut-off is one-sided (b < 10 with the width's sign),
  // so a far channel on one flank keeps a tiny term.
  static Span span(const PeakFit& p, int last) { return curveSpan(p.c, p.h, p.w, p.w, last); }
  static double curve(const PeakFit& p, int xi) {
    const double b = (static_cast<double>(xi) - p.c) / p.w;
    return b < kCutoff ? p.h * expNeg(b * b) : 0.0;
  }
  static void peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p);
};

}  // namespace tavrick::gauss
