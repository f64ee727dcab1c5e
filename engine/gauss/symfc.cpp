// Variant symfc: free heights and one free common width, centroids held at
// their guesses. Layout: h1 .. hN, b1 .. bM, w, c1 .. cN; the first N + M + 1
// are free.
#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "engine/gauss/gauss.h"
#include "engine/gauss/shape.h"

namespace tavrick {

using gauss::kFwhm;

namespace {

// Sparse form of fsymfc.
int reachSymfc(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = npeaks;
  const auto c = [&](int k) { return av(n + nbak + 1 + k); };
  const auto w = [&](int) { return av(n + nbak + 1); };
  return peakReach(a, ma, n, gauss::kCutoff, lo, hi, c, w, w);
}

void evalSymfc(double x,
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
  const double w = av(n + nbak + 1);
  double dw = 0.0;
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(n + nbak + 1 + k), av(k), w);
    if (!t.inside) return;
    y = y + t.f;
    d(k) = t.e;
    dw = dw + (2.0 * t.f) * (t.b * t.b);
    listSlots(k, k, act, nact);
  });
  d(n + nbak + 1) = dw / w;
  addBackground(x, a, dyda, n, nbak, y);
  listSlots(n + 1, n + nbak + 1, act, nact);
}

const SparseModel kSparse{reachSymfc, evalSymfc};

}  // namespace

void gsymfc(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  const int m = s.nbak;
  startPeaks(s, s.a, n + m + 1, 1, 0, 1);
  a(n + m + 1) = s.width / kFwhm;
  if (m != 0) startBackground(s.spec, s.ilo, s.ihi, m, &a(n + 1));
  runFit(s, w, out, ndata, 2 * n + m + 1, n + m + 1, fsymfc, &kSparse);
}

void fsymfc(double x, const double* a, double& y, double* dyda, int, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = npeaks;
  const double w = av(n + nbak + 1);
  double dw = 0.0;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(n + nbak + 1 + k), av(k), w);
    y = y + t.f;
    if (t.inside) {
      d(k) = t.e;
      dw = dw + (2.0 * t.f) * (t.b * t.b);
    } else {
      d(k) = 0.0;
    }
  }
  // The common width collects every peak's share and is divided once.
  d(n + nbak + 1) = dw / w;
  addBackground(x, a, dyda, n, nbak, y);
}

void xsymfc(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const int m = r.nbak;
  const gauss::Layout l{n + m + 1, 1, 0,    1,     n + m + 1,
                        0,         n, true, false, "(I3,3(1X,F10.2,'+/-',F9.2 ))"};
  gauss::results(r, res, out, l);
}

}  // namespace tavrick
