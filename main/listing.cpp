// The result listing's lines.
#include "main/listing.h"

#include <array>
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

bool write_list(std::FILE* out, int ilo, int nchan, const double* values) {
  // Room for the head, one chunk of fields and the tail.
  std::array<char, 3 + 2 * 12 + 4 + 12 * kListChunk + 5> buf;
  bool ok = true;
  const auto flush = [&](char* end) {
    const auto len = static_cast<std::size_t>(end - buf.data());
    ok = std::fwrite(buf.data(), 1, len, out) == len && ok;
    return buf.data();
  };
  char* p = text(buf.data(), " {{");
  p = field(p, ilo);
  p = field(p, nchan);
  p = text(p, " } {");
  const int last = ilo + nchan;
  for (int i = ilo; i < last;) {
    const int stop = last - i > kListChunk ? i + kListChunk : last;
    for (; i < stop; ++i) p = field(p, list_value(values[i]));
    if (i < last) p = flush(p);
  }
  p = text(p, " }} \n");
  flush(p);
  return ok;
}

}  // namespace tavrick
