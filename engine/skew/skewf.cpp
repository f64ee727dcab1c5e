// Variant skewf: free centroids and heights, and one free pair of widths
// (high side, low side) common to all peaks. Layout: c1, h1, ..., cN, hN,
// WHI, WLO, b1 .. bM; all 2N + M + 2 parameters free.
#include <cstddef>

#include "engine/family.h"
#include "engine/skew/shape.h"
#include "engine/skew/skew.h"

namespace tavrick {

using skew::kFwhm;

namespace {

// Sparse form of fskewf. Its active list is ascending only when the peak
// count from ma and npeaks agree, which every fit has; otherwise no reach.
int reachSkewf(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = (ma - 1 - nbak) / 2;
  if (n != npeaks) return -1;
  const auto c = [&](int k) { return av(2 * k - 1); };
  const auto whi = [&](int) { return av(2 * npeaks + 1); };
  const auto wlo = [&](int) { return av(2 * npeaks + 2); };
  return peakReach(a, ma, n, skew::kCutoff, lo, hi, c, wlo, whi);
}

void evalSkewf(double x,
               const double* a,
               double& y,
               double* dyda,
               int ma,
               int npeaks,
               int nbak,
               PeakSet cand,
               int* act,
               int& nact) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int his = 2 * npeaks + 1;
  const int los = 2 * npeaks + 2;
  const double whi = av(his);
  const double wlo = av(los);
  d(his) = 0.0;
  d(los) = 0.0;
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
    const int side = p.low ? los : his;
    d(side) = d(side) + p.b * t;
    listSlots(2 * k - 1, 2 * k, act, nact);
  });
  d(his) = d(his) / whi;
  d(los) = d(los) / wlo;
  listSlots(his, los, act, nact);
  addBackground(x, a, dyda, ma - nbak, nbak, y);
  listSlots(ma - nbak + 1, ma, act, nact);
}

const SparseModel kSparse{reachSkewf, evalSkewf};

}  // namespace

void gskewf(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  startPeaks(s, s.a, -1, 2, 0, 2);
  a(2 * n + 1) = s.width / kFwhm;
  a(2 * n + 2) = s.width / kFwhm;
  startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(2 * n + 3));
  const int ma = 2 * n + s.nbak + 2;
  runFit(s, w, out, ndata, ma, ma, fskewf, &kSparse);
}

void fskewf(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - 1 - nbak) / 2;
  const int his = 2 * npeaks + 1;
  const int los = 2 * npeaks + 2;
  const double whi = av(his);
  const double wlo = av(los);
  // The common widths collect every peak's share and are divided once.
  d(his) = 0.0;
  d(los) = 0.0;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(2 * k);
    const skew::PeakTerm p = skew::peakTerm(x, av(2 * k - 1), whi, wlo);
    y = y + h * p.e;
    if (p.inside) {
      const double t = ((2.0 * h) * p.e) * p.b;
      d(2 * k - 1) = t / p.w;
      d(2 * k) = p.e;
      const int side = p.low ? los : his;
      d(side) = d(side) + p.b * t;
    } else {
      d(2 * k - 1) = 0.0;
      d(2 * k) = 0.0;
    }
  }
  d(his) = d(his) / whi;
  d(los) = d(los) / wlo;
  addBackground(x, a, dyda, ma - nbak, nbak, y);
}

void xskewf(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  // clang-format off
  const skew::Layout l{-1, 2, 0, 2, 2 * n + 1, 0, 2 * n + 2, 0, 2 * n + 2, false, false,
                       "(13X,'Centroid',15X,'Area',18X,'Fwhm'/                       58X,'Fwhmhi'/58X,'Fwhmlo')",
                       "(I3,3(1X,F10.2,' +/-',F8.2))",
                       "(51X,F9.2,' +/-',F8.2)"};
  // clang-format on
  skew::results(r, res, out, l);
}

}  // namespace tavrick
