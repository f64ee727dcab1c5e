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

// 1 / sigma^2 of a point with count n and model f under fit or poisson
// weights (data weights come from the counts once, before the fit).
inline double modelWeight(Weighting w, double f) {
  if (w == Weighting::fit) return 1.0 / std::fmax(f, 1.0);
  return 1.0 / f;
}

// One point's share of the quantity minimised: the squared weighted residual
// for data and fit weights (sig2i = 1 / sigma^2), the Poisson likelihood term
// for poisson. A count of 0 or below adds 2 f under poisson (n ln(n / f)
// tends to 0); a model of 0 or below is no Poisson mean and adds +infinity,
// so a step that reaches it is refused.
inline double pointChisq(Weighting w, double n, double f, double sig2i) {
  if (w != Weighting::poisson) {
    const double dy = n - f;
    return dy * dy * sig2i;
  }
  if (!(f > 0.0)) return std::numeric_limits<double>::infinity();
  if (n <= 0.0) return 2.0 * f;
  return 2.0 * ((f - n) + n * std::log(n / f));
}

}  // namespace tavrick
