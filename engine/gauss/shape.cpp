// One peak's row of the Gaussian variants' result tables.
#include "engine/gauss/shape.h"

#include <cmath>

#include "format/fortran.h"

namespace tavrick::gauss {

void Kernel::peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p) {
  const std::size_t i = p.i;
  const double h = p.h;
  const double aw = std::abs(p.w);
  const double sh = res.hgterr[i];
  res.arefit[i] = (h * kSqrtPi) * aw;
  if (l.widthsHeld) {
    res.areerr[i] = ((aw * kSqrtPi) * h) * std::sqrt((sh / h) * (sh / h));
    res.fwherr[i] = 0.0;
  } else {
    const double sw = std::sqrt(p.cv(p.s.w, p.s.w));
    // The height keeps its sign; only the width is taken as |w|, also in
    // the covariance term.
    const double rh = (sh / h) * (sh / h);
    const double rw = (sw / aw) * (sw / aw);
    const double rc = (2.0 * p.cv(p.s.h, p.s.w)) / (aw * h);
    res.areerr[i] = ((aw * kSqrtPi) * h) * std::sqrt((rh + rw) + rc);
    res.fwherr[i] = sw * kFwhm;
  }
  res.fwhfit[i] = aw * kFwhm;
  res.widfit[i] = aw;
  fortran::write(out, l.row, p.k, res.cenfit[i], res.cenerr[i], res.arefit[i], res.areerr[i],
                 res.fwhfit[i], res.fwherr[i]);
}

}  // namespace tavrick::gauss
