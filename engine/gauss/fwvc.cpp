// Variant fwvc: free centroids and heights, one common width held at the
// given FWHM. Layout: c1, h1, ..., cN, hN, b1 .. bM, w; the first 2N + M are
// free.
#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "engine/gauss/gauss.h"
#include "engine/gauss/shape.h"

namespace tavrick {

using gauss::kFwhm;

namespace {

// Sparse form of fgfwvc.
int reachFwvc(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = (2 * npeaks + 1) / 2;
  const auto c = [&](int k) { return av(2 * k - 1); };
  const auto w = [&](int) { return av(2 * n + nbak + 1); };
  return peakReach(a, ma, n, gauss::kCutoff, lo, hi, c, w, w);
}

void evalFwvc(double x,
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
  const int n = (2 * npeaks + 1) / 2;
  const double w = av(2 * n + nbak + 1);
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(2 * k - 1), av(2 * k), w);
    if (!t.inside) return;
    y = y + t.f;
    d(2 * k - 1) = ((2.0 * t.f) * t.b) / w;
    d(2 * k) = t.e;
    listSlots(2 * k - 1, 2 * k, act, nact);
  });
  addBackground(x, a, dyda, 2 * n, nbak, y);
  listSlots(2 * n + 1, 2 * n + nbak, act, nact);
}

const SparseModel kSparse{reachFwvc, evalFwvc};

}  // namespace

void gfwvc(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  const int m = s.nbak;
  startPeaks(s, s.a, -1, 2, 0, 2);
  if (m != 0) startBackground(s.spec, s.ilo, s.ihi, m, &a(2 * n + 1));
  a(2 * n + m + 1) = s.width / kFwhm;
  runFit(s, w, out, ndata, 2 * n + m + 1, 2 * n + m, fgfwvc, &kSparse);
}

void fgfwvc(double x, const double* a, double& y, double* dyda, int, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (2 * npeaks + 1) / 2;
  const double w = av(2 * n + nbak + 1);
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(2 * k - 1), av(2 * k), w);
    y = y + t.f;
    if (t.inside) {
      d(2 * k - 1) = ((2.0 * t.f) * t.b) / w;
      d(2 * k) = t.e;
    } else {
      d(2 * k - 1) = 0.0;
      d(2 * k) = 0.0;
    }
  }
  addBackground(x, a, dyda, 2 * n, nbak, y);
}

void xfwvc(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const int m = r.nbak;
  const gauss::Layout l{-1, 2,     0,     2,    2 * n + m + 1,
                        0,  2 * n, false, true, "(I3,3(1X,F10.2,'+/-',F9.2 ))"};
  gauss::results(r, res, out, l);
}

}  // namespace tavrick
