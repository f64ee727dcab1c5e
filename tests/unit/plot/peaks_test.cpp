// Peak terms from fit results: for every peak family, the background plus
// the terms of all peaks gives back the engine's total fit curve.
#include "plot/peaks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/korvel.h"

namespace {

using namespace tavrick;

struct Shape {
  const char* name;
  int ilor, iskew, idiffwd;
  bool germanium = false, high = false;
};

class PeakTerms : public ::testing::TestWithParam<Shape> {};

TEST_P(PeakTerms, SumWithBackgroundIsTheFit) {
  const Shape sh = GetParam();
  constexpr int ilo = 100, ihi = 220;
  std::vector<double> spec(kChanArray, 0.0), fit(kChanArray), peaks(kChanArray), bkgrd(kChanArray);
  // Two overlapping lines, one wider on its low side, on a slope; counts
  // rounded so the fit does not reproduce them exactly.
  for (int i = ilo; i <= ihi; ++i) {
    const double x = i;
    const double w1 = x < 150 ? 7.0 : 5.0;
    spec[static_cast<std::size_t>(i)] =
        std::round(40.0 - 0.1 * (x - ilo) + 500.0 * std::exp(-std::pow((x - 150) / w1, 2)) +
                   300.0 * std::exp(-std::pow((x - 168) / 5.0, 2)));
  }
  std::array<double, kMaxPeaks> pos{150, 168}, fwhm{}, fwlo{};
  fwhm.fill(10.0);
  fwlo.fill(10.0);
  KorvelArgs k{};
  k.spec = spec.data();
  k.maxch = kMaxCh;
  k.ilo = ilo;
  k.ihi = ihi;
  k.npeaks = 2;
  k.nbak = 2;
  k.pos = pos.data();
  k.fwhmin = fwhm.data();
  k.fwloin = fwlo.data();
  k.width = 10.0;
  k.widlo = 10.0;
  k.ipksch = 10;
  k.idiffwd = sh.idiffwd;
  k.iskew = sh.iskew;
  k.ilor = sh.ilor;
  hpge::Config ge;
  ge.high = sh.high;
  ge.start.rh = sh.high ? 3.0 : 0.0;
  ge.start.betah = sh.high ? 1.0 : 0.0;
  if (sh.germanium) k.hpge = &ge;
  k.fit = fit.data();
  k.peaks = peaks.data();
  k.bkgrd = bkgrd.data();
  FitResults r{};
  const auto w = std::make_unique<Workspace>();
  std::FILE* out = std::tmpfile();
  korvel(k, r, *w, out);
  std::fclose(out);

  const auto t = peak_terms(r, k.npeaks, k.ilo, k.ihi, k.iskew, k.ilor, sh.germanium);
  ASSERT_EQ(t.size(), 2u);
  double apex = 0.0;
  for (int i = ilo; i <= ihi; ++i) {
    const auto j = static_cast<std::size_t>(i - ilo);
    const double sum = bkgrd[static_cast<std::size_t>(i)] + t[0][j] + t[1][j];
    EXPECT_NEAR(sum, fit[static_cast<std::size_t>(i)], 1e-6 * (1.0 + std::abs(sum)))
        << sh.name << " channel " << i;
    apex = std::max(apex, t[0][j]);
  }
  // Each term peaks at its centroid with its height (a germanium peak's
  // tails and step add their share there).
  EXPECT_NEAR(apex, r.hgtfit[0], (sh.germanium ? 0.3 : 0.05) * r.hgtfit[0]) << sh.name;
}

INSTANTIATE_TEST_SUITE_P(Families,
                         PeakTerms,
                         ::testing::Values(Shape{"gauss", 0, 0, 1},
                                           Shape{"gauss-same", 0, 0, 0},
                                           Shape{"skew", 0, 1, 1},
                                           Shape{"lorentz", 1, 0, 1},
                                           Shape{"hpge", 0, 0, 1, true},
                                           Shape{"hpge-high", 0, 0, 1, true, true}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
