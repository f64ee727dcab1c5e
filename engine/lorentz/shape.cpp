// One peak's row of the Lorentzian variants' result tables.
#include "engine/lorentz/shape.h"

#include <cmath>

#include "format/fortran.h"

namespace tavrick::lorentz {

void Kernel::peakResult(FitResults& res, std::FILE* out, const Layout& l, const PeakFit& p) {
  const std::size_t i = p.i;
  const double h = p.h;
  // A width the fit drove negative gives the same curve: report |b|.
  const double b = std::abs(p.w);
  const double sh = res.hgterr[i];
  const double sb = std::sqrt(p.cv(p.s.w, p.s.w));
  res.fwhfit[i] = 2.0 * b;
  res.fwherr[i] = 2.0 * sb;
  res.widfit[i] = res.fwhfit[i];
  const double area = (kPi * b) * h;
  res.arefit[i] = area;
  res.areerr[i] = area * std::sqrt(((sh / h) * (sh / h) + (sb / b) * (sb / b)) +
                                   (2.0 * p.cv(p.s.h, p.s.w)) / (b * h));
  fortran::write(out, l.row, p.k, res.cenfit[i], res.cenerr[i], res.hgtfit[i], res.hgterr[i],
                 res.fwhfit[i], res.fwherr[i], res.arefit[i], res.areerr[i]);
}

}  // namespace tavrick::lorentz
