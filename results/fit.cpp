// The fit as a function call: the command's checks on a request, the window
// copied into a workspace, one engine call, the record.
#include "results/fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "engine/pksrch.h"

namespace tavrick::results {

struct FitWorkspace::Arrays {
  std::array<double, kChanArray> spec{};
  std::array<double, kChanArray> fit{};
  std::array<double, kChanArray> peaks{};
  std::array<double, kChanArray> bkgrd{};
  Workspace work{};
  FitResults res{};
  KorvelArgs k{};
  FitSettings settings;  // the latest fit's, which the engine's arguments point into
  hpge::Config hpge;     // set by each germanium-shape fit before the engine sees it
  // The channels the latest fit filled (none: first > last).
  int first = 0;
  int last = -1;
};

namespace {

// The engine's flags and lists as the command's option phase leaves them.
struct Flags : FitSettings {
  hpge::Config hpge;  // shape hpge: start values in single precision, holds
};

double single(double v) { return static_cast<double>(static_cast<float>(v)); }

// A list in single precision, as the command reads it; "" or a message.
std::string list(const std::vector<double>& v,
                 std::array<double, kMaxPeaks>& out,
                 const char* toomany,
                 const char* notfinite) {
  if (v.size() > static_cast<std::size_t>(kMaxPeaks)) return toomany;
  for (std::size_t i = 0; i < v.size(); ++i) {
    out[i] = single(v[i]);
    if (!std::isfinite(out[i])) return notfinite;
  }
  return {};
}

void pad(std::array<double, kMaxPeaks>& vals, std::size_t n) {
  std::fill(vals.begin() + static_cast<std::ptrdiff_t>(n), vals.end(), vals[n - 1]);
}

bool positive(const std::array<double, kMaxPeaks>& vals, std::size_t n) {
  return std::all_of(vals.begin(), vals.begin() + static_cast<std::ptrdiff_t>(n),
                     [](double v) { return v > 0.0; });
}

// The germanium shape's options as the command reads them (-tail, -step,
// -hightail, -hold, last of all): values in single precision, the same
// ranges and messages. Without r.hpge the command's defaults: R 10, BETA half
// the first width, STEP 0.25, no high-side tail, nothing held. The high-side
// tail is asked for by high or a nonzero RH or BETAH, and is part of the
// model when both are above 0 (-hightail 0 1 fits none). The width and
// centroid options come from widthopt and peakopt.
std::string hpge_options(const FitRequest& r, Flags& f) {
  hpge::Config c;
  c.start = {10.0, 0.0, 0.25, 0.0, 0.0};
  if (r.hpge) {
    const hpge::Config& q = *r.hpge;
    c.start.r = single(q.start.r);
    c.start.beta = single(q.start.beta);
    if (!(c.start.r >= 0.0 && c.start.r <= 100.0) || !(c.start.beta > 0.0)) {
      return "bad TAIL argument (R 0..100, BETA above 0)";
    }
    c.start.step = single(q.start.step);
    if (!std::isfinite(c.start.step)) return "bad STEP argument";
    if (q.high || q.start.rh != 0.0 || q.start.betah != 0.0) {
      c.start.rh = single(q.start.rh);
      c.start.betah = single(q.start.betah);
      if (!(c.start.rh >= 0.0 && c.start.rh <= 100.0) || !(c.start.betah > 0.0)) {
        return "bad HIGHTAIL argument (RH 0..100, BETAH above 0)";
      }
    }
    c.holdr = q.holdr;
    c.holdbeta = q.holdbeta;
    c.holdstep = q.holdstep;
    c.holdrh = q.holdrh;
    c.holdbetah = q.holdbetah;
  }
  if (c.start.beta == 0.0) c.start.beta = 0.5 * f.width;
  c.high = c.start.rh > 0.0 && c.start.betah > 0.0;
  c.widths = f.ifixwd != 0    ? hpge::Widths::given
             : f.idiffwd == 0 ? hpge::Widths::common
                              : hpge::Widths::free;
  c.centroidsHeld = f.ifixcn != 0;
  f.hpge = c;
  return {};
}

// The option phase of the command on a request: the same checks in the same
// order with the same messages.
std::string options(const FitRequest& r, Flags& f) {
  if (r.shape == "gauss") {
    f.iskew = 0;
  } else if (r.shape == "skew") {
    f.iskew = 1;
  } else if (r.shape == "skewtail") {
    f.iskew = 2;
  } else if (r.shape == "lorentz") {
    f.ilor = 1;
  } else if (r.shape == "hpge") {
    f.ihpge = 1;
  } else {
    return "bad SHAPE argument (gauss|skew|skewtail|lorentz)" + r.shape;
  }
  if (r.widthopt == "different") {
    f.ifixwd = 0;
    f.idiffwd = 1;
  } else if (r.widthopt == "same") {
    f.ifixwd = 0;
    f.idiffwd = 0;
  } else if (r.widthopt == "given") {
    f.ifixwd = 1;
    f.idiffwd = 1;
  } else {
    return "bad WIDTHOPT argument (different|same|given)" + r.widthopt;
  }
  if (r.peakopt == "different") {
    f.ifixcn = 0;
  } else if (r.peakopt == "given") {
    f.ifixcn = 1;
  } else {
    return "bad PEAKOPT argument (different|given)" + r.peakopt;
  }
  if (r.order < 0 || r.order > 5) return "invalid background polynomial order (0..5)";
  f.nbak = r.order + 1;
  f.ilo = std::min(r.lo, r.hi);
  f.ihi = std::max(r.lo, r.hi);

  std::string m = list(r.peaks, f.pos, "too many PEAKS (max of 30)", "PEAKS must be finite");
  if (!m.empty()) return m;
  if (r.peaks.empty()) return "no PEAKS argument(s) at all";
  f.npeaks = static_cast<int>(r.peaks.size());

  if (r.widths.empty()) return "no WIDTHS argument(s) at all";
  m = list(r.widths, f.fwhmin, "too many WIDTHS (max of 30)", "WIDTHS must be finite");
  if (!m.empty()) return m;
  if (!positive(f.fwhmin, r.widths.size())) return "WIDTHS must be positive";
  f.width = f.fwhmin[0];
  pad(f.fwhmin, r.widths.size());

  if (r.skews.empty()) {
    if (f.iskew == 1) return "no SKEWS argument(s) at all";
    f.fwloin = f.fwhmin;
    f.widlo = f.width;
  } else {
    m = list(r.skews, f.fwloin, "too many SKEWS (max of 30)", "SKEWS must be finite");
    if (!m.empty()) return m;
    if (!positive(f.fwloin, r.skews.size())) return "SKEWS must be positive";
    f.widlo = f.fwloin[0];
    pad(f.fwloin, r.skews.size());
  }

  const bool wdifferent = f.ifixwd == 0 && f.idiffwd == 1;
  const bool wsame = f.ifixwd == 0 && f.idiffwd == 0;
  if (f.iskew == 2 && wdifferent && f.ifixcn == 0) {
    return "SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given";
  }
  if (f.iskew == 2 && (wsame || (wdifferent && f.ifixcn == 1))) {
    return "SHAPE=skewtail requires WIDTHOPT=given";
  }
  if (f.iskew == 0 && f.ilor == 0 && f.ihpge == 0 && wdifferent && f.ifixcn == 1) {
    return "SHAPE=gauss with PEAKOPT=given requires WIDTHOPT=same|given";
  }
  if (r.search < 0 || r.search > kMaxCh) return "bad SEARCH argument (an integer 0..65536)";
  f.ipksch = r.search;
  if (r.weights == "data") {
    f.weights = Weighting::data;
  } else if (r.weights == "fit") {
    f.weights = Weighting::fit;
  } else if (r.weights == "poisson") {
    f.weights = Weighting::poisson;
  } else {
    return "bad WEIGHTS argument (data|fit|poisson)" + r.weights;
  }
  if (f.ihpge != 0) return hpge_options(r, f);
  return {};
}

// The fetch phase's checks of the window against the counts given.
std::string window(const FitRequest& r, const Flags& f) {
  const long long size = static_cast<long long>(r.counts.size());
  const long long lo = static_cast<long long>(f.ilo) - r.first_channel;
  const long long hi = static_cast<long long>(f.ihi) - r.first_channel;
  if (lo < 0 || lo >= size) return "first peak lies ouside spectrum: " + r.spectrum;
  if (hi < 0 || hi >= size) return "last peak lies outside spectrum: " + r.spectrum;
  if (f.ihi > kMaxCh - 1 || f.ilo < 0) return "fitting over too many channels (65536 maximum)";
  if (vecmin(f.pos.data(), f.npeaks) < static_cast<double>(f.ilo) ||
      vecmax(f.pos.data(), f.npeaks) > static_cast<double>(f.ihi)) {
    return "some peaks lie outside fitting limits";
  }
  for (long long i = lo; i <= hi; ++i) {
    if (!std::isfinite(single(r.counts[static_cast<std::size_t>(i)]))) {
      return "COUNTS must be finite";
    }
  }
  return {};
}

// The request as the engine took it: lists in single precision, the widths
// padded to the peaks, so record.arguments repeat the fit exactly.
FitRequest as_fitted(const FitRequest& r, const Flags& f) {
  FitRequest q;
  q.spectrum = r.spectrum;
  q.lo = r.lo;
  q.hi = r.hi;
  const auto n = static_cast<std::size_t>(f.npeaks);
  q.peaks.assign(r.peaks.size(), 0.0);
  std::transform(r.peaks.begin(), r.peaks.end(), q.peaks.begin(), single);
  q.widths.assign(f.fwhmin.begin(), f.fwhmin.begin() + static_cast<std::ptrdiff_t>(n));
  if (!r.skews.empty()) {
    q.skews.assign(f.fwloin.begin(), f.fwloin.begin() + static_cast<std::ptrdiff_t>(n));
  }
  q.shape = r.shape;
  q.widthopt = r.widthopt;
  q.peakopt = r.peakopt;
  q.order = r.order;
  q.search = r.search;
  q.weights = r.weights;
  if (f.ihpge != 0) q.hpge = f.hpge;
  q.calibration = r.calibration;
  return q;
}

std::span<const double> window_of(const FitWorkspace::Arrays* a, const double* v) {
  if (a == nullptr || a->first > a->last) return {};
  return {v + a->first, static_cast<std::size_t>(a->last - a->first + 1)};
}

}  // namespace

void FitWorkspace::Free::operator()(Arrays* a) const { std::free(a); }

// Zeroed pages from calloc: only the pages of the channels a fit touches are
// ever faulted in. Arrays holds arrays and scalars whose initial values are
// all zero bits, so the zeroed block is a value-initialised Arrays; its
// hpge::Config alone has other defaults, and a fit assigns it before use.
static_assert(std::is_aggregate_v<FitWorkspace::Arrays> &&
              std::is_trivially_destructible_v<FitWorkspace::Arrays>);

FitWorkspace::FitWorkspace() {
  void* p = std::calloc(1, sizeof(Arrays));
  if (p == nullptr) throw std::bad_alloc();
  a_.reset(static_cast<Arrays*>(p));
  a_->last = -1;
}

FitWorkspace::~FitWorkspace() = default;
FitWorkspace::FitWorkspace(FitWorkspace&&) noexcept = default;
FitWorkspace& FitWorkspace::operator=(FitWorkspace&&) noexcept = default;

std::span<const double> FitWorkspace::counts() const {
  return window_of(a_.get(), a_ ? a_->spec.data() : nullptr);
}
std::span<const double> FitWorkspace::background() const {
  return window_of(a_.get(), a_ ? a_->bkgrd.data() : nullptr);
}
std::span<const double> FitWorkspace::curve() const {
  return window_of(a_.get(), a_ ? a_->fit.data() : nullptr);
}
int FitWorkspace::first() const { return a_ ? a_->first : 0; }
int FitWorkspace::last() const { return a_ ? a_->last : -1; }

std::string check_options(const FitRequest& req) {
  Flags f;
  return options(req, f);
}

std::string fit(const FitRequest& req, FitWorkspace& ws, Record& rec, std::FILE* report) {
  Flags f;
  std::string msg = options(req, f);
  if (msg.empty()) msg = window(req, f);
  if (!msg.empty()) return msg;
  if (!ws.a_) return "fit workspace moved from";
  FitWorkspace::Arrays& a = *ws.a_;

  // Channels outside the window are zero, as in the command: the peak search
  // looks up to ten channels beyond the window's ends.
  for (int ch = a.first; ch <= a.last; ++ch) {
    const auto c = static_cast<std::size_t>(ch);
    a.spec[c] = a.fit[c] = a.peaks[c] = a.bkgrd[c] = 0.0;
  }
  a.first = 0;
  a.last = -1;
  for (int ch = f.ilo; ch <= f.ihi; ++ch) {
    const auto i = static_cast<std::size_t>(ch - req.first_channel);
    a.spec[static_cast<std::size_t>(ch)] = single(req.counts[i]);
  }
  a.settings = f;

  KorvelArgs& k = a.k;
  bindArgs(k, a.settings, a.spec.data(), a.fit.data(), a.peaks.data(), a.bkgrd.data());
  if (f.ihpge != 0) {
    a.hpge = f.hpge;
    k.hpge = &a.hpge;
  }
  korvel(k, a.res, a.work, report);
  a.first = f.ilo;
  a.last = f.ihi;

  rec = build_record(as_fitted(req, f), k, a.res);
  return {};
}

}  // namespace tavrick::results
