// Result values of germanium-shape peaks: values from the parameters, errors
// propagated through the covariance of the slots, wherever the slots stand.
#include "engine/hpge/results.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

using tavrick::hpge::PeakResult;
using tavrick::hpge::Slots;

constexpr int kN = 9;

// The mean position and area of a peak, computed from the line shape by
// integration, for the parameters p (slots as in s).
struct Moments {
  double mean, area;
};
Moments moments(const std::array<double, kN>& p, const Slots& s) {
  const auto v = [&](int j) { return j > 0 ? p[static_cast<std::size_t>(j - 1)] : 0.0; };
  const tavrick::hpge::Tail t{v(s.r), v(s.beta), 0.0, v(s.rh), v(s.betah)};
  const double c = v(s.c);
  const double w = std::abs(v(s.w));
  const double lo = c - 12.0 * w - 60.0 * t.beta;
  const double hi = c + 12.0 * w + 60.0 * t.betah;
  const int n = 40000;
  const double dx = (hi - lo) / n;
  double s0 = 0.0, s1 = 0.0;
  for (int i = 0; i <= n; ++i) {
    const double x = lo + i * dx;
    const double wgt = (i == 0 || i == n) ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
    tavrick::hpge::Terms d{};
    tavrick::hpge::peak(x, c, v(s.h), v(s.w), t, d);
    s0 += wgt * d.f;
    s1 += wgt * d.f * x;
  }
  return {s1 / s0, s0 * dx / 3.0};
}

TEST(HpgeResults, ValuesAndErrorsThroughTheCovariance) {
  const struct {
    const char* what;
    std::array<double, kN> a;
    Slots s;
    std::vector<std::array<double, 3>> cov;  // (i, j, value), symmetric
  } cases[] = {
      {"low tail, uncorrelated",
       {5.0, 0.1, 40.2, 5000.0, 1.9, 12.0, 1.4, 0.3, 0.0},
       {3, 4, 5, 6, 7, 0, 0},
       {{3, 3, 0.01}, {4, 4, 900.0}, {5, 5, 1e-4}, {6, 6, 0.25}, {7, 7, 0.0025}}},
      {"correlated, held BETA",
       {5.0, 0.1, 40.2, 5000.0, 1.9, 12.0, 1.4, 0.3, 0.0},
       {3, 4, 5, 6, 7, 0, 0},
       {{3, 3, 0.01}, {4, 4, 900.0}, {5, 5, 1e-4}, {6, 6, 0.25}, {4, 5, -0.2}, {5, 6, 0.003}}},
      {"both tails, negative width, shape first",
       {12.0, 1.4, 4.0, 0.8, 22.1, 800.0, -2.2, 0.0, 0.0},
       {5, 6, 7, 1, 2, 3, 4},
       {{5, 5, 0.04},
        {6, 6, 100.0},
        {7, 7, 4e-4},
        {1, 1, 1.0},
        {2, 2, 0.01},
        {3, 3, 0.09},
        {4, 4, 0.0016},
        {1, 2, -0.05},
        {6, 7, 0.1},
        {5, 7, 0.002},
        {1, 7, -0.01}}},
  };
  for (const auto& c : cases) {
    std::vector<double> covar(kN * kN, 0.0);
    for (const auto& e : c.cov) {
      const int i = static_cast<int>(e[0]) - 1, j = static_cast<int>(e[1]) - 1;
      covar[static_cast<std::size_t>(i + j * kN)] = e[2];
      covar[static_cast<std::size_t>(j + i * kN)] = e[2];
    }
    const int ilo = 100;
    const PeakResult r = tavrick::hpge::peakResult(c.a.data(), covar.data(), kN, c.s, ilo);
    const Moments m = moments(c.a, c.s);
    EXPECT_NEAR(r.cen, m.mean + ilo, 1e-7) << c.what;
    EXPECT_NEAR(r.area, m.area, 1e-7 * m.area) << c.what;
    EXPECT_DOUBLE_EQ(r.fwhm, std::abs(c.a[static_cast<std::size_t>(c.s.w - 1)]) * 1.665109223);

    // Errors: the gradients of the integrated moments by central differences.
    std::array<double, kN> gc{}, ga{};
    for (int j = 0; j < kN; ++j) {
      std::array<double, kN> up = c.a, down = c.a;
      const double h = 1e-5 * std::max(1.0, std::abs(c.a[static_cast<std::size_t>(j)]));
      up[static_cast<std::size_t>(j)] += h;
      down[static_cast<std::size_t>(j)] -= h;
      const Moments mu = moments(up, c.s), md = moments(down, c.s);
      gc[static_cast<std::size_t>(j)] = (mu.mean - md.mean) / (2.0 * h);
      ga[static_cast<std::size_t>(j)] = (mu.area - md.area) / (2.0 * h);
    }
    double vc = 0.0, va = 0.0;
    for (int i = 0; i < kN; ++i) {
      for (int j = 0; j < kN; ++j) {
        const double cv = covar[static_cast<std::size_t>(i + j * kN)];
        vc += gc[static_cast<std::size_t>(i)] * gc[static_cast<std::size_t>(j)] * cv;
        va += ga[static_cast<std::size_t>(i)] * ga[static_cast<std::size_t>(j)] * cv;
      }
    }
    EXPECT_NEAR(r.cenerr, std::sqrt(vc), 1e-5 * std::sqrt(vc) + 1e-9) << c.what;
    EXPECT_NEAR(r.areaerr, std::sqrt(va), 1e-5 * std::sqrt(va)) << c.what;
  }
}

}  // namespace
