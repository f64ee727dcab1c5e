// Conversion of command-line texts to numbers.
#pragma once

#include <cstdint>

namespace spectrum {

// Converts text[pos-1 .. len-1] (the text passed with its significant length,
// pos 1) to a 32-bit integer: optional sign and decimal digits (leading zeros
// allowed), no blanks, at most 32 characters. status 0 on success, non-zero
// when the text is not such a number or outside the 32-bit range (result
// untouched).
void ctoi(const char* text, int len, int& pos, std::int32_t& result, int& status);

// The same for a single-precision real: optional sign, digits with an optional
// decimal point and at least one digit, optional exponent (e, E, d or D) with
// at least one digit; no blanks, at most 32 characters. The decimal text is
// rounded directly to the nearest single-precision value; a value too small
// for it converts to zero or a subnormal, a value too large does not convert.
void ctor(const char* text, int len, int& pos, float& result, int& status);

}  // namespace spectrum
