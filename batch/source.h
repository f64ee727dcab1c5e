// The spectra of a batch, read from the experiment's store.
#pragma once

#include <string>
#include <vector>

#include "batch/plan.h"
#include "spectrum/host.h"

namespace batch {

// Reads the spectra whose names match any of the glob patterns; without
// patterns, every one-dimensional spectrum with an energy calibration. A
// pattern that matches no spectrum is an error. False with a one-line
// reason on any failure.
bool load_spectra(spectrum::Host& host,
                  const std::vector<std::string>& patterns,
                  std::vector<Spectrum>& spectra,
                  std::string& error);

}  // namespace batch
