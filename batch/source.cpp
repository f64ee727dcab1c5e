#include "batch/source.h"

#include <fnmatch.h>

namespace batch {

bool load_spectra(spectrum::Host& host,
                  const std::vector<std::string>& patterns,
                  std::vector<Spectrum>& spectra,
                  std::string& error) {
  spectra.clear();
  int status = 0;
  host.sexpt(status);
  std::vector<spectrum::Summary> all;
  if (status == 0) host.list(all, status);
  if (status != 0) {
    error = host.error();
    return false;
  }
  std::vector<bool> used(patterns.size(), false);
  for (const auto& s : all) {
    if (s.name.empty()) continue;
    bool chosen = patterns.empty();
    for (std::size_t p = 0; p < patterns.size(); ++p) {
      if (fnmatch(patterns[p].c_str(), s.name.c_str(), 0) == 0) chosen = used[p] = true;
    }
    if (!chosen) continue;
    Spectrum sp;
    sp.name = s.name;
    sp.base = s.base;
    sp.size = s.size;
    sp.rows = s.rows;
    std::vector<std::pair<int, std::string>> cals;
    host.calibrations(s.id, cals, status);
    if (status != 0) {
      error = host.error();
      return false;
    }
    sp.no_cal = "no energy calibration";
    for (const auto& [number, text] : cals) {
      if (number == spectrum::kEnergyCalNumber) {
        parse_calibration(text, sp.poly, sp.no_cal);
        spectrum::parse_energy_calibration(text, sp.energy_cal);
      }
      if (number == spectrum::kFwhmCalNumber) sp.fwhm_text = text;
    }
    // Without patterns only what can be fitted is chosen.
    if (patterns.empty() && (sp.rows != 0 || sp.poly.empty())) continue;
    if (sp.rows == 0 && !sp.poly.empty()) {
      std::vector<std::int32_t> counts(static_cast<std::size_t>(sp.size));
      host.sread(s.id, sp.base, sp.size, 0, 0, counts.data(), 4, status);
      if (status != 0) {
        error = host.error();
        return false;
      }
      sp.counts.assign(counts.begin(), counts.end());
    }
    spectra.push_back(std::move(sp));
  }
  for (std::size_t p = 0; p < patterns.size(); ++p) {
    if (!used[p]) {
      error = "no spectrum matches '" + patterns[p] + "'";
      return false;
    }
  }
  if (spectra.empty()) {
    error = "no one-dimensional spectrum with an energy calibration in the store";
    return false;
  }
  return true;
}

}  // namespace batch
