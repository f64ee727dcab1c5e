// Fuzz target: the Fortran-format interpreter.
//
// Input, as text: the first line is the format; each later line is one value:
// "i <decimal>" an integer, "r <decimal>" a double given by its 64-bit pattern
// (as in the gfortran vectors), "d <decimal>" a double as a decimal number,
// "t|<text>|" a text. Other lines are skipped. The interpreter must neither
// crash nor hang on any format, and writing the statement to a stream must
// give exactly the text that format() returns.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "format/fortran.h"

namespace {

// Values of one statement; more than the longest list any table writes.
constexpr std::size_t kMaxItems = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = in.find('\n');
  const std::string_view fmt = in.substr(0, eol);

  std::vector<std::string> texts;  // owners of the text values
  texts.reserve(kMaxItems);
  std::vector<fortran::Item> items;
  std::size_t at = eol == std::string_view::npos ? in.size() : eol + 1;
  while (at < in.size() && items.size() < kMaxItems) {
    std::size_t end = in.find('\n', at);
    if (end == std::string_view::npos) end = in.size();
    const std::string line(in.substr(at, end - at));
    at = end + 1;
    if (line.size() < 2) continue;
    const char* num = line.c_str() + 2;
    switch (line[0]) {
      case 'i':
        items.emplace_back(static_cast<long long>(std::strtoll(num, nullptr, 10)));
        break;
      case 'r': {
        const std::int64_t bits = std::strtoll(num, nullptr, 10);
        double d = 0.0;
        std::memcpy(&d, &bits, sizeof d);
        items.emplace_back(d);
        break;
      }
      case 'd':
        items.emplace_back(std::strtod(num, nullptr));
        break;
      case 't': {
        const std::size_t last = line.rfind('|');
        texts.push_back(last > 1 ? line.substr(2, last - 2) : std::string());
        items.emplace_back(std::string_view(texts.back()));
        break;
      }
      default:
        break;
    }
  }

  const std::span<const fortran::Item> list(items.data(), items.size());
  const std::string text = fortran::format(fortran::Format::runtime(fmt), list);

  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  if (out == nullptr) return 0;
  const bool ok = fortran::write(out, fortran::Format::runtime(fmt), list);
  std::fclose(out);
  if (!ok || std::string_view(buf, len) != text) {
    std::fprintf(stderr, "format_fuzz: write() and format() differ\n");
    std::abort();
  }
  std::free(buf);
  return 0;
}
