// Iteration driver: one complete Levenberg-Marquardt fit with its log lines.
#pragma once

#include <cstdio>

#include "engine/mrqmin.h"

namespace tavrick {

// Calls mrqmin until the chi-square stops falling by a relative 0.001 or 100
// steps have been made, printing one line per call on out, and ends with the
// covariance call (at the cap too, so covar always holds a covariance after a
// fit that did not fail). When any call fails (set-up, step or the covariance
// call) it prints the fit-failure line and returns; ierr keeps the status.
// search sets alamda itself.
void search(Mrq& mrq, std::FILE* out, const FitArgs& f, double& chisq, double& alamda, int& ierr);

}  // namespace tavrick
