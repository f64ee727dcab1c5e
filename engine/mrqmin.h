// Levenberg-Marquardt minimiser: mrqmin makes one damped step (or the set-up,
// or the final covariance call), mrqcof builds curvature, gradient and
// chi-square, gaussj solves and inverts, covsrt spreads the covariance.
#pragma once

#include <array>
#include <cstdint>

#include "engine/fitdefs.h"
#include "engine/weights.h"

namespace tavrick {

// The minimiser's constants, with the values every fit uses: the damping
// factor at set-up and its change on an accepted or rejected step, the
// smallest pivot magnitude gaussj accepts, and when search stops: a fall of
// the chi-square by less than this fraction of its new value, or this many
// steps after the set-up call.
struct FitOptions {
  double alamdaStart = sp(0.001f);
  double alamdaDown = sp(0.1f);
  double alamdaUp = 10.0;
  double tinyPivot = sp(1e-20f);
  double tolerance = sp(0.001f);
  int maxIterations = 100;
};

// How one call of mrqmin ended.
//   ok        the set-up and first step, the step or the covariance call was
//             made
//   improper  set-up only: lista is improper, or ma, mfit or nca lie outside
//             what the work arrays hold; nothing but lista was changed
//   singular  the damped matrix (the undamped one at the covariance call) is
//             singular
enum class MrqStatus { ok, improper, singular };

// Model function of a peak variant: value y and derivatives dyda by the free
// parameters at abscissa x. a and dyda point at a(1) and dyda(1). Held
// parameters' derivatives need not be written.
using Model =
    void (*)(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);

// Peaks a sparse model evaluates at one point: bit k-1 stands for peak k.
using PeakSet = std::uint32_t;
static_assert(kMaxPeaks <= 32, "one bit per peak");

// The sparse form of a model whose peaks have a cut-off. At a point only the
// peaks whose cut-off range holds it and the slots every point moves (the
// background, common widths) have derivatives that can be non-zero; mrqcof
// then accumulates only their products instead of the whole triangle.
struct SparseModel {
  // Writes for every peak k an abscissa range [lo(k), hi(k)] outside which
  // the peak fails its cut-off test (a conservative bound; the exact test is
  // still made at each point) and returns the number of peaks, or -1 when no
  // bound can be given (a parameter that is not finite): then the full update
  // is used. lo and hi point at lo(1), hi(1) and hold kMaxPeaks entries.
  int (*reach)(const double* a, int ma, int npeaks, int nbak, double* lo, double* hi);
  // The model of the same variant restricted to the peaks in cand: y has the
  // bits the full model gives (a peak beyond its cut-off adds an exact zero
  // there), dyda is written for the peaks inside their cut-off and for the
  // slots every point moves, and act(1 .. nact) lists these slots in
  // ascending order (room for kMaxPar). Allocates nothing.
  void (*eval)(double x,
               const double* a,
               double& y,
               double* dyda,
               int ma,
               int npeaks,
               int nbak,
               PeakSet cand,
               int* act,
               int& nact);
};

// The points, parameters and matrices of one fit, as the start routine of a
// variant hands them to search and search hands them to mrqmin. Arrays are
// 1-based in the routines' arithmetic: x points at x(1), a at a(1), and so on.
struct FitArgs {
  const double* x;
  const double* y;
  double* peaks;  // handed on, never read
  double* bkgrd;  // handed on, never read
  const double* sig;
  int ndata;
  double* a;
  int ma;
  int* lista;  // room for kMaxPar entries
  int mfit;
  double* covar;  // nca x nca, column-major
  double* alpha;  // nca x nca, column-major
  int nca;
  Model funcs;
  int npeaks;
  int nbak;
  // The sparse form of funcs, or none: the full triangular update.
  const SparseModel* sparse = nullptr;
  // How the points are weighted; data weights take sig.
  Weighting weights = Weighting::data;
  FitOptions options{};
};

// Pivot bookkeeping of gaussj, sized once.
struct GaussjWork {
  std::array<int, kMaxPar> indxc{};
  std::array<int, kMaxPar> indxr{};
  std::array<int, kMaxPar> ipiv{};
  std::array<double, kMaxPar> dum{};  // multipliers of one elimination
};

// Gauss-Jordan elimination with full pivoting on the n x n block of the np x np
// matrix a (column-major) and the n x m block of the np x mp right-hand sides b.
// ierr = 0 on success (a holds the inverse, b the solutions), 1 when singular.
void gaussj(double* a, int n, int np, double* b, int m, int mp, GaussjWork& w, int& ierr);

// Spreads the covariance of the mfit free parameters over the ma x ma block.
void covsrt(double* covar, int nca, int ma, const int* lista, int mfit);

// The minimiser's working state for one fit: it survives between the calls of
// the fit and is started afresh by each set-up call (alamda < 0).
class Mrq {
 public:
  // One call: set-up and first step (alamda < 0), a step (alamda > 0) or the
  // covariance call (alamda = 0).
  MrqStatus mrqmin(const FitArgs& f, double& chisq, double& alamda);

  // Curvature matrix alpha (nca x nca), gradient beta and chi-square per point
  // at the parameter vector a. With a sparse model only the products of
  // derivatives that can be non-zero at a point are accumulated; every
  // element still sums its points in point order and only exact zeros are
  // left out, so the result has the same bits as the full update.
  void mrqcof(const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq);

  // Selects the full triangular update even where a sparse model is given:
  // the reference the sparse update is checked against.
  void setFullUpdate(bool full) { full_ = full; }

  // Passes of mrqcof the sparse update has made (for checks and benchmarks).
  long sparsePasses() const { return sparsePasses_; }

  // The gradient of the accepted parameters (for checks).
  const std::array<double, kMaxPar>& beta() const { return beta_; }

 private:
  void mrqcofFull(const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq);
  // false when the sparse update cannot be used for this pass or has met a
  // value that is not finite; the full update then runs and overwrites all
  // it wrote.
  bool mrqcofSparse(const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq);

  // Writes the held block of running sums back into alpha and beta.
  void storeBlock(const Mat1<double>& al, const Vec1<double>& be, int nheld);

  bool full_ = false;
  long sparsePasses_ = 0;
  double ochisq_ = 0.0;
  std::array<double, kMaxPar> atry_{};
  std::array<double, kMaxPar> beta_{};
  std::array<double, kMaxPar> da_{};
  std::array<double, kMaxPar> dyda_{};
  GaussjWork gw_{};
  // Per pass of the sparse update: reach of every peak, the peaks ordered by
  // start and by end of their reach, and the slots active at a point.
  std::array<double, kMaxPeaks> lo_{};
  std::array<double, kMaxPeaks> hi_{};
  std::array<int, kMaxPeaks> byLo_{};
  std::array<int, kMaxPeaks> byHi_{};
  std::array<int, kMaxPar> act_{};
  // The running sums of the slots active at the latest points: their slots,
  // the packed lower triangle of their curvature block, their gradient
  // entries, and the point's derivatives of those slots.
  std::array<int, kMaxPar> held_{};
  std::array<double, kMaxPar*(kMaxPar + 1) / 2> loc_{};
  std::array<double, kMaxPar> lbe_{};
  std::array<double, kMaxPar> dv_{};
};

}  // namespace tavrick
