// A fit as a standalone SVG picture: the drawing of the plot script (counts
// as a histogram, background, total fit, markers, titles, the text block of
// fit values) plus each peak's own curve, a panel of normalised residuals,
// the channel axis and, given a calibration, an energy axis.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plot/sketch.h"

namespace tavrick {

// What svg draws.
struct SvgPlot {
  SketchArgs sketch;  // counts, curves, titles, markers, text block, axis kind
  // peaks[k][i]: peak k+1's own term at channel ilo + i (no background).
  std::vector<std::vector<double>> peaks;
  // Energy calibration E = c0 + c1 ch + c2 ch^2 + ...; empty: no energy axis.
  std::vector<double> energy;
  std::string unit;  // of the energy axis; may be empty
};

// Writes the picture to out, which the caller opened and closes. A write
// error shows in the stream's state.
void svg(const SvgPlot& p, std::FILE* out);

// Text made safe for XML character data and attribute values: markup
// characters escaped, control characters and bytes that are not UTF-8
// replaced by '?'.
std::string xml_text(std::string_view s);

// Round tick values (1, 2 or 5 times a power of ten apart) within lo .. hi,
// at most max_ticks of them (at least one step when lo < hi).
std::vector<double> nice_ticks(double lo, double hi, int max_ticks);

// Rows for labels of the given width centred at x: each label takes the
// lowest row in which it keeps gap from every label already there, so no
// two labels overlap. Returns the row of each label, in the order given.
std::vector<int> label_rows(std::span<const double> x, double width, double gap);

// The coefficients and unit of a calibration text "POLY <unit> c0 c1 ...";
// false (and c, unit untouched) when the text is not one or every
// coefficient beyond c0 is 0 (no energy scale).
bool parse_poly(std::string_view text, std::vector<double>& c, std::string& unit);

// The text block of fit values, one string per line, as the plot script
// writes it (its XTEXT lines set in the small font).
std::vector<std::string> text_block(const SketchArgs& s);

}  // namespace tavrick
