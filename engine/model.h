// A variant's routines made from its layout and its shape's kernel: the start
// routine, the model in its full and sparse forms, the reach of its peaks and
// the result routine. A shape's mathematics is written once, in its kernel;
// where the slots stand, once, in the layout.
#pragma once

#include <cmath>
#include <cstdio>

#include "engine/family.h"
#include "engine/layout.h"
#include "engine/mrqmin.h"
#include "engine/variant.h"
#include "format/fortran.h"

namespace tavrick {

using Start = void (*)(const StartArgs& s, FitWork& w, std::FILE* out);
using Result = void (*)(const ResultArgs& r, FitResults& res, std::FILE* out);

// A shape's kernel K gives, for one peak at one abscissa:
//   K::kCut       the cut-off |b| < kCut beyond which the peak adds an exact
//                 zero (0: none, and no sparse form)
//   K::kTwoSided  whether a peak has a low-side width besides its width
//   K::term(x, c, h, w, wlo)  the peak's term; K::inside(t) within the cut-off,
//                 K::low(t) on the low side
//   K::value(t, h), dCentroid(t, h), dHeight(t), dWidth(t, h)  the value and
//                 the derivatives by the peak's own parameters
//   K::share(t, h), K::finish(sum, w)  a common width's derivative: the
//                 peaks' shares summed in peak order, then finished once
//   K::startWidth(fwhm)  a width's start value from a FWHM
//   K::span(p, last), K::curve(p, xi)  the window offsets where the fitted
//                 peak p's terms can differ from an exact zero (see
//                 curveSpan), and its term at offset xi in the result curves
//   K::peakResult(res, out, layout, p)  the rest of the peak's results
//                 (area, widths and their errors) and its row
template <class K, const Layout& L>
struct Form {
  static_assert(layoutSound(L, K::kTwoSided), "slots of a layout");

  // Peak k's term added to y; within the cut-off the derivatives by its free
  // slots (the full form writes zeros beyond it) and its shares of the
  // common widths. Returns whether it is within the cut-off.
  static bool peak(double x,
                   const double* a,
                   double* dyda,
                   int k,
                   int n,
                   int m,
                   double& y,
                   double* shares,
                   bool full) {
    const Vec1<const double> av{a};
    const Vec1<double> d{dyda};
    const PeakSlots s = peakSlots(L, K::kTwoSided, k, n, m);
    const double h = av(s.h);
    const typename K::Term t = K::term(x, av(s.c), h, av(s.w), av(s.wlo));
    const bool in = K::inside(t);
    if (!in && !full) return false;
    y = y + K::value(t, h);
    if (!L.centroidsHeld) d(s.c) = in ? K::dCentroid(t, h) : 0.0;
    d(s.h) = in ? K::dHeight(t) : 0.0;
    if (L.widthsHeld) return in;
    if (L.commonWidth()) {
      // Only the width of the side in use moves this point.
      const int side = K::kTwoSided && K::low(t) ? 1 : 0;
      if (in) shares[side] = shares[side] + K::share(t, h);
      return in;
    }
    const double dw = in ? K::dWidth(t, h) : 0.0;
    d(s.w) = K::kTwoSided && K::low(t) ? 0.0 : dw;
    if constexpr (K::kTwoSided) d(s.wlo) = K::low(t) ? dw : 0.0;
    return in;
  }

  // The common widths collect every peak's share and are finished once; then
  // the background.
  static void close(
      double x, const double* a, double* dyda, int n, int m, double& y, const double* shares) {
    const Vec1<const double> av{a};
    const Vec1<double> d{dyda};
    if (L.commonWidth() && !L.widthsHeld) {
      d(L.width.of(n, m)) = K::finish(shares[0], av(L.width.of(n, m)));
      if constexpr (K::kTwoSided)
        d(L.widthLow.of(n, m)) = K::finish(shares[1], av(L.widthLow.of(n, m)));
    }
    addBackground(x, a, dyda, L.background.of(n, m), m, y);
  }

  // The model: every peak, then the background.
  static void full(double x, const double* a, double& y, double* dyda, int, int n, int m) {
    double shares[2] = {0.0, 0.0};
    y = 0.0;
    for (int k = 1; k <= n; ++k) peak(x, a, dyda, k, n, m, y, shares, true);
    close(x, a, dyda, n, m, y, shares);
  }

  // The sparse form (see SparseModel::eval).
  static void eval(double x,
                   const double* a,
                   double& y,
                   double* dyda,
                   int,
                   int n,
                   int m,
                   PeakSet cand,
                   int* act,
                   int& nact) {
    double shares[2] = {0.0, 0.0};
    y = 0.0;
    nact = 0;
    forPeaks(cand, [&](int k) {
      if (!peak(x, a, dyda, k, n, m, y, shares, false)) return;
      if (!L.centroidsHeld) act[nact++] = L.centroid.at(k, n, m);
      act[nact++] = L.height.at(k, n, m);
      if (L.commonWidth() || L.widthsHeld) return;
      act[nact++] = L.width.at(k, n, m);
      if constexpr (K::kTwoSided) act[nact++] = L.widthLow.at(k, n, m);
    });
    close(x, a, dyda, n, m, y, shares);
    const Run r = movedByEveryPoint(L, K::kTwoSided, n, m);
    listSlots(r.first, r.last, act, nact);
  }

  // The peaks' reach (see SparseModel::reach); none when ma is not the
  // layout's.
  static int reach(const double* a, int ma, int n, int m, double* lo, double* hi) {
    if (n < 0 || n > kMaxPeaks || m < 0 || m > kMaxBak || ma != L.ma.of(n, m)) return -1;
    const Vec1<const double> av{a};
    const auto c = [&](int k) { return av(L.centroid.at(k, n, m)); };
    const auto whi = [&](int k) { return av(L.width.at(k, n, m)); };
    const auto wlo = [&](int k) { return av((K::kTwoSided ? L.widthLow : L.width).at(k, n, m)); };
    return peakReach(a, ma, n, K::kCut, lo, hi, c, wlo, whi);
  }

  static constexpr SparseModel kSparse{reach, eval};

  // The start routine: background, peaks and widths, then the fit. Held
  // widths start at the given FWHMs (high side, low side); free ones at the
  // width given for the high side, both sides alike.
  static void start(const StartArgs& s, FitWork& w, std::FILE* out) {
    const int ndata = setupFitPoints(s, w);
    const Vec1<double> a{s.a};
    const int n = s.npeaks;
    const int m = s.nbak;
    const int nb = L.startedBackground == 0 ? m : L.startedBackground;
    if (m != 0) startBackground(s.spec, s.ilo, s.ihi, nb, &a(L.background.of(n, m) + 1));
    startPeaks(s, s.a, L.centroid.of(n, m), L.centroid.k, L.height.of(n, m), L.height.k);
    if (L.commonWidth()) {
      a(L.width.of(n, m)) = K::startWidth(s.width);
      if constexpr (K::kTwoSided)
        a(L.widthLow.of(n, m)) = K::startWidth(L.widthsHeld ? s.widlo : s.width);
    } else {
      for (int k = 1; k <= n; ++k) {
        const double fwhm = s.fwhmin[static_cast<std::size_t>(k - 1)];
        a(L.width.at(k, n, m)) = K::startWidth(fwhm);
        if constexpr (K::kTwoSided) a(L.widthLow.at(k, n, m)) = K::startWidth(fwhm);
      }
    }
    runFit(s, w, out, ndata, L.ma.of(n, m), L.mfit.of(n, m), full,
           K::kCut > 0 ? &kSparse : nullptr);
  }

  // The result routine: background coefficients and curves, the table's
  // head, one row per peak (centroid and height here, the rest and the row
  // by the kernel) and the background area.
  static void result(const ResultArgs& r, FitResults& res, std::FILE* out) {
    const Vec1<const double> a{r.a};
    const Mat1<const double> cv{r.covar, kNca};
    const int n = r.npeaks;
    const int m = r.nbak;
    const auto fitOf = [&](int k) {
      const PeakSlots s = peakSlots(L, K::kTwoSided, k, n, m);
      return PeakFit{k, static_cast<std::size_t>(k - 1), s, a(s.c), a(s.h), a(s.w), a(s.wlo), cv};
    };
    const auto spanOf = [&](int k, int last) { return K::span(fitOf(k), last); };
    const auto termAt = [&](int k, int xi) { return K::curve(fitOf(k), xi); };
    resultCurves(r, res, L.background.of(n, m), spanOf, termAt);
    fortran::write(out, L.head);
    for (int k = 1; k <= n; ++k) {
      const PeakFit p = fitOf(k);
      res.cenfit[p.i] = p.c + static_cast<double>(r.ilo);
      res.cenerr[p.i] = L.centroidsHeld ? 0.0 : std::sqrt(cv(p.s.c, p.s.c));
      res.hgtfit[p.i] = p.h;
      res.hgterr[p.i] = std::sqrt(cv(p.s.h, p.s.h));
      K::peakResult(res, out, L, p);
    }
    backgroundResults(r, res, out, L.background.of(n, m));
  }
};

}  // namespace tavrick
