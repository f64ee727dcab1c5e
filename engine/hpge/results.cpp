// Result values of germanium-shape peaks.
#include "engine/hpge/results.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace tavrick::hpge {

namespace {

// The value at slot j, 0 for a parameter the fit does not have.
double at(const double* a, int j) { return j > 0 ? a[j - 1] : 0.0; }

double cov(const double* covar, int nca, int i, int j) {
  if (i <= 0 || j <= 0) return 0.0;
  return covar[static_cast<std::ptrdiff_t>(i - 1) + static_cast<std::ptrdiff_t>(j - 1) * nca];
}

// g^T C g over the given slots; a negative result of rounding counts as 0.
template <std::size_t N>
double propagate(const double* covar,
                 int nca,
                 const std::array<int, N>& slots,
                 const std::array<double, N>& g) {
  double v = 0.0;
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = 0; j < N; ++j) v += (g[i] * g[j]) * cov(covar, nca, slots[i], slots[j]);
  }
  return std::sqrt(std::fmax(v, 0.0));
}

}  // namespace

PeakResult peakResult(const double* a, const double* covar, int nca, const Slots& s, int ilo) {
  const double c = at(a, s.c);
  const double h = at(a, s.h);
  const double wp = at(a, s.w);
  const double w = std::abs(wp);
  const double sign = wp < 0.0 ? -1.0 : 1.0;
  Tail t{at(a, s.r), at(a, s.beta), 0.0, at(a, s.rh), at(a, s.betah)};

  PeakResult p{};
  const std::array<int, 7> slots{s.c, s.h, s.w, s.r, s.beta, s.rh, s.betah};

  const ShiftGradient sg = shiftGradient(w, t);
  p.cen = (c - centroidShift(w, t)) + static_cast<double>(ilo);
  p.cenerr = propagate(
      covar, nca, slots,
      std::array<double, 7>{1.0, 0.0, -(sign * sg.dw), -sg.dr, -sg.dbeta, -sg.drh, -sg.dbetah});

  const AreaGradient ag = areaGradient(h, w, t);
  p.area = area(h, w, t);
  p.areaerr = propagate(
      covar, nca, slots,
      std::array<double, 7>{0.0, ag.dh, sign * ag.dw, ag.dr, ag.dbeta, ag.drh, ag.dbetah});

  p.fwhm = w * kFwhm;
  p.fwherr = std::sqrt(std::fmax(cov(covar, nca, s.w, s.w), 0.0)) * kFwhm;
  p.hgt = h;
  p.hgterr = std::sqrt(std::fmax(cov(covar, nca, s.h, s.h), 0.0));
  return p;
}

ShapeResult shapeResult(const double* a, const double* covar, int nca, const Slots& s, int step) {
  const auto err = [&](int j) { return std::sqrt(std::fmax(cov(covar, nca, j, j), 0.0)); };
  return {at(a, s.r), err(s.r),    at(a, s.beta), err(s.beta),    at(a, step),
          err(step),  at(a, s.rh), err(s.rh),     at(a, s.betah), err(s.betah)};
}

}  // namespace tavrick::hpge
