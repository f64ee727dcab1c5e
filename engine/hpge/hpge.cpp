// The germanium-shape variant: layout, model function and its sparse form,
// start routine and result routine.
#include "engine/hpge/hpge.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "engine/family.h"
#include "engine/hpge/results.h"

namespace tavrick::hpge {

namespace {

// Bits of the layout code above the width mode.
constexpr int kCenHeld = 1 << 2;
constexpr int kHigh = 1 << 3;
constexpr int kHoldR = 1 << 4;
constexpr int kHoldBeta = 1 << 5;
constexpr int kHoldStep = 1 << 6;
constexpr int kHoldRh = 1 << 7;
constexpr int kHoldBetah = 1 << 8;

// The largest vector: 30 peaks with free centroid, height and width, five
// shape parameters, six background coefficients and the layout code.
static_assert(3 * kMaxPeaks + 5 + kMaxBak + 1 <= kMaxPar, "every request fits the vector");

// The layout a fit's vector carries in its last slot.
Layout layoutOf(const double* a, int ma, int npeaks, int nbak) {
  return layout(static_cast<int>(a[ma - 1]), npeaks, nbak);
}

double at(const double* a, int slot) { return slot > 0 ? a[slot - 1] : 0.0; }

Tail tailOf(const double* a, const Layout& l) {
  return {at(a, l.r), at(a, l.beta), at(a, l.step), at(a, l.rh), at(a, l.betah)};
}

// The model at x over the peaks in cand, the sparse form's eval. Every peak
// outside cand adds an exact zero to the value and to every derivative at x
// (see reach), so leaving it out changes no bit. With a list act, it receives
// in ascending order the free slots whose derivative is not an exact zero,
// and only those derivatives are written; without one (the full model) every
// free slot's derivative is.
void evaluate(double x,
              const double* a,
              double& y,
              double* dyda,
              int ma,
              int npeaks,
              int nbak,
              PeakSet cand,
              int* act,
              int& nact) {
  const Layout l = layoutOf(a, ma, npeaks, nbak);
  const bool list = act != nullptr;
  const Vec1<const double> av{a};
  const Vec1<double> d{dyda};
  const Tail t = tailOf(a, l);
  const auto listed = [&](int slot, double v) {
    if (slot <= 0 || slot > l.mfit) return;
    if (!list) {
      d(slot) = v;
    } else if (v != 0.0) {
      d(slot) = v;
      act[nact++] = slot;
    }
  };
  double sw = 0.0, sr = 0.0, sbeta = 0.0, sstep = 0.0, srh = 0.0, sbetah = 0.0;
  y = 0.0;
  nact = 0;
  for (int k = 1; k <= l.n; ++k) {
    if ((cand & (PeakSet{1} << (k - 1))) == 0) continue;
    const std::size_t i = static_cast<std::size_t>(k - 1);
    Terms p{};
    peak(x, av(l.c[i]), av(l.h[i]), av(l.w[i]), t, p);
    y = y + p.f;
    listed(l.c[i], p.dc);
    listed(l.h[i], p.dh);
    if (l.wcommon == 0) {
      listed(l.w[i], p.dw);
    } else {
      sw = sw + p.dw;
    }
    sr = sr + p.dr;
    sbeta = sbeta + p.dbeta;
    sstep = sstep + p.dstep;
    srh = srh + p.drh;
    sbetah = sbetah + p.dbetah;
  }
  listed(l.wcommon, sw);
  listed(l.r, sr);
  listed(l.beta, sbeta);
  listed(l.step, sstep);
  listed(l.rh, srh);
  listed(l.betah, sbetah);
  addBackground(x, a, dyda, l.bak, l.nbak, y);
  if (list) listSlots(l.bak + 1, l.bak + l.nbak, act, nact);
}

// Reach of the peaks. Right of c a peak is an exact zero from
// b >= kCut on (Gaussian, step, low-side tail) and, with a high-side tail,
// where its exponent 2 |b| yh + ... falls below -kTailExp: beyond
// (x - c) > BETAH (kTailExp + yh^2) + w yh. Left of c the step stays at its
// full height down to the window's start, so the reach is unbounded there;
// the model still lists only the slots whose derivatives are not exact
// zeros (a far step moves only its peak's height and STEP).
int reachHpge(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi) {
  if (ma < 1 || ma > kMaxPar) return -1;
  for (int j = 0; j < ma; ++j) {
    if (!std::isfinite(a[j])) return -1;
  }
  const Layout l = layoutOf(a, ma, npeaks, nbak);
  if (l.ma != ma) return -1;
  const double betah = std::abs(at(a, l.betah));
  for (int k = 1; k <= l.n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const double c = a[l.c[i] - 1];
    const double w = std::abs(a[l.w[i] - 1]);
    double r = kCut * w;
    if (l.high && betah > 0.0) {
      const double yh = w / (2.0 * betah);
      r = std::fmax(r, betah * (kTailExp + yh * yh) + w * yh);
    }
    r = r * 1.0001 + 1.0;
    const double slack = (std::abs(c) + r) * 1e-12;
    lo[i] = -std::numeric_limits<double>::infinity();
    hi[i] = (c + r) + slack;
    if (!std::isfinite(hi[i])) return -1;
  }
  return l.n;
}

const SparseModel kSparse{reachHpge, evaluate};

}  // namespace

int layoutCode(const Config& c) {
  int code = static_cast<int>(c.widths);
  if (c.centroidsHeld) code |= kCenHeld;
  if (c.high) code |= kHigh;
  if (c.holdr) code |= kHoldR;
  if (c.holdbeta) code |= kHoldBeta;
  if (c.holdstep) code |= kHoldStep;
  if (c.high && c.holdrh) code |= kHoldRh;
  if (c.high && c.holdbetah) code |= kHoldBetah;
  return code;
}

Layout layout(int code, int npeaks, int nbak) {
  Layout l;
  l.n = npeaks < 0 ? 0 : npeaks > kMaxPeaks ? kMaxPeaks : npeaks;
  l.nbak = nbak < 0 ? 0 : nbak > kMaxBak ? kMaxBak : nbak;
  l.high = (code & kHigh) != 0;
  const int widths = code & 3;
  const bool cenHeld = (code & kCenHeld) != 0;
  int s = 0;
  // Free block.
  for (int k = 0; k < l.n; ++k) {
    if (!cenHeld) l.c[k] = ++s;
    l.h[k] = ++s;
    if (widths == static_cast<int>(Widths::free)) l.w[k] = ++s;
  }
  if (widths == static_cast<int>(Widths::common)) {
    l.wcommon = ++s;
    for (int k = 0; k < l.n; ++k) l.w[k] = l.wcommon;
  }
  const auto shape = [&](bool held) {
    if (((code & kHoldR) != 0) == held) l.r = ++s;
    if (((code & kHoldBeta) != 0) == held) l.beta = ++s;
    if (((code & kHoldStep) != 0) == held) l.step = ++s;
    if (l.high) {
      if (((code & kHoldRh) != 0) == held) l.rh = ++s;
      if (((code & kHoldBetah) != 0) == held) l.betah = ++s;
    }
  };
  shape(false);
  l.bak = s;
  s += l.nbak;
  l.mfit = s;
  // Held block.
  if (cenHeld) {
    for (int k = 0; k < l.n; ++k) l.c[k] = ++s;
  }
  if (widths == static_cast<int>(Widths::given)) {
    for (int k = 0; k < l.n; ++k) l.w[k] = ++s;
  }
  shape(true);
  l.ma = ++s;
  return l;
}

int freeParameters(const Config& c, int npeaks, int nbak) {
  if (npeaks < 1 || npeaks > kMaxPeaks || nbak < 0 || nbak > kMaxBak) return 0;
  return layout(layoutCode(c), npeaks, nbak).mfit;
}

const SparseModel& sparseModel() { return kSparse; }

void fhpge(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak) {
  int nact = 0;
  evaluate(x, a, y, dyda, ma, npeaks, nbak, ~PeakSet{0}, nullptr, nact);
}

void ghpge(const StartArgs& s, FitWork& w, std::FILE* out) {
  const Config& c = *s.hpge;
  const int ndata = setupFitPoints(s, w);
  const Vec1<double> a{s.a};
  const int code = layoutCode(c);
  const Layout l = layout(code, s.npeaks, s.nbak);
  for (int j = 1; j <= kMaxPar; ++j) a(j) = 0.0;
  for (int k = 1; k <= l.n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const double pos = s.pos[i];
    a(l.c[i]) = pos - static_cast<double>(s.ilo);
    a(l.h[i]) = startHeight(s.spec, pos);
    if (l.wcommon == 0) a(l.w[i]) = s.fwhmin[i] / kFwhm;
  }
  if (l.wcommon != 0) a(l.wcommon) = s.width / kFwhm;
  a(l.r) = c.start.r;
  a(l.beta) = c.start.beta;
  a(l.step) = c.start.step;
  if (l.high) {
    a(l.rh) = c.start.rh;
    a(l.betah) = c.start.betah;
  }
  startBackground(s.spec, s.ilo, s.ihi, s.nbak, &a(l.bak + 1));
  a(l.ma) = static_cast<double>(code);
  runFit(s, w, out, ndata, l.ma, l.mfit, fhpge, &kSparse);
}

void xhpge(const ResultArgs& r, FitResults& res, std::FILE* out) {
  const Config& c = *r.hpge;
  const Layout l = layout(layoutCode(c), r.npeaks, r.nbak);
  const Tail t = tailOf(r.a, l);

  // Background coefficients and curves; a peak's step reaches the whole
  // window.
  const auto whole = [](int, int last) { return Span{0, last + 1}; };
  const auto termAt = [&](int k, int xi) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    Terms p{};
    peak(static_cast<double>(xi), r.a[l.c[i] - 1], r.a[l.h[i] - 1], r.a[l.w[i] - 1], t, p);
    return p.f;
  };
  resultCurves(r, res, l.bak, whole, termAt);

  printTableHead(out);
  for (int k = 1; k <= l.n; ++k) {
    const std::size_t i = static_cast<std::size_t>(k - 1);
    const Slots sl{l.c[i], l.h[i], l.w[i], l.r, l.beta, l.rh, l.betah};
    const PeakResult p = peakResult(r.a, r.covar, kNca, sl, r.ilo);
    res.cenfit[i] = p.cen;
    res.cenerr[i] = p.cenerr;
    res.arefit[i] = p.area;
    res.areerr[i] = p.areaerr;
    res.fwhfit[i] = p.fwhm;
    res.fwherr[i] = p.fwherr;
    res.widfit[i] = p.fwhm / kFwhm;
    res.hgtfit[i] = p.hgt;
    res.hgterr[i] = p.hgterr;
    res.posfit[i] = r.a[l.c[i] - 1] + static_cast<double>(r.ilo);
    res.poserr[i] = std::sqrt(std::fmax(r.covar[(l.c[i] - 1) * (kNca + 1)], 0.0));
    printRow(out, k, p);
  }

  backgroundResults(r, res, out, l.bak);

  const Slots all{0, 0, 0, l.r, l.beta, l.rh, l.betah};
  const ShapeResult sr = shapeResult(r.a, r.covar, kNca, all, l.step);
  res.shapefit = {sr.r, sr.beta, sr.step, sr.rh, sr.betah};
  res.shapeerr = {sr.rerr, sr.betaerr, sr.steperr, sr.rherr, sr.betaherr};
  printShapeResult(out, sr, c.high);
}

}  // namespace tavrick::hpge
