// The tests' one random generator: splitmix64 for uniform deviates and
// Knuth's product method for Poisson ones, seeded, so every platform draws the
// same numbers (std::mt19937's distributions are not portable).
#pragma once

#include <cmath>
#include <cstdint>

namespace testsupport {

struct Random {
  std::uint64_t s;
  double uniform() {
    std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }
  // Poisson deviate: the product method on slices of the mean of at most 20,
  // whose sum is Poisson with the whole mean.
  int poisson(double mean) {
    int n = 0;
    while (mean > 0.0) {
      const double part = mean > 20.0 ? 20.0 : mean;
      mean -= part;
      const double limit = std::exp(-part);
      double p = uniform();
      while (p > limit) {
        ++n;
        p *= uniform();
      }
    }
    return n;
  }
};

}  // namespace testsupport
