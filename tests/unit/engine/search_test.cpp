// The iteration driver: its log lines, when it stops, and the covariance call.
#include "engine/search.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "unit/engine/fit_storage.h"

// Counts every allocation through operator new, so a test can see that a fit
// makes none.
static std::size_t allocations = 0;
void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using tavrick::FitArgs;
using tavrick::kMaxPar;
using tavrick::kNca;

int modelCalls = 0;

// a1 + a2 x; counts its calls.
void line(double x, const double* a, double& y, double* dyda, int, int, int) {
  ++modelCalls;
  y = a[0] + a[1] * x;
  dyda[0] = 1.0;
  dyda[1] = x;
}

// Follows a1 up to 5 and is flat beyond it, so the curvature vanishes once a
// step crosses 5.
void clipped(double, const double* a, double& y, double* dyda, int, int, int) {
  y = a[0] < 5.0 ? a[0] : 5.0;
  dyda[0] = a[0] < 5.0 ? 1.0 : 0.0;
}

// a1; a2 has no effect.
void ignoresA2(double, const double* a, double& y, double* dyda, int, int, int) {
  y = a[0];
  dyda[0] = 1.0;
  dyda[1] = 0.0;
}

struct Fit : enginetest::FitStorage {
  using FitStorage::FitStorage;
  double alamda = 0.0;
  tavrick::FitSummary summary{};

  // Runs search and returns what it printed.
  std::string search(tavrick::Model m, int ma, int mfit) {
    std::FILE* out = std::tmpfile();
    summary = tavrick::search(mrq, out, args(m, ma, mfit), chisq, alamda);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
    std::fclose(out);
    return text;
  }
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// Points 1000 +- 1 fitted by a constant from 0: the first step leaves a residual
// of 1000 * 0.001 / 1.001, chi-square 1 + 0.999^2; the second 1 + 1e-8; the
// third falls by less than 0.001 relative and ends the fit.
TEST(Search, LogLinesOfShortFit) {
  Fit fit(10);
  for (int i = 0; i < 10; ++i) fit.y[i] = (i % 2) ? 999.0 : 1001.0;
  const std::string out = fit.search(line, 2, 1);
  EXPECT_EQ(out,
            " IT =    0  CHISQ =      1.9980  L =  1.00E-04\n"
            " IT =    1  CHISQ =      1.0000  L =  1.00E-05\n"
            " IT =    2  CHISQ =      1.0000  L =  1.00E-06\n");
  EXPECT_EQ(fit.summary.status, tavrick::FitStatus::converged);
  EXPECT_EQ(fit.summary.iterations, 2);
  EXPECT_EQ(fit.alamda, 0.0);
  EXPECT_NEAR(fit.a[0], 1000.0, 1e-9);
}

// Converging at iteration 1: two lines, and three minimiser calls (set-up with
// its first step, one step, the covariance call), seen in the model's
// evaluations and in covar holding 1 / sum of weights.
TEST(Search, ConvergesAtIterationOneWithTwoLines) {
  Fit fit(10);
  for (int i = 0; i < 10; ++i) fit.y[i] = (i % 2) ? 9.0 : 11.0;
  modelCalls = 0;
  const std::string out = fit.search(line, 2, 1);
  EXPECT_EQ(out,
            " IT =    0  CHISQ =      1.0001  L =  1.00E-04\n"
            " IT =    1  CHISQ =      1.0000  L =  1.00E-05\n");
  EXPECT_EQ(modelCalls, 30);
  EXPECT_DOUBLE_EQ(fit.cov(1, 1), 0.1);
  EXPECT_EQ(fit.cov(2, 2), 0.0);
}

// Start values that reproduce the data: chi-square 0 never falls, every step
// is rejected, and the cap ends the fit after 100 steps with the covariance
// call all the same.
TEST(Search, CapAfterHundredStepsStillLeavesCovariance) {
  Fit fit(6);
  fit.a = {2.0, 0.5};
  for (int i = 0; i < 6; ++i) fit.y[i] = 2.0 + 0.5 * i;
  const std::string out = fit.search(line, 2, 2);
  const auto v = lines(out);
  ASSERT_EQ(v.size(), 101u);
  EXPECT_EQ(v[0], " IT =    0  CHISQ =      0.0000  L =  1.00E-02");
  EXPECT_EQ(v[1], " IT =    1  CHISQ =      0.0000  L =  1.00E-01");
  EXPECT_EQ(v[100], " IT =  100  CHISQ =      0.0000  L =  1.00E+98");
  EXPECT_EQ(fit.summary.status, tavrick::FitStatus::iteration_cap);
  EXPECT_EQ(fit.summary.iterations, 100);
  EXPECT_EQ(fit.a[0], 2.0);
  EXPECT_EQ(fit.a[1], 0.5);
  // Inverse of the normal matrix [[6, 15], [15, 55]], determinant 105.
  EXPECT_NEAR(fit.cov(1, 1), 55.0 / 105.0, 1e-14);
  EXPECT_NEAR(fit.cov(1, 2), -15.0 / 105.0, 1e-14);
  EXPECT_NEAR(fit.cov(2, 1), -15.0 / 105.0, 1e-14);
  EXPECT_NEAR(fit.cov(2, 2), 6.0 / 105.0, 1e-14);
}

TEST(Search, FailedSetupPrintsFailureLineOnly) {
  Fit fit(5);
  for (int i = 0; i < 5; ++i) fit.y[i] = 3.0;
  const std::string out = fit.search(ignoresA2, 2, 2);
  EXPECT_EQ(out, " Fit failed: singular curvature matrix\n");
  EXPECT_EQ(fit.summary.status, tavrick::FitStatus::singular);
}

// The first step crosses 5 and is accepted (chi-square 100 -> 25); its
// curvature is zero, so the next step fails: no line for it, no final call.
TEST(Search, FailedStepPrintsFailureLineAfterLog) {
  Fit fit(4);
  for (int i = 0; i < 4; ++i) fit.y[i] = 10.0;
  const std::string out = fit.search(clipped, 1, 1);
  EXPECT_EQ(out,
            " IT =    0  CHISQ =     25.0000  L =  1.00E-04\n"
            " Fit failed: singular curvature matrix\n");
  EXPECT_EQ(fit.summary.status, tavrick::FitStatus::singular);
  EXPECT_NEAR(fit.a[0], 10.0 / (1.0 + tavrick::sp(0.001f)), 1e-12);
  EXPECT_EQ(fit.chisq, 25.0);
}

// Storage is sized before the fit: the fit itself, log lines included,
// allocates nothing.
TEST(Search, FitAllocatesNothing) {
  Fit fit(50);
  for (int i = 0; i < 50; ++i) fit.y[i] = 3.0 + 0.25 * i + ((i % 2) ? 1.0 : -1.0);
  const FitArgs f = fit.args(line, 2, 2);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  std::fputs("warm the stream buffer\n", out);
  allocations = 0;
  fit.summary = tavrick::search(fit.mrq, out, f, fit.chisq, fit.alamda);
  const std::size_t during = allocations;
  const long written = std::ftell(out);
  std::fclose(out);
  EXPECT_EQ(during, 0u);
  EXPECT_EQ(fit.summary.status, tavrick::FitStatus::converged);
  EXPECT_GT(written, 40L);
}

}  // namespace
