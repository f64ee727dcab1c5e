// Sizes, single-precision helpers, integer powers and 1-based views shared by
// the fitting engine, the peak families and the command front end.
#pragma once

#include <cstddef>

namespace tavrick {

// Parameters a fit can hold: 30 peaks with four parameters each and six
// background coefficients. Vector, free-parameter list, both matrices and the
// minimiser's work arrays are sized for it.
inline constexpr int kMaxPar = 126;
// Leading dimension of covar and alpha.
inline constexpr int kNca = kMaxPar;
// Channels a fit window may hold; per-channel arrays are indexed by channel
// number 0 .. kMaxCh.
inline constexpr int kMaxCh = 65536;
inline constexpr std::size_t kChanArray = kMaxCh + 1;
inline constexpr int kMaxPeaks = 30;
inline constexpr int kMaxBak = 6;

// A single-precision constant widened to double.
constexpr double sp(float f) { return static_cast<double>(f); }
static_assert(sp(0.001f) == 0.0010000000474974513);
static_assert(sp(0.1f) == 0.10000000149011612);
static_assert(sp(1e-20f) == 9.999999682655225e-21);

// x^n for an integer n by right-to-left binary powering, as Fortran's ** with
// an integer exponent computes it; x^0 = 1. Negative n gives 1 / x^-n. In
// the type of x: ipowf for powers "formed in single precision".
template <class T>
constexpr T ipowOf(T x, int n) {
  if (n < 0) return T{1} / ipowOf(x, -n);
  unsigned u = static_cast<unsigned>(n);
  T y = (u & 1u) ? x : T{1};
  while (u >>= 1) {
    x = x * x;
    if (u & 1u) y = y * x;
  }
  return y;
}
constexpr double ipow(double x, int n) { return ipowOf(x, n); }
constexpr float ipowf(float x, int n) { return ipowOf(x, n); }

// 1-based view of a vector: v(1) is p[0].
template <class T>
struct Vec1 {
  T* p;
  constexpr T& operator()(int i) const { return p[i - 1]; }
};

// 1-based, column-major view of a matrix with leading dimension ld.
template <class T>
struct Mat1 {
  T* p;
  int ld;
  constexpr T& operator()(int i, int j) const {
    return p[static_cast<std::ptrdiff_t>(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * ld];
  }
};

}  // namespace tavrick
