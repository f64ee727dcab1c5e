// Model functions, shared start-value steps and result routines of the
// symmetric-Gaussian variants.
#include "engine/gauss/gauss.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/family.h"

// The counting operator new below is paired with a free-based delete; GCC
// cannot see that they match once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

// Counts every allocation of the test program, so a test can check that a
// routine allocates nothing.
void* operator new(std::size_t n) {
  ++g_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using tavrick::kMaxPar;
using tavrick::kNca;
using tavrick::Model;

constexpr double kFwhm = 1.665109223;

// Analytic derivatives of the first mfit slots against central differences
// at every x.
void checkDerivatives(Model f,
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
      const double h = 1e-6 * std::max(1.0, std::abs(a[static_cast<std::size_t>(p)]));
      std::vector<double> up = a, dn = a;
      up[static_cast<std::size_t>(p)] += h;
      dn[static_cast<std::size_t>(p)] -= h;
      double yu = 0.0, yd = 0.0;
      f(x, up.data(), yu, scratch.data(), ma, npeaks, nbak);
      f(x, dn.data(), yd, scratch.data(), ma, npeaks, nbak);
      const double num = (yu - yd) / (2.0 * h);
      const double an = dyda[static_cast<std::size_t>(p)];
      EXPECT_NEAR(an, num, 1e-5 * std::max(1.0, std::abs(an))) << "x = " << x << " slot " << p + 1;
    }
  }
}

// Two peaks near 10 and 18 on a fifth-order background.
const std::vector<double> kBack = {10.0, 0.5, -0.02, 1e-3, -1e-5, 1e-7};
const std::vector<double> kXs = {0.0, 7.5, 11.2, 16.0, 21.3, 30.0};

std::vector<double> join(std::initializer_list<std::vector<double>> parts) {
  std::vector<double> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

TEST(GaussModel, NegativeWidthAndNoBackground) {
  checkDerivatives(tavrick::fgaus, {10.2, 120.0, -3.1}, 3, 3, 1, 0, {6.0, 9.9, 12.5});
  checkDerivatives(tavrick::fgausf, {10.2, 120.0, -3.1}, 3, 3, 1, 0, {6.0, 9.9, 12.5});
}

TEST(GaussModel, BackgroundIsPolynomialOfOffset) {
  // A peak far away leaves the pure background: 10 + 0.5 x - 0.02 x^2 ...
  std::vector<double> a = join({{1000.0, 5.0, 1.0}, kBack});
  a.resize(kMaxPar, 0.0);
  std::array<double, kMaxPar> d{};
  double y = -1.0;
  tavrick::fgaus(0.0, a.data(), y, d.data(), 9, 1, 6);
  EXPECT_EQ(y, 10.0);
  EXPECT_EQ(d[3], 1.0);  // x^0 = 1 also at x = 0
  EXPECT_EQ(d[4], 0.0);
  tavrick::fgaus(2.0, a.data(), y, d.data(), 9, 1, 6);
  EXPECT_EQ(d[8], 32.0);
  EXPECT_DOUBLE_EQ(y, 10.0 + 1.0 - 0.08 + 8e-3 - 16e-5 + 32e-7);
}

TEST(GaussModel, CutoffAtTenWidthsIsStrict) {
  // Peak at 20 with width 1 and height 100, no background.
  std::array<double, kMaxPar> a{20.0, 100.0, 1.0};
  std::array<double, kMaxPar> d{};
  for (double x : {10.0, 30.0}) {
    double y = -1.0;
    d.fill(7.0);
    tavrick::fgaus(x, a.data(), y, d.data(), 3, 1, 0);
    EXPECT_EQ(y, 0.0) << x;
    EXPECT_EQ(d[0], 0.0);
    EXPECT_EQ(d[1], 0.0);
    EXPECT_EQ(d[2], 0.0);
  }
  const double x = std::nextafter(30.0, 0.0);
  double y = 0.0;
  tavrick::fgaus(x, a.data(), y, d.data(), 3, 1, 0);
  const double b = x - 20.0;
  EXPECT_EQ(y, 100.0 * std::exp(-(b * b)));
  EXPECT_GT(y, 0.0);
  EXPECT_GT(d[1], 0.0);

  // The common-width models use the same cut-off, also in the width sum.
  std::array<double, kMaxPar> af{20.0, 100.0, 1.0};
  d.fill(7.0);
  tavrick::fgausf(30.0, af.data(), y, d.data(), 3, 1, 0);
  EXPECT_EQ(y, 0.0);
  EXPECT_EQ(d[0], 0.0);
  EXPECT_EQ(d[2], 0.0);
}

TEST(GaussModel, AllocatesNothing) {
  std::vector<double> a = join({{10.2, 120.0, 3.1, 18.4, 80.0, 4.5}, kBack});
  a.resize(kMaxPar, 0.0);
  std::array<double, kMaxPar> d{};
  double y = 0.0;
  const long before = g_allocations.load();
  for (double x : kXs) {
    tavrick::fgaus(x, a.data(), y, d.data(), 12, 2, 6);
    tavrick::fgausf(x, a.data(), y, d.data(), 11, 2, 6);
    tavrick::fsymfc(x, a.data(), y, d.data(), 11, 2, 6);
    tavrick::fgfwvc(x, a.data(), y, d.data(), 11, 2, 6);
    tavrick::fgfwfc(x, a.data(), y, d.data(), 11, 2, 6);
    (void)tavrick::backgroundCurve(a.data() + 6, 6, static_cast<int>(x));
  }
  EXPECT_EQ(g_allocations.load(), before);
}

// Start-value steps shared with the other families.

TEST(StartValues, NearestChannelRoundsHalfAwayFromZero) {
  EXPECT_EQ(tavrick::nearestChannel(100.5), 101);
  EXPECT_EQ(tavrick::nearestChannel(100.49), 100);
  EXPECT_EQ(tavrick::nearestChannel(99.5), 100);
  EXPECT_EQ(tavrick::nearestChannel(0.0), 0);
  EXPECT_EQ(tavrick::nearestChannel(-0.5), -1);
  std::vector<double> spec(200, 0.0);
  spec[100] = 7.0;
  spec[101] = 9.0;
  EXPECT_EQ(tavrick::startHeight(spec.data(), 100.5), 9.0);
  EXPECT_EQ(tavrick::startHeight(spec.data(), 100.49), 7.0);
}

TEST(StartValues, BackgroundStartsFromEndsOfWindow) {
  std::vector<double> spec(50, 0.0);
  spec[10] = 4.0;
  spec[30] = 14.0;
  std::array<double, 8> b;
  b.fill(-9.0);
  tavrick::startBackground(spec.data(), 10, 30, 4, b.data());
  EXPECT_EQ(b[0], 4.0);
  EXPECT_EQ(b[1], 0.5);
  EXPECT_EQ(b[2], 0.0);
  EXPECT_EQ(b[3], 0.0);
  EXPECT_EQ(b[4], -9.0);

  // One coefficient: only b1 is written.
  b.fill(-9.0);
  tavrick::startBackground(spec.data(), 10, 30, 1, b.data());
  EXPECT_EQ(b[0], 4.0);
  EXPECT_EQ(b[1], -9.0);

  // None: nothing is written.
  b.fill(-9.0);
  tavrick::startBackground(spec.data(), 10, 30, 0, b.data());
  EXPECT_EQ(b[0], -9.0);
}

TEST(StartValues, OneChannelWindowHasZeroSlope) {
  std::vector<double> spec(50, 0.0);
  spec[12] = 5.0;
  std::array<double, 2> b{};
  tavrick::startBackground(spec.data(), 12, 12, 2, b.data());
  EXPECT_EQ(b[0], 5.0);
  EXPECT_EQ(b[1], 0.0);
}

struct Points {
  std::vector<double> spec = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(tavrick::kChanArray, 0.0);
  std::array<double, kMaxPar> a{};
  std::vector<double> covar = std::vector<double>(kNca * kNca, 0.0);
  double chisq = 0.0;
  std::unique_ptr<tavrick::FitWork> work = std::make_unique<tavrick::FitWork>();
};

TEST(FitPoints, WeightsAbscissaeAndList) {
  Points p;
  p.spec[20] = 0.0;
  p.spec[21] = 4.0;
  p.spec[22] = -5.0;
  p.spec[23] = 0.5;
  p.spec[24] = 2.25;
  int ihi = 24;
  const tavrick::StartArgs s{
      p.spec.data(), p.peaks.data(), p.bkgrd.data(), 20,     ihi, 1, 1, nullptr, nullptr, 0.0,
      0.0,           p.a.data(),     p.covar.data(), p.chisq};
  EXPECT_EQ(tavrick::setupFitPoints(s, *p.work), 5);
  const auto& w = *p.work;
  EXPECT_EQ(w.sig[0], 1.0);  // zero counts
  EXPECT_EQ(w.sig[1], 2.0);  // four counts
  EXPECT_EQ(w.sig[2], 1.0);  // negative counts: no NaN weight
  EXPECT_EQ(w.sig[3], 1.0);
  EXPECT_EQ(w.sig[4], 1.5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(w.x[static_cast<std::size_t>(i)], i);
  for (int k = 0; k < kMaxPar; ++k) EXPECT_EQ(w.lista[static_cast<std::size_t>(k)], k + 1);
  EXPECT_EQ(ihi, 24);
}

TEST(FitPoints, LongWindowIsCut) {
  Points p;
  int ihi = 65536;
  const tavrick::StartArgs s{
      p.spec.data(), p.peaks.data(), p.bkgrd.data(), 0,      ihi, 1, 1, nullptr, nullptr, 0.0,
      0.0,           p.a.data(),     p.covar.data(), p.chisq};
  EXPECT_EQ(tavrick::setupFitPoints(s, *p.work), 65536);
  EXPECT_EQ(ihi, 65535);
  int ihi2 = 65536;  // exactly 65536 channels: kept whole
  const tavrick::StartArgs s2{
      p.spec.data(), p.peaks.data(), p.bkgrd.data(), 1,      ihi2, 1, 1, nullptr, nullptr, 0.0,
      0.0,           p.a.data(),     p.covar.data(), p.chisq};
  EXPECT_EQ(tavrick::setupFitPoints(s2, *p.work), 65536);
  EXPECT_EQ(ihi2, 65536);
}

// Result routines.

struct Result {
  std::vector<double> spec = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(tavrick::kChanArray, -1.0);
  std::vector<double> peaks = std::vector<double>(tavrick::kChanArray, -1.0);
  std::vector<double> bkgrd = std::vector<double>(tavrick::kChanArray, -1.0);
  std::array<double, kMaxPar> a{};
  std::vector<double> covar = std::vector<double>(kNca * kNca, 0.0);
  tavrick::FitResults res{};
  double& cv(int i, int j) {
    return covar[static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(j - 1) * kNca];
  }
  tavrick::ResultArgs args(int ilo, int ihi, int npeaks, int nbak) {
    return {spec.data(), 65536,      ilo,          ihi,          npeaks,   nbak,
            0.0,         fit.data(), peaks.data(), bkgrd.data(), a.data(), covar.data()};
  }
};

// Runs a result routine into a temporary stream and returns what it printed.
template <class F>
std::string printed(F routine, Result& r, const tavrick::ResultArgs& args) {
  std::FILE* f = std::tmpfile();
  routine(args, r.res, f);
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

TEST(Xsym, AreaFwhmAndWidthOfOnePeak) {
  for (double w : {3.0, -3.0}) {
    Result r;
    r.a = {5.0, 100.0, w};
    r.cv(2, 2) = 4.0;
    r.cv(3, 3) = 0.01;
    r.cv(2, 3) = r.cv(3, 2) = 0.05;
    r.cv(1, 1) = 0.25;
    printed(tavrick::xsym, r, r.args(10, 20, 1, 0));
    EXPECT_NEAR(r.res.arefit[0], 531.7361553, 1e-7) << w;
    EXPECT_NEAR(r.res.fwhfit[0], 4.995327669, 1e-9) << w;
    EXPECT_EQ(r.res.widfit[0], 3.0);
    EXPECT_EQ(r.res.cenfit[0], 15.0);
    EXPECT_EQ(r.res.cenerr[0], 0.5);
    EXPECT_EQ(r.res.hgtfit[0], 100.0);
    EXPECT_EQ(r.res.hgterr[0], 2.0);
    EXPECT_NEAR(r.res.fwherr[0], 0.1665109223, 1e-12);
    // The covariance term also uses |w|: the error does not depend on the sign.
    EXPECT_NEAR(r.res.areerr[0], 22.83647040484815, 1e-10) << w;
    EXPECT_EQ(r.res.bakarea, 0.0);
    EXPECT_EQ(r.res.bakaerr, 0.0);
  }
}

TEST(Xsym, CurvesCutOffOnOneSideOnly) {
  Result r;
  // One peak at offset 12 with width 1; window 100 .. 130, no background.
  r.a = {12.0, 100.0, 1.0};
  printed(tavrick::xsym, r, r.args(100, 130, 1, 0));
  EXPECT_EQ(r.fit[99], -1.0);  // outside the window: untouched
  EXPECT_EQ(r.fit[131], -1.0);
  EXPECT_EQ(r.fit[112], 100.0);
  // Offset 1: 11 widths to the left, still a (tiny) term.
  EXPECT_GT(r.fit[101], 0.0);
  EXPECT_EQ(r.peaks[101], r.fit[101]);
  // Offset 22: 10 widths to the right, none.
  EXPECT_EQ(r.fit[122], 0.0);
  EXPECT_EQ(r.bkgrd[122], 0.0);
}

TEST(Xsym, PeaksAreFitMinusBackground) {
  Result r;
  r.a = {3.0, 10.0, 2.0, 1.0e6, 0.1};  // huge background
  printed(tavrick::xsym, r, r.args(0, 10, 1, 2));
  for (int ch = 0; ch <= 10; ++ch) {
    const double x = ch;
    const double b = (x - 3.0) / 2.0;
    EXPECT_EQ(r.bkgrd[ch], 1.0e6 + 0.1 * x);
    EXPECT_EQ(r.fit[ch], r.bkgrd[ch] + 10.0 * std::exp(-(b * b)));
    EXPECT_EQ(r.peaks[ch], r.fit[ch] - r.bkgrd[ch]);
  }
  EXPECT_EQ(r.res.bakfit[0], 1.0e6);
  EXPECT_EQ(r.res.bakfit[1], 0.1);
}

TEST(BackgroundCurve, PowerIsFormedInSinglePrecision) {
  const std::array<double, 3> b{0.0, 0.0, 1.0};
  // 65535^2 = 4294836225 has no exact single-precision value.
  EXPECT_EQ(tavrick::backgroundCurve(b.data(), 3, 65535), 4294836224.0);
  EXPECT_EQ(tavrick::backgroundCurve(b.data(), 0, 7), 0.0);
  const std::array<double, 1> c{2.5};
  EXPECT_EQ(tavrick::backgroundCurve(c.data(), 1, 0), 2.5);
}

TEST(BackgroundArea, IntegratesFromFirstToLastOffset) {
  // Constant over 11 channels: b1 * 10, not b1 * 11.
  tavrick::FitResults res;
  std::vector<double> covar(kNca * kNca, 0.0);
  res.bakfit[0] = 3.0;
  covar[0] = 2.0;
  tavrick::backgroundArea(covar.data(), 0, 1, 50, 60, res);
  EXPECT_EQ(res.bakarea, 30.0);
  EXPECT_EQ(res.bakaerr, std::sqrt(2.0 * 10.0));

  // b1 + b2 x: b1 X + b2 X^2 / 2; the covariance is counted twice.
  res.bakfit[1] = 0.5;
  covar[1] = covar[kNca] = 0.1;  // covar(1, 2)
  covar[kNca + 1] = 0.03;        // covar(2, 2)
  tavrick::backgroundArea(covar.data(), 0, 2, 50, 60, res);
  EXPECT_EQ(res.bakarea, 30.0 + 0.5 * 100.0 / 2.0);
  EXPECT_NEAR(res.bakaerr, std::sqrt(2.0 * 10.0 + 2.0 * 0.1 * 100.0 / 2.0 + 0.03 * 1000.0 / 3.0),
              1e-12);

  tavrick::backgroundArea(covar.data(), 0, 0, 50, 60, res);
  EXPECT_EQ(res.bakarea, 0.0);
  EXPECT_EQ(res.bakaerr, 0.0);
}

TEST(BackgroundArea, ReadsTheVariantsBackgroundSlots) {
  // symfc with N = 2, M = 1: the background is slot 3.
  Result r;
  r.a = {100.0, 50.0, 4.0, 2.0, 10.0, 20.0};
  r.cv(3, 3) = 0.5;
  printed(tavrick::xsymfc, r, r.args(0, 40, 2, 1));
  EXPECT_EQ(r.res.bakfit[0], 4.0);
  EXPECT_EQ(r.res.bakerr[0], std::sqrt(0.5));
  EXPECT_EQ(r.res.bakarea, 160.0);
  EXPECT_EQ(r.res.bakaerr, std::sqrt(0.5 * 40.0));
}

TEST(HeldParameters, ErrorsOfHeldCentroidsAndWidthsAreZero) {
  // fwfc, N = 1, M = 1: h, b1, c, w.
  Result r;
  r.a = {100.0, 1.0, 7.0, 3.0};
  r.cv(1, 1) = 4.0;
  r.cv(2, 2) = 1.0;
  r.cv(3, 3) = 9.0;  // not a fitted parameter: must not be used
  r.cv(4, 4) = 9.0;
  printed(tavrick::xfwfc, r, r.args(10, 30, 1, 1));
  EXPECT_EQ(r.res.cenfit[0], 17.0);
  EXPECT_EQ(r.res.cenerr[0], 0.0);
  EXPECT_EQ(r.res.fwherr[0], 0.0);
  EXPECT_NEAR(r.res.areerr[0], 1.772453851 * 3.0 * 2.0, 1e-12);
  EXPECT_NEAR(r.res.fwhfit[0], 3.0 * kFwhm, 1e-12);

  // fwvc, N = 1, M = 1: c, h, b1, w.
  Result v;
  v.a = {7.0, 100.0, 1.0, -3.0};
  v.cv(1, 1) = 0.04;
  v.cv(2, 2) = 4.0;
  v.cv(4, 4) = 9.0;
  printed(tavrick::xfwvc, v, v.args(10, 30, 1, 1));
  EXPECT_EQ(v.res.cenerr[0], 0.2);
  EXPECT_EQ(v.res.fwherr[0], 0.0);
  EXPECT_EQ(v.res.widfit[0], 3.0);
  EXPECT_NEAR(v.res.areerr[0], 1.772453851 * 3.0 * 2.0, 1e-12);
}

TEST(ZeroHeight, GivesNonFiniteErrorsWithoutCrashing) {
  Result r;
  r.a = {5.0, 0.0, 0.0};
  r.cv(2, 2) = -1.0;  // a failed fit may leave a negative variance
  printed(tavrick::xsym, r, r.args(0, 10, 1, 0));
  EXPECT_TRUE(std::isnan(r.res.hgterr[0]));
  EXPECT_FALSE(std::isfinite(r.res.areerr[0]));
}

}  // namespace
