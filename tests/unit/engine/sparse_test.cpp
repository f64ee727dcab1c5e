// The sparse curvature update against the full triangular one: every variant,
// on noisy multiplets, must give the same bits in the parameters, matrices,
// chi-square, curves and report; and a whole engine call allocates nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "engine/family.h"
#include "engine/korvel.h"
#include "engine/mrqmin.h"

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

}  // namespace

// Counts every allocation made while gCounting is set. The replacements pair
// malloc with free; GCC cannot see that once they are inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (gCounting.load()) ++gAllocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using tavrick::FitResults;
using tavrick::kChanArray;
using tavrick::korvel;
using tavrick::KorvelArgs;
using tavrick::Workspace;
namespace bench = tavrick::bench;

struct Flags {
  const char* name;
  int ilor, ifixwd, iskew, ifixcn, idiffwd;
};

// The eleven variants by their flags.
constexpr Flags kVariants[] = {
    {"sym", 0, 0, 0, 0, 1},   {"symf", 0, 0, 0, 0, 0},  {"symfc", 0, 0, 0, 1, 0},
    {"fwvc", 0, 1, 0, 0, 1},  {"fwfc", 0, 1, 0, 1, 0},  {"skew", 0, 0, 1, 0, 1},
    {"skewf", 0, 0, 1, 0, 0}, {"sfwvc", 0, 1, 1, 0, 1}, {"sfwfc", 0, 1, 1, 1, 1},
    {"lor", 1, 0, 0, 0, 1},   {"lorf", 1, 0, 0, 0, 0}};

// Everything one engine call reads and writes.
struct Call {
  std::vector<double> spec = std::vector<double>(kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(kChanArray, 0.0);
  double pos[tavrick::kMaxPeaks] = {};
  double fwhmin[tavrick::kMaxPeaks] = {};
  double fwloin[tavrick::kMaxPeaks] = {};
  std::unique_ptr<Workspace> w = std::make_unique<Workspace>();
  FitResults r{};
  KorvelArgs k{};
  char* text = nullptr;
  std::size_t len = 0;

  Call(const bench::Case& c, const Flags& f, bool full) {
    for (int ch = 0; ch < c.nchan; ++ch) {
      spec[static_cast<std::size_t>(ch)] = c.counts[static_cast<std::size_t>(ch)];
    }
    k = c.korvelArgs(pos, fwhmin, fwloin, spec.data(), fit.data(), peaks.data(), bkgrd.data());
    k.ilor = f.ilor;
    k.ifixwd = f.ifixwd;
    k.iskew = f.iskew;
    k.ifixcn = f.ifixcn;
    k.idiffwd = f.idiffwd;
    w->fit.mrq.setFullUpdate(full);
  }
  ~Call() { std::free(text); }

  void run() {
    std::FILE* out = open_memstream(&text, &len);
    korvel(k, r, *w, out);
    std::fclose(out);
  }
};

template <class T>
bool sameBits(const T* a, const T* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(T)) == 0;
}

// A noisy spectrum with eight peaks over 3000 channels: two at the window's
// edges, a close doublet and a triplet whose cut-off ranges overlap.
bench::Case edgeCase(bench::Shape shape) {
  bench::Case c{"E", "edges", 3000};
  c.shape = shape;
  c.order = 2;
  c.background = {25.0, 4e-3, -1e-6};
  c.peaks = {{6.0, 800.0, 7.0, 9.0},      {400.0, 1500.0, 8.0, 11.0},  {409.0, 700.0, 8.0, 11.0},
             {1500.0, 2000.0, 9.0, 12.0}, {1522.0, 1200.0, 9.0, 12.0}, {1541.0, 900.0, 9.0, 12.0},
             {2500.0, 300.0, 10.0, 13.0}, {2993.5, 1000.0, 8.0, 10.0}};
  bench::fillCounts(c, 77);
  return c;
}

void expectSame(const bench::Case& c, const Flags& f) {
  SCOPED_TRACE(std::string(f.name) + " on " + c.title);
  Call sparse(c, f, false);
  Call full(c, f, true);
  sparse.run();
  full.run();
  // Peaks with a cut-off go the sparse way; Lorentzians have none.
  if (f.ilor == 0) {
    EXPECT_GT(sparse.w->fit.mrq.sparsePasses(), 0);
  } else {
    EXPECT_EQ(sparse.w->fit.mrq.sparsePasses(), 0);
  }
  EXPECT_EQ(full.w->fit.mrq.sparsePasses(), 0);
  EXPECT_TRUE(sameBits(sparse.w->a.data(), full.w->a.data(), sparse.w->a.size())) << "a";
  EXPECT_TRUE(sameBits(sparse.w->covar.data(), full.w->covar.data(), sparse.w->covar.size()))
      << "covar";
  EXPECT_TRUE(
      sameBits(sparse.w->fit.alpha.data(), full.w->fit.alpha.data(), sparse.w->fit.alpha.size()))
      << "alpha";
  EXPECT_TRUE(
      sameBits(sparse.w->fit.mrq.beta().data(), full.w->fit.mrq.beta().data(), tavrick::kMaxPar))
      << "beta";
  EXPECT_TRUE(sameBits(&sparse.r.chisq, &full.r.chisq, 1)) << "chisq";
  EXPECT_TRUE(sameBits(sparse.fit.data(), full.fit.data(), kChanArray)) << "fit";
  EXPECT_TRUE(sameBits(sparse.peaks.data(), full.peaks.data(), kChanArray)) << "peaks";
  EXPECT_TRUE(sameBits(sparse.bkgrd.data(), full.bkgrd.data(), kChanArray)) << "bkgrd";
  ASSERT_EQ(std::string(sparse.text, sparse.len), std::string(full.text, full.len));
  // The fit must have run: a report with its iterations.
  EXPECT_NE(std::string(sparse.text, sparse.len).find(" IT =    1"), std::string::npos);
}

TEST(SparseUpdate, MatchesFullUpdateBitForBitInEveryVariant) {
  const bench::Case gauss = edgeCase(bench::Shape::gauss);
  const bench::Case skew = edgeCase(bench::Shape::skew);
  const bench::Case lorentz = edgeCase(bench::Shape::lorentz);
  for (const Flags& f : kVariants) {
    expectSame(f.ilor != 0 ? lorentz : f.iskew != 0 ? skew : gauss, f);
  }
}

TEST(SparseUpdate, MatchesFullUpdateOnTheBenchmarkMultiplets) {
  // S2 (five Gaussians, 1000 channels) and S7 (eight narrow peaks with a
  // close doublet, 4096 channels) in every variant.
  for (const bench::Case& c : bench::cases()) {
    if (c.name != "S2" && c.name != "S7") continue;
    for (const Flags& f : kVariants) expectSame(c, f);
  }
}

TEST(SparseUpdate, FallsBackToTheFullUpdateOnValuesThatAreNotFinite) {
  // A model with one far peak of huge height: its derivative products
  // overflow, and the full update's exact zeros of the other peak meet
  // infinities. The sparse pass must notice and give the full result.
  struct Two {
    static void full(double x, const double* a, double& y, double* dyda, int, int, int) {
      y = 0.0;
      for (int k = 0; k < 2; ++k) {
        const double b = (x - a[2 * k]) / 2.0;
        const bool in = std::abs(b) < 10.0;
        const double e = in ? std::exp(-(b * b)) : 0.0;
        y = y + a[2 * k + 1] * e;
        dyda[2 * k] = in ? a[2 * k + 1] * e * b : 0.0;
        dyda[2 * k + 1] = e;
      }
    }
    static int reach(const double* a, int, int, int, double* lo, double* hi) {
      for (int k = 0; k < 2; ++k) {
        lo[k] = a[2 * k] - 21.0;
        hi[k] = a[2 * k] + 21.0;
      }
      return 2;
    }
    static void eval(double x,
                     const double* a,
                     double& y,
                     double* dyda,
                     int,
                     int,
                     int,
                     tavrick::PeakSet cand,
                     int* act,
                     int& nact) {
      y = 0.0;
      nact = 0;
      for (int k = 0; k < 2; ++k) {
        if ((cand & (1u << k)) == 0) continue;
        const double b = (x - a[2 * k]) / 2.0;
        if (!(std::abs(b) < 10.0)) continue;
        const double e = std::exp(-(b * b));
        y = y + a[2 * k + 1] * e;
        dyda[2 * k] = a[2 * k + 1] * e * b;
        dyda[2 * k + 1] = e;
        act[nact++] = 2 * k + 1;
        act[nact++] = 2 * k + 2;
      }
    }
  };
  std::vector<double> x(200), y(200), sig(200, 1.0), none(200);
  for (int i = 0; i < 200; ++i) {
    x[static_cast<std::size_t>(i)] = i;
    y[static_cast<std::size_t>(i)] = 10.0;
  }
  std::vector<int> lista(tavrick::kMaxPar);
  for (int k = 0; k < tavrick::kMaxPar; ++k) lista[static_cast<std::size_t>(k)] = k + 1;
  const tavrick::SparseModel sm{Two::reach, Two::eval};
  for (const double h : {100.0, 1e160}) {
    double a[4] = {50.0, 100.0, 150.0, h};
    std::vector<double> alS(tavrick::kNca * tavrick::kNca), alF(alS.size());
    double beS[4] = {}, beF[4] = {}, chS = 0.0, chF = 0.0;
    const tavrick::FitArgs f{
        x.data(), y.data(), none.data(), none.data(),   sig.data(), 200, a, 4,  lista.data(),
        4,        nullptr,  nullptr,     tavrick::kNca, Two::full,  2,   0, &sm};
    auto sparse = std::make_unique<tavrick::Mrq>();
    auto full = std::make_unique<tavrick::Mrq>();
    full->setFullUpdate(true);
    sparse->mrqcof(f, a, alS.data(), beS, chS);
    full->mrqcof(f, a, alF.data(), beF, chF);
    EXPECT_TRUE(sameBits(alS.data(), alF.data(), alS.size())) << h;
    EXPECT_TRUE(sameBits(beS, beF, 4)) << h;
    EXPECT_TRUE(sameBits(&chS, &chF, 1)) << h;
    // The huge height makes the full update's alpha NaN where the peaks'
    // rows cross; the sparse pass is then discarded.
    EXPECT_EQ(sparse->sparsePasses(), h == 100.0 ? 1 : 0) << h;
  }
}

TEST(CurveSpan, TermsOutsideAreExactZeros) {
  // exp underflows to exactly 0 from about 745.14 on; the span's bound 28
  // gives b^2 >= 784.
  EXPECT_EQ(std::exp(-745.2), 0.0);
  EXPECT_GT(std::exp(-745.0), 0.0);
  EXPECT_EQ(std::exp(-(tavrick::kExpZeroB * tavrick::kExpZeroB)), 0.0);
  EXPECT_EQ(std::exp(-tavrick::kExpZeroT), 0.0);
  EXPECT_FALSE(std::signbit(std::exp(-tavrick::kExpZeroT)));
  EXPECT_EQ(tavrick::expNeg(1e300), 0.0);
  EXPECT_EQ(tavrick::expNeg(745.0), std::exp(-745.0));
  // Every channel left out has |b| > 28 with the b the curves compute.
  bench::Rng rng(5);
  for (int t = 0; t < 2000; ++t) {
    const double c = -50.0 + 4200.0 * rng.uniform();
    const double wl = (rng.uniform() < 0.1 ? -1.0 : 1.0) * (0.01 + 30.0 * rng.uniform());
    const double wh = 0.01 + 30.0 * rng.uniform();
    const int last = 4095;
    const tavrick::Span s = tavrick::curveSpan(c, 1000.0, wl, wh, last);
    ASSERT_LE(0, s.first);
    ASSERT_LE(s.first, s.end);
    ASSERT_LE(s.end, last + 1);
    for (int xi = 0; xi <= last; ++xi) {
      if (xi >= s.first && xi < s.end) continue;
      const double d = static_cast<double>(xi) - c;
      const double b = d < 0.0 ? d / wl : d / wh;
      ASSERT_GT(std::abs(b), tavrick::kExpZeroB) << c << " " << wl << " " << wh << " " << xi;
    }
  }
  // A parameter that is not finite: the whole window.
  const tavrick::Span all = tavrick::curveSpan(10.0, NAN, 2.0, 2.0, 99);
  EXPECT_EQ(all.first, 0);
  EXPECT_EQ(all.end, 100);
}

TEST(CurveSpan, CurvesMatchTheChannelByChannelSum) {
  // The curves of a fit against every peak summed at every channel, as the
  // result routines computed them before the spans.
  const bench::Case gauss = edgeCase(bench::Shape::gauss);
  const bench::Case skew = edgeCase(bench::Shape::skew);
  for (const Flags& f : {kVariants[0], kVariants[5]}) {
    SCOPED_TRACE(f.name);
    const bool sk = f.iskew != 0;
    Call c(sk ? skew : gauss, f, false);
    c.run();
    const double* a = c.w->a.data();
    const int n = c.k.npeaks;
    const int step = sk ? 4 : 3;
    for (int ch = c.k.ilo; ch <= c.k.ihi; ++ch) {
      const int xi = ch - c.k.ilo;
      const double bk = tavrick::backgroundCurve(a + step * n, c.k.nbak, xi);
      double total = bk;
      for (int k = 0; k < n; ++k) {
        const double cen = a[step * k];
        const double h = a[step * k + 1];
        const double d = static_cast<double>(xi) - cen;
        const double w = sk && d < 0.0 ? a[step * k + 3] : a[step * k + 2];
        const double b = d / w;
        total = total + (b < 10.0 ? h * std::exp(-(b * b)) : 0.0);
      }
      const double pk = total - bk;
      const auto i = static_cast<std::size_t>(ch);
      ASSERT_TRUE(sameBits(&c.fit[i], &total, 1)) << ch;
      ASSERT_TRUE(sameBits(&c.bkgrd[i], &bk, 1)) << ch;
      ASSERT_TRUE(sameBits(&c.peaks[i], &pk, 1)) << ch;
    }
  }
}

// Gauss-Jordan elimination as first written: pivot scan row by row, row
// updates one row at a time. The solver's storage-order loops must give the
// same bits, statuses and tie choices.
void gaussjReference(double* a, int n, int np, double* b, int m, int& ierr) {
  const tavrick::Mat1<double> am{a, np};
  const tavrick::Mat1<double> bm{b, np};
  std::vector<int> ipiv(static_cast<std::size_t>(n) + 1, 0), indxr(ipiv), indxc(ipiv);
  ierr = 0;
  int irow = 1, icol = 1;
  for (int i = 1; i <= n; ++i) {
    double big = 0.0;
    for (int j = 1; j <= n; ++j) {
      if (ipiv[j] == 1) continue;
      for (int k = 1; k <= n; ++k) {
        if (ipiv[k] == 0) {
          if (std::abs(am(j, k)) >= big) {
            big = std::abs(am(j, k));
            irow = j;
            icol = k;
          }
        } else if (ipiv[k] > 1) {
          ierr = 1;
          return;
        }
      }
    }
    ++ipiv[icol];
    if (irow != icol) {
      for (int l = 1; l <= n; ++l) std::swap(am(irow, l), am(icol, l));
      for (int l = 1; l <= m; ++l) std::swap(bm(irow, l), bm(icol, l));
    }
    indxr[i] = irow;
    indxc[i] = icol;
    if (std::abs(am(icol, icol)) < tavrick::sp(1e-20f)) {
      ierr = 1;
      return;
    }
    const double pivinv = 1.0 / am(icol, icol);
    am(icol, icol) = 1.0;
    for (int l = 1; l <= n; ++l) am(icol, l) = am(icol, l) * pivinv;
    for (int l = 1; l <= m; ++l) bm(icol, l) = bm(icol, l) * pivinv;
    for (int ll = 1; ll <= n; ++ll) {
      if (ll == icol) continue;
      const double dum = am(ll, icol);
      am(ll, icol) = 0.0;
      for (int l = 1; l <= n; ++l) am(ll, l) = am(ll, l) - am(icol, l) * dum;
      for (int l = 1; l <= m; ++l) bm(ll, l) = bm(ll, l) - bm(icol, l) * dum;
    }
  }
  for (int l = n; l >= 1; --l) {
    if (indxr[l] != indxc[l]) {
      for (int k = 1; k <= n; ++k) std::swap(am(k, indxr[l]), am(k, indxc[l]));
    }
  }
}

TEST(Gaussj, StorageOrderLoopsMatchTheRowByRowElimination) {
  bench::Rng rng(11);
  auto w = std::make_unique<tavrick::GaussjWork>();
  for (int t = 0; t < 3000; ++t) {
    const int n = 1 + static_cast<int>(rng.next() % 40);
    const int np = n + static_cast<int>(rng.next() % 3);
    const int kind = t % 4;
    std::vector<double> a(static_cast<std::size_t>(np * np)), b(static_cast<std::size_t>(np * 2));
    for (double& v : a) {
      // Small integers (many equal magnitudes), general values, a few NaNs
      // and zeros (singular and failing cases).
      const double u = rng.uniform();
      v = kind == 0   ? std::floor(u * 7.0) - 3.0
          : kind == 1 ? (u - 0.5) * 1e3
          : kind == 2 ? (u < 0.02  ? NAN
                         : u < 0.3 ? 0.0
                                   : u)
                      : (u < 0.5 ? 1.0 : -1.0);
    }
    for (double& v : b) v = rng.uniform();
    std::vector<double> a2 = a, b2 = b;
    int e1 = -1, e2 = -1;
    tavrick::gaussj(a.data(), n, np, b.data(), 2, 2, *w, e1);
    gaussjReference(a2.data(), n, np, b2.data(), 2, e2);
    ASSERT_EQ(e1, e2) << t;
    ASSERT_TRUE(sameBits(a.data(), a2.data(), a.size())) << t;
    ASSERT_TRUE(sameBits(b.data(), b2.data(), b.size())) << t;
  }
}

TEST(Korvel, WholeFitAllocatesNothing) {
  const bench::Case gauss = edgeCase(bench::Shape::gauss);
  const bench::Case skew = edgeCase(bench::Shape::skew);
  for (const Flags& f : kVariants) {
    SCOPED_TRACE(f.name);
    Call c(f.iskew != 0 ? skew : gauss, f, false);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    gAllocations = 0;
    gCounting = true;
    korvel(c.k, c.r, *c.w, out);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_GT(std::ftell(out), 0);
    std::fclose(out);
  }
}

}  // namespace
