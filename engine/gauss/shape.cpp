// The result routine shared by the symmetric-Gaussian variants.
#include "engine/gauss/shape.h"

#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "format/fortran.h"

namespace tavrick::gauss {

void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l) {
  const Vec1<const double> a{r.a};
  const Mat1<const double> cv{r.covar, kNca};
  const int n = r.npeaks;
  const int m = r.nbak;
  const int B = l.background.of(n, m);

  backgroundCoefficients(r.a, r.covar, B, m, res);

  // Curves: the total starts at the background and adds the peaks one at a
  // time. The cut-off is one-sided here (b < 10 with the width's sign), so a
  // far channel on one flank keeps a tiny term. Each channel adds its peaks
  // in peak order; a peak is visited only over the channels where its term
  // can differ from an exact zero (see curveSpan).
  const int last = r.ihi - r.ilo;
  for (int xi = 0; xi <= last; ++xi) {
    const int ch = r.ilo + xi;
    const double bk = backgroundCurve(r.a + B, m, xi);
    r.bkgrd[ch] = bk;
    r.fit[ch] = bk;
  }
  for (int k = 1; k <= n; ++k) {
    const double c = a(l.centroid.at(k, n, m));
    const double h = a(l.height.at(k, n, m));
    const double w = a(l.width.at(k, n, m));
    const Span span = curveSpan(c, h, w, w, last);
    for (int xi = span.first; xi < span.end; ++xi) {
      const double b = (static_cast<double>(xi) - c) / w;
      const double term = b < kCutoff ? h * expNeg(b * b) : 0.0;
      r.fit[r.ilo + xi] = r.fit[r.ilo + xi] + term;
    }
  }
  for (int ch = r.ilo; ch <= r.ihi; ++ch) r.peaks[ch] = r.fit[ch] - r.bkgrd[ch];

  fortran::write(out, l.head);

  for (int k = 1; k <= n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const int cs = l.centroid.at(k, n, m);
    const int hs = l.height.at(k, n, m);
    const int ws = l.width.at(k, n, m);
    const double c = a(cs);
    const double h = a(hs);
    const double aw = std::abs(a(ws));
    const double sh = std::sqrt(cv(hs, hs));

    res.cenfit[i] = c + static_cast<double>(r.ilo);
    res.cenerr[i] = l.centroidsHeld ? 0.0 : std::sqrt(cv(cs, cs));
    res.arefit[i] = (h * kSqrtPi) * aw;
    if (l.widthsHeld) {
      res.areerr[i] = ((aw * kSqrtPi) * h) * std::sqrt((sh / h) * (sh / h));
      res.fwherr[i] = 0.0;
    } else {
      const double sw = std::sqrt(cv(ws, ws));
      // The height keeps its sign; only the width is taken as |w|, also in
      // the covariance term.
      const double rh = (sh / h) * (sh / h);
      const double rw = (sw / aw) * (sw / aw);
      const double rc = (2.0 * cv(hs, ws)) / (aw * h);
      res.areerr[i] = ((aw * kSqrtPi) * h) * std::sqrt((rh + rw) + rc);
      res.fwherr[i] = sw * kFwhm;
    }
    res.hgtfit[i] = h;
    res.hgterr[i] = sh;
    res.fwhfit[i] = aw * kFwhm;
    res.widfit[i] = aw;
    fortran::write(out, l.row, k, res.cenfit[i], res.cenerr[i], res.arefit[i], res.areerr[i],
                   res.fwhfit[i], res.fwherr[i]);
  }

  backgroundArea(r.covar, B, m, r.ilo, r.ihi, res);
  printBackgroundArea(out, m, res);
}

}  // namespace tavrick::gauss
