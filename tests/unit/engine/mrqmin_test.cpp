// The Levenberg-Marquardt minimiser: exact recovery of noise-free data, the
// damping schedule, the failure statuses, and Gauss-Jordan elimination.
#include "engine/mrqmin.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "unit/engine/fit_storage.h"

namespace {

using tavrick::FitArgs;
using tavrick::kMaxPar;
using tavrick::kNca;
using tavrick::Mrq;
using tavrick::sp;

// a1 + a2 x + a3 x^2.
void quadratic(double x, const double* a, double& y, double* dyda, int, int, int) {
  y = a[0] + a[1] * x + a[2] * x * x;
  dyda[0] = 1.0;
  dyda[1] = x;
  dyda[2] = x * x;
}

// Gaussian a2 exp(-((x - a1) / a3)^2) on the line a4 + a5 x.
void gaussLine(double x, const double* a, double& y, double* dyda, int, int, int) {
  const double u = (x - a[0]) / a[2];
  const double e = std::exp(-u * u);
  y = a[1] * e + a[3] + a[4] * x;
  dyda[0] = a[1] * e * 2.0 * u / a[2];
  dyda[1] = e;
  dyda[2] = a[1] * e * 2.0 * u * u / a[2];
  dyda[3] = 1.0;
  dyda[4] = x;
}

// A line whose third parameter has no effect.
void lineIgnoringA3(double x, const double* a, double& y, double* dyda, int, int, int) {
  y = a[0] + a[1] * x;
  dyda[0] = 1.0;
  dyda[1] = x;
  dyda[2] = 0.0;
}

struct Fit : enginetest::FitStorage {
  using FitStorage::FitStorage;
  double alamda = -1.0;
  tavrick::MrqStatus status = tavrick::MrqStatus::improper;

  // Set-up, then steps until the damping has fallen far (or 200 calls).
  void run(const FitArgs& f) {
    alamda = -1.0;
    status = mrq.mrqmin(f, chisq, alamda);
    for (int it = 0; it < 200 && status == tavrick::MrqStatus::ok && alamda > 1e-12; ++it) {
      status = mrq.mrqmin(f, chisq, alamda);
    }
  }
};

// Inverse of a symmetric 3x3 matrix by cofactors, independent of gaussj.
std::array<std::array<double, 3>, 3> inverse3(const std::array<std::array<double, 3>, 3>& m) {
  std::array<std::array<double, 3>, 3> c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      c[j][i] = m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1];
    }
  const double det = m[0][0] * c[0][0] + m[0][1] * c[1][0] + m[0][2] * c[2][0];
  for (auto& r : c)
    for (double& v : r) v /= det;
  return c;
}

// Exact data of a quadratic recovered from a distant start; a linear model's
// normal equations are solved in floating point, so the parameters agree to
// rounding of that solve (about 1e-13 here), not necessarily bit for bit.
TEST(Mrqmin, QuadraticRecoveredAndCovarIsInverseNormalMatrix) {
  Fit fit(12);
  for (int i = 0; i < 12; ++i) {
    fit.y[i] = 2.0 - 3.0 * i + 0.5 * i * i;
    fit.sig[i] = (i % 2) ? 2.0 : 1.0;
  }
  fit.a = {7.0, 1.0, -1.0};
  const FitArgs f = fit.args(quadratic, 3, 3);
  fit.run(f);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  EXPECT_NEAR(fit.a[0], 2.0, 1e-11);
  EXPECT_NEAR(fit.a[1], -3.0, 1e-11);
  EXPECT_NEAR(fit.a[2], 0.5, 1e-12);
  EXPECT_LT(fit.chisq, 1e-20);

  fit.alamda = 0.0;
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  std::array<std::array<double, 3>, 3> n{};
  for (int i = 0; i < 12; ++i) {
    const double phi[3] = {1.0, fit.x[i], fit.x[i] * fit.x[i]};
    const double w = 1.0 / (fit.sig[i] * fit.sig[i]);
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) n[j][k] += phi[j] * phi[k] * w;
  }
  const auto inv = inverse3(n);
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(fit.cov(j + 1, k + 1), inv[j][k], 1e-12 * std::abs(inv[j][j])) << j << k;
}

// A held parameter keeps its value; its row and column of covar are zero and
// the free block is the inverse of the free normal matrix.
TEST(Mrqmin, HeldParameterKeptWithZeroCovariance) {
  Fit fit(8);
  for (int i = 0; i < 8; ++i) fit.y[i] = 1.0 + 2.0 * i + 0.25 * i * i;
  fit.a = {0.0, 0.0, 0.25};
  for (double& v : fit.covar) v = 99.0;
  const FitArgs f = fit.args(quadratic, 3, 2);
  fit.run(f);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  EXPECT_EQ(fit.a[2], 0.25);
  EXPECT_NEAR(fit.a[0], 1.0, 1e-11);
  EXPECT_NEAR(fit.a[1], 2.0, 1e-11);
  fit.alamda = 0.0;
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  // Normal matrix of 1, x over x = 0..7: [[8, 28], [28, 140]], determinant 336.
  EXPECT_NEAR(fit.cov(1, 1), 140.0 / 336.0, 1e-14);
  EXPECT_NEAR(fit.cov(1, 2), -28.0 / 336.0, 1e-14);
  EXPECT_EQ(fit.cov(1, 2), fit.cov(2, 1));
  EXPECT_NEAR(fit.cov(2, 2), 8.0 / 336.0, 1e-15);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_EQ(fit.cov(3, j), 0.0);
    EXPECT_EQ(fit.cov(j, 3), 0.0);
  }
}

TEST(Mrqmin, GaussianOnLineConvergesFromPerturbedStart) {
  Fit fit(30);
  const std::array<double, 5> truth = {12.0, 100.0, 3.0, 5.0, 0.5};
  for (int i = 0; i < 30; ++i) {
    double dyda[5];
    gaussLine(fit.x[i], truth.data(), fit.y[i], dyda, 5, 1, 2);
  }
  fit.a = {12.8, 80.0, 3.6, 4.0, 0.4};
  const FitArgs f = fit.args(gaussLine, 5, 5);
  fit.run(f);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  for (int k = 0; k < 5; ++k) EXPECT_NEAR(fit.a[k], truth[k], 1e-8 * std::abs(truth[k])) << k;
  EXPECT_LT(fit.chisq, 1e-16);

  // The covariance call changes neither the parameters nor the chi-square.
  const auto a = fit.a;
  const double chisq = fit.chisq;
  fit.alamda = 0.0;
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::ok);
  EXPECT_EQ(fit.a, a);
  EXPECT_EQ(fit.chisq, chisq);
  EXPECT_GT(fit.cov(1, 1), 0.0);
}

// The chi-square is per point: ten points one sigma off give exactly 1.
TEST(Mrqcof, TenPointsOneSigmaOffGiveChisqOne) {
  Fit fit(10);
  fit.a = {3.0, 0.5, 0.0};
  for (int i = 0; i < 10; ++i) {
    fit.sig[i] = std::ldexp(1.0, i % 4 - 1);  // 0.5, 1, 2, 4: exact squares
    fit.y[i] = 3.0 + 0.5 * i + ((i % 3) ? fit.sig[i] : -fit.sig[i]);
  }
  const FitArgs f = fit.args(quadratic, 3, 2);
  std::array<double, kMaxPar> beta{};
  double chisq = -1.0;
  fit.mrq.mrqcof(f, fit.a.data(), fit.alpha.data(), beta.data(), chisq);
  EXPECT_EQ(chisq, 1.0);
  // alpha(1,1) is the sum of the weights; the upper triangle mirrors the lower.
  double w = 0.0;
  for (double s : fit.sig) w += 1.0 / (s * s);
  EXPECT_EQ(fit.alpha[0], w);
  EXPECT_EQ(fit.alpha[kNca], fit.alpha[1]);
}

// Start values that reproduce the data: chi-square 0 is never beaten, so each
// step is rejected and the damping grows tenfold while a stays.
TEST(Mrqmin, ExactStartRejectsEveryStep) {
  Fit fit(20);
  fit.a = {12.0, 100.0, 3.0, 5.0, 0.5};
  for (int i = 0; i < 20; ++i) {
    double dyda[5];
    gaussLine(fit.x[i], fit.a.data(), fit.y[i], dyda, 5, 1, 2);
  }
  const auto start = fit.a;
  const FitArgs f = fit.args(gaussLine, 5, 5);
  fit.alamda = -1.0;
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  double expect = sp(0.001f) * 10.0;
  EXPECT_EQ(fit.alamda, expect);
  EXPECT_EQ(fit.chisq, 0.0);
  for (int k = 0; k < 4; ++k) {
    fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
    ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
    expect *= 10.0;
    EXPECT_EQ(fit.alamda, expect);
    EXPECT_EQ(fit.chisq, 0.0);
    EXPECT_EQ(fit.a, start);
  }
}

// An accepted first step lowers the damping by the single-precision 0.1.
TEST(Mrqmin, AcceptedStepScalesDampingByTenth) {
  Fit fit(5);
  for (int i = 0; i < 5; ++i) fit.y[i] = 4.0 + i;
  const FitArgs f = fit.args(quadratic, 3, 2);
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  ASSERT_EQ(fit.status, tavrick::MrqStatus::ok);
  EXPECT_EQ(fit.alamda, sp(0.001f) * sp(0.1f));
  EXPECT_GT(fit.a[0], 0.0);
}

TEST(Mrqmin, IgnoredParameterIsSingularOnFirstCall) {
  Fit fit(6);
  for (int i = 0; i < 6; ++i) fit.y[i] = 1.0 + i;
  fit.a = {0.5, 0.5, 7.0};
  const auto start = fit.a;
  const FitArgs f = fit.args(lineIgnoringA3, 3, 3);
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::singular);
  EXPECT_EQ(fit.a, start);
}

TEST(Mrqmin, RepeatedListaIndexFailsAtSetup) {
  Fit fit(6);
  fit.a = {1.0, 2.0, 3.0};
  fit.lista[0] = 2;
  fit.lista[1] = 2;
  fit.chisq = 42.0;
  const FitArgs f = fit.args(quadratic, 3, 2);
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::improper);
  EXPECT_EQ(fit.alamda, -1.0);
  EXPECT_EQ(fit.chisq, 42.0);
  EXPECT_EQ(fit.a[0], 1.0);
  EXPECT_EQ(fit.a[1], 2.0);
  EXPECT_EQ(fit.a[2], 3.0);
}

TEST(Mrqmin, ListaEntryOutsideParametersFailsAtSetup) {
  Fit fit(6);
  fit.lista[1] = 4;  // ma = 3
  const FitArgs f = fit.args(quadratic, 3, 2);
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::improper);
  EXPECT_EQ(fit.alamda, -1.0);
}

// With every place free and one entry out of range, completing the list must
// not write past its kMaxPar places.
TEST(Mrqmin, FullListWithBadEntryDoesNotOverrunLista) {
  Fit fit(4);
  std::array<int, kMaxPar + 1> lista{};
  for (int k = 0; k < kMaxPar; ++k) lista[k] = k + 1;
  lista[5] = 0;
  lista[kMaxPar] = -77;
  FitArgs f = fit.args(quadratic, kMaxPar, kMaxPar);
  f.lista = lista.data();
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::improper);
  EXPECT_EQ(lista[kMaxPar], -77);
  EXPECT_EQ(fit.alamda, -1.0);
}

TEST(Mrqmin, MoreParametersThanCapacityFailAtSetup) {
  Fit fit(4);
  const FitArgs f = fit.args(quadratic, kMaxPar + 1, 3);
  fit.status = fit.mrq.mrqmin(f, fit.chisq, fit.alamda);
  EXPECT_EQ(fit.status, tavrick::MrqStatus::improper);
}

// ---- gaussj ------------------------------------------------------------------

TEST(Gaussj, InverseAndSolutionOfKnownSystem) {
  // Column-major [[1 2 3] [0 1 4] [5 6 0]], inverse [[-24 18 5] [20 -15 -4] [-5 4 1]].
  std::array<double, 9> a = {1, 0, 5, 2, 1, 6, 3, 4, 0};
  std::array<double, 3> b = {14, 14, 17};  // A (1, 2, 3)
  const std::array<double, 9> inv = {-24, 20, -5, 18, -15, 4, 5, -4, 1};
  tavrick::GaussjWork w;
  int ierr = -1;
  tavrick::gaussj(a.data(), 3, 3, b.data(), 1, 1, w, ierr);
  ASSERT_EQ(ierr, 0);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], inv[i], 1e-12) << i;
  EXPECT_NEAR(b[0], 1.0, 1e-12);
  EXPECT_NEAR(b[1], 2.0, 1e-12);
  EXPECT_NEAR(b[2], 3.0, 1e-12);
}

// Of equal magnitudes the element scanned last (rows, then columns, ascending)
// is the pivot: in [[1 2] [2 1]] that is (2, 1), not (1, 2).
TEST(Gaussj, TiesGoToElementScannedLast) {
  std::array<double, 4> a = {1, 2, 2, 1};
  std::array<double, 2> b = {3, 3};
  tavrick::GaussjWork w;
  int ierr = -1;
  tavrick::gaussj(a.data(), 2, 2, b.data(), 1, 1, w, ierr);
  ASSERT_EQ(ierr, 0);
  EXPECT_EQ(w.indxr[0], 2);
  EXPECT_EQ(w.indxc[0], 1);
  EXPECT_NEAR(a[0], -1.0 / 3.0, 1e-15);
  EXPECT_NEAR(a[1], 2.0 / 3.0, 1e-15);
  EXPECT_NEAR(a[2], 2.0 / 3.0, 1e-15);
  EXPECT_NEAR(a[3], -1.0 / 3.0, 1e-15);
  EXPECT_NEAR(b[0], 1.0, 1e-15);
  EXPECT_NEAR(b[1], 1.0, 1e-15);

  // All four magnitudes equal: the last element, (2, 2), is the first pivot.
  std::array<double, 4> c = {1, 1, 1, -1};
  tavrick::gaussj(c.data(), 2, 2, b.data(), 1, 1, w, ierr);
  ASSERT_EQ(ierr, 0);
  EXPECT_EQ(w.indxr[0], 2);
  EXPECT_EQ(w.indxc[0], 2);
}

TEST(Gaussj, SingularMatrixFails) {
  std::array<double, 4> a = {1, 2, 2, 4};
  std::array<double, 2> b = {1, 1};
  tavrick::GaussjWork w;
  int ierr = 0;
  tavrick::gaussj(a.data(), 2, 2, b.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 1);

  // A pivot just below the single-precision 1e-20 fails; one at it does not.
  std::array<double, 1> t = {sp(1e-20f) * 0.5};
  tavrick::gaussj(t.data(), 1, 1, b.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 1);
  t[0] = sp(1e-20f);
  tavrick::gaussj(t.data(), 1, 1, b.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 0);
}

// A NaN pivot is carried through rather than reported; a matrix of NaN fails
// only once a column is chosen twice.
TEST(Gaussj, NanPivotIsNotAFailure) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::array<double, 1> a = {nan};
  std::array<double, 1> b = {1.0};
  tavrick::GaussjWork w;
  int ierr = -1;
  tavrick::gaussj(a.data(), 1, 1, b.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 0);
  EXPECT_TRUE(std::isnan(a[0]));

  std::array<double, 9> m;
  m.fill(nan);
  std::array<double, 3> r = {1, 1, 1};
  tavrick::gaussj(m.data(), 3, 3, r.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 1);
}

TEST(Gaussj, FullCapacitySystem) {
  const int n = kMaxPar;
  std::vector<double> a(n * n), a0, b(n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) a[i + j * n] = (i == j) ? 200.0 + i : 1.0 / (1.0 + i + 2 * j);
  for (int i = 0; i < n; ++i) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) s += a[i + j * n] * (j + 1);
    b[i] = s;
  }
  a0 = a;
  tavrick::GaussjWork w;
  int ierr = -1;
  tavrick::gaussj(a.data(), n, n, b.data(), 1, 1, w, ierr);
  ASSERT_EQ(ierr, 0);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(b[i], i + 1.0, 1e-10) << i;
  // a0 * inverse = identity.
  for (int i = 0; i < n; i += 25)
    for (int j = 0; j < n; ++j) {
      double s = 0.0;
      for (int k = 0; k < n; ++k) s += a0[i + k * n] * a[k + j * n];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-12) << i << " " << j;
    }
}

TEST(Gaussj, TooManyUnknownsFail) {
  std::vector<double> a((kMaxPar + 1) * (kMaxPar + 1), 1.0), b(kMaxPar + 1, 1.0);
  tavrick::GaussjWork w;
  int ierr = 0;
  tavrick::gaussj(a.data(), kMaxPar + 1, kMaxPar + 1, b.data(), 1, 1, w, ierr);
  EXPECT_EQ(ierr, 1);
}

}  // namespace
