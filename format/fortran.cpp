// Placeholder until the interpreter lands: writes nothing.
#include "format/fortran.h"

namespace fortran {

std::string format(std::string_view, std::span<const Item>) { return {}; }

bool write(std::FILE* out, std::string_view fmt, std::span<const Item> items) {
  const std::string text = format(fmt, items);
  return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace fortran
