// Conversion of command-line texts to numbers.
//
// Both routines check the whole text against a strict grammar first and only
// then hand it to std::from_chars: from_chars alone would accept forms the
// command must refuse ("inf", "nan", a second sign after a "+") and refuses
// forms it must accept (a leading "+", a "d" exponent).
#include "spectrum/numconv.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <system_error>

namespace spectrum {

namespace {

// Longest number text that converts; the command's number work text has this
// many characters.
constexpr int kMaxNumLen = 32;

// Statuses: 0 converted, kNotNumber for text of the wrong form, kOutOfRange
// for a number of the right form that the type cannot hold.
constexpr int kNotNumber = 1;
constexpr int kOutOfRange = 2;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The part of the text to convert, or an empty view when the position and
// length leave nothing (or more than the work text holds).
struct Slice {
  const char* p = nullptr;
  int n = 0;
};

Slice slice(const char* text, int len, int pos) {
  if (text == nullptr || pos < 1 || len < pos) return {};
  const int n = len - pos + 1;
  if (n > kMaxNumLen) return {};
  return {text + (pos - 1), n};
}

}  // namespace

void ctoi(const char* text, int len, int& pos, std::int32_t& result, int& status) {
  status = kNotNumber;
  const Slice s = slice(text, len, pos);
  if (s.n == 0) return;

  // Form: optional sign, then one or more decimal digits, nothing else.
  int i = 0;
  if (s.p[0] == '+' || s.p[0] == '-') i = 1;
  if (i == s.n) return;
  for (int k = i; k < s.n; ++k) {
    if (!is_digit(s.p[k])) return;
  }

  // from_chars takes a "-" but no "+": start after a plus sign.
  const char* first = s.p[0] == '+' ? s.p + 1 : s.p;
  std::int32_t v = 0;
  const auto [end, ec] = std::from_chars(first, s.p + s.n, v);
  if (ec == std::errc::result_out_of_range) {
    status = kOutOfRange;
    return;
  }
  if (ec != std::errc{} || end != s.p + s.n) return;
  result = v;
  status = 0;
}

void ctor(const char* text, int len, int& pos, float& result, int& status) {
  status = kNotNumber;
  const Slice s = slice(text, len, pos);
  if (s.n == 0) return;

  // Form: [sign] (digits [. [digits]] | . digits) [(e|E|d|D) [sign] digits].
  // Copied into buf as from_chars reads it: no "+" sign, "e" for the exponent.
  std::array<char, kMaxNumLen> buf{};
  int nb = 0;
  int i = 0;
  bool negative = false;
  if (s.p[0] == '+' || s.p[0] == '-') {
    negative = s.p[0] == '-';
    if (negative) buf[static_cast<std::size_t>(nb++)] = '-';
    i = 1;
  }

  // Mantissa, and the power of ten of its first non-zero digit (as if the
  // exponent were 0), which tells an underflow from an overflow below.
  int ndigits = 0;
  int intdigits = 0;  // digits before the point
  int lead = 0;       // 1-based place of the first non-zero digit
  bool point = false;
  for (; i < s.n; ++i) {
    const char c = s.p[i];
    if (is_digit(c)) {
      ++ndigits;
      if (!point) ++intdigits;
      if (lead == 0 && c != '0') lead = ndigits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
    buf[static_cast<std::size_t>(nb++)] = c;
  }
  if (ndigits == 0) return;

  long exponent = 0;
  if (i < s.n) {
    const char c = s.p[i];
    if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return;
    buf[static_cast<std::size_t>(nb++)] = 'e';
    ++i;
    bool eneg = false;
    if (i < s.n && (s.p[i] == '+' || s.p[i] == '-')) {
      eneg = s.p[i] == '-';
      buf[static_cast<std::size_t>(nb++)] = s.p[i];
      ++i;
    }
    if (i == s.n) return;
    for (; i < s.n; ++i) {
      if (!is_digit(s.p[i])) return;
      buf[static_cast<std::size_t>(nb++)] = s.p[i];
      // Saturate: at most 30 digits fit here, and any exponent beyond a
      // thousand is far outside the single-precision range either way.
      if (exponent < 100000) exponent = exponent * 10 + (s.p[i] - '0');
    }
    if (eneg) exponent = -exponent;
  }

  float v = 0.0f;
  const char* end = buf.data() + nb;
  const auto [stop, ec] = std::from_chars(buf.data(), end, v, std::chars_format::general);
  if (stop != end) return;
  if (ec == std::errc::result_out_of_range) {
    // from_chars reports both ends of the range alike and leaves v alone.
    // A value whose first significant digit stands below the units place
    // underflowed, and rounds to a zero of its sign; any other overflowed.
    // (Subnormal results come back from from_chars as ordinary successes.)
    const long leadpow = lead == 0 ? 0 : static_cast<long>(intdigits - lead) + exponent;
    if (lead != 0 && leadpow >= 0) {
      status = kOutOfRange;
      return;
    }
    v = negative ? -0.0f : 0.0f;
  } else if (ec != std::errc{}) {
    return;
  }
  result = v;
  status = 0;
}

}  // namespace spectrum
