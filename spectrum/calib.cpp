// Calibration texts: "POLY <unit> c0 c1 ..." <-> offset, gain, unit, kind, and
// the whole energy and FWHM calibrations of spectrum/calibration.h.
//
// The text is the energy polynomial E = c0 + c1*ch + c2*ch^2 + ... of a
// spectrum, coefficients in %.17g so that a double survives the round trip;
// the unit "-" stands for none. Only c0 and c1 are part of the four values.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "spectrum/calibration.h"
#include "spectrum/host.h"

namespace spectrum {

namespace {

constexpr std::string_view kPoly = "POLY";
constexpr std::string_view kFwhm = "FWHM";
constexpr std::string_view kByChannel = "CH";
constexpr std::string_view kBySqrtEnergy = "SQRTE";
constexpr std::string_view kNoUnit = "-";

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

bool to_double(std::string_view w, double& v) {
  const char* end = w.data() + w.size();
  const auto [p, ec] = std::from_chars(w.data(), end, v);
  return ec == std::errc() && p == end && std::isfinite(v);
}

// The significant part of a stored text: trailing blanks and controls go.
std::string_view trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

bool coefficients_of(const std::vector<std::string_view>& w,
                     std::size_t from,
                     std::vector<double>& out) {
  if (w.size() <= from) return false;
  out.clear();
  for (std::size_t i = from; i < w.size(); ++i) {
    double c = 0.0;
    if (!to_double(w[i], c)) return false;
    out.push_back(c);
  }
  return true;
}

bool good_unit(std::string_view u) {
  return !u.empty() && std::none_of(u.begin(), u.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 32 || c == 127;
  });
}

int append_coefficients(std::string& text, const std::vector<double>& coeffs) {
  if (coeffs.empty()) return kBadCalibration;
  for (double c : coeffs) {
    if (!std::isfinite(c)) return kBadCalibration;
    char buf[40];
    std::snprintf(buf, sizeof buf, " %.17g", c);
    text += buf;
  }
  return static_cast<int>(text.size()) > kCalLen ? kTooLong : 0;
}

// Horner's rule: sum of c[k] * x^k.
double horner(const std::vector<double>& c, double x) {
  double v = 0.0;
  for (auto k = c.size(); k-- > 0;) v = v * x + c[k];
  return v;
}

int read_text(Host& host, const Ident& id, int number, std::string& text) {
  char buf[kCalLen];
  int len = kCalLen;
  int status = 0;
  host.srcaln(id, number, buf, len, status);
  if (status == 0) text.assign(buf, static_cast<std::size_t>(len));
  return status;
}

int write_text(Host& host, const Ident& id, int number, const std::string& text) {
  int status = 0;
  host.swcaln(id, number, text.data(), static_cast<int>(text.size()), status);
  return status;
}

}  // namespace

double EnergyCalibration::energy(double channel) const { return horner(coefficients, channel); }

double EnergyCalibration::slope(double channel) const {
  double v = 0.0;
  for (auto k = coefficients.size(); k-- > 1;)
    v = v * channel + static_cast<double>(k) * coefficients[k];
  return v;
}

double FwhmCalibration::fwhm(double channel, const EnergyCalibration* energy) const {
  if (variable == Variable::Channel) return horner(coefficients, channel);
  if (energy == nullptr) return std::nan("");
  const double e = energy->energy(channel);
  // sqrt of a negative energy is NaN, and so is the width there.
  return horner(coefficients, std::sqrt(e));
}

int parse_energy_calibration(std::string_view text, EnergyCalibration& out) {
  const auto w = words(trimmed(text));
  EnergyCalibration cal;
  if (w.size() < 3 || w[0] != kPoly || !coefficients_of(w, 2, cal.coefficients))
    return kBadCalibration;
  cal.unit = w[1] == kNoUnit ? std::string() : std::string(w[1]);
  out = std::move(cal);
  return 0;
}

int parse_fwhm_calibration(std::string_view text, FwhmCalibration& out) {
  const auto w = words(trimmed(text));
  FwhmCalibration cal;
  if (w.size() < 4 || w[0] != kFwhm || !coefficients_of(w, 3, cal.coefficients))
    return kBadCalibration;
  if (w[2] == kByChannel)
    cal.variable = FwhmCalibration::Variable::Channel;
  else if (w[2] == kBySqrtEnergy)
    cal.variable = FwhmCalibration::Variable::SqrtEnergy;
  else
    return kBadCalibration;
  cal.unit = std::string(w[1]);
  out = std::move(cal);
  return 0;
}

int format_energy_calibration(const EnergyCalibration& cal, std::string& text) {
  if (!cal.unit.empty() && !good_unit(cal.unit)) return kBadCalibration;
  std::string t = "POLY " + (cal.unit.empty() ? std::string(kNoUnit) : cal.unit);
  if (const int status = append_coefficients(t, cal.coefficients)) return status;
  text = std::move(t);
  return 0;
}

int format_fwhm_calibration(const FwhmCalibration& cal, std::string& text) {
  if (!good_unit(cal.unit)) return kBadCalibration;
  std::string t = "FWHM " + cal.unit + " ";
  t += cal.variable == FwhmCalibration::Variable::Channel ? kByChannel : kBySqrtEnergy;
  if (const int status = append_coefficients(t, cal.coefficients)) return status;
  text = std::move(t);
  return 0;
}

int read_energy_calibration(Host& host, const Ident& id, EnergyCalibration& out) {
  std::string text;
  if (const int status = read_text(host, id, kEnergyCalNumber, text)) return status;
  return parse_energy_calibration(text, out);
}

int read_fwhm_calibration(Host& host, const Ident& id, FwhmCalibration& out) {
  std::string text;
  if (const int status = read_text(host, id, kFwhmCalNumber, text)) return status;
  return parse_fwhm_calibration(text, out);
}

int write_energy_calibration(Host& host, const Ident& id, const EnergyCalibration& cal) {
  std::string text;
  if (const int status = format_energy_calibration(cal, text)) return status;
  return write_text(host, id, kEnergyCalNumber, text);
}

int write_fwhm_calibration(Host& host, const Ident& id, const FwhmCalibration& cal) {
  std::string text;
  if (const int status = format_fwhm_calibration(cal, text)) return status;
  return write_text(host, id, kFwhmCalNumber, text);
}

void sdcal(const char* text,
           int len,
           double& offset,
           double& gain,
           std::string& unit,
           std::string& kind,
           int& status) {
  std::string_view s;
  if (text != nullptr && len > 0)
    s = std::string_view(text, static_cast<std::size_t>(std::min(len, kCalLen)));
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  const auto w = words(s);
  if (w.size() < 3 || w[0] != kPoly) {
    status = kBadCalibration;
    return;
  }
  double c0 = 0.0;
  double c1 = 0.0;
  if (!to_double(w[2], c0) || (w.size() > 3 && !to_double(w[3], c1))) {
    status = kBadCalibration;
    return;
  }
  for (std::size_t i = 4; i < w.size(); ++i) {
    double ignored = 0.0;
    if (!to_double(w[i], ignored)) {
      status = kBadCalibration;
      return;
    }
  }
  offset = c0;
  gain = c1;
  unit = w[1] == kNoUnit ? std::string() : std::string(w[1]);
  kind = std::string(kPoly);
  status = 0;
}

void secal(char* text,
           int& len,
           double offset,
           double gain,
           const std::string& unit,
           const std::string& kind,
           int& status) {
  if ((!kind.empty() && kind != kPoly) || unit.find_first_of(" \t") != std::string::npos ||
      !std::isfinite(offset) || !std::isfinite(gain) || text == nullptr) {
    status = kBadCalibration;
    return;
  }
  char buf[kCalLen + 64];
  const std::string u = unit.empty() ? std::string(kNoUnit) : unit;
  const int n = std::snprintf(buf, sizeof buf, "POLY %s %.17g %.17g", u.c_str(), offset, gain);
  if (n < 0 || n > kCalLen) {
    status = kTooLong;
    return;
  }
  std::memcpy(text, buf, static_cast<std::size_t>(n));
  std::memset(text + n, ' ', static_cast<std::size_t>(kCalLen - n));
  len = n;
  status = 0;
}

}  // namespace spectrum
