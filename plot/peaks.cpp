// Peak terms with the shape functions the fit itself evaluates.
#include "plot/peaks.h"

#include <algorithm>
#include <cmath>

#include "engine/gauss/shape.h"
#include "engine/hpge/lineshape.h"
#include "engine/lorentz/shape.h"
#include "engine/skew/shape.h"

namespace tavrick {

std::vector<std::vector<double>> peak_terms(
    const FitResults& r, int npeaks, int ilo, int ihi, int iskew, int ilor, bool germanium) {
  const int n = std::clamp(npeaks, 0, kMaxPeaks);
  const auto len = static_cast<std::size_t>(std::max(ihi - ilo + 1, 0));
  std::vector<std::vector<double>> terms(static_cast<std::size_t>(n), std::vector<double>(len));
  // RH and BETAH are 0 without a high-side tail, which leaves it out.
  const hpge::Tail tail{r.shapefit[0], r.shapefit[1], r.shapefit[2], r.shapefit[3], r.shapefit[4]};
  for (int k = 0; k < n; ++k) {
    const auto j = static_cast<std::size_t>(k);
    const double c = r.cenfit[j];
    const double h = r.hgtfit[j];
    for (std::size_t i = 0; i < len; ++i) {
      const double x = static_cast<double>(ilo) + static_cast<double>(i);
      double v = 0.0;
      if (germanium) {
        hpge::Terms t{};
        hpge::peak(x, r.posfit[j], h, r.widfit[j], tail, t);
        v = t.f;
      } else if (ilor == 1) {
        // The fitted half width is half the FWHM.
        v = lorentz::peakTerm(x, c, h, r.fwhfit[j] / 2.0).g;
      } else if (iskew != 0) {
        v = h * skew::peakTerm(x, c, r.widfit[j], r.wlofit[j]).e;
      } else {
        v = gauss::peakTerm(x, c, h, r.widfit[j]).f;
      }
      terms[j][i] = v;
    }
  }
  return terms;
}

}  // namespace tavrick
