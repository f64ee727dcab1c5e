// Report lines of germanium-shape fits.
#include "engine/hpge/report.h"

#include "format/fortran.h"

namespace tavrick::hpge {

void printShape(std::FILE* out, const Held& held) {
  fortran::write(out, "(' Germanium peak shape: Gaussian, tail and step')");
  if (held.r) fortran::write(out, "(' Tail share R fixed in search')");
  if (held.beta) fortran::write(out, "(' Tail length BETA fixed in search')");
  if (held.step) fortran::write(out, "(' Step height fixed in search')");
  if (!held.high) return;
  fortran::write(out, "(' High-side tail included')");
  if (held.rh) fortran::write(out, "(' High-side tail share RH fixed in search')");
  if (held.betah) fortran::write(out, "(' High-side tail length BETAH fixed in search')");
}

void printTableHead(std::FILE* out) {
  fortran::write(out, "(13X,'Centroid',15X,'Area',18X,'Fwhm ')");
}

void printRow(std::FILE* out, int k, const PeakResult& p) {
  fortran::write(out, "(I3,3(1X,F10.2,' +/-',F8.2))", k, p.cen, p.cenerr, p.area, p.areaerr, p.fwhm,
                 p.fwherr);
}

void printShapeResult(std::FILE* out, const ShapeResult& s, bool high) {
  fortran::write(out, "('   Tail R (%)          ',F10.3,' +/-',F8.3)", s.r, s.rerr);
  fortran::write(out, "('   Tail BETA           ',F10.3,' +/-',F8.3)", s.beta, s.betaerr);
  fortran::write(out, "('   Step (%)            ',F10.3,' +/-',F8.3)", s.step, s.steperr);
  if (!high) return;
  fortran::write(out, "('   High tail RH (%)    ',F10.3,' +/-',F8.3)", s.rh, s.rherr);
  fortran::write(out, "('   High tail BETAH     ',F10.3,' +/-',F8.3)", s.betah, s.betaherr);
}

}  // namespace tavrick::hpge
