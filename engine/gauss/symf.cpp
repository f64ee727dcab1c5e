// Variant symf: free centroids and heights, one free width common to all
// peaks. Layout: c1, h1, ..., cN, hN, w, b1 .. bM; all 2N + M + 1 free.
#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "engine/gauss/gauss.h"
#include "engine/gauss/shape.h"

namespace tavrick {

using gauss::kFwhm;

namespace {

// Sparse form of fgausf.
int reachSymf(const double* a, int ma, int, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const int n = (ma - nbak) / 2;
  const auto c = [&](int k) { return av(2 * k - 1); };
  const auto w = [&](int) { return av(2 * n + 1); };
  return peakReach(a, ma, n, gauss::kCutoff, lo, hi, c, w, w);
}

void evalSymf(double x,
              const double* a,
              double& y,
              double* dyda,
              int ma,
              int,
              int nbak,
              PeakSet cand,
              int* act,
              int& nact) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - nbak) / 2;
  const double w = av(2 * n + 1);
  double dw = 0.0;
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(2 * k - 1), av(2 * k), w);
    if (!t.inside) return;
    y = y + t.f;
    d(2 * k - 1) = ((2.0 * t.f) * t.b) / w;
    d(2 * k) = t.e;
    dw = dw + (2.0 * t.f) * (t.b * t.b);
    listSlots(2 * k - 1, 2 * k, act, nact);
  });
  d(2 * n + 1) = dw / w;
  addBackground(x, a, dyda, 2 * n + 1, nbak, y);
  listSlots(2 * n + 1, 2 * n + 1 + nbak, act, nact);
}

const SparseModel kSparse{reachSymf, evalSymf};

}  // namespace

void gsymf(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  startPeaks(s, s.a, -1, 2, 0, 2);
  a(2 * n + 1) = s.width / kFwhm;
  startBackground(s.spec, s.ilo, s.ihi, s.nbak, &a(2 * n + 2));
  const int ma = 2 * n + s.nbak + 1;
  runFit(s, w, out, ndata, ma, ma, fgausf, &kSparse);
}

void fgausf(double x, const double* a, double& y, double* dyda, int ma, int, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - nbak) / 2;
  const double w = av(2 * n + 1);
  double dw = 0.0;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const gauss::PeakTerm t = gauss::peakTerm(x, av(2 * k - 1), av(2 * k), w);
    y = y + t.f;
    if (t.inside) {
      d(2 * k - 1) = ((2.0 * t.f) * t.b) / w;
      d(2 * k) = t.e;
      dw = dw + (2.0 * t.f) * (t.b * t.b);
    } else {
      d(2 * k - 1) = 0.0;
      d(2 * k) = 0.0;
    }
  }
  // The common width collects every peak's share and is divided once.
  d(2 * n + 1) = dw / w;
  addBackground(x, a, dyda, 2 * n + 1, nbak, y);
}

void xsymf(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const gauss::Layout l{-1, 2,         0,     2,     2 * n + 1,
                        0,  2 * n + 1, false, false, "(I3,3(1X,F10.2,' +/-',F8.2))"};
  gauss::results(r, res, out, l);
}

}  // namespace tavrick
