// Synthetic spectra of the benchmark cases: Gaussian, skew-Gaussian and
// Lorentzian peaks on polynomial backgrounds with Poisson noise from a small
// seeded generator, so every run (and every machine) sees the same counts.
// Each count is a whole number in a channel of the fit window, which is the
// whole spectrum (channels 0 .. nchan - 1).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/korvel.h"

namespace tavrick::bench {

// splitmix64: small, fast and the same everywhere.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1): 53 random bits, never 0.
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1p-53; }

  // Poisson deviate of the given mean: Knuth's product of uniforms on pieces
  // of mean at most 32 (exp(-mean) stays far from underflow), summed.
  std::int64_t poisson(double mean) {
    std::int64_t n = 0;
    while (mean > 0.0) {
      const double m = mean > 32.0 ? 32.0 : mean;
      mean -= m;
      const double limit = std::exp(-m);
      double p = uniform();
      while (p > limit) {
        ++n;
        p *= uniform();
      }
    }
    return n;
  }

 private:
  std::uint64_t s_;
};

enum class Shape { gauss, skew, lorentz };

struct Peak {
  double pos;
  double height;
  double fwhm;    // high side for a skew peak
  double fwhmlo;  // low side of a skew peak
};

// One case: the spectrum and what the command is asked to fit.
struct Case {
  std::string name;
  std::string title;
  int nchan = 0;
  Shape shape = Shape::gauss;
  bool sameWidth = false;            // one common free width
  int order = 1;                     // background polynomial order
  std::vector<double> background{};  // coefficients of ch^0, ch^1, ...
  std::vector<Peak> peaks{};
  std::vector<double> counts{};

  int nbak() const { return order + 1; }

  // The command's arguments after the program name.
  std::vector<std::string> args() const {
    std::vector<std::string> a{"-spectrum", name, "-limit", "0", std::to_string(nchan - 1),
                               "-peaks"};
    for (const Peak& p : peaks) a.push_back(guess(p.pos));
    a.push_back("-widths");
    for (const Peak& p : peaks) a.push_back(guess(p.fwhm));
    if (shape == Shape::skew) {
      a.push_back("-skews");
      for (const Peak& p : peaks) a.push_back(guess(p.fwhmlo));
      a.insert(a.end(), {"-shape", "skew"});
    }
    if (shape == Shape::lorentz) a.insert(a.end(), {"-shape", "lorentz"});
    a.insert(a.end(),
             {"-widthopt", sameWidth ? "same" : "different", "-order", std::to_string(order)});
    return a;
  }

  // The guesses as the command gets them: positions and widths to 0.1.
  static std::string guess(double v) {
    const double r = std::round(v * 10.0) / 10.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", r);
    return buf;
  }

  // Engine arguments for the same request, as the command's option phase
  // sets them; the per-peak arrays are filled into the caller's storage.
  KorvelArgs korvelArgs(double* pos,
                        double* fwhmin,
                        double* fwloin,
                        const double* spec,
                        double* fit,
                        double* pk,
                        double* bk) const {
    const int n = static_cast<int>(peaks.size());
    for (int k = 0; k < n; ++k) {
      const Peak& p = peaks[static_cast<std::size_t>(k)];
      pos[k] = sp(static_cast<float>(std::stod(guess(p.pos))));
      fwhmin[k] = sp(static_cast<float>(std::stod(guess(p.fwhm))));
      fwloin[k] =
          sp(static_cast<float>(std::stod(guess(shape == Shape::skew ? p.fwhmlo : p.fwhm))));
    }
    KorvelArgs k{};
    k.spec = spec;
    k.maxch = kMaxCh;
    k.ilo = 0;
    k.ihi = nchan - 1;
    k.npeaks = n;
    k.nbak = nbak();
    k.pos = pos;
    k.fwhmin = fwhmin;
    k.fwloin = fwloin;
    k.width = fwhmin[0];
    k.widlo = fwloin[0];
    k.ipksch = 10;
    k.idiffwd = sameWidth ? 0 : 1;
    k.iskew = shape == Shape::skew ? 1 : 0;
    k.ifixwd = 0;
    k.ifixcn = 0;
    k.ilor = shape == Shape::lorentz ? 1 : 0;
    k.fit = fit;
    k.peaks = pk;
    k.bkgrd = bk;
    return k;
  }
};

// Expected counts at channel ch.
inline double model(const Case& c, int ch) {
  const double x = static_cast<double>(ch);
  double v = 0.0;
  for (std::size_t j = 0; j < c.background.size(); ++j) {
    v += c.background[j] * std::pow(x, static_cast<double>(j));
  }
  for (const Peak& p : c.peaks) {
    const double d = x - p.pos;
    if (c.shape == Shape::lorentz) {
      const double g = p.fwhm / 2.0;
      v += p.height * g * g / (d * d + g * g);
    } else {
      const double fw = (c.shape == Shape::skew && d < 0.0) ? p.fwhmlo : p.fwhm;
      const double b = d / (fw / 1.665109223);
      v += p.height * std::exp(-b * b);
    }
  }
  return v;
}

inline void fillCounts(Case& c, std::uint64_t seed) {
  Rng rng(seed);
  c.counts.assign(static_cast<std::size_t>(c.nchan), 0.0);
  for (int ch = 0; ch < c.nchan; ++ch) {
    const double m = model(c, ch);
    c.counts[static_cast<std::size_t>(ch)] = static_cast<double>(rng.poisson(m > 0.0 ? m : 0.0));
  }
}

// n peaks spread evenly over the spectrum with heights and widths varied by
// the generator (widths between fwlo and fwhi).
inline std::vector<Peak> spread(int n, int nchan, double fwlo, double fwhi, Rng& rng) {
  std::vector<Peak> v;
  const double step = static_cast<double>(nchan) / n;
  for (int k = 0; k < n; ++k) {
    const double pos = step * (k + 0.5) + (rng.uniform() - 0.5) * step * 0.3;
    const double h = 200.0 + 1800.0 * rng.uniform();
    const double fw = fwlo + (fwhi - fwlo) * rng.uniform();
    v.push_back({pos, h, fw, fw});
  }
  return v;
}

// The seven cases S1 .. S7.
inline std::vector<Case> cases() {
  std::vector<Case> v;
  Rng rng(20261208);
  {
    Case c{"S1", "1 Gaussian, 101 ch", 101};
    c.order = 1;
    c.background = {50.0};
    c.peaks = {{50.3, 1000.0, 5.0, 5.0}};
    v.push_back(c);
  }
  {
    Case c{"S2", "5-peak multiplet, 1000 ch", 1000};
    c.order = 1;
    c.background = {80.0, -0.03};
    c.peaks = {{430.0, 900.0, 8.0, 8.0},
               {452.5, 1500.0, 8.5, 8.5},
               {478.0, 600.0, 8.0, 8.0},
               {505.2, 1200.0, 9.0, 9.0},
               {540.0, 400.0, 9.5, 9.5}};
    v.push_back(c);
  }
  {
    Case c{"S3", "30 Gaussians, 65536 ch, common width", 65536};
    c.sameWidth = true;
    c.order = 2;
    c.background = {40.0, 1e-3, -1.2e-8};
    c.peaks = spread(30, c.nchan, 12.0, 12.0, rng);
    v.push_back(c);
  }
  {
    Case c{"S4", "30 Gaussians, 65536 ch, width per peak", 65536};
    c.order = 2;
    c.background = {40.0, 1e-3, -1.2e-8};
    c.peaks = spread(30, c.nchan, 8.0, 16.0, rng);
    v.push_back(c);
  }
  {
    Case c{"S5", "18 skew Gaussians, 16384 ch", 16384};
    c.shape = Shape::skew;
    c.order = 2;
    c.background = {30.0, 2e-3, -5e-8};
    c.peaks = spread(18, c.nchan, 6.0, 10.0, rng);
    for (Peak& p : c.peaks) p.fwhmlo = p.fwhm * 1.4;
    v.push_back(c);
  }
  {
    Case c{"S6", "10 Lorentzians, 4096 ch", 4096};
    c.shape = Shape::lorentz;
    c.order = 1;
    c.background = {20.0, 1e-3};
    c.peaks = spread(10, c.nchan, 6.0, 10.0, rng);
    v.push_back(c);
  }
  {
    Case c{"S7", "8 HPGe-like peaks, 4096 ch", 4096};
    c.order = 1;
    c.background = {60.0, -0.008};
    c.peaks = {{310.4, 5200.0, 3.0, 3.0},  {702.8, 1800.0, 3.2, 3.2},  {1210.1, 900.0, 3.4, 3.4},
               {1760.6, 2500.0, 3.7, 3.7}, {1766.9, 1100.0, 3.7, 3.7}, {2405.3, 700.0, 4.0, 4.0},
               {3120.7, 1600.0, 4.2, 4.2}, {3804.2, 450.0, 4.5, 4.5}};
    v.push_back(c);
  }
  std::uint64_t seed = 1;
  for (Case& c : v) fillCounts(c, seed++);
  return v;
}

}  // namespace tavrick::bench
