// Second phase of the command: fetch the window, run the engine, list the result.
#pragma once

#include <cstdio>

#include "main/settings.h"
#include "spectrum/host.h"

namespace tavrick {

// Connects, looks the spectrum up, checks the window and the peaks, reads the
// counts, fits and prints the listing on out. Returns the exit status (0);
// every failure ends the process through crash or sabend with status 8.
int fetch_and_fit(Settings& s, spectrum::Host& host, std::FILE* out);

}  // namespace tavrick
