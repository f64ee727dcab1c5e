// Whole-file helpers for tests.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// The bytes of a file ("" when it cannot be read).
inline std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline bool exists(const std::string& path) {
  struct stat sb {};
  return ::stat(path.c_str(), &sb) == 0;
}

}  // namespace testsupport
