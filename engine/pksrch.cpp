// Peak search and the extremes of a list.
#include "engine/pksrch.h"

#include <array>

#include "engine/fitdefs.h"

namespace tavrick {

void pksrch(const double* spec, double* pos, int maxch, int npeaks, int ipksch) {
  // Found positions of at most kMaxPeaks peaks; more are left untouched.
  if (npeaks > kMaxPeaks) npeaks = kMaxPeaks;
  std::array<double, kMaxPeaks> found{};
  const double h = static_cast<double>(ipksch);
  for (int k = 0; k < npeaks; ++k) {
    const double p = pos[k];
    // Range ends truncated toward zero, then kept within channels 1 .. maxch.
    // The bounds are compared before the conversion, so a guess far outside
    // (or NaN) gives a clamped or empty range, never an out-of-range cast.
    const double top = static_cast<double>(maxch) + 1.0;
    int lo = 1;
    if (p - h >= top) {
      lo = maxch + 1;
    } else if (p - h >= 1.0) {
      lo = static_cast<int>(p - h);
    }
    int hi = maxch;
    if (p + h < 1.0) {
      hi = 0;
    } else if (p + h < top) {
      hi = static_cast<int>(p + h);
    }
    found[static_cast<std::size_t>(k)] = p;
    // >=: the highest channel wins among equal maxima; counts below 0 never
    // move the guess.
    double best = 0.0;
    for (int ch = lo; ch <= hi; ++ch) {
      if (spec[ch] >= best) {
        found[static_cast<std::size_t>(k)] = static_cast<double>(ch);
        best = spec[ch];
      }
    }
  }
  // Two guesses that landed on the same channel both go back to their
  // guesses; the comparison for peak i stops at the first peak that differs.
  for (int i = 0; i < npeaks - 1; ++i) {
    const auto si = static_cast<std::size_t>(i);
    for (int j = i + 1; j < npeaks; ++j) {
      const auto sj = static_cast<std::size_t>(j);
      if (found[si] != found[sj]) break;
      found[si] = pos[i];
      found[sj] = pos[j];
    }
  }
  for (int k = 0; k < npeaks; ++k) pos[k] = found[static_cast<std::size_t>(k)];
}

double vecmin(const double* v, int n) {
  double r = v[0];
  for (int i = 1; i < n; ++i) {
    if (v[i] < r) r = v[i];
  }
  return r;
}

double vecmax(const double* v, int n) {
  double r = v[0];
  for (int i = 1; i < n; ++i) {
    if (v[i] > r) r = v[i];
  }
  return r;
}

}  // namespace tavrick
