// The run settings the option phase leaves for the fetch phase.
#pragma once

#include <array>

#include "engine/fitdefs.h"
#include "engine/korvel.h"
#include "engine/weights.h"

namespace tavrick {

// The largest half-width taken: the search never looks beyond channel kMaxCh.
inline constexpr int kMaxPeakSearch = kMaxCh;

// The fit's settings and what only the command holds besides: the spectrum's
// name, the window as given, and the germanium shape's start values.
struct Settings : FitSettings {
  std::array<char, 256> name{};  // spectrum name, blank-padded
  int namelen = 0;               // its significant length
  int lim1 = 0;
  int lim2 = 0;
  // The germanium shape: the start values of its low-side tail (R percent,
  // BETA channels, 0: half the first width), step (percent) and high-side
  // tail (RH percent, BETAH channels, 0: none), and which of them are held.
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
};

}  // namespace tavrick
