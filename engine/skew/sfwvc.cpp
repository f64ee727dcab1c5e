// Variant sfwvc: free centroids and heights, one pair of widths (high side,
// low side) held at the given FWHMs. Layout: c1, h1, ..., cN, hN, b1 .. bM,
// WHI, WLO; the first 2N + M are free.
#include <cstddef>

#include "engine/family.h"
#include "engine/skew/shape.h"
#include "engine/skew/skew.h"

namespace tavrick {

using skew::kFwhm;

namespace {

// Sparse form of fgsfwvc.
int reachSfwvc(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = npeaks;
  const auto c = [&](int k) { return av(2 * k - 1); };
  const auto whi = [&](int) { return av(2 * n + nbak + 1); };
  const auto wlo = [&](int) { return av(2 * n + nbak + 2); };
  return peakReach(a, ma, n, skew::kCutoff, lo, hi, c, wlo, whi);
}

void evalSfwvc(double x,
               const double* a,
               double& y,
               double* dyda,
               int,
               int npeaks,
               int nbak,
               PeakSet cand,
               int* act,
               int& nact) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = npeaks;
  const double whi = av(2 * n + nbak + 1);
  const double wlo = av(2 * n + nbak + 2);
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const double h = av(2 * k);
    const skew::PeakTerm p = skew::peakTerm(x, av(2 * k - 1), whi, wlo);
    if (!p.inside) return;
    y = y + h * p.e;
    const double t = ((2.0 * h) * p.e) * p.b;
    d(2 * k - 1) = t / p.w;
    d(2 * k) = p.e;
    listSlots(2 * k - 1, 2 * k, act, nact);
  });
  addBackground(x, a, dyda, 2 * n, nbak, y);
  listSlots(2 * n + 1, 2 * n + nbak, act, nact);
}

const SparseModel kSparse{reachSfwvc, evalSfwvc};

}  // namespace

void gsfwvc(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  const int m = s.nbak;
  startPeaks(s, s.a, -1, 2, 0, 2);
  if (m != 0) startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(2 * n + 1));
  // Written after the background: with fewer than six coefficients the
  // widths take over slots that received background zeros.
  a(2 * n + m + 1) = s.width / kFwhm;
  a(2 * n + m + 2) = s.widlo / kFwhm;
  runFit(s, w, out, ndata, 2 * n + m + 2, 2 * n + m, fgsfwvc, &kSparse);
}

void fgsfwvc(double x, const double* a, double& y, double* dyda, int, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = npeaks;
  const double whi = av(2 * n + nbak + 1);
  const double wlo = av(2 * n + nbak + 2);
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(2 * k);
    const skew::PeakTerm p = skew::peakTerm(x, av(2 * k - 1), whi, wlo);
    y = y + h * p.e;
    if (p.inside) {
      const double t = ((2.0 * h) * p.e) * p.b;
      d(2 * k - 1) = t / p.w;
      d(2 * k) = p.e;
    } else {
      d(2 * k - 1) = 0.0;
      d(2 * k) = 0.0;
    }
  }
  addBackground(x, a, dyda, 2 * n, nbak, y);
}

void xsfwvc(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const int m = r.nbak;
  // clang-format off
  const skew::Layout l{-1, 2, 0, 2, 2 * n + m + 1, 0, 2 * n + m + 2, 0, 2 * n, false, true,
                       "(13X,'Centroid',15X,'Area',18X,'Fwhm '/                     58X,'Fwhmhi'/58X,'Fwhmlo')",
                       "(I3,3(1X,F10.2,'+/-',F9.2 ))",
                       "(51X,F10.2,'+/-',F9.2)"};
  // clang-format on
  skew::results(r, res, out, l);
}

}  // namespace tavrick
