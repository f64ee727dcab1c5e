// The germanium line shape: derivatives against central differences, the
// scaled error function against reference values, the area against a
// numerical integral, and the limits the shape must reduce to.
#include "engine/hpge/lineshape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using tavrick::hpge::AreaGradient;
using tavrick::hpge::Tail;
using tavrick::hpge::Terms;

// One peak and one abscissa.
struct Point {
  const char* what;
  double x, c, h, w;
  Tail t;
};

// Centroid 100, width 2 (FWHM 3.33) unless the case needs otherwise.
const Point kPoints[] = {
    {"top", 100.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"low flank", 97.3, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"high flank", 102.6, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"low tail, z < 0", 93.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"far tail beyond the Gaussian cut", 75.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"far high side", 119.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}},
    {"short tail, large y", 98.5, 100.0, 500.0, 2.0, {35.0, 0.1, 0.3}},
    {"short tail below z = 0", 96.5, 100.0, 500.0, 2.0, {35.0, 0.1, 0.3}},
    {"long tail, small y", 90.0, 100.0, 500.0, 2.0, {5.0, 40.0, 0.3}},
    {"no tail, step only", 99.0, 100.0, 200.0, 3.0, {0.0, 2.0, 1.5}},
    {"all tail", 98.0, 100.0, 200.0, 3.0, {100.0, 2.0, 0.0}},
    {"negative height", 99.2, 100.0, -50.0, 2.5, {10.0, 3.0, 2.0}},
    {"wide peak", 420.0, 431.7, 80.0, 9.0, {12.0, 6.0, 0.5}},
    {"both tails, top", 100.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8, 4.0, 0.8}},
    {"both tails, high flank", 102.2, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8, 4.0, 0.8}},
    {"both tails, far high side", 108.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8, 4.0, 0.8}},
    {"high tail only, low flank", 98.0, 100.0, 300.0, 1.6, {0.0, 1.0, 0.2, 10.0, 2.5}},
    {"high tail unused", 101.0, 100.0, 300.0, 1.6, {8.0, 1.0, 0.2, 0.0, 2.5}},
    {"negative width", 98.7, 100.0, 300.0, -1.6, {8.0, 1.0, 0.2, 3.0, 2.5}},
};

// Parameter k of a point: centroid, height, width, R, BETA, STEP, RH, BETAH.
double& param(Point& p, int k) {
  switch (k) {
    case 0:
      return p.c;
    case 1:
      return p.h;
    case 2:
      return p.w;
    case 3:
      return p.t.r;
    case 4:
      return p.t.beta;
    case 5:
      return p.t.step;
    case 6:
      return p.t.rh;
    default:
      return p.t.betah;
  }
}

double analytic(const Terms& d, int k) {
  const double v[] = {d.dc, d.dh, d.dw, d.dr, d.dbeta, d.dstep, d.drh, d.dbetah};
  return v[k];
}

double value(const Point& p) {
  Terms d{};
  tavrick::hpge::peak(p.x, p.c, p.h, p.w, p.t, d);
  return d.f;
}

class LineShape : public ::testing::Test {
 protected:
  // Central difference of fn by parameter k of p, step relative to the
  // parameter (absolute for a parameter at 0).
  template <class Fn>
  static double central(Point p, int k, Fn fn) {
    double& v = param(p, k);
    const double step = 1e-6 * std::max(1.0, std::abs(v));
    const double v0 = v;
    v = v0 + step;
    const double up = fn(p);
    v = v0 - step;
    const double down = fn(p);
    return (up - down) / (2.0 * step);
  }
};

TEST_F(LineShape, DerivativesMatchCentralDifferences) {
  const char* names[] = {"centroid", "height", "width", "R", "BETA", "STEP", "RH", "BETAH"};
  for (const Point& p : kPoints) {
    Terms d{};
    tavrick::hpge::peak(p.x, p.c, p.h, p.w, p.t, d);
    EXPECT_TRUE(std::isfinite(d.f)) << p.what;
    for (int k = 0; k < 8; ++k) {
      if (k == 7 && p.t.betah == 0.0) continue;  // no high-side tail
      const double num = central(p, k, value);
      // Rounding of the value itself limits the difference to about 1e-10 h.
      const double tol = 1e-6 * std::max(std::abs(num), 1e-3 * std::abs(p.h));
      EXPECT_NEAR(analytic(d, k), num, tol) << p.what << ", by " << names[k];
    }
  }
}

TEST_F(LineShape, ScaledErrorFunctionMatchesReferenceValues) {
  // Reference values from an independent implementation of erfcx.
  const struct {
    double z, v;
  } cases[] = {
      {-5.0, 144009798674.66104},
      {-1.0, 5.008980080762283},
      {0.0, 1.0},
      {0.5, 0.6156903441929258},
      {1.0, 0.427583576155807},
      {5.0, 0.11070463773306861},
      {20.0, 0.028174348741051323},
      {25.9, 0.021767181150738214},
      {26.0, 0.02168358485056291},  // first point of the series
      {26.1, 0.02160062772634621},
      {30.0, 0.018795888861416754},
      {100.0, 0.005641613782989433},
      {1e4, 5.641895807268084e-05},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(tavrick::hpge::erfcx(c.z), c.v, 2e-14 * c.v) << "z = " << c.z;
  }
}

TEST_F(LineShape, AreaIsTheIntegralOfGaussianAndTail) {
  for (const Point& p : kPoints) {
    if (p.w < 0.0) continue;
    // The step is background: integrate the peak with STEP = 0, by Simpson's
    // rule over a range holding every part of it.
    Point q = p;
    q.t.step = 0.0;
    const double lo = q.c - 12.0 * q.w - 60.0 * q.t.beta;
    const double hi = q.c + 12.0 * q.w + 60.0 * q.t.betah;
    const int n = 200000;
    const double dx = (hi - lo) / n;
    double sum = 0.0;
    for (int i = 0; i <= n; ++i) {
      q.x = lo + i * dx;
      const double wgt = (i == 0 || i == n) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
      sum += wgt * value(q);
    }
    const double integral = sum * dx / 3.0;
    const double a = tavrick::hpge::area(p.h, p.w, p.t);
    EXPECT_NEAR(a, integral, 1e-8 * std::abs(integral)) << p.what;

    const AreaGradient g = tavrick::hpge::areaGradient(p.h, p.w, p.t);
    const auto area = [](const Point& s) { return tavrick::hpge::area(s.h, s.w, s.t); };
    const double ga[] = {g.dh, g.dw, g.dr, g.dbeta, g.drh, g.dbetah};
    const int slots[] = {1, 2, 3, 4, 6, 7};
    for (int i = 0; i < 6; ++i) {
      if (slots[i] == 7 && p.t.betah == 0.0) continue;
      const double num = central(p, slots[i], area);
      EXPECT_NEAR(ga[i], num, 1e-6 * std::max(std::abs(num), 1e-9)) << p.what << " slot " << i;
    }
  }
}

TEST_F(LineShape, CentroidIsTheMeanPosition) {
  for (const Point& p : kPoints) {
    if ((p.t.r == 0.0 && p.t.rh == 0.0) || p.w < 0.0) continue;
    Point q = p;
    q.t.step = 0.0;
    const double lo = q.c - 12.0 * q.w - 60.0 * q.t.beta;
    const double hi = q.c + 12.0 * q.w + 60.0 * q.t.betah;
    const int n = 200000;
    const double dx = (hi - lo) / n;
    double s0 = 0.0;
    double s1 = 0.0;
    for (int i = 0; i <= n; ++i) {
      q.x = lo + i * dx;
      const double wgt = (i == 0 || i == n) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
      s0 += wgt * value(q);
      s1 += wgt * value(q) * (q.x - q.c);
    }
    EXPECT_NEAR(-tavrick::hpge::centroidShift(p.w, p.t), s1 / s0, 1e-7 * q.w) << p.what;

    const tavrick::hpge::ShiftGradient g = tavrick::hpge::shiftGradient(p.w, p.t);
    const auto shift = [](const Point& s) { return tavrick::hpge::centroidShift(s.w, s.t); };
    const double gs[] = {g.dw, g.dr, g.dbeta, g.drh, g.dbetah};
    const int slots[] = {2, 3, 4, 6, 7};
    for (int i = 0; i < 5; ++i) {
      if (slots[i] == 7 && p.t.betah == 0.0) continue;
      const double num = central(p, slots[i], shift);
      EXPECT_NEAR(gs[i], num, 1e-6 * std::max(std::abs(num), 1e-9)) << p.what << " slot " << i;
    }
  }
}

TEST_F(LineShape, Limits) {
  // Without tail and step the peak is the Gaussian h exp(-b^2), bit for bit.
  for (double x : {95.0, 99.1, 100.0, 100.7, 104.0}) {
    const Point p{"gauss", x, 100.0, 750.0, 2.0, {0.0, 1.5, 0.0}};
    const double b = (x - 100.0) / 2.0;
    EXPECT_EQ(value(p), 750.0 * std::exp(-(b * b))) << x;
  }
  // At the centroid the tail is scaled to 1 and the step stands at half height.
  const Point top{"top", 100.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}};
  EXPECT_NEAR(value(top), 1000.0 * (1.0 + 0.004), 1e-9);
  // Far below the peak only the step's full height is left; far above, nothing.
  const Point low{"low", 0.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}};
  EXPECT_EQ(value(low), 8.0);
  const Point high{"high", 200.0, 100.0, 1000.0, 2.0, {20.0, 1.5, 0.8}};
  EXPECT_EQ(value(high), 0.0);
  // The two forms of the tail meet at z = b + y = 0 (y = w / (2 BETA) = 2/3).
  const double zx = 100.0 - 2.0 * (2.0 / 3.0);
  const Point below{"below", std::nextafter(zx, 0.0), 100.0, 1.0, 2.0, {100.0, 1.5, 0.0}};
  const Point at{"at", zx, 100.0, 1.0, 2.0, {100.0, 1.5, 0.0}};
  EXPECT_NEAR(value(below), value(at), 1e-14);
  // A very short tail tends to the Gaussian; its area to the Gaussian's.
  const Tail shortTail{50.0, 1e-3, 0.0};
  EXPECT_NEAR(tavrick::hpge::area(1.0, 2.0, shortTail), 2.0 * 1.7724538509055160273, 1e-6);
}

}  // namespace
