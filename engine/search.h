// Iteration driver: one complete Levenberg-Marquardt fit with its log lines.
#pragma once

#include <cstdio>

#include "engine/mrqmin.h"

namespace tavrick {

// How a fit ended, for callers that act on it rather than read the log.
//   converged      the chi-square fell by less than the tolerance
//   iteration_cap  the step limit was reached first
//   singular       a call of mrqmin failed (set-up, step or covariance call)
//   not_finite     the fit ended with a chi-square or a free parameter that
//                  is not a finite number
enum class FitStatus { converged, iteration_cap, singular, not_finite };

// The end of one fit: its status and the steps made after the set-up call.
struct FitSummary {
  FitStatus status = FitStatus::converged;
  int iterations = 0;
};

// Calls mrqmin until the chi-square stops falling by a relative
// f.options.tolerance or f.options.maxIterations steps have been made,
// printing one line per call on out (none for a null out), and ends with the
// covariance call (at the cap too, so covar always holds a covariance after a
// fit that did not fail). When any call fails (set-up, step or the covariance
// call) it prints the fit-failure line and returns. search sets alamda
// itself. Returns how the fit ended; the log is the same either way.
FitSummary search(Mrq& mrq, std::FILE* out, const FitArgs& f, double& chisq, double& alamda);

}  // namespace tavrick
