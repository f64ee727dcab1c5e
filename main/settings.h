// The run settings the option phase leaves for the fetch phase.
#pragma once

#include <array>

#include "engine/fitdefs.h"
#include "engine/weights.h"

namespace tavrick {

// Half-width in channels of the peak search around each guess, when the
// command line does not set it.
inline constexpr int kPeakSearch = 10;
// The largest half-width taken: the search never looks beyond channel kMaxCh.
inline constexpr int kMaxPeakSearch = kMaxCh;

struct Settings {
  std::array<char, 256> name{};  // spectrum name, blank-padded
  int namelen = 0;               // its significant length
  int iskew = 0;
  int ilor = 0;
  int ifixwd = 0;
  int idiffwd = 1;
  int ifixcn = 0;
  int nbak = 3;
  int lim1 = 0;
  int lim2 = 0;
  int ilo = 0;
  int ihi = 0;
  int npeaks = 0;
  std::array<double, kMaxPeaks> pos{};
  std::array<double, kMaxPeaks> fwhmin{};
  std::array<double, kMaxPeaks> fwloin{};
  double width = 0.0;
  double widlo = 0.0;
  int ipksch = kPeakSearch;  // 0: no search, the guesses stay where given
  // The germanium shape: the start values of its low-side tail (R percent,
  // BETA channels, 0: half the first width), step (percent) and high-side
  // tail (RH percent, BETAH channels, 0: none), and which of them are held.
  int ihpge = 0;
  double tailr = 10.0;
  double tailbeta = 0.0;
  double tailstep = 0.25;
  double tailrh = 0.0;
  double tailbetah = 0.0;
  bool holdr = false;
  bool holdbeta = false;
  bool holdstep = false;
  bool holdrh = false;
  bool holdbetah = false;
  Weighting weights = Weighting::data;
};

}  // namespace tavrick
