// Calibration texts: "POLY <unit> c0 c1 ..." <-> offset, gain, unit, kind.
//
// The text is the energy polynomial E = c0 + c1*ch + c2*ch^2 + ... of a
// spectrum, coefficients in %.17g so that a double survives the round trip;
// the unit "-" stands for none. Only c0 and c1 are part of the four values.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "spectrum/host.h"

namespace spectrum {

namespace {

constexpr std::string_view kPoly = "POLY";
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

}  // namespace

void sdcal(const char* text, int len, double& offset, double& gain, std::string& unit,
           std::string& kind, int& status) {
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

void secal(char* text, int& len, double offset, double gain, const std::string& unit,
           const std::string& kind, int& status) {
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
