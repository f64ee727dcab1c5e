// Variant lorf: free centroids and heights and one free half width common to
// all peaks. Layout: c1, h1, ..., cN, hN, b, then the background
// coefficients; all 2N + M + 1 parameters free.
#include <cstddef>

#include "engine/family.h"
#include "engine/lorentz/lorentz.h"
#include "engine/lorentz/shape.h"

namespace tavrick {

void glorf(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  // A clean vector: no slot keeps a value from an earlier fit.
  for (int j = 1; j <= kMaxPar; ++j) a(j) = 0.0;
  startPeaks(s, s.a, -1, 2, 0, 2);
  a(2 * n + 1) = s.width * 0.5;
  startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(2 * n + 2));
  const int ma = 2 * n + s.nbak + 1;
  runFit(s, w, out, ndata, ma, ma, florf, nullptr);
}

void florf(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int bs = 2 * npeaks + 1;
  const double b = av(bs);
  const int n = (ma - nbak) / 2;
  // The common width collects every peak's share and is scaled by b once.
  d(bs) = 0.0;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(2 * k);
    const lorentz::PeakTerm p = lorentz::peakTerm(x, av(2 * k - 1), h, b);
    y = y + p.g;
    d(2 * k - 1) = ((2.0 * p.g) * p.d) * p.e;
    d(2 * k) = p.f;
    d(bs) = d(bs) + ((2.0 * h) * p.e) * (1.0 - p.f);
  }
  d(bs) = d(bs) * b;
  addBackground(x, a, dyda, ma - nbak, nbak, y);
}

void xlorf(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  // clang-format off
  const lorentz::Layout l{-1, 2, 0, 2, 2 * n + 1, 0, 2 * n + 1,
                          "(I3,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)"};
  // clang-format on
  lorentz::results(r, res, out, l);
}

}  // namespace tavrick
