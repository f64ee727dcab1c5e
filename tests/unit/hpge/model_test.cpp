// The germanium-shape variant's model: every layout's slots, the derivatives
// of the whole model against central differences, and the sparse update
// against the full one bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/hpge/hpge.h"

namespace {

using tavrick::kMaxPar;
using tavrick::kNca;
using tavrick::hpge::Config;
using tavrick::hpge::Layout;
using tavrick::hpge::Widths;

// The configurations the table runs: each width mode, held centroids, the
// high-side tail, and held shape parameters in several mixes.
struct Case {
  const char* what;
  Config c;
};

Config make(Widths w, bool cen, bool high, bool hr, bool hb, bool hs, bool hrh, bool hbh) {
  Config c;
  c.widths = w;
  c.centroidsHeld = cen;
  c.high = high;
  c.holdr = hr;
  c.holdbeta = hb;
  c.holdstep = hs;
  c.holdrh = hrh;
  c.holdbetah = hbh;
  return c;
}

const std::vector<Case> kCases{
    {"all free", make(Widths::free, false, false, false, false, false, false, false)},
    {"common width", make(Widths::common, false, false, false, false, false, false, false)},
    {"given widths", make(Widths::given, false, false, false, false, false, false, false)},
    {"held centroids, common width",
     make(Widths::common, true, false, false, false, false, false, false)},
    {"high tail", make(Widths::free, false, true, false, false, false, false, false)},
    {"high tail held, R held", make(Widths::free, false, true, true, false, false, true, true)},
    {"step and BETA held", make(Widths::common, false, true, false, true, true, false, false)},
    {"everything held but heights", make(Widths::given, true, true, true, true, true, true, true)},
};

constexpr int kPeaks = 3;
constexpr int kBak = 3;

// A vector for a layout: peaks at 30, 36.5 and 120 with different widths
// (the common width takes the first), R 12, BETA 1.3, STEP 0.8, RH 3,
// BETAH 0.9, a sloping background, the layout code last.
std::vector<double> vectorFor(const Config& c, Layout& l) {
  const int code = tavrick::hpge::layoutCode(c);
  l = tavrick::hpge::layout(code, kPeaks, kBak);
  std::vector<double> a(kMaxPar, 0.0);
  const double cen[kPeaks] = {30.0, 36.5, 120.0};
  const double hgt[kPeaks] = {900.0, 350.0, 60.0};
  const double wid[kPeaks] = {1.8, 2.1, 2.6};
  for (int k = 0; k < kPeaks; ++k) {
    a[static_cast<std::size_t>(l.c[k] - 1)] = cen[k];
    a[static_cast<std::size_t>(l.h[k] - 1)] = hgt[k];
  }
  for (int k = kPeaks - 1; k >= 0; --k) a[static_cast<std::size_t>(l.w[k] - 1)] = wid[k];
  a[static_cast<std::size_t>(l.r - 1)] = 12.0;
  a[static_cast<std::size_t>(l.beta - 1)] = 1.3;
  a[static_cast<std::size_t>(l.step - 1)] = 0.8;
  if (l.high) {
    a[static_cast<std::size_t>(l.rh - 1)] = 3.0;
    a[static_cast<std::size_t>(l.betah - 1)] = 0.9;
  }
  a[static_cast<std::size_t>(l.bak)] = 50.0;
  a[static_cast<std::size_t>(l.bak + 1)] = -0.1;
  a[static_cast<std::size_t>(l.bak + 2)] = 0.001;
  a[static_cast<std::size_t>(l.ma - 1)] = code;
  return a;
}

double model(double x, const std::vector<double>& a, int ma) {
  double y = 0.0;
  std::vector<double> d(kMaxPar);
  tavrick::hpge::fhpge(x, a.data(), y, d.data(), ma, kPeaks, kBak);
  return y;
}

// Every layout: each parameter has its own slot, the free ones 1 .. mfit,
// the held ones after them and the code last; 30 peaks fit the vector.
TEST(HpgeLayout, SlotsAreDistinctWithTheHeldOnesBehindTheFree) {
  for (int code = 0; code < 512; ++code) {
    if ((code & 3) == 3) continue;
    for (const int n : {1, 4, tavrick::kMaxPeaks}) {
      const Layout l = tavrick::hpge::layout(code, n, tavrick::kMaxBak);
      ASSERT_LE(l.ma, kMaxPar) << code << " " << n;
      std::set<int> free, held;
      const auto put = [&](int slot, bool isHeld) {
        if (slot == 0) return;
        ASSERT_EQ(slot <= l.mfit, !isHeld) << code << " slot " << slot;
        (isHeld ? held : free).insert(slot);
      };
      for (int k = 0; k < n; ++k) {
        put(l.c[k], (code & 4) != 0);
        put(l.h[k], false);
        if (l.wcommon == 0) put(l.w[k], (code & 3) == 2);
      }
      put(l.wcommon, false);
      put(l.r, (code & 16) != 0);
      put(l.beta, (code & 32) != 0);
      put(l.step, (code & 64) != 0);
      EXPECT_EQ(l.rh != 0, l.high);
      if (l.high) {
        put(l.rh, (code & 128) != 0);
        put(l.betah, (code & 256) != 0);
      }
      for (int j = 1; j <= tavrick::kMaxBak; ++j) put(l.bak + j, false);
      EXPECT_EQ(static_cast<int>(free.size()), l.mfit) << code;
      EXPECT_EQ(static_cast<int>(free.size() + held.size()) + 1, l.ma) << code;
    }
  }
}

// The model's derivatives by every free slot against central differences,
// at points on the step far below the peaks, on their flanks, between them
// and beyond them.
TEST(HpgeModel, DerivativesMatchCentralDifferences) {
  const double xs[] = {0.0, 18.0, 27.4, 30.0, 31.3, 33.0, 36.0, 38.9, 60.0, 118.0, 121.5, 150.0};
  for (const Case& c : kCases) {
    Layout l;
    std::vector<double> a = vectorFor(c.c, l);
    for (const double x : xs) {
      double y = 0.0;
      std::vector<double> d(kMaxPar, -1.0);
      tavrick::hpge::fhpge(x, a.data(), y, d.data(), l.ma, kPeaks, kBak);
      EXPECT_NEAR(y, model(x, a, l.ma), 0.0);
      for (int j = 1; j <= l.mfit; ++j) {
        const auto i = static_cast<std::size_t>(j - 1);
        const double h = 1e-6 * std::fmax(1.0, std::abs(a[i]));
        const double keep = a[i];
        a[i] = keep + h;
        const double up = model(x, a, l.ma);
        a[i] = keep - h;
        const double down = model(x, a, l.ma);
        a[i] = keep;
        const double fd = (up - down) / (2.0 * h);
        EXPECT_NEAR(d[i], fd, 1e-6 * std::fmax(1.0, std::abs(fd)) + 1e-9 * std::abs(y))
            << c.what << " x=" << x << " slot " << j;
      }
    }
  }
}

bool sameBits(const double* p, const double* q, std::size_t n) {
  return std::memcmp(p, q, n * sizeof(double)) == 0;
}

// The sparse update gives the full update's curvature, gradient and
// chi-square bit for bit, and is taken (not left for the full one).
TEST(HpgeModel, SparseUpdateMatchesTheFullUpdateBitForBit) {
  constexpr int n = 200;
  std::vector<double> x(n), y(n), sig(n), none(n);
  for (const Case& c : kCases) {
    Layout l;
    std::vector<double> a = vectorFor(c.c, l);
    // Counts near the model, off by a pattern, so the gradient is not zero.
    for (int i = 0; i < n; ++i) {
      const auto u = static_cast<std::size_t>(i);
      x[u] = i;
      y[u] = std::round(model(x[u], a, l.ma) * (1.0 + 0.01 * std::sin(0.7 * i)));
      sig[u] = std::sqrt(std::fmax(y[u], 1.0));
    }
    std::vector<int> lista(kMaxPar);
    for (int k = 0; k < kMaxPar; ++k) lista[static_cast<std::size_t>(k)] = k + 1;
    for (const auto w : {tavrick::Weighting::data, tavrick::Weighting::poisson}) {
      std::vector<double> alS(kNca * kNca), alF(alS.size()), beS(kMaxPar), beF(kMaxPar);
      double chS = 0.0, chF = 0.0;
      const tavrick::FitArgs f{x.data(),
                               y.data(),
                               none.data(),
                               none.data(),
                               sig.data(),
                               n,
                               a.data(),
                               l.ma,
                               lista.data(),
                               l.mfit,
                               nullptr,
                               nullptr,
                               kNca,
                               tavrick::hpge::fhpge,
                               kPeaks,
                               kBak,
                               &tavrick::hpge::sparseModel(),
                               w};
      auto sparse = std::make_unique<tavrick::Mrq>();
      auto full = std::make_unique<tavrick::Mrq>();
      full->setFullUpdate(true);
      sparse->mrqcof(f, a.data(), alS.data(), beS.data(), chS);
      full->mrqcof(f, a.data(), alF.data(), beF.data(), chF);
      EXPECT_EQ(sparse->sparsePasses(), 1) << c.what;
      EXPECT_TRUE(sameBits(alS.data(), alF.data(), alS.size())) << c.what;
      EXPECT_TRUE(sameBits(beS.data(), beF.data(), beS.size())) << c.what;
      EXPECT_TRUE(sameBits(&chS, &chF, 1)) << c.what;
    }
  }
}

}  // namespace
