// The run settings the option phase leaves for the fetch phase.
#pragma once

#include <array>

#include "engine/fitdefs.h"

namespace tavrick {

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
};

}  // namespace tavrick
