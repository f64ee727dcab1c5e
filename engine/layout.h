// Where a peak variant keeps its parameters: one description per variant,
// read by its start routine, both forms of its model, its result routine and
// the engine's count of free parameters.
#pragma once

#include <cstddef>

#include "engine/fitdefs.h"
#include "format/fortran.h"

namespace tavrick {

// A slot of the parameter vector as a function of the peak number k, the
// number of peaks n and of background coefficients m:
// {K, N, M, C} stands for K * k + N * n + M * m + C.
struct Slot {
  int k = 0, n = 0, m = 0, c = 0;
  constexpr int at(int pk, int np, int nb) const { return k * pk + n * np + m * nb + c; }
  constexpr int of(int np, int nb) const { return at(0, np, nb); }
};

// The slots of a variant. A width with k = 0 is common to all peaks.
// widthLow is the low-side width of the two-sided shapes (width is then the
// high side). The free parameters are the first mfit slots: held ones
// stand behind them.
struct Layout {
  Slot centroid{}, height{}, width{}, widthLow{};
  Slot background{};  // the slot before b1
  Slot ma{}, mfit{};
  bool centroidsHeld = false;
  bool widthsHeld = false;
  // Background slots the start routine fills from b1 on: 0 for m, or a fixed
  // count (zeros beyond m, written before the other slots take theirs);
  // none without background.
  int startedBackground = 0;
  fortran::Format head = "(13X,'Centroid',15X,'Area',18X,'Fwhm ')";
  fortran::Format row = "(I3,3(1X,F10.2,'+/-',F9.2 ))";  // one peak's result row
  fortran::Format row2 = "(51X,F10.2,'+/-',F9.2)";       // skew: one flank's FWHM
  constexpr bool commonWidth() const { return width.k == 0; }
};

// Peak k's slots in a layout with n peaks and m background coefficients;
// wlo is the width's slot again for a one-sided shape.
struct PeakSlots {
  int c, h, w, wlo;
};
constexpr PeakSlots peakSlots(const Layout& l, bool twoSided, int k, int n, int m) {
  const int w = l.width.at(k, n, m);
  return {l.centroid.at(k, n, m), l.height.at(k, n, m), w, twoSided ? l.widthLow.at(k, n, m) : w};
}

// One fitted peak as a result routine reads it: peak k (entry i = k - 1 of
// the result lists), its slots, the values there and the covariance matrix.
struct PeakFit {
  int k;
  std::size_t i;
  PeakSlots s;
  double c, h, w, wlo;
  Mat1<const double> cv;
};

// The slots every point moves: the background and the free common widths,
// which stand next to each other.
struct Run {
  int first, last;
};
constexpr Run movedByEveryPoint(const Layout& l, bool twoSided, int n, int m) {
  Run r{l.background.of(n, m) + 1, l.background.of(n, m) + m};
  if (!l.commonWidth() || l.widthsHeld) return r;
  const int w = l.width.of(n, m);
  const int wl = twoSided ? l.widthLow.of(n, m) : w;
  if (w < r.first) r.first = w;
  if (wl > r.last) r.last = wl;
  return r;
}

// Whether every slot of the layout with n peaks and m background
// coefficients lies in 1 .. ma, no two coincide, the free ones are exactly
// 1 .. mfit, and each peak's free slots and the slots every point moves (the
// background and free common widths) are in ascending runs as the sparse
// model lists them.
constexpr bool layoutSound(const Layout& l, bool twoSided, int n, int m) {
  const int ma = l.ma.of(n, m);
  const int mfit = l.mfit.of(n, m);
  if (ma > kMaxPar || mfit > ma) return false;
  int uses[kMaxPar + 1] = {};
  const auto use = [&](int s) {
    if (s >= 1 && s <= ma) ++uses[s];
  };
  for (int k = 1; k <= n; ++k) {
    use(l.centroid.at(k, n, m));
    use(l.height.at(k, n, m));
    if (!l.commonWidth()) use(l.width.at(k, n, m));
    if (!l.commonWidth() && twoSided) use(l.widthLow.at(k, n, m));
  }
  if (l.commonWidth()) use(l.width.of(n, m));
  if (l.commonWidth() && twoSided) use(l.widthLow.of(n, m));
  for (int j = 1; j <= m; ++j) use(l.background.of(n, m) + j);
  for (int s = 1; s <= ma; ++s) {
    if (uses[s] != 1) return false;
  }
  const bool cFree = l.centroid.at(1, n, m) <= mfit;
  const bool wFree = l.width.of(n, m) <= mfit || !l.commonWidth();
  if ((n != 0 && cFree == l.centroidsHeld) || wFree == l.widthsHeld) return false;
  // The sparse model's list: each peak's free slots in ascending order, then
  // the run of slots every point moves.
  int last = 0;
  for (int k = 1; k <= n; ++k) {
    for (int s : {l.centroidsHeld ? 0 : l.centroid.at(k, n, m), l.height.at(k, n, m),
                  l.commonWidth() || l.widthsHeld ? 0 : l.width.at(k, n, m),
                  l.commonWidth() || l.widthsHeld || !twoSided ? 0 : l.widthLow.at(k, n, m)}) {
      if (s == 0) continue;
      if (s <= last) return false;
      last = s;
    }
  }
  const Run r = movedByEveryPoint(l, twoSided, n, m);
  const int widths = l.commonWidth() && !l.widthsHeld ? (twoSided ? 2 : 1) : 0;
  return r.first > last && r.last - r.first + 1 == m + widths && r.last <= mfit;
}

constexpr bool layoutSound(const Layout& l, bool twoSided) {
  for (int n = 1; n <= kMaxPeaks; ++n) {
    for (int m = 0; m <= kMaxBak; ++m) {
      if (!layoutSound(l, twoSided, n, m)) return false;
    }
  }
  return true;
}

}  // namespace tavrick
