// The result values of a germanium-shape peak and their errors, from the
// fitted parameter vector and its covariance.
#pragma once

#include "engine/hpge/lineshape.h"

namespace tavrick::hpge {

// FWHM over the width parameter w (2 sqrt(ln 2)).
inline constexpr double kFwhm = 1.665109223;

// Where a peak's parameters and the window's shape parameters stand in the
// parameter vector, as 1-based slots; 0 for a parameter the fit does not
// have (the high-side tail when it is not used). Held parameters have slots
// too: their rows of the covariance are 0.
struct Slots {
  int c, h, w, r, beta, rh, betah;
};

struct PeakResult {
  double cen, cenerr;    // the peak's mean position (channel), tails included
  double area, areaerr;  // Gaussian and tails, not the step
  double fwhm, fwherr;   // of the Gaussian part
  double hgt, hgterr;    // height parameter
};

// The results of the peak at slots s: a points at a(1), covar is nca x nca
// (column-major), ilo the window's first channel (centroids are offsets from
// it). Errors are propagated through the full covariance of the slots.
PeakResult peakResult(const double* a, const double* covar, int nca, const Slots& s, int ilo);

// The shape parameters and their errors (square roots of their variances).
struct ShapeResult {
  double r, rerr, beta, betaerr, step, steperr, rh, rherr, betah, betaherr;
};
ShapeResult shapeResult(const double* a, const double* covar, int nca, const Slots& s, int step);

}  // namespace tavrick::hpge
