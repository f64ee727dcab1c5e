// Steps every peak family (Gaussian, skew Gaussian, Lorentzian) shares: the
// fit points and start values of a start routine, and the background
// coefficients, curve and area of a result routine.
#pragma once

#include <bit>
#include <cmath>
#include <cstdio>

#include "engine/variant.h"

namespace tavrick {

// Builds the fit points of a window and returns their number, ndata.
// Lowers s.ihi to s.ilo + 65535 when the window is longer than the work
// arrays; then x(i) = i - 1 and sig(i) = sqrt(count), or 1.0 for a count
// below 1.0 (negative counts included: no NaN or zero weights), for
// i = 1 .. ndata; and fills w.lista with the identity 1 .. kMaxPar, since every
// layout keeps its held parameters behind the free ones.
int setupFitPoints(const StartArgs& s, FitWork& w);

// The channel nearest to a position guess: pos + 0.5 truncated towards zero
// for pos > 0, pos - 0.5 truncated otherwise, so 100.5 gives channel 101.
int nearestChannel(double pos);

// Start height of a peak: the raw count (background included) at the channel
// nearest to pos.
double startHeight(const double* spec, double pos);

// Start values of the peaks: for k = 1 .. npeaks, the centroid offset
// pos(k) - ilo goes to slot c0 + cstep * k and the start height to slot
// h0 + hstep * k. a points at slot 1.
void startPeaks(const StartArgs& s, double* a, int c0, int cstep, int h0, int hstep);

// Writes `count` background start values from b (b points at the slot of b1):
// b1 = spec(ilo), b2 = (spec(ihi) - spec(ilo)) / (ihi - ilo), the rest 0.
// A one-channel window gets b2 = 0 rather than a division by zero. Writes
// nothing for count <= 0; families that always fill six slots pass 6.
void startBackground(const double* spec, int ilo, int ihi, int count, double* b);

// The sparse models' pieces. The range [lo, hi] holds every abscissa x at
// which a peak at centroid c passes the cut-off test |fl(fl(x - c) / w)| < cut
// with w = wlow left of c or whigh from c on. Passing it needs
// |x - c| < cut * |w| * (1 + 3u) (u = 2^-53, one rounding in the difference,
// one in the quotient); R = cut * max|w| * 1.0001 + 1 is well above that,
// and the extra (|c| + R) * 1e-12 covers the roundings of c -+ R themselves,
// so lo <= c - R and hi >= c + R hold exactly. A width that overflows R gives
// an unbounded range; w = 0 never passes (b is infinite or NaN).
inline void cutoffReach(double c, double wlow, double whigh, double cut, double& lo, double& hi) {
  const double r = cut * std::fmax(std::abs(wlow), std::abs(whigh)) * 1.0001 + 1.0;
  const double slack = (std::abs(c) + r) * 1e-12;
  lo = (c - r) - slack;
  hi = (c + r) + slack;
}

// Reach of peaks 1 .. n (see SparseModel::reach): centroid(k), wlow(k) and
// whigh(k) give peak k's parameters. -1 when n is out of range or any of
// a(1 .. ma) is not finite.
template <class C, class Wl, class Wh>
int peakReach(const double* a,
              int ma,
              int n,
              double cut,
              double* lo,
              double* hi,
              C centroid,
              Wl wlow,
              Wh whigh) {
  if (n < 0 || n > kMaxPeaks || ma > kMaxPar) return -1;
  for (int j = 0; j < ma; ++j) {
    if (!std::isfinite(a[j])) return -1;
  }
  for (int k = 1; k <= n; ++k)
    cutoffReach(centroid(k), wlow(k), whigh(k), cut, lo[k - 1], hi[k - 1]);
  return n;
}

// The result curves' pieces. exp(-t) is exactly 0 for t above about 745.13
// (the smallest subnormal double is 4.9e-324 = exp(-744.44), and results
// below half of it round to 0), so a peak term h * exp(-b^2) with |b| > 28
// (b^2 > 784) is h * 0, a signed zero for a finite h. A curve sum starts at
// the background, a sum begun at +0 that is never -0, so adding such a term
// changes no bit and the term need not be computed.
inline constexpr double kExpZeroB = 28.0;
// Within the span exp(-t) is not called for t at or above this: the result
// would be exactly +0 (see above), reached only through the library's slow
// underflow path.
inline constexpr double kExpZeroT = 746.0;

// exp(-t), also for t = b^2 beyond the range of doubles' exponentials.
inline double expNeg(double t) { return t >= kExpZeroT ? 0.0 : std::exp(-t); }

// The channel offsets 0 .. last of a window at which a peak at centroid c
// with widths wlow, whigh (left of c, from c on) can have |b| <= kExpZeroB:
// [first, end) with end <= last + 1; outside it every term is an exact zero.
// The whole window when a parameter is not finite (then the term is not
// known to be 0). Margins as in cutoffReach.
struct Span {
  int first;
  int end;
};
inline Span curveSpan(double c, double h, double wlow, double whigh, int last) {
  if (!std::isfinite(c) || !std::isfinite(h) || !std::isfinite(wlow) || !std::isfinite(whigh)) {
    return {0, last + 1};
  }
  double lo = 0.0;
  double hi = 0.0;
  cutoffReach(c, wlow, whigh, kExpZeroB, lo, hi);
  const double top = static_cast<double>(last);
  const int first = lo <= 0.0 ? 0 : lo > top ? last + 1 : static_cast<int>(std::ceil(lo));
  const int end = hi < 0.0 ? 0 : hi >= top ? last + 1 : static_cast<int>(std::floor(hi)) + 1;
  return {first, end < first ? first : end};
}

// Calls fn(k) for every peak k in cand, in increasing k.
template <class Fn>
void forPeaks(PeakSet cand, Fn fn) {
  while (cand != 0) {
    const int k = std::countr_zero(cand) + 1;
    cand &= cand - 1;
    fn(k);
  }
}

// Appends slots first .. last to the active list of a sparse model.
inline void listSlots(int first, int last, int* act, int& nact) {
  for (int j = first; j <= last; ++j) act[nact++] = j;
}

// Result step 1: bakfit(j) = a(B + j) and bakerr(j) = sqrt(covar(B + j, B + j))
// for j = 1 .. nbak. a points at a(1), covar is kNca x kNca; B is the slot
// before the first background coefficient.
void backgroundCoefficients(const double* a, const double* covar, int B, int nbak, FitResults& res);

// Background of the fitted curves at window offset x: the sum over
// j = 1 .. nbak of b(j) * x^(j-1), each power formed in single precision
// (x converted to float first) and widened before the double product.
// b points at the slot of b1; 0 for nbak = 0. Allocates nothing.
double backgroundCurve(const double* b, int nbak, int x);

// Background area from window offset 0 to X = ihi - ilo and its error, from
// res.bakfit and covar: bakarea = sum bakfit(j) * X^j / j, variance
// V = sum over k = 1 .. nbak, j = 1 .. k of ((m * covar(B+k, B+j)) * X^(j+k-1)) / (j+k-1)
// with m = 2 for j < k (the term stands for both halves of the symmetric
// matrix), 1 for j = k; bakaerr = sqrt(V). Both are 0 for nbak = 0.
void backgroundArea(const double* covar, int B, int nbak, int ilo, int ihi, FitResults& res);

// Prints the background-area line with res.bakarea and res.bakaerr, or
// nothing when nbak = 0 (a fit without background has no such line).
void printBackgroundArea(std::FILE* out, int nbak, const FitResults& res);

// Result steps every family shares: the background coefficients (see
// backgroundCoefficients), then the curves. fit starts at the background and
// adds each peak k's terms termAt(k, xi) in peak order over the window
// offsets [first, end) of spanOf(k, last) (outside them the terms are exact
// zeros); peaks = fit - bkgrd. B is the slot before b1.
template <class SpanOf, class TermAt>
void resultCurves(const ResultArgs& r, FitResults& res, int B, SpanOf spanOf, TermAt termAt) {
  backgroundCoefficients(r.a, r.covar, B, r.nbak, res);
  const int last = r.ihi - r.ilo;
  for (int xi = 0; xi <= last; ++xi) {
    const double bk = backgroundCurve(r.a + B, r.nbak, xi);
    r.bkgrd[r.ilo + xi] = bk;
    r.fit[r.ilo + xi] = bk;
  }
  for (int k = 1; k <= r.npeaks; ++k) {
    const Span span = spanOf(k, last);
    for (int xi = span.first; xi < span.end; ++xi) {
      r.fit[r.ilo + xi] = r.fit[r.ilo + xi] + termAt(k, xi);
    }
  }
  for (int ch = r.ilo; ch <= r.ihi; ++ch) r.peaks[ch] = r.fit[ch] - r.bkgrd[ch];
}

// The last result step: the background area, its error and its line (see
// backgroundArea and printBackgroundArea).
void backgroundResults(const ResultArgs& r, FitResults& res, std::FILE* out, int B);

// Adds the background polynomial whose coefficients follow slot B to y and
// sets its derivatives: dyda(B + j) = x^(j-1), j = 1 .. nbak, in double
// powers. a and dyda point at slot 1.
inline void addBackground(double x, const double* a, double* dyda, int B, int nbak, double& y) {
  for (int j = 1; j <= nbak; ++j) {
    const double p = ipow(x, j - 1);
    y = y + a[B + j - 1] * p;
    dyda[B + j - 1] = p;
  }
}

// Runs the fit of a variant over the points set up by setupFitPoints: the
// counts and curve slices start at channel ilo and the free-parameter list is
// the identity, so mfit alone decides which leading slots vary. The driver's
// status is not examined: the result routine reports whatever the fit left;
// how the fit ended goes to w.summary.
// sparse is the model's sparse form (none: the full update).
void runFit(const StartArgs& s,
            FitWork& w,
            std::FILE* out,
            int ndata,
            int ma,
            int mfit,
            Model model,
            const SparseModel* sparse);

}  // namespace tavrick
