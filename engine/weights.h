// How the points of a fit are weighted, and what is minimised.
//
// data:    sigma^2 = the count (1 for a count below 1), fixed for the fit;
//          the sum of squared weighted residuals is minimised.
// fit:     sigma^2 = the model (1 where it is below 1), taken afresh from the
//          parameters of each pass; the same sum is minimised.
// poisson: the Poisson likelihood chi-square
//            2 * sum (f - n + n ln(n / f))
//          is minimised. Its gradient is sum (n - f) / f * df/da, the
//          weighted-residual gradient with sigma^2 = f, and its expected
//          curvature sum df/da df/db / f: the same Levenberg-Marquardt steps
//          with weights 1 / f, and the covariance from that curvature.
//
// With data weights the counts alone set the weights, and a count below its
// mean gets too much weight: areas come out low at low counts. Weights from
// the model (fit) or the likelihood (poisson) do not.
#pragma once

#include <cmath>
#include <limits>

namespace tavrick {

enum class Weighting { data, fit, poisson };

// One point's part of a pass of the minimiser: the residual n - f, the
// weight 1 / sigma^2 and the point's share of the quantity minimised, from
// the count n, the model f and the point's sigma from the counts (used by
// data weights only). For data and fit weights the share is the squared
// weighted residual. For poisson it is the likelihood term 2 (f - n + n ln(n / f)):
// a count below 0 counts as 0 (no Poisson count is negative), a count of 0
// adds 2 f (n ln(n / f) tends to 0), and a model of 0 or below is no Poisson
// mean: it adds +infinity (and weight 0), so a step that reaches it is
// refused.
struct PointFit {
  double dy, sig2i, chisq;
};

inline PointFit pointFit(Weighting w, double n, double f, double sig) {
  if (w == Weighting::data) {
    const double sig2i = 1.0 / (sig * sig);
    const double dy = n - f;
    return {dy, sig2i, dy * dy * sig2i};
  }
  if (w == Weighting::fit) {
    const double sig2i = 1.0 / std::fmax(f, 1.0);
    const double dy = n - f;
    return {dy, sig2i, dy * dy * sig2i};
  }
  const double c = std::fmax(n, 0.0);
  if (!(f > 0.0)) return {c - f, 0.0, std::numeric_limits<double>::infinity()};
  const double term = c > 0.0 ? (f - c) + c * std::log(c / f) : f;
  return {c - f, 1.0 / f, 2.0 * term};
}

}  // namespace tavrick
