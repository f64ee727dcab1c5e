// One peak's rows of the skew-Gaussian variants' result tables.
#include "engine/skew/shape.h"

#include <cmath>
#include <cstddef>

#include "engine/family.h"
#include "format/fortran.h"

namespace tavrick::skew {

void Kernel::peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p) {
  const std::size_t i = p.i;
  const int hs = p.s.h;
  const int his = p.s.w;
  const int los = p.s.wlo;
  const Mat1<const double>& cv = p.cv;
  const double h = p.h;
  const double w1 = std::abs(p.w);
  const double w2 = std::abs(p.wlo);
  const double wbar = (w1 + w2) / 2.0;
  const double sh = res.hgterr[i];
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
    const double t1 = (p1 * p1) * ((rh + (shi / w1) * (shi / w1)) + (2.0 * cv(hs, his)) / (w1 * h));
    const double t2 = (p2 * p2) * ((rh + (slo / w2) * (slo / w2)) + (2.0 * cv(hs, los)) / (w2 * h));
    const double t3 = (2.0 * h) * cv(his, los);
    res.areerr[i] = kHalfSqrtPi * std::sqrt((t1 + t2) + t3);
    fwhmErr = (0.5 * std::sqrt(shi * shi + slo * slo)) * kFwhm;
    res.fwherr[i] = shi * kFwhm;
    res.fwlerr[i] = slo * kFwhm;
    res.wloerr[i] = slo;
  }
  res.fwhfit[i] = w1 * kFwhm;
  res.fwlfit[i] = w2 * kFwhm;
  res.widfit[i] = w1;
  res.wlofit[i] = w2;
  fortran::write(out, l.row, p.k, res.cenfit[i], res.cenerr[i], res.arefit[i], res.areerr[i],
                 wbar * kFwhm, fwhmErr);
  // The second-row format holds one pair: the low side starts a new line.
  fortran::write(out, l.row2, res.fwhfit[i], res.fwherr[i], res.fwlfit[i], res.fwlerr[i]);
}

}  // namespace tavrick::skew
