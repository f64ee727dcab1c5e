// A spectrum's energy and FWHM calibrations as numbers.
//
// Calibration 1 is the energy calibration, text "POLY <unit> c0 c1 c2 ...":
//   E(ch) = c0 + c1*ch + c2*ch^2 + ...   ("-" for no unit)
// Calibration 2 is the FWHM calibration, the full width at half maximum of a
// peak at channel ch, text "FWHM <unit> <variable> c0 c1 c2 ...":
//   variable CH:    FWHM(ch) = c0 + c1*ch + c2*ch^2 + ...
//   variable SQRTE: FWHM(ch) = c0 + c1*sqrt(E) + c2*E + c3*E^(3/2) + ...,
//                   E = E(ch) by the energy calibration
// in channels when the unit is "ch", otherwise in that (energy) unit.
// Coefficients are written with %.17g, so every double survives the round trip.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "spectrum/host.h"

namespace spectrum {

inline constexpr int kEnergyCalNumber = 1;
inline constexpr int kFwhmCalNumber = 2;
// The unit of a FWHM given in channels.
inline constexpr std::string_view kChannelUnit = "ch";

struct EnergyCalibration {
  std::string unit;                  // empty for none
  std::vector<double> coefficients;  // c0, c1, ...; at least one
  // E(ch) and dE/dch by Horner's rule.
  double energy(double channel) const;
  double slope(double channel) const;
};

struct FwhmCalibration {
  enum class Variable { Channel, SqrtEnergy };
  std::string unit = std::string(kChannelUnit);
  Variable variable = Variable::Channel;
  std::vector<double> coefficients;  // at least one
  bool in_channels() const { return unit == kChannelUnit; }
  // The FWHM at a channel in this calibration's unit. The SQRTE form needs
  // the energy calibration; without it, or below E = 0, the result is NaN.
  double fwhm(double channel, const EnergyCalibration* energy) const;
};

// Text <-> numbers. Parsing returns 0 or kBadCalibration; formatting returns
// 0, kBadCalibration (no coefficients, one not finite, a unit that is empty
// or holds blanks or controls) or kTooLong (more than kCalLen characters).
int parse_energy_calibration(std::string_view text, EnergyCalibration& out);
int parse_fwhm_calibration(std::string_view text, FwhmCalibration& out);
int format_energy_calibration(const EnergyCalibration& cal, std::string& text);
int format_fwhm_calibration(const FwhmCalibration& cal, std::string& text);

// A spectrum's calibrations from the store: 0, kNoCalibration when it has
// none, kBadCalibration when the stored text is not of its layout, or the
// host's status (its text in host.error()). out is left alone on failure.
int read_energy_calibration(Host& host, const Ident& id, EnergyCalibration& out);
int read_fwhm_calibration(Host& host, const Ident& id, FwhmCalibration& out);
// Writes one calibration in one transaction; a text that cannot be formatted
// writes nothing.
int write_energy_calibration(Host& host, const Ident& id, const EnergyCalibration& cal);
int write_fwhm_calibration(Host& host, const Ident& id, const FwhmCalibration& cal);

}  // namespace spectrum
