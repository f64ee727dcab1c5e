// Variant sym: every peak has its own free centroid, height and width.
// Layout: c1, h1, w1, ..., cN, hN, wN, b1 .. bM; all 3N + M parameters free.
#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "engine/gauss/gauss.h"
#include "engine/gauss/shape.h"

namespace tavrick {

using gauss::kFwhm;

namespace {

// Sparse form of fgaus.
int reachSym(const double* a, int ma, int, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const auto c = [&](int k) { return av(3 * k - 2); };
  const auto w = [&](int k) { return av(3 * k); };
  return peakReach(a, ma, (ma - nbak + 2) / 3, gauss::kCutoff, lo, hi, c, w, w);
}

void evalSym(double x,
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
  const int n = (ma - nbak + 2) / 3;
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const double wk = av(3 * k);
    const gauss::PeakTerm t = gauss::peakTerm(x, av(3 * k - 2), av(3 * k - 1), wk);
    if (!t.inside) return;
    y = y + t.f;
    d(3 * k - 2) = ((2.0 * t.f) * t.b) / wk;
    d(3 * k - 1) = t.e;
    d(3 * k) = ((2.0 * t.f) * (t.b * t.b)) / wk;
    listSlots(3 * k - 2, 3 * k, act, nact);
  });
  addBackground(x, a, dyda, 3 * n, nbak, y);
  listSlots(3 * n + 1, 3 * n + nbak, act, nact);
}

const SparseModel kSparse{reachSym, evalSym};

}  // namespace

void gsym(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  startPeaks(s, s.a, -2, 3, -1, 3);
  for (int k = 1; k <= n; ++k) a(3 * k) = s.fwhmin[static_cast<std::size_t>(k - 1)] / kFwhm;
  startBackground(s.spec, s.ilo, s.ihi, s.nbak, &a(3 * n + 1));
  const int ma = 3 * n + s.nbak;
  runFit(s, w, out, ndata, ma, ma, fgaus, &kSparse);
}

void fgaus(double x, const double* a, double& y, double* dyda, int ma, int, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - nbak + 2) / 3;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double wk = av(3 * k);
    const gauss::PeakTerm t = gauss::peakTerm(x, av(3 * k - 2), av(3 * k - 1), wk);
    y = y + t.f;
    if (t.inside) {
      d(3 * k - 2) = ((2.0 * t.f) * t.b) / wk;
      d(3 * k - 1) = t.e;
      d(3 * k) = ((2.0 * t.f) * (t.b * t.b)) / wk;
    } else {
      d(3 * k - 2) = 0.0;
      d(3 * k - 1) = 0.0;
      d(3 * k) = 0.0;
    }
  }
  addBackground(x, a, dyda, 3 * n, nbak, y);
}

void xsym(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  const gauss::Layout l{-2, 3, -1, 3, 0, 3, 3 * n, false, false, "(I4,3(1X,F9.2,' +/-',F8.2))"};
  gauss::results(r, res, out, l);
}

}  // namespace tavrick
