// Iteration driver: one complete Levenberg-Marquardt fit with its log.
#include "engine/search.h"

#include <cmath>

#include "format/fortran.h"

namespace tavrick {

namespace {

void logLine(std::FILE* out, int it, double chisq, double alamda) {
  fortran::write(out, "(' IT =',I5,'  CHISQ =',F12.4,'  L =',                1PE10.2)", it, chisq,
                 alamda);
}

void logFailure(std::FILE* out) {
  fortran::write(out, "(' Fit failed: singular curvature matrix')");
}

// A fit that ended without a failure is not sound when its chi-square or one
// of its free parameters is not a finite number.
FitStatus finalStatus(const FitArgs& f, double chisq, FitStatus ended) {
  if (!std::isfinite(chisq)) return FitStatus::not_finite;
  for (int j = 0; j < f.mfit; ++j) {
    if (!std::isfinite(f.a[f.lista[j] - 1])) return FitStatus::not_finite;
  }
  return ended;
}

}  // namespace

FitSummary search(Mrq& mrq, std::FILE* out, const FitArgs& f, double& chisq, double& alamda) {
  FitSummary summary{FitStatus::singular, 0};
  alamda = -1.0;
  if (mrq.mrqmin(f, chisq, alamda) != MrqStatus::ok) {
    logFailure(out);
    return summary;
  }
  int it = 0;
  double ochisq = chisq;
  logLine(out, it, chisq, alamda);
  for (;;) {
    ++it;
    summary.iterations = it;
    if (mrq.mrqmin(f, chisq, alamda) != MrqStatus::ok) {
      logFailure(out);
      return summary;
    }
    logLine(out, it, chisq, alamda);
    // A rejected step leaves chisq as it was, so only a real fall counts; the
    // fall is measured against the new value. At the cap the covariance call
    // is made as well, so covar never holds a stale curvature matrix.
    const bool converged = chisq < ochisq && (ochisq - chisq) / chisq < f.options.tolerance;
    if (converged || it >= f.options.maxIterations) {
      alamda = 0.0;
      // The undamped matrix can be singular where the damped ones were not:
      // then covar holds no covariance and the fit must not pass as sound.
      if (mrq.mrqmin(f, chisq, alamda) != MrqStatus::ok) {
        logFailure(out);
        return summary;
      }
      summary.status =
          finalStatus(f, chisq, converged ? FitStatus::converged : FitStatus::iteration_cap);
      return summary;
    }
    ochisq = chisq;
  }
}

}  // namespace tavrick
