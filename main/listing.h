// The result listing: the fitted background and the total fit of every
// channel of the window, each as one brace-delimited line that a Tcl front
// end reads as the list {{ilo nchan} {values...}}.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tavrick {

// A channel's value as listed: truncated toward zero; NaN and values outside
// the 32-bit range give -2147483648.
std::int32_t list_value(double v);

// Channels formatted per write: a line of 65536 values (about 790 KB) goes
// out in pieces of 12 KB through a buffer on the stack, so listing a long
// window touches no fresh memory beyond those few pages.
inline constexpr int kListChunk = 1024;

// Writes the list line of values[ilo .. ilo+nchan-1] to out:
//   " {{" ilo nchan " } {" value... " }} " newline
// every number a blank and 11 right-aligned columns. False when the stream
// failed.
bool write_list(std::FILE* out, int ilo, int nchan, const double* values);

}  // namespace tavrick
