// The result routine shared by the skew-Gaussian variants.
#include "engine/skew/shape.h"

#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "format/fortran.h"

namespace tavrick::skew {

void results(const ResultArgs& r, FitResults& res, std::FILE* out, const Layout& l) {
  const Vec1<const double> a{r.a};
  const Mat1<const double> cv{r.covar, kNca};
  const int n = r.npeaks;
  const int m = r.nbak;
  const int B = l.background.of(n, m);

  backgroundCoefficients(r.a, r.covar, B, m, res);

  // Curves: the total starts at the background and adds the peaks one at a
  // time, with the signed widths. The cut-off is one-sided here (b < 10), so
  // a far channel on the low flank keeps a vanishing term. Each channel adds
  // its peaks in peak order; a peak is visited only over the channels where
  // its term can differ from an exact zero (see curveSpan).
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
    const double wlo = a(l.widthLow.at(k, n, m));
    const double whi = a(l.width.at(k, n, m));
    const Span span = curveSpan(c, h, wlo, whi, last);
    for (int xi = span.first; xi < span.end; ++xi) {
      const double u = sp(static_cast<float>(xi));
      const double d = u - c;
      const double b = d < 0.0 ? d / wlo : d / whi;
      const double e = b < kCutoff ? expNeg(b * b) : 0.0;
      r.fit[r.ilo + xi] = r.fit[r.ilo + xi] + h * e;
    }
  }
  for (int ch = r.ilo; ch <= r.ihi; ++ch) r.peaks[ch] = r.fit[ch] - r.bkgrd[ch];

  fortran::write(out, l.head);

  for (int k = 1; k <= n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const int cs = l.centroid.at(k, n, m);
    const int hs = l.height.at(k, n, m);
    const int his = l.width.at(k, n, m);
    const int los = l.widthLow.at(k, n, m);
    const double c = a(cs);
    const double h = a(hs);
    const double w1 = std::abs(a(his));
    const double w2 = std::abs(a(los));
    const double wbar = (w1 + w2) / 2.0;
    const double sh = std::sqrt(cv(hs, hs));

    res.cenfit[i] = c + static_cast<double>(r.ilo);
    res.cenerr[i] = l.centroidsHeld ? 0.0 : std::sqrt(cv(cs, cs));
    res.arefit[i] = (h * kSqrtPi) * wbar;
    double fwhmErr = 0.0;
    if (l.widthsHeld) {
      // Held widths carry no variance: only the height's error enters.
      res.areerr[i] = (((kSqrtPi * wbar) * h) * sh) / h;
      res.fwherr[i] = 0.0;
      res.fwlerr[i] = 0.0;
      res.wloerr[i] = 0.0;
    } else {
      const double shi = std::sqrt(cv(his, his));
      const double slo = std::sqrt(cv(los, los));
      // One term per flank and the covariance of the two widths; the sum has
      // exactly these three terms.
      const double rh = (sh / h) * (sh / h);
      const double p1 = w1 * h;
      const double p2 = w2 * h;
      const double t1 =
          (p1 * p1) * ((rh + (shi / w1) * (shi / w1)) + (2.0 * cv(hs, his)) / (w1 * h));
      const double t2 =
          (p2 * p2) * ((rh + (slo / w2) * (slo / w2)) + (2.0 * cv(hs, los)) / (w2 * h));
      const double t3 = (2.0 * h) * cv(his, los);
      res.areerr[i] = kHalfSqrtPi * std::sqrt((t1 + t2) + t3);
      fwhmErr = (0.5 * std::sqrt(shi * shi + slo * slo)) * kFwhm;
      res.fwherr[i] = shi * kFwhm;
      res.fwlerr[i] = slo * kFwhm;
      res.wloerr[i] = slo;
    }
    res.hgtfit[i] = h;
    res.hgterr[i] = sh;
    res.fwhfit[i] = w1 * kFwhm;
    res.fwlfit[i] = w2 * kFwhm;
    res.widfit[i] = w1;
    res.wlofit[i] = w2;
    fortran::write(out, l.row, k, res.cenfit[i], res.cenerr[i], res.arefit[i], res.areerr[i],
                   wbar * kFwhm, fwhmErr);
    // The second-row format holds one pair: the low side starts a new line.
    fortran::write(out, l.row2, res.fwhfit[i], res.fwherr[i], res.fwlfit[i], res.fwlerr[i]);
  }

  backgroundArea(r.covar, B, m, r.ilo, r.ihi, res);
  printBackgroundArea(out, m, res);
}

}  // namespace tavrick::skew
