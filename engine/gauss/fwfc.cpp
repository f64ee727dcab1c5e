// Variant fwfc: free heights only, centroids and one common width held at
// their guesses, so the model is linear in every free parameter. Layout:
// h1 .. hN, b1 .. bM, c1 .. cN, w; the first N + M are free.
#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "engine/gauss/gauss.h"
#include "engine/gauss/shape.h"

namespace tavrick {

using gauss::kFwhm;

namespace {

// Sparse form of fgfwfc.
int reachFwfc(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = npeaks;
  const auto c = [&](int k) { return av(n + nbak + k); };
  const auto w = [&](int) { return av(2 * n + nbak + 1); };
  return peakReach(a, ma, n, gauss::kCutoff, lo, hi, c, w, w);
}

void evalFwfc(double x,
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
  const double w = av(2 * n + nbak + 1);
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(n + nbak + k), av(k), w);
    if (!t.inside) return;
    y = y + t.f;
    d(k) = t.e;
    listSlots(k, k, act, nact);
  });
  addBackground(x, a, dyda, n, nbak, y);
  listSlots(n + 1, n + nbak, act, nact);
}

const SparseModel kSparse{reachFwfc, evalFwfc};

}  // namespace

void gfwfc(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  const int m = s.nbak;
  startPeaks(s, s.a, n + m, 1, 0, 1);
  if (m != 0) startBackground(s.spec, s.ilo, s.ihi, m, &a(n + 1));
  a(2 * n + m + 1) = s.width / kFwhm;
  runFit(s, w, out, ndata, 2 * n + m + 1, n + m, fgfwfc, &kSparse);
}

void fgfwfc(double x, const double* a, double& y, double* dyda, int, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = npeaks;
  const double w = av(2 * n + nbak + 1);
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(n + nbak + k), av(k), w);
    y = y + t.f;
    d(k) = t.inside ? t.e : 0.0;
  }
  addBackground(x, a, dyda, n, nbak, y);
}

void xfwfc(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const int m = r.nbak;
  const gauss::Layout l{n + m, 1, 0,    1,    2 * n + m + 1,
                        0,     n, true, true, "(I3,3(1X,F10.2,'+/-',F9.2 ))"};
  gauss::results(r, res, out, l);
}

}  // namespace tavrick
