// Whole fits through the start routines of the symmetric-Gaussian variants on
// noise-free data, and the printed results tables.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/gauss/gauss.h"

namespace {

using tavrick::kMaxPar;
using tavrick::kNca;

constexpr double kFwhm = 1.665109223;
constexpr int kIlo = 100;
constexpr int kIhi = 199;

// Noise-free window 100 .. 199: two Gaussians on 20 + 0.1 x - 5e-4 x^2,
// x = channel - 100.
struct Synthetic {
  std::array<double, 2> pos{140.3, 162.7};
  std::array<double, 2> height{1000.0, 500.0};
  std::array<double, 2> fwhm{6.0, 8.0};
  std::array<double, 3> back{20.0, 0.1, -5e-4};

  double c(int k) const { return pos[static_cast<std::size_t>(k)] - kIlo; }
  double w(int k) const { return fwhm[static_cast<std::size_t>(k)] / kFwhm; }
  void fill(std::vector<double>& spec, int nbak) const {
    for (int ch = kIlo; ch <= kIhi; ++ch) {
      const double x = ch - kIlo;
      double y = 0.0;
      for (int k = 0; k < 2; ++k) {
        const double b = (x - c(k)) / w(k);
        y += height[static_cast<std::size_t>(k)] * std::exp(-b * b);
      }
      for (int j = 0; j < nbak; ++j) y += back[static_cast<std::size_t>(j)] * std::pow(x, j);
      spec[static_cast<std::size_t>(ch)] = y;
    }
  }
};

struct Fit {
  std::vector<double> spec = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(tavrick::kChanArray, 0.0);
  std::array<double, kMaxPar> a{};
  std::vector<double> covar = std::vector<double>(kNca * kNca, 0.0);
  double chisq = -1.0;
  int ihi = kIhi;
  std::unique_ptr<tavrick::FitWork> work = std::make_unique<tavrick::FitWork>();
  tavrick::FitResults res{};

  template <class G>
  void run(G start,
           const std::array<double, 2>& pos,
           const std::array<double, 2>& fwhmin,
           double width,
           int npeaks,
           int nbak) {
    const tavrick::StartArgs s{spec.data(), peaks.data(), bkgrd.data(), kIlo,          ihi,
                               npeaks,      nbak,         pos.data(),   fwhmin.data(), width,
                               0.0,         a.data(),     covar.data(), chisq};
    std::FILE* devnull = std::fopen("/dev/null", "w");
    start(s, *work, devnull);
    std::fclose(devnull);
  }

  template <class X>
  std::string report(X result, int npeaks, int nbak) {
    const tavrick::ResultArgs r{spec.data(),  65536,        kIlo,     ihi,
                                npeaks,       nbak,         0.0,      fit.data(),
                                peaks.data(), bkgrd.data(), a.data(), covar.data()};
    std::FILE* f = std::tmpfile();
    result(r, res, f);
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    return text;
  }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

void expectRel(double got, double want, const char* what) {
  EXPECT_NEAR(got, want, 1e-6 * std::abs(want)) << what;
}

const std::array<double, 2> kGuessPos{141.0, 162.0};
const std::array<double, 2> kGuessFwhm{7.0, 7.0};

TEST(Gsym, RecoversNoiseFreePeaks) {
  Synthetic syn;
  Fit f;
  syn.fill(f.spec, 3);
  f.run(tavrick::gsym, kGuessPos, kGuessFwhm, 7.0, 2, 3);
  for (int k = 0; k < 2; ++k) {
    expectRel(f.a[static_cast<std::size_t>(3 * k)], syn.c(k), "c");
    expectRel(f.a[static_cast<std::size_t>(3 * k + 1)], syn.height[static_cast<std::size_t>(k)],
              "h");
    expectRel(std::abs(f.a[static_cast<std::size_t>(3 * k + 2)]), syn.w(k), "w");
  }
  for (int j = 0; j < 3; ++j)
    EXPECT_NEAR(f.a[static_cast<std::size_t>(6 + j)], syn.back[static_cast<std::size_t>(j)],
                1e-6 * std::abs(syn.back[static_cast<std::size_t>(j)]));
  EXPECT_LT(f.chisq, 1e-10);
  f.report(tavrick::xsym, 2, 3);
  expectRel(f.res.cenfit[0], 140.3, "cenfit");
  expectRel(f.res.fwhfit[1], 8.0, "fwhfit");
  expectRel(f.res.arefit[0], 1000.0 * 1.772453851 * syn.w(0), "arefit");
  for (int ch = kIlo; ch <= kIhi; ++ch)
    EXPECT_NEAR(f.fit[static_cast<std::size_t>(ch)], f.spec[static_cast<std::size_t>(ch)], 1e-5);
}

TEST(Gsymf, RecoversNoiseFreePeaksWithCommonWidth) {
  Synthetic syn;
  syn.fwhm = {6.0, 6.0};
  Fit f;
  syn.fill(f.spec, 3);
  f.run(tavrick::gsymf, kGuessPos, kGuessFwhm, 7.0, 2, 3);
  for (int k = 0; k < 2; ++k) {
    expectRel(f.a[static_cast<std::size_t>(2 * k)], syn.c(k), "c");
    expectRel(f.a[static_cast<std::size_t>(2 * k + 1)], syn.height[static_cast<std::size_t>(k)],
              "h");
  }
  expectRel(std::abs(f.a[4]), syn.w(0), "w");
  expectRel(f.a[5], 20.0, "b1");
  expectRel(f.a[6], 0.1, "b2");
  expectRel(f.a[7], -5e-4, "b3");
}

TEST(Gsymfc, HeldCentroidsComeBackExactly) {
  Synthetic syn;
  syn.fwhm = {6.0, 6.0};
  Fit f;
  syn.fill(f.spec, 3);
  f.run(tavrick::gsymfc, syn.pos, kGuessFwhm, 7.0, 2, 3);
  // h1 h2 b1 b2 b3 w c1 c2
  expectRel(f.a[0], 1000.0, "h1");
  expectRel(f.a[1], 500.0, "h2");
  expectRel(f.a[2], 20.0, "b1");
  expectRel(f.a[4], -5e-4, "b3");
  expectRel(std::abs(f.a[5]), syn.w(0), "w");
  EXPECT_EQ(f.a[6], 140.3 - kIlo);
  EXPECT_EQ(f.a[7], 162.7 - kIlo);
  f.report(tavrick::xsymfc, 2, 3);
  EXPECT_EQ(f.res.cenerr[0], 0.0);
}

TEST(Gfwvc, HeldWidthComesBackExactly) {
  Synthetic syn;
  syn.fwhm = {6.0, 6.0};
  Fit f;
  syn.fill(f.spec, 3);
  f.run(tavrick::gfwvc, kGuessPos, kGuessFwhm, 6.0, 2, 3);
  // c1 h1 c2 h2 b1 b2 b3 w
  expectRel(f.a[0], syn.c(0), "c1");
  expectRel(f.a[1], 1000.0, "h1");
  expectRel(f.a[2], syn.c(1), "c2");
  expectRel(f.a[3], 500.0, "h2");
  expectRel(f.a[5], 0.1, "b2");
  EXPECT_EQ(f.a[7], 6.0 / kFwhm);
}

TEST(Gfwfc, HeldCentroidsAndWidthComeBackExactly) {
  Synthetic syn;
  syn.fwhm = {6.0, 6.0};
  Fit f;
  syn.fill(f.spec, 3);
  f.run(tavrick::gfwfc, syn.pos, kGuessFwhm, 6.0, 2, 3);
  // h1 h2 b1 b2 b3 c1 c2 w
  expectRel(f.a[0], 1000.0, "h1");
  expectRel(f.a[1], 500.0, "h2");
  expectRel(f.a[2], 20.0, "b1");
  expectRel(f.a[3], 0.1, "b2");
  expectRel(f.a[4], -5e-4, "b3");
  EXPECT_EQ(f.a[5], 140.3 - kIlo);
  EXPECT_EQ(f.a[6], 162.7 - kIlo);
  EXPECT_EQ(f.a[7], 6.0 / kFwhm);
}

TEST(Gsym, OneBackgroundCoefficientLeavesTheSlopeSlotAlone) {
  Synthetic syn;
  syn.back = {20.0, 0.0, 0.0};
  Fit f;
  syn.fill(f.spec, 1);
  f.a[7] = 123.0;  // slot 3N + 2, beyond ma = 3N + 1
  f.run(tavrick::gsym, kGuessPos, kGuessFwhm, 7.0, 2, 1);
  EXPECT_EQ(f.a[7], 123.0);
  expectRel(f.a[6], 20.0, "b1");
}

TEST(Gfwfc, NoBackgroundWritesNoBackgroundSlots) {
  Synthetic syn;
  syn.fwhm = {6.0, 6.0};
  Fit f;
  syn.fill(f.spec, 0);
  f.a[5] = 77.0;  // beyond ma = 2N + 1
  f.run(tavrick::gfwfc, syn.pos, kGuessFwhm, 6.0, 2, 0);
  // h1 h2 c1 c2 w
  EXPECT_EQ(f.a[2], 140.3 - kIlo);
  EXPECT_EQ(f.a[4], 6.0 / kFwhm);
  EXPECT_EQ(f.a[5], 77.0);
  expectRel(f.a[0], 1000.0, "h1");
}

// Printed tables.

TEST(ResultTable, LineLengths) {
  struct Case {
    void (*x)(const tavrick::ResultArgs&, tavrick::FitResults&, std::FILE*);
    std::size_t row;
  };
  for (const Case& c :
       {Case{tavrick::xsym, 70}, Case{tavrick::xsymf, 72}, Case{tavrick::xsymfc, 72},
        Case{tavrick::xfwvc, 72}, Case{tavrick::xfwfc, 72}}) {
    Fit f;
    f.a = {10.0, 100.0, 3.0, 40.0, 50.0, 4.0, 5.0, 0.1, 1e-3};
    for (int i = 1; i <= 9; ++i) f.covar[static_cast<std::size_t>((i - 1) * (kNca + 1))] = 0.01;
    const auto l = lines(f.report(c.x, 2, 2));
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "             Centroid               Area                  Fwhm ");
    EXPECT_EQ(l[0].size(), 63u);
    EXPECT_EQ(l[1].size(), c.row) << l[1];
    EXPECT_EQ(l[2].size(), c.row) << l[2];
    EXPECT_EQ(l[3].size(), 47u) << l[3];
    EXPECT_EQ(l[3].substr(0, 21), "   Background Area   ");
  }
}

TEST(ResultTable, SymRowLayout) {
  Fit f;
  f.a = {10.0, 100.0, 3.0};
  f.covar[0] = 0.04;             // sigma c = 0.2
  f.covar[kNca + 1] = 4.0;       // sigma h = 2
  f.covar[2 * kNca + 2] = 0.01;  // sigma w = 0.1
  const auto l = lines(f.report(tavrick::xsym, 1, 0));
  ASSERT_EQ(l.size(), 2u);  // no background: no background line
  // 110.00 +/- 0.20, area 531.74 +/- 20.67 (no covariance), FWHM 5.00 +/- 0.17
  EXPECT_EQ(l[1], "   1    110.00 +/-    0.20    531.74 +/-   20.67      5.00 +/-    0.17");
  EXPECT_EQ(f.res.bakarea, 0.0);
}

TEST(ResultTable, HeldRowLayoutHasNoBlankBeforeSeparator) {
  Fit f;
  f.a = {100.0, 7.0, 3.0};  // fwfc, N = 1, M = 0: h, c, w
  f.covar[0] = 4.0;
  const auto l = lines(f.report(tavrick::xfwfc, 1, 0));
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[1], "  1     107.00+/-     0.00     531.74+/-    10.63       5.00+/-     0.00");
}

TEST(ResultTable, SymAreaOfAMillionPrintsAsterisks) {
  Fit f;
  f.a = {10.0, 200000.0, 3.0};
  const auto l = lines(f.report(tavrick::xsym, 1, 0));
  ASSERT_EQ(l.size(), 2u);
  EXPECT_NE(l[1].find(" *********"), std::string::npos) << l[1];
}

}  // namespace
