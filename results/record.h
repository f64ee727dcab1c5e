// The record of one fit: everything a results file holds, in full double
// precision, built from the engine's results and the request that led to them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/korvel.h"
#include "engine/search.h"

namespace tavrick::results {

// An energy calibration E = c0 + c1*ch + c2*ch^2 + ... of channel numbers.
struct Calibration {
  std::string unit;                  // "keV", ...; empty when the store names none
  std::vector<double> coefficients;  // c0, c1, c2, ...
  // E(ch) and dE/dch, by Horner's rule. A calibration without coefficients
  // gives NaN.
  double energy(double ch) const;
  double slope(double ch) const;
};

// Reads a calibration text "POLY <unit> c0 c1 ..." ("-" for no unit); none when
// the text is of another kind or a coefficient is not a finite number.
std::optional<Calibration> parse_calibration(std::string_view text);

// What a fit is asked to do, in the terms of the tavrick command's options.
// The command builds one from its arguments; other programs fill one to fit
// counts they hold (see results/fit.h).
struct FitRequest {
  std::string spectrum;            // -spectrum: a name for the record and messages
  std::span<const double> counts;  // counts[i] is channel first_channel + i
  int first_channel = 0;
  int lo = 0;  // -limit: the window's ends, in either order
  int hi = 0;
  std::vector<double> peaks;           // -peaks: position guesses, in channels
  std::vector<double> widths;          // -widths: FWHM in channels
  std::vector<double> skews;           // -skews: low-side FWHM; may be empty
  std::string shape = "gauss";         // -shape: gauss|skew|skewtail|lorentz|hpge
  std::string widthopt = "different";  // -widthopt: different|same|given
  std::string peakopt = "different";   // -peakopt: different|given
  int order = 2;                       // -order: background polynomial order 0..5
  int search = 10;                     // -search: peak-search half-width, 0 for none
  std::string weights = "data";        // -weights: data|fit|poisson
  // -shape hpge: start.r and start.beta are -tail, start.step -step,
  // start.rh and start.betah -hightail (asked for by high or a nonzero value;
  // RH 0 leaves the tail out), the hold flags -hold. None: the command's
  // defaults (-tail 10 and half the first width, -step 0.25). widths and
  // centroidsHeld are taken from widthopt and peakopt. Other shapes ignore it.
  std::optional<hpge::Config> hpge;
  // The spectrum's energy calibration, if any: the record's energies come from it.
  std::optional<Calibration> calibration;
};

// One fitted peak. Errors are those of the printed table (from the covariance
// with the counts' weights); *_scaled ones are multiplied by
// sqrt(chisq_per_dof). Energies are NaN without a calibration.
struct PeakRecord {
  double start = 0.0;           // position the fit started from, after the peak search
  double start_fwhm = 0.0;      // width it started from (the given width, padded)
  double start_fwhm_low = 0.0;  // low-side width it started from (skew shapes)
  double centroid = 0.0, centroid_error = 0.0, centroid_error_scaled = 0.0;
  double area = 0.0, area_error = 0.0, area_error_scaled = 0.0;
  // FWHM in channels; for skew shapes the mean of the two sides, which is the
  // full width at half maximum of the asymmetric peak.
  double fwhm = 0.0, fwhm_error = 0.0, fwhm_error_scaled = 0.0;
  double height = 0.0, height_error = 0.0, height_error_scaled = 0.0;
  // Skew shapes only: the FWHM the high side and the low side would give a
  // symmetric peak.
  double fwhm_high = 0.0, fwhm_high_error = 0.0, fwhm_high_error_scaled = 0.0;
  double fwhm_low = 0.0, fwhm_low_error = 0.0, fwhm_low_error_scaled = 0.0;
  // E(centroid), |dE/dch| * centroid_error, E(upper half-maximum point) -
  // E(lower one) and its propagated error.
  double energy = 0.0, energy_error = 0.0;
  double fwhm_energy = 0.0, fwhm_energy_error = 0.0;
  // Germanium shape only: the centroid of the Gaussian part (centroid is the
  // peak's mean position, tails included).
  double position = 0.0, position_error = 0.0, position_error_scaled = 0.0;
};

// A shape parameter of the germanium shape: its value, errors, and whether
// the fit held it.
struct ShapeParam {
  double value = 0.0, error = 0.0, error_scaled = 0.0;
  bool held = false;
};

// The germanium shape's parameters common to the window's peaks; the
// high-side tail's only when the fit has one.
struct HpgeRecord {
  ShapeParam r, beta, step;
  bool high = false;
  ShapeParam rh, betah;
};

// The background polynomial b(x) = c0 + c1*x + ... in the window offset
// x = channel - window first channel.
struct BackgroundRecord {
  int order = 0;
  std::vector<double> coefficients;
  std::vector<double> errors;
  double area = 0.0, area_error = 0.0, area_error_scaled = 0.0;
};

struct Record {
  std::string program = "tavrick";
  std::string version;
  std::string spectrum;
  int first = 0;  // the window
  int last = 0;
  int channels = 0;
  std::string shape;  // as requested
  std::string widthopt;
  std::string peakopt;
  std::string variant;           // the engine's variant: sym, symf, ..., lorf
  int search = 10;               // the peak search's half-width (0: none)
  std::string weights = "data";  // data, fit or poisson
  FitStatus status = FitStatus::converged;
  int iterations = 0;
  double chisq = 0.0;            // sum over the window of ((count - fit) / sig)^2
  double chisq_per_point = 0.0;  // as printed
  double chisq_per_dof = 0.0;    // as printed
  int dof = 0;
  int free_parameters = 0;
  double total = 0.0;  // counts in the window
  double check = 0.0;  // 100 * (fit - total) / total, as printed
  std::optional<Calibration> calibration;
  BackgroundRecord background;
  // The tavrick arguments (program name not included) that repeat this fit
  // bit for bit on the same spectrum.
  std::vector<std::string> arguments;
  std::vector<PeakRecord> peaks;
  std::optional<HpgeRecord> hpge;  // shape hpge only
};

// "converged", "iteration-cap", "singular" or "not-finite".
std::string_view status_name(FitStatus s);
// "sym", "symf", ... ; "none" for Variant::None.
std::string_view variant_name(Variant v);

// The record of a fit. req is what was asked (its peaks, widths and skews
// already in single precision, as the engine took them); k and r are the
// engine's arguments and results after the call, k.pos holding the searched
// positions.
Record build_record(const FitRequest& req, const KorvelArgs& k, const FitResults& r);

// The tavrick arguments that repeat the fit of req (program name not included).
std::vector<std::string> arguments_of(const FitRequest& req);

}  // namespace tavrick::results
