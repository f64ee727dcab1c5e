// Plot scripts of a fit: the spectrum as a histogram, the fitted curves,
// markers and the fit results as text, as plotting commands one per line.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

#include "engine/variant.h"

namespace tavrick {

// What sketch draws. Per-channel arrays are indexed by channel number; the
// result lists of res by peak (or coefficient) from 0.
struct SketchArgs {
  const double* spec = nullptr;  // counts per channel
  std::string_view title1;       // each shown in a 40-character field
  std::string_view title2;
  int ilo = 0;  // channels drawn: ilo .. ihi
  int ihi = -1;
  int npeaks = 0;                   // peak rows of the text block
  int nbak = 0;                     // background coefficients of the text block
  const double* dotted = nullptr;   // curve drawn dotted (the background)
  const double* dotdash = nullptr;  // curve drawn dot-dashed (the total fit)
  const FitResults* res = nullptr;  // cenfit, arefit, bakfit, ... with their errors
  double chisq = 0.0;               // chi-square per data point
  std::span<const double> markers;  // channel positions of vertical markers
  int iskew = 0;                    // 0 symmetric, 1 skew, 2 skewtail
  int ilor = 0;                     // 1: Lorentzian
  bool germanium = false;           // the germanium shape (res->shapefit holds its parameters)
  bool high = false;                // ... with a high-side tail
  int logflag = 0;                  // not 0: logarithmic count axis
  int fitflag = 0;                  // not 0: curves, markers and the result text block
};

// The count axis: lower end, upper end and tick step.
struct SketchScale {
  double lower = 0.0;
  double upper = 0.0;
  double step = 0.0;
};

// Axis of counts from low to high. The upper end is a whole number of powers
// of ten above 1.25 * high; a range too small for a power of ten of at least
// 1 uses 1, and products beyond 32 bits are formed exactly in double.
SketchScale sketch_scale(double low, double high, int logflag);

// Writes the script to out, which the caller opened and closes. Nothing is
// checked and nothing is returned: a write error shows in the stream's state.
void sketch(const SketchArgs& s, std::FILE* out);

}  // namespace tavrick
