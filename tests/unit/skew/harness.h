// Test harness for the skew-Gaussian and Lorentzian variants: a window of
// counts, the engine's parameter vector and covariance, start and result
// routines run with their output captured, derivative checks of model
// functions, and a small seeded Poisson generator.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/mrqmin.h"
#include "engine/variant.h"

namespace testfit {

using tavrick::kMaxPar;
using tavrick::kNca;

inline std::size_t at(int i) { return static_cast<std::size_t>(i); }

// Everything the engine owns around one fit, sized as the engine sizes it.
struct Fit {
  int ilo = 100;
  int ihi = 199;
  std::vector<double> spec = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(tavrick::kChanArray, 0.0);
  std::array<double, kMaxPar> a{};
  std::vector<double> covar = std::vector<double>(kNca * kNca, 0.0);
  double chisq = -1.0;
  std::unique_ptr<tavrick::FitWork> work = std::make_unique<tavrick::FitWork>();
  tavrick::FitResults res{};
  std::string log;  // what the start routine printed

  double& cov(int i, int j) { return covar[at(i - 1 + (j - 1) * kNca)]; }

  template <class G>
  void run(G start,
           const std::vector<double>& pos,
           const std::vector<double>& fwhmin,
           double width,
           double widlo,
           int npeaks,
           int nbak) {
    std::vector<double> p = pos, f = fwhmin;
    p.resize(30, 0.0);
    f.resize(30, 0.0);
    const tavrick::StartArgs s{spec.data(), peaks.data(), bkgrd.data(), ilo,      ihi,
                               npeaks,      nbak,         p.data(),     f.data(), width,
                               widlo,       a.data(),     covar.data(), chisq};
    std::FILE* out = std::tmpfile();
    start(s, *work, out);
    log = slurp(out);
  }

  template <class X>
  std::string report(X result, int npeaks, int nbak) {
    const tavrick::ResultArgs r{spec.data(),  65536,        ilo,      ihi,
                                npeaks,       nbak,         0.0,      fit.data(),
                                peaks.data(), bkgrd.data(), a.data(), covar.data()};
    std::FILE* out = std::tmpfile();
    result(r, res, out);
    return slurp(out);
  }

  static std::string slurp(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    return text;
  }
};

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

inline void expectRel(double got, double want, double rel, const std::string& what) {
  EXPECT_NEAR(got, want, rel * std::abs(want)) << what;
}

// Analytic derivatives of the first mfit slots against central differences
// at every x.
inline void checkDerivatives(tavrick::Model f,
                             std::vector<double> a,
                             int ma,
                             int mfit,
                             int npeaks,
                             int nbak,
                             const std::vector<double>& xs) {
  a.resize(kMaxPar, 0.0);
  for (double x : xs) {
    std::array<double, kMaxPar> dyda{};
    std::array<double, kMaxPar> scratch{};
    double y = 0.0;
    f(x, a.data(), y, dyda.data(), ma, npeaks, nbak);
    for (int p = 0; p < mfit; ++p) {
      const double h = 1e-6 * std::max(1.0, std::abs(a[at(p)]));
      std::vector<double> up = a, dn = a;
      up[at(p)] += h;
      dn[at(p)] -= h;
      double yu = 0.0, yd = 0.0;
      f(x, up.data(), yu, scratch.data(), ma, npeaks, nbak);
      f(x, dn.data(), yd, scratch.data(), ma, npeaks, nbak);
      const double num = (yu - yd) / (2.0 * h);
      const double an = dyda[at(p)];
      EXPECT_NEAR(an, num, 1e-5 * std::max(1.0, std::abs(an))) << "x = " << x << " slot " << p + 1;
    }
  }
}

// Deterministic Poisson counts: a 64-bit linear congruential generator and
// Knuth's product method for small means, a rounded normal for large ones.
class Poisson {
 public:
  explicit Poisson(std::uint64_t seed) : s_(seed) {}

  double uniform() {
    s_ = s_ * 6364136223846793005ull + 1442695040888963407ull;
    return (static_cast<double>(s_ >> 11) + 0.5) / 9007199254740992.0;
  }

  double operator()(double mean) {
    if (mean < 30.0) {
      const double limit = std::exp(-mean);
      double p = 1.0;
      int k = -1;
      do {
        ++k;
        p *= uniform();
      } while (p > limit);
      return k;
    }
    const double u1 = uniform(), u2 = uniform();
    const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    return std::max(0.0, std::round(mean + std::sqrt(mean) * z));
  }

 private:
  std::uint64_t s_;
};

}  // namespace testfit
