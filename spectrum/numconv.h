// Conversion of command-line texts to numbers.
#pragma once

#include <cstdint>

namespace spectrum {

// Converts text[pos-1 .. len-1] (the text passed with its significant length,
// pos 1) to a 32-bit integer: optional sign and decimal digits. status 0 on
// success, non-zero when the text is not such a number (result untouched).
void ctoi(const char* text, int len, int& pos, std::int32_t& result, int& status);

// The same for a single-precision real: optional sign, digits with an optional
// decimal point, optional exponent (e, E, d or D); finite and within single
// precision, rounded to the nearest single-precision value.
void ctor(const char* text, int len, int& pos, float& result, int& status);

}  // namespace spectrum
