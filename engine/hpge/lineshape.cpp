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

void peak(double x, double c, double h, double w, const Tail& t, Terms& d) {
  const double r = t.r / 100.0;
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
  const TailTerms tt = tail(b, w, t.beta, g);

  const double shape = ((1.0 - r) * g + r * tt.t) + s * step;
  d.f = h * shape;
  d.dh = shape;
  // Gaussian: dG/dc = 2 b G / w, dG/dw = 2 b^2 G / w; step: dS/dc = G / (sqrt(pi) w),
  // dS/dw = b G / (sqrt(pi) w); tail: dT/dc = -dT/du.
  const double sg = (kInvSqrtPi * g) / w;
  d.dc = h * (((1.0 - r) * ((2.0 * b * g) / w) - r * tt.du) + s * sg);
  d.dw = h * (((1.0 - r) * ((2.0 * b * b * g) / w) + r * tt.dw) + s * (b * sg));
  d.dr = (h * (tt.t - g)) / 100.0;
  d.dbeta = h * r * tt.dbeta;
  d.dstep = (h * step) / 100.0;
}

double area(double h, double w, const Tail& t) {
  const double r = t.r / 100.0;
  const double e = 1.0 / erfcx(w / (2.0 * t.beta));
  return h * ((1.0 - r) * (w * kSqrtPi) + r * ((2.0 * t.beta) * e));
}

AreaGradient areaGradient(double h, double w, const Tail& t) {
  const double r = t.r / 100.0;
  const double y = w / (2.0 * t.beta);
  const double e = 1.0 / erfcx(y);
  // d(1 / erfcx(y)) / dy = e (2 e / sqrt(pi) - 2 y), from
  // erfcx'(y) = 2 y erfcx(y) - 2 / sqrt(pi).
  const double de = e * (kTwoOverSqrtPi * e - 2.0 * y);
  AreaGradient g{};
  g.dh = (1.0 - r) * (w * kSqrtPi) + r * ((2.0 * t.beta) * e);
  g.dw = h * ((1.0 - r) * kSqrtPi + r * de);
  g.dr = (h * ((2.0 * t.beta) * e - w * kSqrtPi)) / 100.0;
  g.dbeta = 2.0 * h * r * (e - y * de);
  return g;
}

double centroidShift(double w, const Tail& t) {
  const double tail = (t.r / 100.0) * ((2.0 * t.beta) / erfcx(w / (2.0 * t.beta)));
  return (t.beta * tail) / area(1.0, w, t);
}

ShiftGradient shiftGradient(double w, const Tail& t) {
  // shift = BETA q / A with q the tail's area and A the whole area per unit
  // height: d shift = BETA (dq A - q dA) / A^2 (+ q / A for BETA itself).
  const double r = t.r / 100.0;
  const double y = w / (2.0 * t.beta);
  const double e = 1.0 / erfcx(y);
  const double de = e * (kTwoOverSqrtPi * e - 2.0 * y);
  const double q = r * ((2.0 * t.beta) * e);
  const double a = area(1.0, w, t);
  const AreaGradient ga = areaGradient(1.0, w, t);
  const double qw = r * de;
  const double qr = ((2.0 * t.beta) * e) / 100.0;
  const double qb = 2.0 * r * (e - y * de);
  const double a2 = a * a;
  ShiftGradient g{};
  g.dw = (t.beta * (qw * a - q * ga.dw)) / a2;
  g.dr = (t.beta * (qr * a - q * ga.dr)) / a2;
  g.dbeta = q / a + (t.beta * (qb * a - q * ga.dbeta)) / a2;
  return g;
}

}  // namespace tavrick::hpge
