// Second phase of the command: fetch the window, run the engine, list the result.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "engine/korvel.h"
#include "main/listing.h"
#include "main/settings.h"
#include "spectrum/host.h"

namespace tavrick {

// Everything one run of the command holds: the per-channel arrays (indexed by
// channel number 0 .. kMaxCh, only the window's channels filled), the engine's
// workspace and results. It is allocated once
// (about 5 MB, so on the heap) and nothing else is allocated while it is used.
struct Run {
  std::array<std::int32_t, kChanArray> idata{};
  std::array<double, kChanArray> spec{};
  std::array<double, kChanArray> fit{};
  std::array<double, kChanArray> peaks{};
  std::array<double, kChanArray> bkgrd{};
  Workspace work{};
  FitResults res{};
  KorvelArgs k{};
  hpge::Config hpge{};  // the germanium shape's request, when it is asked for
  int nchan = 0;
};

// Connects, looks the spectrum up, checks it and the window and the peaks,
// and reads the window's counts into run. Every failure ends the process
// through crash or sabend (status 8) with its message on msg.
void fetch(Settings& s, spectrum::Host& host, Run& run, std::FILE* msg);

// The germanium shape's request of settings with SHAPE=hpge.
hpge::Config hpge_config(const Settings& s);

// Prints "{", runs the engine on the fetched window and prints "} ". The
// engine's in/out values (peak positions, flags it clears) go back into s.
void fit(Settings& s, Run& run, std::FILE* out);

// Prints the background list and the fit list of the window.
void list(Run& run, std::FILE* out);

class ResultsOut;

// All of the above, and the results file when results asks for one. Returns
// the exit status: 0, or 8 when out could not be written (the reason then
// goes to standard error, as out is unusable).
int fetch_and_fit(Settings& s, spectrum::Host& host, std::FILE* out, ResultsOut* results = nullptr);

}  // namespace tavrick
