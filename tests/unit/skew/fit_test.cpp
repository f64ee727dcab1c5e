// Whole fits through the start routines of the skew-Gaussian variants:
// noise-free peaks come back exactly, held values are untouched, noisy peaks
// land within their errors, and the largest request fits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/skew/skew.h"
#include "unit/skew/harness.h"

namespace {

using testfit::at;
using testfit::expectRel;
using testfit::Fit;

constexpr double kFwhm = 1.665109223;
constexpr double kSqrtPi = 1.772453851;

// Skew peaks on a background polynomial, x = channel - ilo.
struct Peak {
  double pos, height, whi, wlo;  // pos in channels, widths as 1/e half-widths
};

struct Synthetic {
  std::vector<Peak> peaks;
  std::vector<double> back;

  double at_x(double x, int ilo) const {
    double y = 0.0;
    for (const Peak& p : peaks) {
      const double d = x - (p.pos - ilo);
      const double b = d < 0 ? d / p.wlo : d / p.whi;
      y += p.height * std::exp(-b * b);
    }
    for (std::size_t j = 0; j < back.size(); ++j) y += back[j] * std::pow(x, static_cast<int>(j));
    return y;
  }
  void fill(Fit& f) const {
    for (int ch = f.ilo; ch <= f.ihi; ++ch) f.spec[at(ch)] = at_x(ch - f.ilo, f.ilo);
  }
  double area(std::size_t k) const {
    return peaks[k].height * kSqrtPi * (peaks[k].whi + peaks[k].wlo) / 2.0;
  }
};

const Synthetic kTwo{{{140.3, 1000.0, 3.3, 1.5}, {162.7, 500.0, 2.6, 4.1}}, {20.0, 0.1, -5e-4}};

bool failed(const Fit& f) { return f.log.find("Fit failed") != std::string::npos; }

TEST(Gskew, RecoversBothWidthsOfNoiseFreePeaks) {
  Fit f;
  kTwo.fill(f);
  f.run(tavrick::gskew, {141.0, 162.0}, {3.8, 5.5}, 0.0, 0.0, 2, 3);
  ASSERT_FALSE(failed(f)) << f.log;
  f.report(tavrick::xskew, 2, 3);
  for (std::size_t k = 0; k < 2; ++k) {
    const Peak& p = kTwo.peaks[k];
    expectRel(f.res.cenfit[k], p.pos, 1e-6, "centroid");
    expectRel(f.res.hgtfit[k], p.height, 1e-6, "height");
    expectRel(f.res.widfit[k], p.whi, 1e-6, "high width");
    expectRel(f.res.wlofit[k], p.wlo, 1e-6, "low width");
    expectRel(f.res.fwhfit[k], p.whi * kFwhm, 1e-6, "high FWHM");
    expectRel(f.res.fwlfit[k], p.wlo * kFwhm, 1e-6, "low FWHM");
    expectRel(f.res.arefit[k], kTwo.area(k), 1e-6, "area");
  }
  for (std::size_t j = 0; j < 3; ++j) expectRel(f.res.bakfit[j], kTwo.back[j], 1e-6, "background");
  EXPECT_LT(f.chisq, 1e-10);
  for (int ch = f.ilo; ch <= f.ihi; ++ch) EXPECT_NEAR(f.fit[at(ch)], f.spec[at(ch)], 1e-5) << ch;
}

TEST(Gskewf, RecoversTheCommonWidths) {
  Synthetic syn = kTwo;
  for (Peak& p : syn.peaks) p.whi = 3.3, p.wlo = 1.5;
  Fit f;
  syn.fill(f);
  f.run(tavrick::gskewf, {141.0, 162.0}, {}, 5.0, 0.0, 2, 3);
  ASSERT_FALSE(failed(f)) << f.log;
  f.report(tavrick::xskewf, 2, 3);
  for (std::size_t k = 0; k < 2; ++k) {
    expectRel(f.res.cenfit[k], syn.peaks[k].pos, 1e-6, "centroid");
    expectRel(f.res.arefit[k], syn.area(k), 1e-6, "area");
    expectRel(f.res.widfit[k], 3.3, 1e-6, "high width");
    expectRel(f.res.wlofit[k], 1.5, 1e-6, "low width");
  }
}

TEST(Gsfwvc, HeldWidthsComeBackExactly) {
  Synthetic syn = kTwo;
  for (Peak& p : syn.peaks) p.whi = 5.5 / kFwhm, p.wlo = 2.5 / kFwhm;
  Fit f;
  syn.fill(f);
  // Two background coefficients: the widths stand in slots that also
  // received background zeros.
  syn.back.resize(2);
  syn.fill(f);
  f.run(tavrick::gsfwvc, {141.0, 162.0}, {}, 5.5, 2.5, 2, 2);
  ASSERT_FALSE(failed(f)) << f.log;
  EXPECT_EQ(f.a[6], 5.5 / kFwhm);
  EXPECT_EQ(f.a[7], 2.5 / kFwhm);
  f.report(tavrick::xsfwvc, 2, 2);
  for (std::size_t k = 0; k < 2; ++k) {
    expectRel(f.res.cenfit[k], syn.peaks[k].pos, 1e-6, "centroid");
    expectRel(f.res.hgtfit[k], syn.peaks[k].height, 1e-6, "height");
    expectRel(f.res.arefit[k], syn.area(k), 1e-6, "area");
    EXPECT_EQ(f.res.fwherr[k], 0.0);
  }
}

TEST(Gsfwfc, HeldCentroidsAndWidthsComeBackExactly) {
  Synthetic syn = kTwo;
  for (Peak& p : syn.peaks) p.whi = 5.5 / kFwhm, p.wlo = 2.5 / kFwhm;
  syn.back.resize(1);
  Fit f;
  syn.fill(f);
  f.run(tavrick::gsfwfc, {140.3, 162.7}, {}, 5.5, 2.5, 2, 1);
  ASSERT_FALSE(failed(f)) << f.log;
  // h1 h2 b1 c1 c2 WHI WLO
  EXPECT_EQ(f.a[3], 140.3 - 100);
  EXPECT_EQ(f.a[4], 162.7 - 100);
  EXPECT_EQ(f.a[5], 5.5 / kFwhm);
  EXPECT_EQ(f.a[6], 2.5 / kFwhm);
  expectRel(f.a[0], 1000.0, 1e-6, "h1");
  expectRel(f.a[1], 500.0, 1e-6, "h2");
  expectRel(f.a[2], 20.0, 1e-6, "b1");
  f.report(tavrick::xsfwfc, 2, 1);
  EXPECT_EQ(f.res.cenfit[1], 162.7 - 100 + 100);
  EXPECT_EQ(f.res.cenerr[1], 0.0);
}

// 30 peaks with their own widths and six background coefficients: 126
// parameters, the most the command can ask for.
TEST(Gskew, ThirtyPeaksWithSixBackgroundCoefficientsFit) {
  Synthetic syn;
  for (int k = 0; k < 30; ++k)
    syn.peaks.push_back({110.4 + 25.0 * k, 400.0 + 20.0 * k, 2.0 + 0.02 * k, 1.4 + 0.01 * k});
  // A gentle quintic over 0 .. 799, scaled so no term dominates.
  syn.back = {50.0, 0.05, -1e-4, 2e-7, -1e-10, 1e-14};
  Fit f;
  f.ihi = 899;
  syn.fill(f);
  std::vector<double> pos, fwhm;
  for (const Peak& p : syn.peaks) {
    pos.push_back(std::round(p.pos));
    fwhm.push_back(3.0);
  }
  f.run(tavrick::gskew, pos, fwhm, 0.0, 0.0, 30, 6);
  ASSERT_FALSE(failed(f)) << f.log;
  f.report(tavrick::xskew, 30, 6);
  for (std::size_t k = 0; k < 30; ++k) {
    expectRel(f.res.cenfit[k], syn.peaks[k].pos, 1e-6, "centroid " + std::to_string(k));
    expectRel(f.res.arefit[k], syn.area(k), 1e-6, "area " + std::to_string(k));
  }
  for (int p = 1; p <= 126; ++p) EXPECT_GT(f.cov(p, p), 0.0) << p;
}

}  // namespace
