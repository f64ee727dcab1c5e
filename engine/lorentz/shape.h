// The Lorentzian: its guarded peak term and kernel, which make the model of
// both variants, and the result routine they share.
#pragma once

#include <cstdio>

#include "engine/family.h"
#include "engine/layout.h"
#include "engine/variant.h"

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
  double b;
};

inline PeakTerm peakTerm(double x, double c, double h, double b) {
  PeakTerm t{};
  t.d = x - c;
  const double den = t.d * t.d + b * b;
  t.e = den < kTiny ? kHuge : 1.0 / den;
  t.f = t.e * (b * b);
  t.g = t.f * h;
  t.b = b;
  return t;
}

// The kernel (see engine/model.h): no cut-off, so no sparse form.
struct Kernel {
  static constexpr double kCut = 0.0;
  static constexpr bool kTwoSided = false;
  using Term = PeakTerm;
  static Term term(double x, double c, double h, double b, double) { return peakTerm(x, c, h, b); }
  static bool inside(const Term&) { return true; }
  static bool low(const Term&) { return false; }
  static double value(const Term& t, double) { return t.g; }
  static double dCentroid(const Term& t, double) { return ((2.0 * t.g) * t.d) * t.e; }
  static double dHeight(const Term& t) { return t.f; }
  static double dWidth(const Term& t, double h) { return (((2.0 * h) * t.b) * t.e) * (1.0 - t.f); }
  static double share(const Term& t, double h) { return ((2.0 * h) * t.e) * (1.0 - t.f); }
  static double finish(double sum, double b) { return sum * b; }
  static double startWidth(double fwhm) { return fwhm * 0.5; }
  // No cut-off: every peak over the whole window.
  static Span span(const PeakFit&, int last) { return {0, last + 1}; }
  static double curve(const PeakFit& p, int xi) {
    return peakTerm(sp(static_cast<float>(xi)), p.c, p.h, p.w).g;
  }
  static void peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p);
};

}  // namespace tavrick::lorentz
