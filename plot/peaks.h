// Each fitted peak's own term over a window, from the fit results.
#pragma once

#include <vector>

#include "engine/variant.h"

namespace tavrick {

// terms[k][i] = peak k+1's term at channel ilo + i, without background, for
// the peak shape of the flags (germanium the germanium shape, else ilor = 1
// Lorentzian, else iskew != 0 skew, else Gaussian), from the centroid, height
// and widths in r. A germanium peak's term holds its tails and its step
// (the fitted background is the polynomial alone).
std::vector<std::vector<double>> peak_terms(
    const FitResults& r, int npeaks, int ilo, int ihi, int iskew, int ilor, bool germanium = false);

}  // namespace tavrick
