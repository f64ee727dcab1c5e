// Model functions, start values and result tables of the Lorentzian
// variants.
#include "engine/lorentz/lorentz.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "unit/skew/harness.h"

namespace {

using testfit::at;
using testfit::Fit;
using testfit::lines;

// ---- model functions ----

const std::vector<double> kXs = {0.0, 5.0, 9.7, 12.0, 14.5, 18.0, 25.0, 60.0};

TEST(Flor, HeightAtTheCentroidAndHalfAtTheHalfWidth) {
  std::vector<double> a{10.0, 200.0, 3.0};
  a.resize(tavrick::kMaxPar, 0.0);
  std::array<double, tavrick::kMaxPar> d{};
  double y = 0.0;
  tavrick::flor(10.0, a.data(), y, d.data(), 3, 1, 0);
  EXPECT_EQ(y, 200.0);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[1], 1.0);
  tavrick::flor(13.0, a.data(), y, d.data(), 3, 1, 0);
  EXPECT_EQ(y, 100.0);
}

TEST(Flor, ZeroWidthOnAPointIsGuarded) {
  std::vector<double> a{10.0, 200.0, 0.0};
  a.resize(tavrick::kMaxPar, 0.0);
  std::array<double, tavrick::kMaxPar> d{};
  double y = -1.0;
  tavrick::flor(10.0, a.data(), y, d.data(), 3, 1, 0);
  EXPECT_EQ(y, 0.0);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[1], 0.0);
  EXPECT_FALSE(std::isnan(d[2]));
}

TEST(Florf, MatchesFlorWithEqualWidths) {
  std::vector<double> one{10.3, 500.0, 2.5, 15.8, 300.0, 2.5, 20.0, 0.4};
  std::vector<double> common{10.3, 500.0, 15.8, 300.0, 2.5, 20.0, 0.4};
  one.resize(tavrick::kMaxPar, 0.0);
  common.resize(tavrick::kMaxPar, 0.0);
  for (double x : kXs) {
    std::array<double, tavrick::kMaxPar> d1{}, d2{};
    double y1 = 0.0, y2 = 0.0;
    tavrick::flor(x, one.data(), y1, d1.data(), 8, 2, 2);
    tavrick::florf(x, common.data(), y2, d2.data(), 7, 2, 2);
    EXPECT_EQ(y1, y2) << x;
    EXPECT_EQ(d1[0], d2[0]) << x;
    EXPECT_EQ(d1[4], d2[3]) << x;
    EXPECT_NEAR(d2[4], d1[2] + d1[5], 1e-12 * std::abs(d2[4]) + 1e-15) << x;
  }
}

// ---- start values ----
// Counts only at the window's ends: every start height is 0, so the fit
// stops at its set-up and the vector still holds the start values.

TEST(Glor, StartValuesAndSixBackgroundSlots) {
  Fit f;
  f.spec[100] = 40.0;
  f.spec[199] = 13.0;
  f.a.fill(99.0);
  f.run(tavrick::glor, {130.0, 160.0}, {5.0, 7.0}, 0.0, 0.0, 2, 1);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  EXPECT_EQ(f.a[0], 30.0);
  EXPECT_EQ(f.a[1], 0.0);
  EXPECT_EQ(f.a[2], 2.5);
  EXPECT_EQ(f.a[5], 3.5);
  EXPECT_EQ(f.a[6], 40.0);
  EXPECT_EQ(f.a[7], (13.0 - 40.0) / 99.0);
  for (int p = 8; p < 12; ++p) EXPECT_EQ(f.a[at(p)], 0.0);
  EXPECT_EQ(f.a[12], 99.0);
}

TEST(Glorf, CommonWidthTenStartsAtHalfWidthFive) {
  Fit f;
  f.spec[100] = 40.0;
  f.spec[199] = 13.0;
  f.a.fill(99.0);
  f.run(tavrick::glorf, {130.0, 160.0}, {5.0, 7.0}, 10.0, 0.0, 2, 2);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  EXPECT_EQ(f.a[4], 5.0);
  EXPECT_EQ(f.a[5], 40.0);
}

TEST(Glorf, StartHeightFromTheNearestChannel) {
  // Counts only in channel 100: 99.5 rounds up to it and the fit runs; 99.4
  // takes channel 99, starts with height 0 and stops at its set-up.
  for (double pos : {99.5, 99.4}) {
    Fit f;
    f.ilo = 50;
    f.ihi = 150;
    f.spec[100] = 70.0;
    f.run(tavrick::glorf, {pos}, {}, 4.0, 0.0, 1, 1);
    const bool stopped = f.log.find("Fit failed") != std::string::npos;
    if (pos == 99.5) {
      EXPECT_FALSE(stopped) << f.log;
    } else {
      EXPECT_TRUE(stopped) << f.log;
      EXPECT_EQ(f.a[1], 0.0);
      EXPECT_EQ(f.a[0], 99.4 - 50);
    }
  }
}

// ---- result tables ----

TEST(Xlor, NegativeWidthReportsAPositiveFwhm) {
  Fit f;
  f.a[0] = 10.0;
  f.a[1] = 100.0;
  f.a[2] = -3.0;
  f.cov(1, 1) = 0.04;
  f.cov(2, 2) = 4.0;
  f.cov(3, 3) = 0.01;
  const auto l = lines(f.report(tavrick::xlor, 1, 0));
  EXPECT_EQ(f.res.fwhfit[0], 6.0);
  EXPECT_EQ(f.res.widfit[0], 6.0);
  EXPECT_EQ(f.res.fwherr[0], 0.2);
  EXPECT_NEAR(f.res.arefit[0], 942.4777962, 1e-9);
  EXPECT_NEAR(f.res.areerr[0], 36.63695127734675, 1e-11);
  EXPECT_EQ(f.res.cenfit[0], 110.0);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0], "             Centroid               Height/Area           Fwhm ");
  EXPECT_EQ(l[1], "   1     110.00+/-    0.20     100.00+/-    2.00       6.00+/-    0.20");
  EXPECT_EQ(l[2], std::string(25, ' ') + "     942.48+/-   36.64");
  // The curve uses the signed width, which gives the same shape.
  EXPECT_EQ(f.fit[110], 100.0);
  EXPECT_EQ(f.fit[113], 50.0);
}

TEST(Xlor, AreaErrorTakesTheHeightWidthCovariance) {
  Fit f;
  f.a[0] = 10.0;
  f.a[1] = 100.0;
  f.a[2] = 3.0;
  f.cov(2, 2) = 4.0;
  f.cov(3, 3) = 0.01;
  f.cov(2, 3) = f.cov(3, 2) = 0.05;
  f.report(tavrick::xlor, 1, 0);
  EXPECT_NEAR(f.res.areerr[0], 40.47658991329041, 1e-11);
}

TEST(Xlor, TwoPeaksAndAConstantBackground) {
  Fit f;
  f.a = {};
  const std::vector<double> a{10.0, 100.0, 3.0, 40.0, 50.0, 2.0, 7.0};
  std::copy(a.begin(), a.end(), f.a.begin());
  f.cov(7, 7) = 0.09;
  const auto l = lines(f.report(tavrick::xlor, 2, 1));
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(f.res.bakarea, 7.0 * 99.0);
  EXPECT_EQ(f.res.bakaerr, std::sqrt(0.09 * 99.0));
  EXPECT_EQ(f.res.bakfit[0], 7.0);
  EXPECT_EQ(l[5].size(), 47u);
  EXPECT_EQ(l[5].substr(0, 18), "   Background Area");
  // fit starts at the background and adds the peaks; peaks is fit minus it.
  EXPECT_EQ(f.bkgrd[130], 7.0);
  EXPECT_EQ(f.peaks[130], f.fit[130] - 7.0);
  EXPECT_EQ(f.fit[140], (7.0 + 100.0 * 9.0 / (900.0 + 9.0)) + 50.0);
  EXPECT_EQ(l[1].size(), 70u);
  EXPECT_EQ(l[2].size(), 47u);
}

TEST(Xlorf, CommonWidthAndThreeColumnPeakNumber) {
  Fit f;
  // c1 h1 c2 h2 b, then one background coefficient.
  const std::vector<double> a{10.0, 100.0, 40.0, 50.0, -3.0, 7.0};
  std::copy(a.begin(), a.end(), f.a.begin());
  f.cov(2, 2) = 4.0;
  f.cov(4, 4) = 1.0;
  f.cov(5, 5) = 0.01;
  f.cov(2, 5) = f.cov(5, 2) = 0.05;
  f.cov(6, 6) = 0.09;
  const auto l = lines(f.report(tavrick::xlorf, 2, 1));
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(f.res.fwhfit[0], 6.0);
  EXPECT_EQ(f.res.fwhfit[1], 6.0);
  EXPECT_NEAR(f.res.areerr[0], 40.47658991329041, 1e-11);
  EXPECT_EQ(f.res.bakfit[0], 7.0);
  EXPECT_EQ(f.res.bakerr[0], 0.3);
  EXPECT_EQ(l[1].substr(0, 8), "  1     ");
  EXPECT_EQ(l[1].size(), 69u);
  EXPECT_EQ(l[3].substr(0, 8), "  2     ");
}

}  // namespace
