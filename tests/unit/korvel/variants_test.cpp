// The eleven variants in one table: every model's derivatives against central
// differences and its sparse form against the full one, and fits of
// synthetic spectra through the engine entry (two peaks of the variant's
// shape on a quadratic background), noise-free and with seeded Poisson noise.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/gauss/gauss.h"
#include "engine/korvel.h"
#include "engine/lorentz/lorentz.h"
#include "engine/skew/skew.h"
#include "support/random.h"

namespace {

using tavrick::kChanArray;
using tavrick::kMaxPar;
using tavrick::Variant;

constexpr double kFwhmFactor = 1.665109223;
constexpr double kSqrtPi = 1.772453851;
constexpr double kPi = 3.141592654;
constexpr int kIlo = 100;
constexpr int kIhi = 399;

enum class Shape { gauss, skew, lorentz };

// A peak of the true spectrum; fwlo is the low side's FWHM of a skew peak.
struct Peak {
  double centroid;
  double height;
  double fwhm;
  double fwlo = fwhm;
  double value(Shape s, double x) const {
    const double d = x - centroid;
    if (s == Shape::lorentz) return height * (fwhm * fwhm / 4) / (d * d + fwhm * fwhm / 4);
    const double b = d / ((d < 0.0 && s == Shape::skew ? fwlo : fwhm) / kFwhmFactor);
    return height * std::exp(-b * b);
  }
  double area(Shape s) const {
    if (s == Shape::lorentz) return kPi * (fwhm / 2) * height;
    return height * kSqrtPi * ((fwhm + fwlo) / 2 / kFwhmFactor);
  }
};

using testsupport::Random;

// One row per variant: its flags as the command sets them, its layout, and
// its model in both forms.
struct Row {
  const char* name;
  Variant v;
  Shape shape;
  int ilor, iskew, idiffwd, ifixwd, ifixcn;
  const tavrick::Layout* layout;
  tavrick::Model full;
  const tavrick::SparseModel* sparse;
};

template <class K, const tavrick::Layout& L>
constexpr Row row(const char* name,
                  Variant v,
                  Shape s,
                  int ilor,
                  int iskew,
                  int idiffwd,
                  int ifixwd,
                  int ifixcn) {
  return {name,
          v,
          s,
          ilor,
          iskew,
          idiffwd,
          ifixwd,
          ifixcn,
          &L,
          tavrick::Form<K, L>::full,
          K::kCut > 0 ? &tavrick::Form<K, L>::kSparse : nullptr};
}

namespace g = tavrick::gauss;
namespace s = tavrick::skew;
namespace l = tavrick::lorentz;
// clang-format off
const Row kRows[] = {
    row<g::Kernel, g::kSym>("sym", Variant::sym, Shape::gauss, 0, 0, 1, 0, 0),
    row<g::Kernel, g::kSymf>("symf", Variant::symf, Shape::gauss, 0, 0, 0, 0, 0),
    row<g::Kernel, g::kSymfc>("symfc", Variant::symfc, Shape::gauss, 0, 0, 0, 0, 1),
    row<g::Kernel, g::kFwvc>("fwvc", Variant::fwvc, Shape::gauss, 0, 0, 1, 1, 0),
    row<g::Kernel, g::kFwfc>("fwfc", Variant::fwfc, Shape::gauss, 0, 0, 1, 1, 1),
    row<s::Kernel, s::kSkew>("skew", Variant::skew, Shape::skew, 0, 1, 1, 0, 0),
    row<s::Kernel, s::kSkewf>("skewf", Variant::skewf, Shape::skew, 0, 1, 0, 0, 0),
    row<s::Kernel, s::kSfwvc>("sfwvc", Variant::sfwvc, Shape::skew, 0, 1, 1, 1, 0),
    row<s::Kernel, s::kSfwfc>("sfwfc", Variant::sfwfc, Shape::skew, 0, 1, 1, 1, 1),
    row<l::Kernel, l::kLor>("lor", Variant::lor, Shape::lorentz, 1, 0, 1, 0, 0),
    row<l::Kernel, l::kLorf>("lorf", Variant::lorf, Shape::lorentz, 1, 0, 0, 0, 0),
};
// clang-format on

// The parameter vector of a row for peaks near 10 and 18 (the second with
// negative widths, which give the same curve) on a background of m <= 6
// coefficients, written through the row's layout.
std::array<double, kMaxPar> vectorOf(const Row& r, int m) {
  std::array<double, kMaxPar> a{};
  const auto set = [&](int slot, double v) { a[static_cast<std::size_t>(slot - 1)] = v; };
  const tavrick::Layout& L = *r.layout;
  const double c[2] = {10.2, 18.4}, h[2] = {120.0, 80.0}, w[2] = {3.1, -4.5}, wl[2] = {2.2, -3.7};
  for (int k = 1; k <= 2; ++k) {
    set(L.centroid.at(k, 2, m), c[k - 1]);
    set(L.height.at(k, 2, m), h[k - 1]);
    set(L.width.at(k, 2, m), w[k - 1]);
    if (r.shape == Shape::skew) set(L.widthLow.at(k, 2, m), wl[k - 1]);
  }
  const double bk[6] = {10.0, 0.5, -0.02, 1e-3, -1e-5, 1e-7};
  for (int j = 1; j <= m; ++j) set(L.background.of(2, m) + j, bk[j - 1]);
  return a;
}

TEST(Variants, DerivativesAndSparseFormOfEveryModel) {
  // Not at a centroid: a skew peak has a kink there.
  const std::vector<double> xs = {0.0, 7.5, 10.0, 11.2, 16.0, 21.3, 30.0, 60.0};
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.name);
    const int m = 6;
    const int ma = r.layout->ma.of(2, m);
    const int mfit = r.layout->mfit.of(2, m);
    ASSERT_EQ(mfit, tavrick::freeParameters(r.v, 2, m));
    const std::array<double, kMaxPar> a = vectorOf(r, m);
    for (double x : xs) {
      std::array<double, kMaxPar> d{}, scratch{};
      double y = 0.0;
      r.full(x, a.data(), y, d.data(), ma, 2, m);
      for (int p = 0; p < mfit; ++p) {
        const auto i = static_cast<std::size_t>(p);
        const double step = 1e-6 * std::max(1.0, std::abs(a[i]));
        std::array<double, kMaxPar> up = a, dn = a;
        up[i] += step;
        dn[i] -= step;
        double yu = 0.0, yd = 0.0;
        r.full(x, up.data(), yu, scratch.data(), ma, 2, m);
        r.full(x, dn.data(), yd, scratch.data(), ma, 2, m);
        const double num = (yu - yd) / (2.0 * step);
        EXPECT_NEAR(d[i], num, 1e-5 * std::max(1.0, std::abs(d[i]))) << x << " slot " << p + 1;
      }
      if (r.sparse == nullptr) continue;
      // The sparse form gives the same bits for the value and for every slot
      // it lists; the slots it leaves out have derivative 0 in the full form.
      std::array<double, kMaxPar> ds{};
      std::array<int, kMaxPar> act{};
      int nact = 0;
      double ys = 0.0;
      r.sparse->eval(x, a.data(), ys, ds.data(), ma, 2, m, 3u, act.data(), nact);
      EXPECT_EQ(std::memcmp(&y, &ys, sizeof y), 0) << x;
      std::array<bool, kMaxPar + 1> listed{};
      for (int q = 0; q < nact; ++q) {
        const auto j = static_cast<std::size_t>(act[static_cast<std::size_t>(q)] - 1);
        if (q > 0) {
          EXPECT_LT(act[static_cast<std::size_t>(q - 1)], act[static_cast<std::size_t>(q)]);
        }
        listed[j] = true;
        EXPECT_EQ(std::memcmp(&d[j], &ds[j], sizeof(double)), 0) << x << " slot " << j + 1;
      }
      for (int p = 0; p < mfit; ++p) {
        if (!listed[static_cast<std::size_t>(p)]) {
          EXPECT_EQ(d[static_cast<std::size_t>(p)], 0.0) << x;
        }
      }
    }
  }
}

double background(int ch) {
  const double x = ch - kIlo;
  return 150.0 + 0.4 * x - 0.0008 * x * x;
}

double truth(Shape s, int ch, const std::vector<Peak>& peaks) {
  double y = background(ch);
  for (const Peak& p : peaks) y += p.value(s, ch);
  return y;
}

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
  void fill(Shape s, const std::vector<Peak>& truep, Random* noise) {
    for (int ch = kIlo; ch <= kIhi; ++ch) {
      const double mean = truth(s, ch, truep);
      const int count = noise ? noise->poisson(mean) : static_cast<int>(std::lround(mean));
      spec[static_cast<std::size_t>(ch)] = static_cast<double>(static_cast<float>(count));
    }
  }

  // Held widths are given exactly (a skew pair as FWHM and low-side FWHM);
  // free ones start from the high side's.
  void run(const Row& f, const std::vector<Peak>& truep) {
    for (std::size_t i = 0; i < truep.size(); ++i) {
      pos[i] = std::round(truep[i].centroid) - 2.0;  // the search moves it to the top
      fwhmin[i] = truep[i].fwhm;
    }
    for (std::size_t i = truep.size(); i < 30; ++i) fwhmin[i] = fwhmin[truep.size() - 1];
    k = tavrick::KorvelArgs{spec.data(),
                            tavrick::kMaxCh,
                            kIlo,
                            kIhi,
                            2,
                            3,
                            pos,
                            fwhmin,
                            fwhmin,
                            fwhmin[0],
                            truep[0].fwlo,
                            10,
                            f.idiffwd,
                            f.iskew,
                            f.ifixwd,
                            f.ifixcn,
                            f.ilor,
                            0.0,
                            fit.data(),
                            peaks.data(),
                            bkgrd.data()};
    std::FILE* out = std::fopen("/dev/null", "w");
    tavrick::korvel(k, r, *w, out);
    std::fclose(out);
  }
};

void expect_rel(double got, double want, double rel, const std::string& what) {
  EXPECT_LE(std::abs(got - want), rel * std::abs(want))
      << what << ": got " << got << " want " << want;
}

// The true peaks of a shape: a skew peak falls off faster on its low side.
std::vector<Peak> peaksOf(Shape s, double h1, double h2) {
  const double lo = s == Shape::skew ? 4.5 : 6.0;
  return {{180.0, h1, 6.0, lo}, {300.0, h2, 6.0, lo}};
}

TEST(Variants, NoiseFreePeaksRecoveredByEveryVariant) {
  // Tall peaks: rounding the counts to integers then moves the results by
  // well under a part per million. Centroids on whole channels, so the
  // variants that hold centroids hold them at the truth.
  for (const Row& f : kRows) {
    const std::vector<Peak> truep = peaksOf(f.shape, 1.0e7, 6.0e6);
    Fit fit;
    fit.fill(f.shape, truep, nullptr);
    fit.run(f, truep);
    for (std::size_t i = 0; i < truep.size(); ++i) {
      const std::string what = std::string(f.name) + " peak " + std::to_string(i + 1);
      expect_rel(fit.r.cenfit[i], truep[i].centroid, 1e-6, what + " centroid");
      expect_rel(fit.r.arefit[i], truep[i].area(f.shape), 1e-6, what + " area");
      expect_rel(fit.r.fwhfit[i], truep[i].fwhm, 1e-6, what + " fwhm");
      if (f.shape == Shape::skew) {
        expect_rel(fit.r.fwlfit[i], truep[i].fwlo, 1e-6, what + " low");
      }
    }
  }
}

TEST(Recovery, NoiseFreeOffChannelCentroidsWhenFree) {
  const std::vector<Peak> truep = {{180.3, 1.0e7, 5.5}, {300.6, 6.0e6, 6.5}};
  Fit fit;
  fit.fill(Shape::gauss, truep, nullptr);
  fit.run(kRows[0], truep);  // sym: every width and centroid free
  for (std::size_t i = 0; i < truep.size(); ++i) {
    expect_rel(fit.r.cenfit[i], truep[i].centroid, 1e-6, "centroid");
    expect_rel(fit.r.arefit[i], truep[i].area(Shape::gauss), 1e-6, "area");
    expect_rel(fit.r.fwhfit[i], truep[i].fwhm, 1e-6, "fwhm");
  }
}

TEST(Variants, PoissonNoiseWithinThreeErrorsAndSoundChiSquare) {
  for (const Row& f : kRows) {
    const std::vector<Peak> truep = peaksOf(f.shape, 2500.0, 1200.0);
    Random rng{20240611};
    Fit fit;
    fit.fill(f.shape, truep, &rng);
    fit.run(f, truep);
    const int nchan = kIhi - kIlo + 1;
    const double perdof = nchan * fit.r.chisq / (nchan - tavrick::freeParameters(f.v, 2, 3));
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
      EXPECT_LE(std::abs(r.arefit[i] - truep[i].area(f.shape)), 3 * r.areerr[i]) << what;
    }
  }
}

}  // namespace
