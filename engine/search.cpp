// Iteration driver: one complete Levenberg-Marquardt fit with its log.
#include "engine/search.h"

#include <cmath>

#include "format/fortran.h"

namespace tavrick {

namespace {

// A fit has converged when the chi-square falls by less than this fraction of
// its new value.
constexpr double kTolerance = sp(0.001f);
// Steps after the set-up call at most.
constexpr int kMaxIter = 100;

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

void search(Mrq& mrq, std::FILE* out, const FitArgs& f, double& chisq, double& alamda, int& ierr) {
  FitSummary summary;
  search(mrq, out, f, chisq, alamda, ierr, summary);
}

void search(Mrq& mrq,
            std::FILE* out,
            const FitArgs& f,
            double& chisq,
            double& alamda,
            int& ierr,
            FitSummary& summary) {
  summary = FitSummary{FitStatus::singular, 0};
  alamda = -1.0;
  mrq.mrqmin(f, chisq, alamda, ierr);
  if (ierr != 0) {
    logFailure(out);
    return;
  }
  int it = 0;
  double ochisq = chisq;
  logLine(out, it, chisq, alamda);
  for (;;) {
    ++it;
    summary.iterations = it;
    mrq.mrqmin(f, chisq, alamda, ierr);
    if (ierr != 0) {
      logFailure(out);
      return;
    }
    logLine(out, it, chisq, alamda);
    // A rejected step leaves chisq as it was, so only a real fall counts; the
    // fall is measured against the new value. At the cap the covariance call
    // is made as well, so covar never holds a stale curvature matrix.
    const bool converged = chisq < ochisq && (ochisq - chisq) / chisq < kTolerance;
    if (converged || it >= kMaxIter) {
      alamda = 0.0;
      mrq.mrqmin(f, chisq, alamda, ierr);
      // The undamped matrix can be singular where the damped ones were not:
      // then covar holds no covariance and the fit must not pass as sound.
      if (ierr != 0) {
        logFailure(out);
        return;
      }
      summary.status =
          finalStatus(f, chisq, converged ? FitStatus::converged : FitStatus::iteration_cap);
      return;
    }
    ochisq = chisq;
  }
}

}  // namespace tavrick
