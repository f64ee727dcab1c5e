// The result routine shared by the Lorentzian variants.
#include "engine/lorentz/shape.h"

#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "format/fortran.h"

namespace tavrick::lorentz {

void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l) {
  const Vec1<const double> a{r.a};
  const Mat1<const double> cv{r.covar, kNca};
  const int n = r.npeaks;
  const int m = r.nbak;
  const int B = l.background.of(n, m);

  backgroundCoefficients(r.a, r.covar, B, m, res);

  // Curves: the total starts at the background and adds the peaks one at a
  // time; peaks is what is left after the background is taken off again.
  for (int ch = r.ilo; ch <= r.ihi; ++ch) {
    const int xi = ch - r.ilo;
    const double t = sp(static_cast<float>(xi));
    const double bg = backgroundCurve(r.a + B, m, xi);
    r.bkgrd[ch] = bg;
    double total = bg;
    for (int k = 1; k <= n; ++k) {
      total =
          total +
          peakTerm(t, a(l.centroid.at(k, n, m)), a(l.height.at(k, n, m)), a(l.width.at(k, n, m))).g;
    }
    r.fit[ch] = total;
    r.peaks[ch] = r.fit[ch] - r.bkgrd[ch];
  }

  fortran::write(out, l.head);

  for (int k = 1; k <= n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const int cs = l.centroid.at(k, n, m);
    const int hs = l.height.at(k, n, m);
    const int bs = l.width.at(k, n, m);
    const double c = a(cs);
    const double h = a(hs);
    // A width the fit drove negative gives the same curve: report |b|.
    const double b = std::abs(a(bs));
    const double sc = std::sqrt(cv(cs, cs));
    const double sh = std::sqrt(cv(hs, hs));
    const double sb = std::sqrt(cv(bs, bs));

    res.cenfit[i] = static_cast<double>(r.ilo) + c;
    res.cenerr[i] = sc;
    res.hgtfit[i] = h;
    res.hgterr[i] = sh;
    res.fwhfit[i] = 2.0 * b;
    res.fwherr[i] = 2.0 * sb;
    res.widfit[i] = res.fwhfit[i];
    const double area = (kPi * b) * h;
    res.arefit[i] = area;
    res.areerr[i] = area * std::sqrt(((sh / h) * (sh / h) + (sb / b) * (sb / b)) +
                                     (2.0 * cv(hs, bs)) / (b * h));
    fortran::write(out, l.row, k, res.cenfit[i], res.cenerr[i], res.hgtfit[i], res.hgterr[i],
                   res.fwhfit[i], res.fwherr[i], res.arefit[i], res.areerr[i]);
  }

  backgroundArea(r.covar, B, m, r.ilo, r.ihi, res);
  printBackgroundArea(out, m, res);
}

}  // namespace tavrick::lorentz
