// The result listing's lines.
#include "main/listing.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace tavrick {

namespace {

// One blank, then n right-aligned in 11 columns. Every 32-bit integer fits:
// -2147483648 takes exactly 11.
char* field(char* p, std::int32_t n) {
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  static_cast<void>(ec);
  const auto len = static_cast<std::size_t>(end - digits);
  std::memset(p, ' ', 12 - len);
  std::memcpy(p + (12 - len), digits, len);
  return p + 12;
}

char* text(char* p, const char* s) {
  const std::size_t len = std::strlen(s);
  std::memcpy(p, s, len);
  return p + len;
}

}  // namespace

std::int32_t list_value(double v) {
  // Only values whose truncation is a 32-bit integer convert; NaN fails both
  // comparisons.
  if (v > -2147483649.0 && v < 2147483648.0) return static_cast<std::int32_t>(v);
  return std::numeric_limits<std::int32_t>::min();
}

std::size_t list_line(char* buf, int ilo, int nchan, const double* values) {
  char* p = text(buf, " {{");
  p = field(p, ilo);
  p = field(p, nchan);
  p = text(p, " } {");
  for (int i = ilo; i < ilo + nchan; ++i) p = field(p, list_value(values[i]));
  p = text(p, " }} \n");
  return static_cast<std::size_t>(p - buf);
}

bool write_list(std::FILE* out, char* buf, int ilo, int nchan, const double* values) {
  const std::size_t len = list_line(buf, ilo, nchan, values);
  return std::fwrite(buf, 1, len, out) == len;
}

}  // namespace tavrick
