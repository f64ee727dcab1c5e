// From spectra and lines to the list of fits: windows and start values from
// each spectrum's own energy calibration, overlapping lines grouped, the work
// in a fixed order and split into shards by a stable hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/lines.h"
#include "results/record.h"
#include "spectrum/calibration.h"

namespace batch {

// A spectrum as the batch sees it: counts of channels base .. base+size-1
// and the energy calibration E(ch) = poly[0] + poly[1]*ch + ... in keV.
struct Spectrum {
  std::string name;
  int base = 0;
  int size = 0;
  int rows = 0;  // 0 for a one-dimensional spectrum
  std::vector<double> counts;
  std::vector<double> poly;  // empty: no usable calibration
  std::string no_cal;        // why poly is empty
  // The stored FWHM calibration (calibration 2) and the energy calibration
  // as stored, which its SQRTE form reads in its own unit. fwhm_text is the
  // stored text, empty without one; it gives a line without its own fwhm
  // its width.
  std::string fwhm_text;
  spectrum::EnergyCalibration energy_cal;
};

// The FWHM in channels at channel ch from the spectrum's FWHM calibration.
// False with the reason when there is none, it cannot be read, its unit is
// no energy unit of keV, MeV or eV (nor "ch"), or it gives no width above 0.
bool calibrated_fwhm(const Spectrum& sp, double ch, double& width, std::string& why);

// Reads a calibration text "POLY <unit> c0 c1 ..." into keV coefficients.
// Returns false with the reason when the text is no energy polynomial.
bool parse_calibration(std::string_view text, std::vector<double>& poly, std::string& why);

// E(ch) and dE/dch of a calibration.
double energy_at(const std::vector<double>& poly, double ch);
double slope_at(const std::vector<double>& poly, double ch);

// The channel where the calibration gives energy e, by Newton steps from the
// linear solution. False when there is none near (a falling or flat curve).
bool channel_of(const std::vector<double>& poly, double e, double& ch);

// One fit: a line or a group of lines in one spectrum, or the reason it
// cannot be fitted.
struct Work {
  int spectrum = 0;        // index into the spectra
  std::vector<int> lines;  // indices into the lines, by energy
  std::string key;         // spectrum name and first line: the shard hash input
  std::string status = "ok";
  std::string reason;
  std::vector<std::string> args;         // the tavrick command line, program name first
  tavrick::results::FitRequest request;  // the same, as a call (counts filled when fitted)
};

// Splits every spectrum's lines into fits. Lines whose windows overlap, or
// that share a group name, make one fit. Sorted by spectrum name, then by the
// first line's energy and place in the file.
std::vector<Work> plan(const std::vector<Spectrum>& spectra, const std::vector<Line>& lines);

// 64-bit FNV-1a of a text.
std::uint64_t fnv1a(std::string_view s);

// Part k (1-based) of n: the work whose key hashes to k-1 modulo n.
bool in_shard(const Work& w, int k, int n);

// Reads "K/N" with 1 <= K <= N. False with the reason otherwise.
bool parse_shard(std::string_view text, int& k, int& n, std::string& why);

// An argument list as one shell command line (quoted where needed).
std::string command_line(const std::vector<std::string>& args);

}  // namespace batch
