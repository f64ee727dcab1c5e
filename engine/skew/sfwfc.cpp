// Variant sfwfc: free heights; centroids and one pair of widths (high side,
// low side) held at the given values. Layout: h1 .. hN, b1 .. bM, c1 .. cN,
// WHI, WLO; the first N + M are free.
#include <cstddef>

#include "engine/family.h"
#include "engine/skew/shape.h"
#include "engine/skew/skew.h"

namespace tavrick {

using skew::kFwhm;

namespace {

// Sparse form of fgsfwfc.
int reachSfwfc(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = npeaks;
  const auto c = [&](int k) { return av(n + nbak + k); };
  const auto whi = [&](int) { return av(2 * n + nbak + 1); };
  const auto wlo = [&](int) { return av(2 * n + nbak + 2); };
  return peakReach(a, ma, n, skew::kCutoff, lo, hi, c, wlo, whi);
}

void evalSfwfc(double x,
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
    const double h = av(k);
    const skew::PeakTerm p = skew::peakTerm(x, av(n + nbak + k), whi, wlo);
    if (!p.inside) return;
    y = y + h * p.e;
    d(k) = p.e;
    listSlots(k, k, act, nact);
  });
  addBackground(x, a, dyda, n, nbak, y);
  listSlots(n + 1, n + nbak, act, nact);
}

const SparseModel kSparse{reachSfwfc, evalSfwfc};

}  // namespace

void gsfwfc(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  const int m = s.nbak;
  // The background goes first: the heights, centroids and widths written
  // after it take over the slots of its unused zeros.
  if (m != 0) startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(n + 1));
  startPeaks(s, s.a, n + m, 1, 0, 1);
  a(2 * n + m + 1) = s.width / kFwhm;
  a(2 * n + m + 2) = s.widlo / kFwhm;
  runFit(s, w, out, ndata, 2 * n + m + 2, n + m, fgsfwfc, &kSparse);
}

void fgsfwfc(double x, const double* a, double& y, double* dyda, int, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = npeaks;
  const double whi = av(2 * n + nbak + 1);
  const double wlo = av(2 * n + nbak + 2);
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(k);
    const skew::PeakTerm p = skew::peakTerm(x, av(n + nbak + k), whi, wlo);
    y = y + h * p.e;
    d(k) = p.e;
  }
  addBackground(x, a, dyda, n, nbak, y);
}

void xsfwfc(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const int m = r.nbak;
  // clang-format off
  const skew::Layout l{n + m, 1, 0, 1, 2 * n + m + 1, 0, 2 * n + m + 2, 0, n, true, true,
                       "(13X,'Centroid',15X,'Area',18X,'Fwhm '/                     58X,'Fwhmhi'/58X,'Fwhmlo')",
                       "(I3,3(1X,F10.2,'+/-',F9.2 ))",
                       "(51X,F10.2,'+/-',F9.2)"};
  // clang-format on
  skew::results(r, res, out, l);
}

}  // namespace tavrick
