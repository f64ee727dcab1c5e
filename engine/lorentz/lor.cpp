// Variant lor: every peak has its own free centroid, height and half width.
// Layout: c1, h1, b1, ..., cN, hN, bN, then the background coefficients;
// all 3N + M parameters free.
#include <cstddef>

#include "engine/family.h"
#include "engine/lorentz/lorentz.h"
#include "engine/lorentz/shape.h"

namespace tavrick {

void glor(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  startPeaks(s, s.a, -2, 3, -1, 3);
  for (int k = 1; k <= n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    // The half width at half maximum is half the FWHM guess.
    a(3 * k) = s.fwhmin[i] * 0.5;
  }
  startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(3 * n + 1));
  const int ma = 3 * n + s.nbak;
  runFit(s, w, out, ndata, ma, ma, flor, nullptr);
}

void flor(double x, const double* a, double& y, double* dyda, int ma, int, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - nbak + 2) / 3;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(3 * k - 1);
    const double b = av(3 * k);
    const lorentz::PeakTerm p = lorentz::peakTerm(x, av(3 * k - 2), h, b);
    y = y + p.g;
    d(3 * k - 2) = ((2.0 * p.g) * p.d) * p.e;
    d(3 * k - 1) = p.f;
    d(3 * k) = (((2.0 * h) * b) * p.e) * (1.0 - p.f);
  }
  addBackground(x, a, dyda, ma - nbak, nbak, y);
}

void xlor(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  // clang-format off
  const lorentz::Layout l{-2, 3, -1, 3, 0, 3, 3 * n,
                          "(I4,3(1X,F10.2,'+/-',F8.2)/25X,F11.2,'+/-',F8.2)"};
  // clang-format on
  lorentz::results(r, res, out, l);
}

}  // namespace tavrick
