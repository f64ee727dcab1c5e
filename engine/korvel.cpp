// The engine entry: banner and configuration, peak search, window total,
// variant selection, and the closing check and chi-square lines.
#include "engine/korvel.h"

#include "engine/gauss/gauss.h"
#include "engine/lorentz/lorentz.h"
#include "engine/pksrch.h"
#include "engine/skew/skew.h"
#include "format/fortran.h"

namespace tavrick {

namespace {

// Every variant's routines and layout: one row each. The routines of the
// eleven flag variants are those Form<kernel, layout> makes (see
// engine/model.h); gsym, xsym and the like are their names. The germanium
// shape's slots depend on what it holds, so it has no constant layout: its
// routines read its settings from the arguments and lay out the vector
// themselves (see engine/hpge/hpge.h).
struct Routines {
  Variant v;
  Start g;
  Result x;
  const Layout* layout;
};

constexpr Routines kRoutines[] = {
    {Variant::sym, gsym, xsym, &gauss::kSym},
    {Variant::symf, gsymf, xsymf, &gauss::kSymf},
    {Variant::symfc, gsymfc, xsymfc, &gauss::kSymfc},
    {Variant::fwvc, gfwvc, xfwvc, &gauss::kFwvc},
    {Variant::fwfc, gfwfc, xfwfc, &gauss::kFwfc},
    {Variant::skew, gskew, xskew, &skew::kSkew},
    {Variant::skewf, gskewf, xskewf, &skew::kSkewf},
    {Variant::sfwvc, gsfwvc, xsfwvc, &skew::kSfwvc},
    {Variant::sfwfc, gsfwfc, xsfwfc, &skew::kSfwfc},
    {Variant::lor, glor, xlor, &lorentz::kLor},
    {Variant::lorf, glorf, xlorf, &lorentz::kLorf},
    {Variant::hpge, hpge::ghpge, hpge::xhpge, nullptr},
};

const Routines* routines(Variant v) {
  for (const Routines& r : kRoutines) {
    if (r.v == v) return &r;
  }
  return nullptr;
}

// Requests whose arrays or window would run past the storage the engine and
// its caller hold. The command never makes them; a direct caller gets a line
// instead of a read or write out of bounds.
bool withinLimits(const KorvelArgs& k) {
  return k.npeaks >= 1 && k.npeaks <= kMaxPeaks && k.nbak >= 1 && k.nbak <= kMaxBak &&
         k.maxch >= 1 && k.maxch <= kMaxCh && k.ilo >= 0 && k.ihi <= kMaxCh;
}

}  // namespace

Variant selectVariant(int ilor, int ifixwd, int iskew, int ifixcn, int idiffwd) {
  if (ilor == 1) {
    if (idiffwd == 0) return Variant::lorf;
    if (idiffwd == 1) return Variant::lor;
    return Variant::None;
  }
  if (ilor != 0) return Variant::None;
  if (ifixwd != 0) {
    if (iskew == 0) return ifixcn == 0 ? Variant::fwvc : Variant::fwfc;
    return ifixcn == 0 ? Variant::sfwvc : Variant::sfwfc;
  }
  if (iskew == 1) return idiffwd == 0 ? Variant::skewf : Variant::skew;
  if (iskew != 0) return Variant::None;
  if (ifixcn == 0 && idiffwd == 0) return Variant::symf;
  if (ifixcn == 1 && idiffwd == 0) return Variant::symfc;
  if (ifixcn == 0 && idiffwd == 1) return Variant::sym;
  return Variant::None;
}

int freeParameters(Variant v, int npeaks, int nbak) {
  const Routines* rt = routines(v);
  return rt == nullptr || rt->layout == nullptr ? 0 : rt->layout->mfit.of(npeaks, nbak);
}

Variant variantOf(const KorvelArgs& k) {
  if (k.hpge != nullptr) return Variant::hpge;
  return selectVariant(k.ilor, k.ifixwd, k.iskew, k.ifixcn, k.idiffwd);
}

int freeParameters(const KorvelArgs& k) {
  if (k.hpge != nullptr) return hpge::freeParameters(*k.hpge, k.npeaks, k.nbak);
  return freeParameters(variantOf(k), k.npeaks, k.nbak);
}

void korvel(KorvelArgs& k, FitResults& r, Workspace& w, std::FILE* out) {
  fortran::write(out, "(/' KORVEL-Quenmoor University Fast FITting')");
  fortran::write(out, "(' Version 3.0  23/11/92')");
  fortran::write(out, "(' Number of peaks=',I5)", k.npeaks);
  fortran::write(out, "(' Number of background parameters=',I5)", k.nbak);
  fortran::write(out, "(' Start channel=',I5,'  End Channel=',I5)", k.ilo, k.ihi);

  if (k.hpge != nullptr) {
    // The germanium shape has its own flags; ilor and iskew are not read.
    hpge::printShape(out, k.hpge->held());
  } else if (k.ilor != 0) {
    fortran::write(out, "(' Lorentzian peak shape')");
    // A Lorentzian has no skew and no held widths or centroids; the caller
    // sees the flags cleared.
    k.iskew = 0;
    k.ifixwd = 0;
    k.ifixcn = 0;
  } else if (k.iskew != 0) {
    fortran::write(out, "(' Asymmetric (skew) Gaussian shape ')");
  } else {
    fortran::write(out, "(' Symmetric Gaussian shape ')");
  }
  if (k.ipksch != 0) fortran::write(out, "(' Search on Centroid guesses')");
  if (k.ifixcn != 0) fortran::write(out, "(' Centroids of peaks fixed in search')");
  if (k.idiffwd == 0) {
    fortran::write(out, "(' Single width, Fwhm=',F5.1)", k.width);
  } else {
    fortran::write(out, "(' Different widths for peaks')");
  }
  if (k.ifixwd != 0) fortran::write(out, "(' Width of peaks fixed in search')");
  // Only weights other than the counts' add a line.
  if (k.weights == Weighting::fit) fortran::write(out, "(' Weights from the fit')");
  if (k.weights == Weighting::poisson) {
    fortran::write(out, "(' Poisson likelihood, Chisq = 2*Sum(Fit-N+N*ln(N/Fit))')");
  }

  if (!withinLimits(k)) {
    fortran::write(out, "(' No fit: request beyond the limits of the engine')");
    return;
  }

  // The search runs whatever ifixcn says: held centroids are held at the
  // searched positions.
  if (k.ipksch != 0) pksrch(k.spec, k.pos, k.maxch, k.npeaks, k.ipksch);

  // nchan is kept from here even if the start routine lowers ihi: the degrees
  // of freedom count the window the caller asked for.
  const int nchan = k.ihi - k.ilo + 1;
  double total = 0.0;
  for (int i = k.ilo; i <= k.ihi; ++i) total += k.spec[i];
  k.total = total;

  const Variant v = variantOf(k);
  if (v == Variant::None) {
    fortran::write(out, "(' No fit: no peak shape matches these flags')");
    return;
  }

  // The parameter vector belongs to this call: start from a clean one.
  w.a.fill(0.0);
  const StartArgs s{k.spec,         k.peaks, k.bkgrd,   k.ilo,   k.ihi,   k.npeaks,
                    k.nbak,         k.pos,   k.fwhmin,  k.width, k.widlo, w.a.data(),
                    w.covar.data(), r.chisq, k.weights, k.hpge};
  const ResultArgs x{k.spec, k.maxch, k.ilo,   k.ihi,      k.npeaks,       k.nbak, k.total,
                     k.fit,  k.peaks, k.bkgrd, w.a.data(), w.covar.data(), k.hpge};
  const Routines& rt = *routines(v);
  rt.g(s, w.fit, out);
  r.summary = w.fit.summary;
  rt.x(x, r, out);

  double s_area = 0.0;
  for (int i = 0; i < k.npeaks; ++i) s_area += r.arefit[static_cast<std::size_t>(i)];
  const double check = (100.0 * ((s_area + r.bakarea) - k.total)) / k.total;
  fortran::write(out, "('   Check=100*(Fit-Total)/Total = ',F7.2,' %')", check);
  fortran::write(out, "('   Chisq per data point        = ',F10.2)", r.chisq);
  // nchan and the degrees of freedom pass through single precision, as the
  // report has always computed them.
  const int nfree = freeParameters(k);
  const double perdof =
      (sp(static_cast<float>(nchan)) * r.chisq) / sp(static_cast<float>(nchan - nfree));
  fortran::write(out, "('   Chisq per degree of freedom = ',F10.2//)", perdof);
}

void bindArgs(
    KorvelArgs& k, FitSettings& s, const double* spec, double* fit, double* peaks, double* bkgrd) {
  k.spec = spec;
  k.maxch = kMaxCh;
  k.ilo = s.ilo;
  k.ihi = s.ihi;
  k.npeaks = s.npeaks;
  k.nbak = s.nbak;
  k.pos = s.pos.data();
  k.fwhmin = s.fwhmin.data();
  k.fwloin = s.fwloin.data();
  k.width = s.width;
  k.widlo = s.widlo;
  k.ipksch = s.ipksch;
  k.idiffwd = s.idiffwd;
  k.iskew = s.iskew;
  k.ifixwd = s.ifixwd;
  k.ifixcn = s.ifixcn;
  k.ilor = s.ilor;
  k.total = 0.0;
  k.fit = fit;
  k.peaks = peaks;
  k.bkgrd = bkgrd;
  k.weights = s.weights;
  k.hpge = nullptr;
}

}  // namespace tavrick
