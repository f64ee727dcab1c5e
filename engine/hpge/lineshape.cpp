// The germanium line shape and its derivatives.
#include "engine/hpge/lineshape.h"

#include <cmath>

namespace tavrick::hpge {

namespace {

constexpr double kSqrtPi = 1.7724538509055160273;
constexpr double kInvSqrtPi = 0.56418958354775628695;  // 1 / sqrt(pi)
constexpr double kTwoOverSqrtPi = 1.1283791670955125739;

// From here on the asymptotic series is used: erfc(z) nears the smallest
// normal double at z = 26.5.
constexpr double kAsymptotic = 26.0;

// The tail and its derivatives by x - c (u), the width and BETA, per unit
// height of the tail.
struct TailTerms {
  double t, du, dw, dbeta;
};

TailTerms tail(double b, double w, double beta, double g) {
  TailTerms r{0.0, 0.0, 0.0, 0.0};
  if (b >= kCut) return r;
  const double y = w / (2.0 * beta);
  const double e = 1.0 / erfcx(y);
  const double z = b + y;
  if (z >= 0.0) {
    r.t = std::exp(-(b * b)) * erfcx(z) * e;
  } else {
    const double ex = 2.0 * b * y + y * y;
    if (ex < -kTailExp) return r;
    r.t = std::exp(ex) * std::erfc(z) * e;
  }
  // d/du exp(u / BETA) erfc(z) / erfc(y) with dz/du = 1 / w; the Gaussian
  // factor exp(-z^2) exp(u / BETA) / erfc(y) reduces to g / erfcx(y).
  const double ge = g * e;
  r.du = r.t / beta - (kTwoOverSqrtPi * ge) / w;
  r.dw = ((kTwoOverSqrtPi * e) / w) * (r.t * y - g * (y - b));
  r.dbeta = (-(2.0 * b * y) * r.t + ((kTwoOverSqrtPi * e) * y) * (g - r.t)) / beta;
  return r;
}

}  // namespace

double erfcx(double z) {
  if (z < kAsymptotic) {
    // exp(z^2) with the rounding error of z^2 put back: a plain exp(z * z)
    // would be off by up to z^2 units in the last place.
    const double zz = z * z;
    const double err = std::fma(z, z, -zz);
    return (std::exp(zz) * (1.0 + err)) * std::erfc(z);
  }
  // erfcx(z) = 1 / (z sqrt(pi)) * sum (-1)^n (2n-1)!! / (2 z^2)^n; at z = 26
  // the eighth term is below 1e-17 of the first.
  const double q = 1.0 / (2.0 * z * z);
  double term = 1.0;
  double sum = 1.0;
  for (int n = 1; n <= 8; ++n) {
    term = -term * static_cast<double>(2 * n - 1) * q;
    sum += term;
  }
  return (kInvSqrtPi / z) * sum;
}

void peak(double x, double c, double h, double wp, const Tail& t, Terms& d) {
  // The tails and the step have a side, so the width is taken as |w| (a fit
  // step may carry it through 0); its derivative then has w's sign.
  const double w = std::abs(wp);
  const double r = t.r / 100.0;
  const double q = t.rh / 100.0;
  const double s = t.step / 100.0;
  const double b = (x - c) / w;
  const bool inside = std::abs(b) < kCut;
  const double g = inside ? std::exp(-(b * b)) : 0.0;
  double step = 0.0;
  if (inside) {
    step = 0.5 * std::erfc(b);
  } else if (b < 0.0) {
    step = 1.0;
  }
  const TailTerms lt = tail(b, w, t.beta, g);
  // The high-side tail is the low-side one seen from the other side: b and
  // x - c change sign, so its derivative by c is +du.
  // Without a decay length (BETAH = 0) there is no high-side tail at all.
  const TailTerms ht = t.betah > 0.0 ? tail(-b, w, t.betah, g) : TailTerms{0.0, 0.0, 0.0, 0.0};

  const double gs = (1.0 - r) - q;
  const double shape = ((gs * g + r * lt.t) + q * ht.t) + s * step;
  d.f = h * shape;
  d.dh = shape;
  // Gaussian: dG/dc = 2 b G / w, dG/dw = 2 b^2 G / w; step: dS/dc = G / (sqrt(pi) w),
  // dS/dw = b G / (sqrt(pi) w); low-side tail: dT/dc = -dT/du.
  const double sg = (kInvSqrtPi * g) / w;
  d.dc = h * (((gs * ((2.0 * b * g) / w) - r * lt.du) + q * ht.du) + s * sg);
  d.dw = h * (((gs * ((2.0 * b * b * g) / w) + r * lt.dw) + q * ht.dw) + s * (b * sg));
  if (wp < 0.0) d.dw = -d.dw;
  d.dr = (h * (lt.t - g)) / 100.0;
  d.dbeta = h * r * lt.dbeta;
  d.dstep = (h * step) / 100.0;
  d.drh = (h * (ht.t - g)) / 100.0;
  d.dbetah = h * q * ht.dbeta;
}

namespace {

// A tail's area per unit height and its derivatives by w, its share (per
// percent) and its decay length: q 2 BETA / erfcx(y), y = w / (2 BETA).
struct TailArea {
  double a, dw, dshare, dbeta;
};

TailArea tailArea(double share, double w, double beta) {
  if (!(beta > 0.0)) return {0.0, 0.0, 0.0, 0.0};
  const double r = share / 100.0;
  const double y = w / (2.0 * beta);
  const double e = 1.0 / erfcx(y);
  // d(1 / erfcx(y)) / dy = e (2 e / sqrt(pi) - 2 y), from
  // erfcx'(y) = 2 y erfcx(y) - 2 / sqrt(pi); dy/dw = 1 / (2 BETA).
  const double de = e * (kTwoOverSqrtPi * e - 2.0 * y);
  return {r * ((2.0 * beta) * e), r * de, ((2.0 * beta) * e) / 100.0, 2.0 * r * (e - y * de)};
}

}  // namespace

double area(double h, double w, const Tail& t) {
  const double gs = (1.0 - t.r / 100.0) - t.rh / 100.0;
  const TailArea lo = tailArea(t.r, w, t.beta);
  const TailArea hi = tailArea(t.rh, w, t.betah);
  return h * ((gs * (w * kSqrtPi) + lo.a) + hi.a);
}

AreaGradient areaGradient(double h, double w, const Tail& t) {
  const double gs = (1.0 - t.r / 100.0) - t.rh / 100.0;
  const TailArea lo = tailArea(t.r, w, t.beta);
  const TailArea hi = tailArea(t.rh, w, t.betah);
  AreaGradient g{};
  g.dh = (gs * (w * kSqrtPi) + lo.a) + hi.a;
  g.dw = h * ((gs * kSqrtPi + lo.dw) + hi.dw);
  g.dr = h * (lo.dshare - (w * kSqrtPi) / 100.0);
  g.dbeta = h * lo.dbeta;
  g.drh = h * (hi.dshare - (w * kSqrtPi) / 100.0);
  g.dbetah = h * hi.dbeta;
  return g;
}

double centroidShift(double w, const Tail& t) {
  const TailArea lo = tailArea(t.r, w, t.beta);
  const TailArea hi = tailArea(t.rh, w, t.betah);
  return (t.beta * lo.a - t.betah * hi.a) / area(1.0, w, t);
}

ShiftGradient shiftGradient(double w, const Tail& t) {
  // shift = n / a with n = BETA lo - BETAH hi: d shift = (dn a - n da) / a^2.
  const TailArea lo = tailArea(t.r, w, t.beta);
  const TailArea hi = tailArea(t.rh, w, t.betah);
  const double n = t.beta * lo.a - t.betah * hi.a;
  const double a = area(1.0, w, t);
  const AreaGradient ga = areaGradient(1.0, w, t);
  const auto d = [&](double dn, double da) { return (dn * a - n * da) / (a * a); };
  ShiftGradient g{};
  g.dw = d(t.beta * lo.dw - t.betah * hi.dw, ga.dw);
  g.dr = d(t.beta * lo.dshare, ga.dr);
  g.dbeta = d(lo.a + t.beta * lo.dbeta, ga.dbeta);
  g.drh = d(-(t.betah * hi.dshare), ga.drh);
  g.dbetah = d(-(hi.a + t.betah * hi.dbeta), ga.dbetah);
  return g;
}

}  // namespace tavrick::hpge
