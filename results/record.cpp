// Building the record of a fit.
#include "results/record.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "results/version.h"

namespace tavrick::results {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// FWHM of a Gaussian over its width parameter, as the result tables use it.
constexpr double kFwhm = 1.665109223;

std::string shortest(float v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  static_cast<void>(ec);
  return std::string(buf, end);
}

void add_list(std::vector<std::string>& args, const char* name, const std::vector<double>& v) {
  args.emplace_back(name);
  for (double x : v) args.push_back(shortest(static_cast<float>(x)));
}

// Energies of a peak whose half-maximum points lie at centroid - low / 2 and
// centroid + high / 2; sl and sh are the errors of low and high, which move
// together (one width) or independently (the two sides of a skew peak).
void energies(const Calibration& cal,
              double sl,
              double sh,
              double low,
              double high,
              bool together,
              PeakRecord& p) {
  const double c = p.centroid;
  p.energy = cal.energy(c);
  p.energy_error = std::abs(cal.slope(c)) * p.centroid_error;
  const double up = c + high / 2.0;
  const double down = c - low / 2.0;
  p.fwhm_energy = cal.energy(up) - cal.energy(down);
  // The half-maximum points move with the width(s) and, where the slope
  // differs between them, with the centroid; width and centroid are taken as
  // independent.
  const double dup = cal.slope(up);
  const double ddown = cal.slope(down);
  const double d = (dup - ddown) * p.centroid_error;
  if (together) {
    const double w = (dup + ddown) / 2.0 * sh;
    p.fwhm_energy_error = std::sqrt(w * w + d * d);
  } else {
    const double a = dup * sh / 2.0;
    const double b = ddown * sl / 2.0;
    p.fwhm_energy_error = std::sqrt(a * a + b * b + d * d);
  }
}

}  // namespace

double Calibration::energy(double ch) const {
  if (coefficients.empty()) return kNaN;
  double e = 0.0;
  for (auto it = coefficients.rbegin(); it != coefficients.rend(); ++it) e = e * ch + *it;
  return e;
}

double Calibration::slope(double ch) const {
  if (coefficients.empty()) return kNaN;
  double d = 0.0;
  for (std::size_t i = coefficients.size() - 1; i >= 1; --i) {
    d = d * ch + static_cast<double>(i) * coefficients[i];
  }
  return d;
}

std::optional<Calibration> parse_calibration(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32u) ++i;
    std::size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) > 32u) ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  if (words.size() < 3 || words[0] != "POLY") return std::nullopt;
  Calibration cal;
  if (words[1] != "-") cal.unit = std::string(words[1]);
  for (std::size_t k = 2; k < words.size(); ++k) {
    double v = 0.0;
    const auto [p, ec] = std::from_chars(words[k].data(), words[k].data() + words[k].size(), v);
    if (ec != std::errc() || p != words[k].data() + words[k].size() || !std::isfinite(v)) {
      return std::nullopt;
    }
    cal.coefficients.push_back(v);
  }
  return cal;
}

std::string_view status_name(FitStatus s) {
  switch (s) {
    case FitStatus::converged:
      return "converged";
    case FitStatus::iteration_cap:
      return "iteration-cap";
    case FitStatus::singular:
      return "singular";
    case FitStatus::not_finite:
      return "not-finite";
  }
  return "not-finite";
}

std::string_view variant_name(Variant v) {
  switch (v) {
    case Variant::sym:
      return "sym";
    case Variant::symf:
      return "symf";
    case Variant::symfc:
      return "symfc";
    case Variant::fwvc:
      return "fwvc";
    case Variant::fwfc:
      return "fwfc";
    case Variant::skew:
      return "skew";
    case Variant::skewf:
      return "skewf";
    case Variant::sfwvc:
      return "sfwvc";
    case Variant::sfwfc:
      return "sfwfc";
    case Variant::lor:
      return "lor";
    case Variant::lorf:
      return "lorf";
    case Variant::hpge:
      return "hpge";
    case Variant::None:
      break;
  }
  return "none";
}

std::vector<std::string> arguments_of(const FitRequest& req) {
  std::vector<std::string> args{"-spectrum", req.spectrum, "-limit", std::to_string(req.lo),
                                std::to_string(req.hi)};
  add_list(args, "-peaks", req.peaks);
  add_list(args, "-widths", req.widths);
  args.insert(args.end(), {"-shape", req.shape, "-widthopt", req.widthopt, "-peakopt", req.peakopt,
                           "-order", std::to_string(req.order)});
  if (!req.skews.empty()) add_list(args, "-skews", req.skews);
  if (req.search != 10) args.insert(args.end(), {"-search", std::to_string(req.search)});
  if (req.weights != "data") args.insert(args.end(), {"-weights", req.weights});
  if (req.shape == "hpge" && req.hpge) {
    const hpge::Config& c = *req.hpge;
    args.insert(args.end(), {"-tail", shortest(static_cast<float>(c.start.r)),
                             shortest(static_cast<float>(c.start.beta)), "-step",
                             shortest(static_cast<float>(c.start.step))});
    if (c.high) {
      args.insert(args.end(), {"-hightail", shortest(static_cast<float>(c.start.rh)),
                               shortest(static_cast<float>(c.start.betah))});
    }
    std::vector<std::string> held;
    if (c.holdr) held.emplace_back("r");
    if (c.holdbeta) held.emplace_back("beta");
    if (c.holdstep) held.emplace_back("step");
    if (c.high && c.holdrh) held.emplace_back("rh");
    if (c.high && c.holdbetah) held.emplace_back("betah");
    if (!held.empty()) {
      args.emplace_back("-hold");
      args.insert(args.end(), held.begin(), held.end());
    }
  }
  return args;
}

Record build_record(const FitRequest& req, const KorvelArgs& k, const FitResults& r) {
  Record rec;
  rec.version = kVersion;
  rec.spectrum = req.spectrum;
  rec.first = k.ilo;
  rec.last = k.ihi;
  rec.channels = k.ihi - k.ilo + 1;
  rec.shape = req.shape;
  rec.widthopt = req.widthopt;
  rec.peakopt = req.peakopt;
  const Variant v = variantOf(k);
  rec.variant = variant_name(v);
  rec.search = req.search;
  rec.weights = req.weights;
  rec.status = r.summary.status;
  rec.iterations = r.summary.iterations;

  // The per-point and per-degree-of-freedom values exactly as the report
  // computes them.
  const int nchan = rec.channels;
  const double fn = static_cast<double>(static_cast<float>(nchan));
  rec.free_parameters = freeParameters(k);
  rec.dof = nchan - rec.free_parameters;
  rec.chisq_per_point = r.chisq;
  rec.chisq = r.chisq * fn;
  rec.chisq_per_dof = (fn * r.chisq) / static_cast<double>(static_cast<float>(rec.dof));
  rec.total = k.total;
  double s_area = 0.0;
  for (int i = 0; i < k.npeaks; ++i) s_area += r.arefit[static_cast<std::size_t>(i)];
  rec.check = (100.0 * ((s_area + r.bakarea) - k.total)) / k.total;
  const double scale = std::sqrt(rec.chisq_per_dof);

  rec.calibration = req.calibration;
  rec.background.order = k.nbak - 1;
  for (int j = 0; j < k.nbak; ++j) {
    rec.background.coefficients.push_back(r.bakfit[static_cast<std::size_t>(j)]);
    rec.background.errors.push_back(r.bakerr[static_cast<std::size_t>(j)]);
  }
  rec.background.area = r.bakarea;
  rec.background.area_error = r.bakaerr;
  rec.background.area_error_scaled = r.bakaerr * scale;
  rec.arguments = arguments_of(req);

  const bool skew = k.iskew != 0 && k.ilor == 0;
  for (int n = 0; n < k.npeaks; ++n) {
    const auto i = static_cast<std::size_t>(n);
    PeakRecord p;
    p.start = k.pos[i];
    p.start_fwhm = k.fwhmin[i];
    p.start_fwhm_low = skew ? k.fwloin[i] : kNaN;
    p.centroid = r.cenfit[i];
    p.centroid_error = r.cenerr[i];
    p.area = r.arefit[i];
    p.area_error = r.areerr[i];
    p.height = r.hgtfit[i];
    p.height_error = r.hgterr[i];
    if (skew) {
      // The table's FWHM of a skew peak: the mean of the two sides.
      p.fwhm = ((r.widfit[i] + r.wlofit[i]) / 2.0) * kFwhm;
      const double shi = r.fwherr[i] / kFwhm;
      const double slo = r.wloerr[i];
      p.fwhm_error = (0.5 * std::sqrt(shi * shi + slo * slo)) * kFwhm;
      p.fwhm_high = r.fwhfit[i];
      p.fwhm_high_error = r.fwherr[i];
      p.fwhm_low = r.fwlfit[i];
      p.fwhm_low_error = r.fwlerr[i];
    } else {
      p.fwhm = r.fwhfit[i];
      p.fwhm_error = r.fwherr[i];
      p.fwhm_high = p.fwhm_high_error = p.fwhm_low = p.fwhm_low_error = kNaN;
    }
    p.centroid_error_scaled = p.centroid_error * scale;
    p.area_error_scaled = p.area_error * scale;
    p.fwhm_error_scaled = p.fwhm_error * scale;
    p.height_error_scaled = p.height_error * scale;
    p.fwhm_high_error_scaled = p.fwhm_high_error * scale;
    p.fwhm_low_error_scaled = p.fwhm_low_error * scale;
    if (rec.calibration) {
      if (skew) {
        energies(*rec.calibration, p.fwhm_low_error, p.fwhm_high_error, p.fwhm_low, p.fwhm_high,
                 false, p);
      } else {
        energies(*rec.calibration, p.fwhm_error, p.fwhm_error, p.fwhm, p.fwhm, true, p);
      }
    } else {
      p.energy = p.energy_error = p.fwhm_energy = p.fwhm_energy_error = kNaN;
    }
    if (k.hpge != nullptr) {
      p.position = r.posfit[i];
      p.position_error = r.poserr[i];
      p.position_error_scaled = p.position_error * scale;
    }
    rec.peaks.push_back(p);
  }
  if (k.hpge != nullptr) {
    const hpge::Config& c = *k.hpge;
    const auto param = [&](int j, bool held) {
      const auto u = static_cast<std::size_t>(j);
      return ShapeParam{r.shapefit[u], r.shapeerr[u], r.shapeerr[u] * scale, held};
    };
    HpgeRecord h;
    h.r = param(0, c.holdr);
    h.beta = param(1, c.holdbeta);
    h.step = param(2, c.holdstep);
    h.high = c.high;
    if (c.high) {
      h.rh = param(3, c.holdrh);
      h.betah = param(4, c.holdbetah);
    }
    rec.hpge = h;
  }
  return rec;
}

}  // namespace tavrick::results
