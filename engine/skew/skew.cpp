// Variant skew: every peak has its own free centroid, height, high-side
// width and low-side width. Layout: c1, h1, Whi1, Wlo1, ..., cN, hN, WhiN,
// WloN, b1 .. bM; all 4N + M parameters free.
#include <cstddef>

#include "engine/family.h"
#include "engine/skew/shape.h"
#include "engine/skew/skew.h"

namespace tavrick {

using skew::kFwhm;

namespace {

// Sparse form of fskew.
int reachSkew(const double* a, int ma, int, int nbak, double* lo, double* hi) {
  const Vec1<const double> av{a};
  const auto c = [&](int k) { return av(4 * k - 3); };
  const auto whi = [&](int k) { return av(4 * k - 1); };
  const auto wlo = [&](int k) { return av(4 * k); };
  return peakReach(a, ma, (ma - nbak + 3) / 4, skew::kCutoff, lo, hi, c, wlo, whi);
}

void evalSkew(double x,
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
  y = 0.0;
  nact = 0;
  forPeaks(cand, [&](int k) {
    const double h = av(4 * k - 2);
    const skew::PeakTerm p = skew::peakTerm(x, av(4 * k - 3), av(4 * k - 1), av(4 * k));
    if (!p.inside) return;
    y = y + h * p.e;
    const double t = ((2.0 * h) * p.e) * p.b;
    const double dw = (p.b * t) / p.w;
    d(4 * k - 3) = t / p.w;
    d(4 * k - 2) = p.e;
    d(4 * k - 1) = p.low ? 0.0 : dw;
    d(4 * k) = p.low ? dw : 0.0;
    listSlots(4 * k - 3, 4 * k, act, nact);
  });
  addBackground(x, a, dyda, ma - nbak, nbak, y);
  listSlots(ma - nbak + 1, ma, act, nact);
}

const SparseModel kSparse{reachSkew, evalSkew};

}  // namespace

void gskew(const StartArgs& s, FitWork& w, std::FILE* out) {
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int n = s.npeaks;
  startPeaks(s, s.a, -3, 4, -2, 4);
  for (int k = 1; k <= n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    // Both flanks start from the peak's FWHM guess.
    a(4 * k - 1) = s.fwhmin[i] / kFwhm;
    a(4 * k) = s.fwhmin[i] / kFwhm;
  }
  // Six background slots whatever nbak is: 30 peaks need 4 * 30 + 6 slots,
  // which the parameter vector holds.
  startBackground(s.spec, s.ilo, s.ihi, kMaxBak, &a(4 * n + 1));
  const int ma = 4 * n + s.nbak;
  runFit(s, w, out, ndata, ma, ma, fskew, &kSparse);
}

void fskew(double x, const double* a, double& y, double* dyda, int ma, int, int nbak) {
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const int n = (ma - nbak + 3) / 4;
  y = 0.0;
  for (int k = 1; k <= n; ++k) {
    const double h = av(4 * k - 2);
    const skew::PeakTerm p = skew::peakTerm(x, av(4 * k - 3), av(4 * k - 1), av(4 * k));
    y = y + h * p.e;
    if (p.inside) {
      const double t = ((2.0 * h) * p.e) * p.b;
      const double dw = (p.b * t) / p.w;
      d(4 * k - 3) = t / p.w;
      d(4 * k - 2) = p.e;
      // Only the width of the side in use moves this point.
      d(4 * k - 1) = p.low ? 0.0 : dw;
      d(4 * k) = p.low ? dw : 0.0;
    } else {
      d(4 * k - 3) = 0.0;
      d(4 * k - 2) = 0.0;
      d(4 * k - 1) = 0.0;
      d(4 * k) = 0.0;
    }
  }
  addBackground(x, a, dyda, ma - nbak, nbak, y);
}

void xskew(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const int n = r.npeaks;
  // clang-format off
  const skew::Layout l{-3, 4, -2, 4, -1, 4, 0, 4, 4 * n, false, false,
                       "(13X,'Centroid',15X,'Area',18X,'Fwhm'/                             58X,'Fwhmhi'/58X,'Fwhmlo')",
                       "(I3,3(1X,F10.2,' +/-',F8.2))",
                       "(51X,F9.2,' +/-',F8.2)"};
  // clang-format on
  skew::results(r, res, out, l);
}

}  // namespace tavrick
