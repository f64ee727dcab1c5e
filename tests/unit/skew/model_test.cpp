// Model functions, start values and result tables of the skew-Gaussian
// variants.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/skew/skew.h"
#include "unit/skew/harness.h"

namespace {

using testfit::at;
using testfit::Fit;
using testfit::lines;

constexpr double kFwhm = 1.665109223;

// ---- model functions ----

struct Eval {
  double y = 0.0;
  std::array<double, tavrick::kMaxPar> d{};
};

Eval fskewAt(double x, std::vector<double> a) {
  a.resize(tavrick::kMaxPar, 0.0);
  Eval e;
  tavrick::fskew(x, a.data(), e.y, e.d.data(), 4, 1, 0);
  return e;
}

TEST(Fskew, ValuesOnBothFlanks) {
  const std::vector<double> a{10.0, 100.0, 3.0, 1.0};  // c, h, Whi, Wlo
  EXPECT_NEAR(fskewAt(13.0, a).y, 36.78794412, 1e-8);
  EXPECT_NEAR(fskewAt(9.0, a).y, 36.78794412, 1e-8);
  EXPECT_NEAR(fskewAt(7.0, a).y, 0.01234098, 1e-8);
  // Ten widths out on either side, |b| = 10 exactly: nothing.
  EXPECT_EQ(fskewAt(40.0, a).y, 0.0);
  EXPECT_EQ(fskewAt(0.0, a).y, 0.0);
}

TEST(Fskew, DerivativesOnTheHighFlank) {
  const Eval e = fskewAt(13.0, {10.0, 100.0, 3.0, 1.0});
  EXPECT_NEAR(e.d[0], 24.52529608, 1e-8);
  EXPECT_NEAR(e.d[1], 0.3678794412, 1e-10);
  EXPECT_NEAR(e.d[2], 24.52529608, 1e-8);
  EXPECT_EQ(e.d[3], 0.0);
}

TEST(Fskew, CentroidChannelUsesTheHighSide) {
  const Eval e = fskewAt(10.0, {10.0, 100.0, 3.0, 1.0});
  EXPECT_EQ(e.y, 100.0);
  EXPECT_EQ(e.d[1], 1.0);
  EXPECT_EQ(e.d[2], 0.0);
  EXPECT_EQ(e.d[3], 0.0);
}

TEST(Fskew, BeyondTheCutOffEveryDerivativeIsZero) {
  for (double x : {0.0, 40.0, 55.0}) {
    const Eval e = fskewAt(x, {10.0, 100.0, 3.0, 1.0});
    for (int p = 0; p < 4; ++p) EXPECT_EQ(e.d[at(p)], 0.0) << x;
  }
}

TEST(Fskew, NegativeWidthGivesTheSameValue) {
  for (double x : {4.0, 9.5, 12.0, 17.0})
    EXPECT_EQ(fskewAt(x, {10.0, 100.0, -3.0, -1.0}).y, fskewAt(x, {10.0, 100.0, 3.0, 1.0}).y);
}

// Two peaks, one seen on each flank at most points, on a cubic background.
const std::vector<double> kXs = {0.0, 4.0, 8.5, 11.0, 13.2, 16.0, 19.5, 24.0, 35.0};

TEST(SkewModels, AllFourLayoutsGiveTheSameCurve) {
  const std::vector<double> back{20.0, 0.4, -0.01};
  std::vector<double> sk{10.3, 500.0, 3.2, 1.4, 18.6, 300.0, 3.2, 1.4, 20.0, 0.4, -0.01};
  std::vector<double> sf{10.3, 500.0, 18.6, 300.0, 3.2, 1.4, 20.0, 0.4, -0.01};
  std::vector<double> vc{10.3, 500.0, 18.6, 300.0, 20.0, 0.4, -0.01, 3.2, 1.4};
  std::vector<double> fc{500.0, 300.0, 20.0, 0.4, -0.01, 10.3, 18.6, 3.2, 1.4};
  for (auto* v : {&sk, &sf, &vc, &fc}) v->resize(tavrick::kMaxPar, 0.0);
  for (double x : kXs) {
    std::array<double, tavrick::kMaxPar> d{};
    double y1 = 0, y2 = 0, y3 = 0, y4 = 0;
    tavrick::fskew(x, sk.data(), y1, d.data(), 11, 2, 3);
    tavrick::fskewf(x, sf.data(), y2, d.data(), 9, 2, 3);
    tavrick::fgsfwvc(x, vc.data(), y3, d.data(), 9, 2, 3);
    tavrick::fgsfwfc(x, fc.data(), y4, d.data(), 9, 2, 3);
    EXPECT_EQ(y1, y2) << x;
    EXPECT_EQ(y1, y3) << x;
    EXPECT_EQ(y1, y4) << x;
  }
}

// ---- start values ----
// Counts only at the window's ends: every start height is 0, so the centroid
// and width columns of the curvature matrix vanish, the fit stops at its
// set-up and the parameter vector still holds the start values.

void endsOnly(Fit& f) {
  f.spec[at(f.ilo)] = 40.0;
  f.spec[at(f.ihi)] = 13.0;
}

TEST(Gskew, StartValuesAndSixBackgroundSlots) {
  Fit f;
  endsOnly(f);
  f.a.fill(99.0);
  f.run(tavrick::gskew, {130.0, 160.4}, {5.0, 7.0}, 0.0, 0.0, 2, 1);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  EXPECT_EQ(f.a[0], 30.0);
  EXPECT_EQ(f.a[1], 0.0);
  EXPECT_EQ(f.a[2], 5.0 / kFwhm);
  EXPECT_EQ(f.a[3], 5.0 / kFwhm);
  EXPECT_EQ(f.a[4], 160.4 - 100);
  EXPECT_EQ(f.a[6], 7.0 / kFwhm);
  EXPECT_EQ(f.a[7], 7.0 / kFwhm);
  EXPECT_EQ(f.a[8], 40.0);
  EXPECT_EQ(f.a[9], (13.0 - 40.0) / 99.0);
  for (int p = 10; p < 14; ++p) EXPECT_EQ(f.a[at(p)], 0.0);
  EXPECT_EQ(f.a[14], 99.0);
}

TEST(Gskewf, StartValuesTakeTheCommonWidth) {
  Fit f;
  endsOnly(f);
  f.a.fill(99.0);
  f.run(tavrick::gskewf, {130.0, 160.0}, {5.0, 7.0}, 6.0, 2.0, 2, 2);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  EXPECT_EQ(f.a[2], 60.0);
  EXPECT_EQ(f.a[4], 6.0 / kFwhm);
  EXPECT_EQ(f.a[5], 6.0 / kFwhm);
  EXPECT_EQ(f.a[6], 40.0);
  for (int p = 8; p < 12; ++p) EXPECT_EQ(f.a[at(p)], 0.0);
  EXPECT_EQ(f.a[12], 99.0);
}

TEST(Gsfwvc, WidthsAreWrittenOverTheBackgroundZeros) {
  Fit f;
  endsOnly(f);
  f.a.fill(99.0);
  f.run(tavrick::gsfwvc, {130.0, 160.0}, {5.0, 7.0}, 6.0, 2.0, 2, 2);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  // c1 h1 c2 h2 b1 b2 WHI WLO, then the rest of the six background slots.
  EXPECT_EQ(f.a[4], 40.0);
  EXPECT_EQ(f.a[6], 6.0 / kFwhm);
  EXPECT_EQ(f.a[7], 2.0 / kFwhm);
  EXPECT_EQ(f.a[8], 0.0);
  EXPECT_EQ(f.a[9], 0.0);
  EXPECT_EQ(f.a[10], 99.0);
}

TEST(Gskew, OneChannelWindowStartsWithAFlatBackground) {
  Fit f;
  f.ihi = f.ilo;
  f.spec[at(f.ilo)] = 40.0;
  f.run(tavrick::gskew, {150.0}, {5.0}, 0.0, 0.0, 1, 2);
  ASSERT_NE(f.log.find("Fit failed"), std::string::npos) << f.log;
  EXPECT_EQ(f.a[4], 40.0);
  EXPECT_EQ(f.a[5], 0.0);
}

// ---- result tables ----

// One peak c = 10, h = 100, Whi = 3, Wlo = 1 in variant skew, window from 100.
void onePeak(Fit& f, double whi) {
  f.a.fill(0.0);
  f.a[0] = 10.0;
  f.a[1] = 100.0;
  f.a[2] = whi;
  f.a[3] = 1.0;
}

TEST(Xskew, AreaAndWidthsOfOnePeak) {
  for (double whi : {3.0, -3.0}) {
    Fit f;
    onePeak(f, whi);
    f.report(tavrick::xskew, 1, 0);
    EXPECT_NEAR(f.res.arefit[0], 354.4907702, 1e-7);
    EXPECT_NEAR(f.res.fwhfit[0], 4.995327669, 1e-9);
    EXPECT_NEAR(f.res.fwlfit[0], 1.665109223, 1e-9);
    EXPECT_EQ(f.res.widfit[0], 3.0);
    EXPECT_EQ(f.res.wlofit[0], 1.0);
    EXPECT_EQ(f.res.cenfit[0], 110.0);
    EXPECT_EQ(f.res.hgtfit[0], 100.0);
  }
}

TEST(Xskew, TableRowsWithErrors) {
  Fit f;
  onePeak(f, 3.0);
  f.cov(1, 1) = 0.04;
  f.cov(2, 2) = 4.0;
  f.cov(3, 3) = 0.01;
  f.cov(4, 4) = 0.04;
  f.cov(2, 3) = f.cov(3, 2) = 0.1;
  f.cov(2, 4) = f.cov(4, 2) = -0.05;
  f.cov(3, 4) = f.cov(4, 3) = 0.002;
  const auto l = lines(f.report(tavrick::xskew, 1, 0));
  // Three terms: one per flank and 2 h C(Whi, Wlo).
  EXPECT_NEAR(f.res.areerr[0], 21.533673066137375, 1e-12);
  EXPECT_NEAR(f.res.fwherr[0], 0.1 * kFwhm, 1e-15);
  EXPECT_NEAR(f.res.fwlerr[0], 0.2 * kFwhm, 1e-15);
  EXPECT_NEAR(f.res.wloerr[0], 0.2, 1e-15);
  EXPECT_NEAR(f.res.cenerr[0], 0.2, 1e-15);
  EXPECT_EQ(f.res.hgterr[0], 2.0);
  ASSERT_EQ(l.size(), 6u);
  EXPECT_EQ(l[0], "             Centroid               Area                  Fwhm");
  EXPECT_EQ(l[1], std::string(58, ' ') + "Fwhmhi");
  EXPECT_EQ(l[2], std::string(58, ' ') + "Fwhmlo");
  EXPECT_EQ(l[3], "  1     110.00 +/-    0.20     354.49 +/-   21.53       3.33 +/-    0.19");
  EXPECT_EQ(l[4], std::string(51, ' ') + "     5.00 +/-    0.17");
  EXPECT_EQ(l[5], std::string(51, ' ') + "     1.67 +/-    0.33");
}

TEST(Xskew, CurvesUseAOneSidedCutOff) {
  Fit f;
  f.a.fill(0.0);
  f.a[0] = 50.0;
  f.a[1] = 100.0;
  f.a[2] = 1.0;
  f.a[3] = 1.0;
  f.report(tavrick::xskew, 1, 0);
  // Twelve widths below the centroid the term is still evaluated ...
  EXPECT_GT(f.peaks[138], 0.0);
  EXPECT_EQ(f.fit[138], 100.0 * std::exp(-144.0));
  // ... while from ten widths above it the curve is 0.
  EXPECT_EQ(f.fit[160], 0.0);
  EXPECT_EQ(f.fit[150], 100.0);
  EXPECT_NEAR(f.fit[151], 100.0 * std::exp(-1.0), 1e-12);
}

TEST(Xskew, BackgroundCurveAndArea) {
  Fit f;
  f.a.fill(0.0);
  f.a[0] = 50.0;
  f.a[1] = 100.0;
  f.a[2] = 2.0;
  f.a[3] = 1.0;
  f.a[4] = 10.0;  // b1
  f.a[5] = 0.5;   // b2
  f.cov(5, 5) = 4.0;
  f.cov(6, 6) = 1e-4;
  f.cov(5, 6) = f.cov(6, 5) = -0.01;
  const auto l = lines(f.report(tavrick::xskew, 1, 2));
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(f.bkgrd[120], 20.0);
  EXPECT_EQ(f.peaks[120], f.fit[120] - f.bkgrd[120]);
  EXPECT_EQ(f.fit[150], 35.0 + 100.0);
  EXPECT_EQ(f.res.bakfit[0], 10.0);
  EXPECT_EQ(f.res.bakerr[1], 0.01);
  // Area from x = 0 to 99: 10 * 99 + 0.5 * 99^2 / 2.
  EXPECT_DOUBLE_EQ(f.res.bakarea, 990.0 + 2450.25);
  EXPECT_DOUBLE_EQ(f.res.bakaerr, std::sqrt(4.0 * 99.0 + 2.0 * -0.01 * 99.0 * 99.0 / 2.0 +
                                            1e-4 * 99.0 * 99.0 * 99.0 / 3.0));
  EXPECT_EQ(l[6].size(), 47u);
}

TEST(SkewTables, LineLengths) {
  struct Case {
    void (*x)(const tavrick::ResultArgs&, tavrick::FitResults&, std::FILE*);
    std::size_t head, row, fwhm;
  };
  for (const Case& c : {Case{tavrick::xskew, 62, 72, 72}, Case{tavrick::xskewf, 62, 72, 72},
                        Case{tavrick::xsfwvc, 63, 72, 73}, Case{tavrick::xsfwfc, 63, 72, 73}}) {
    Fit f;
    // Any values: every layout reads its slots from these.
    for (int p = 0; p < 12; ++p) f.a[at(p)] = 1.0 + p;
    for (int p = 1; p <= 12; ++p) f.cov(p, p) = 0.01;
    const auto l = lines(f.report(c.x, 2, 2));
    ASSERT_EQ(l.size(), 10u);
    EXPECT_EQ(l[0].size(), c.head) << l[0];
    EXPECT_EQ(l[1].size(), 64u);
    EXPECT_EQ(l[2].size(), 64u);
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(l[at(3 + 3 * k)].size(), c.row) << l[at(3 + 3 * k)];
      EXPECT_EQ(l[at(4 + 3 * k)].size(), c.fwhm) << l[at(4 + 3 * k)];
      EXPECT_EQ(l[at(5 + 3 * k)].size(), c.fwhm) << l[at(5 + 3 * k)];
    }
    EXPECT_EQ(l[9].size(), 47u);
    EXPECT_EQ(l[9].substr(0, 18), "   Background Area");
  }
}

TEST(Xsfwfc, HeldWidthsAndCentroidsReportNoErrors) {
  Fit f;
  // h1, b1, c1, WHI, WLO: N = 1, M = 1.
  f.a[0] = 100.0;
  f.a[1] = 5.0;
  f.a[2] = 10.0;
  f.a[3] = 3.0;
  f.a[4] = 1.0;
  f.cov(1, 1) = 4.0;
  f.cov(2, 2) = 0.25;
  // Held slots carry junk the routine must not read.
  f.cov(3, 3) = f.cov(4, 4) = f.cov(5, 5) = 1e6;
  const auto l = lines(f.report(tavrick::xsfwfc, 1, 1));
  EXPECT_EQ(f.res.cenfit[0], 110.0);
  EXPECT_EQ(f.res.cenerr[0], 0.0);
  EXPECT_EQ(f.res.fwherr[0], 0.0);
  EXPECT_EQ(f.res.fwlerr[0], 0.0);
  EXPECT_EQ(f.res.wloerr[0], 0.0);
  EXPECT_NEAR(f.res.areerr[0], 1.772453851 * 2.0 * 2.0, 1e-12);
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l[3], "  1     110.00+/-     0.00     354.49+/-     7.09       3.33+/-     0.00");
  EXPECT_EQ(l[4], std::string(51, ' ') + "      5.00+/-     0.00");
  EXPECT_EQ(l[5], std::string(51, ' ') + "      1.67+/-     0.00");
  EXPECT_EQ(f.res.bakfit[0], 5.0);
  EXPECT_EQ(f.res.bakerr[0], 0.5);
}

TEST(Xsfwvc, CentroidErrorIsKept) {
  Fit f;
  // c1, h1, b1, WHI, WLO: N = 1, M = 1.
  f.a = {};
  f.a[0] = 10.0;
  f.a[1] = 100.0;
  f.a[2] = 5.0;
  f.a[3] = 3.0;
  f.a[4] = 1.0;
  f.cov(1, 1) = 0.09;
  f.cov(2, 2) = 4.0;
  f.report(tavrick::xsfwvc, 1, 1);
  EXPECT_NEAR(f.res.cenerr[0], 0.3, 1e-15);
  EXPECT_NEAR(f.res.arefit[0], 354.4907702, 1e-7);
  EXPECT_EQ(f.res.fwhfit[0], 3.0 * kFwhm);
}

TEST(XskewNoBackground, PrintsNoBackgroundLine) {
  Fit f;
  onePeak(f, 3.0);
  f.res.bakarea = 7.0;
  const auto l = lines(f.report(tavrick::xskew, 1, 0));
  EXPECT_EQ(l.size(), 6u);
  EXPECT_EQ(f.res.bakarea, 0.0);
  EXPECT_EQ(f.res.bakaerr, 0.0);
}

}  // namespace
