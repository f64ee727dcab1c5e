// Fits of synthetic spectra through the engine entry: two Gaussians on a
// quadratic background, noise-free and with seeded Poisson noise, for every
// symmetric-Gaussian variant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/korvel.h"
#include "support/random.h"

namespace {

using tavrick::kChanArray;

constexpr double kFwhmFactor = 1.665109223;
constexpr double kSqrtPi = 1.772453851;
constexpr int kIlo = 100;
constexpr int kIhi = 399;

struct Peak {
  double centroid;
  double height;
  double fwhm;
  double area() const { return height * kSqrtPi * (fwhm / kFwhmFactor); }
};

using testsupport::Random;

double background(int ch) {
  const double x = ch - kIlo;
  return 150.0 + 0.4 * x - 0.0008 * x * x;
}

double truth(int ch, const std::vector<Peak>& peaks) {
  double y = background(ch);
  for (const Peak& p : peaks) {
    const double b = (ch - p.centroid) / (p.fwhm / kFwhmFactor);
    y += p.height * std::exp(-b * b);
  }
  return y;
}

struct Flags {
  const char* name;
  int idiffwd, ifixwd, ifixcn, nfree;
};

// The five symmetric variants as the command's options select them.
const Flags kVariants[] = {{"sym", 1, 0, 0, 9},
                           {"symf", 0, 0, 0, 8},
                           {"symfc", 0, 0, 1, 6},
                           {"fwvc", 1, 1, 0, 7},
                           {"fwfc", 1, 1, 1, 5}};

struct Fit {
  std::vector<double> spec = std::vector<double>(kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(kChanArray, 0.0);
  std::unique_ptr<tavrick::Workspace> w = std::make_unique<tavrick::Workspace>();
  tavrick::FitResults r{};
  tavrick::KorvelArgs k{};
  double pos[30] = {};
  double fwhmin[30] = {};

  // Counts as the command delivers them: integers through single precision.
  void fill(const std::vector<Peak>& truep, Random* noise) {
    for (int ch = kIlo; ch <= kIhi; ++ch) {
      const double mean = truth(ch, truep);
      const int count = noise ? noise->poisson(mean) : static_cast<int>(std::lround(mean));
      spec[static_cast<std::size_t>(ch)] = static_cast<double>(static_cast<float>(count));
    }
  }

  void run(const Flags& f, const std::vector<Peak>& truep) {
    for (std::size_t i = 0; i < truep.size(); ++i) {
      pos[i] = std::round(truep[i].centroid) - 2.0;  // the search moves it to the top
      fwhmin[i] = truep[i].fwhm;
    }
    for (std::size_t i = truep.size(); i < 30; ++i) fwhmin[i] = fwhmin[truep.size() - 1];
    k = tavrick::KorvelArgs{
        spec.data(), tavrick::kMaxCh, kIlo,        kIhi,      2, 3,        pos,      fwhmin, fwhmin,
        fwhmin[0],   fwhmin[0],       10,          f.idiffwd, 0, f.ifixwd, f.ifixcn, 0,      0.0,
        fit.data(),  peaks.data(),    bkgrd.data()};
    std::FILE* out = std::fopen("/dev/null", "w");
    tavrick::korvel(k, r, *w, out);
    std::fclose(out);
  }
};

void expect_rel(double got, double want, double rel, const std::string& what) {
  EXPECT_LE(std::abs(got - want), rel * std::abs(want))
      << what << ": got " << got << " want " << want;
}

TEST(Recovery, NoiseFreeGaussiansExactlyForEveryVariant) {
  // Tall peaks: rounding the counts to integers then moves the results by
  // well under a part per million. Centroids on whole channels, so the
  // variants that hold centroids hold them at the truth.
  const std::vector<Peak> truep = {{180.0, 1.0e7, 6.0}, {300.0, 6.0e6, 6.0}};
  for (const Flags& f : kVariants) {
    Fit fit;
    fit.fill(truep, nullptr);
    fit.run(f, truep);
    for (std::size_t i = 0; i < truep.size(); ++i) {
      const std::string what = std::string(f.name) + " peak " + std::to_string(i + 1);
      expect_rel(fit.r.cenfit[i], truep[i].centroid, 1e-6, what + " centroid");
      expect_rel(fit.r.arefit[i], truep[i].area(), 1e-6, what + " area");
      expect_rel(fit.r.fwhfit[i], truep[i].fwhm, 1e-6, what + " fwhm");
    }
  }
}

TEST(Recovery, NoiseFreeOffChannelCentroidsWhenFree) {
  const std::vector<Peak> truep = {{180.3, 1.0e7, 5.5}, {300.6, 6.0e6, 6.5}};
  Fit fit;
  fit.fill(truep, nullptr);
  fit.run(kVariants[0], truep);  // sym: every width and centroid free
  for (std::size_t i = 0; i < truep.size(); ++i) {
    expect_rel(fit.r.cenfit[i], truep[i].centroid, 1e-6, "centroid");
    expect_rel(fit.r.arefit[i], truep[i].area(), 1e-6, "area");
    expect_rel(fit.r.fwhfit[i], truep[i].fwhm, 1e-6, "fwhm");
  }
}

TEST(Recovery, PoissonNoiseWithinThreeErrorsAndSoundChiSquare) {
  const std::vector<Peak> truep = {{180.0, 2500.0, 6.0}, {300.0, 1200.0, 6.0}};
  Random rng{20240611};
  Fit fit;
  fit.fill(truep, &rng);
  for (const Flags& f : kVariants) {
    fit.run(f, truep);
    const int nchan = kIhi - kIlo + 1;
    const double perdof = nchan * fit.r.chisq / (nchan - f.nfree);
    EXPECT_GT(perdof, 0.7) << f.name;
    EXPECT_LT(perdof, 1.4) << f.name;
    for (std::size_t i = 0; i < truep.size(); ++i) {
      const std::string what = std::string(f.name) + " peak " + std::to_string(i + 1);
      const auto& r = fit.r;
      if (f.ifixcn) {
        EXPECT_EQ(r.cenfit[i], truep[i].centroid) << what;
        EXPECT_EQ(r.cenerr[i], 0.0) << what;
      } else {
        EXPECT_LE(std::abs(r.cenfit[i] - truep[i].centroid), 3 * r.cenerr[i]) << what;
      }
      if (f.ifixwd) {
        EXPECT_NEAR(r.fwhfit[i], truep[i].fwhm, 1e-12) << what;
        EXPECT_EQ(r.fwherr[i], 0.0) << what;
      } else {
        EXPECT_LE(std::abs(r.fwhfit[i] - truep[i].fwhm), 3 * r.fwherr[i]) << what;
      }
      EXPECT_LE(std::abs(r.arefit[i] - truep[i].area()), 3 * r.areerr[i]) << what;
    }
  }
}

}  // namespace
