// The result listing: the fitted background and the total fit of every
// channel of the window, each as one brace-delimited line that a Tcl front
// end reads as the list {{ilo nchan} {values...}}.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/fitdefs.h"

namespace tavrick {

// Characters of the longest list line: " {{", two 12-character fields,
// " } {", one 12-character field per channel, " }} " and the newline.
inline constexpr std::size_t kListLineBytes = 3 + 2 * 12 + 4 + 12 * kChanArray + 4 + 1;

// A channel's value as listed: truncated toward zero; NaN and values outside
// the 32-bit range give -2147483648.
std::int32_t list_value(double v);

// Builds the list line of values[ilo .. ilo+nchan-1] into buf (room for
// kListLineBytes) and returns its length, newline included.
std::size_t list_line(char* buf, int ilo, int nchan, const double* values);

// Writes that line to out with one fwrite; false when the stream failed.
bool write_list(std::FILE* out, char* buf, int ilo, int nchan, const double* values);

}  // namespace tavrick
