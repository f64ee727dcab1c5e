// Point weights and the quantity minimised under each weighting.
#include "engine/weights.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using tavrick::PointFit;
using tavrick::Weighting;

TEST(Weights, PointTerms) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    Weighting w;
    double n, f, sig;
    PointFit want;
  } cases[] = {
      {Weighting::data, 100.0, 90.0, 10.0, {10.0, 0.01, 1.0}},
      {Weighting::data, 0.0, 2.0, 1.0, {-2.0, 1.0, 4.0}},
      {Weighting::fit, 100.0, 90.0, 10.0, {10.0, 1.0 / 90.0, 100.0 / 90.0}},
      {Weighting::fit, 2.0, 0.25, 1.0, {1.75, 1.0, 1.75 * 1.75}},  // a model below 1 counts as 1
      {Weighting::poisson, 100.0, 100.0, 10.0, {0.0, 0.01, 0.0}},
      {Weighting::poisson, 4.0, 2.0, 2.0, {2.0, 0.5, 2.0 * ((2.0 - 4.0) + 4.0 * std::log(2.0))}},
      {Weighting::poisson, 0.0, 0.3, 1.0, {-0.3, 1.0 / 0.3, 0.6}},   // no count: 2 f
      {Weighting::poisson, -2.0, 0.3, 1.0, {-0.3, 1.0 / 0.3, 0.6}},  // below 0 counts as none
      {Weighting::poisson, 5.0, 0.0, 1.0, {5.0, 0.0, inf}},          // no Poisson mean
      {Weighting::poisson, 5.0, -1.0, 1.0, {6.0, 0.0, inf}},
  };
  for (const auto& c : cases) {
    const PointFit p = tavrick::pointFit(c.w, c.n, c.f, c.sig);
    const std::string what = std::to_string(static_cast<int>(c.w)) + " n=" + std::to_string(c.n) +
                             " f=" + std::to_string(c.f);
    EXPECT_DOUBLE_EQ(p.dy, c.want.dy) << what;
    EXPECT_DOUBLE_EQ(p.sig2i, c.want.sig2i) << what;
    EXPECT_DOUBLE_EQ(p.chisq, c.want.chisq) << what;
  }
}

// The minimiser's steps minimise the Poisson term only if its derivative by
// the model is -2 dy sig2i, and its mean curvature over Poisson counts is
// 2 sig2i: the gradient and curvature the steps are built from.
TEST(Weights, PoissonGradientAndCurvatureAreThoseOfTheWeights) {
  for (const double f : {0.4, 3.0, 57.5, 4000.0}) {
    for (const double n : {0.0, 1.0, 2.0, 60.0, 3990.0}) {
      const double h = 1e-6 * f;
      const double d = (tavrick::pointFit(Weighting::poisson, n, f + h, 1.0).chisq -
                        tavrick::pointFit(Weighting::poisson, n, f - h, 1.0).chisq) /
                       (2.0 * h);
      const PointFit p = tavrick::pointFit(Weighting::poisson, n, f, 1.0);
      const double g = -2.0 * p.dy * p.sig2i;
      EXPECT_NEAR(d, g, 1e-5 * std::max(1.0, std::abs(g))) << "n=" << n << " f=" << f;
    }
    // d2/df2 of 2 (f - n + n ln(n/f)) is 2 n / f^2, whose mean over n is 2 / f.
    double mean = 0.0;
    const int top = static_cast<int>(f + 40.0 * std::sqrt(f) + 50.0);
    for (int n = 0; n <= top; ++n) {
      const double p = std::exp(n * std::log(f) - f - std::lgamma(n + 1.0));
      mean += p * (2.0 * n / (f * f));
    }
    EXPECT_NEAR(mean, 2.0 * tavrick::pointFit(Weighting::poisson, 1.0, f, 1.0).sig2i, 1e-9 / f)
        << f;
  }
}

}  // namespace
