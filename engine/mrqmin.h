// Levenberg-Marquardt minimiser: mrqmin makes one damped step (or the set-up,
// or the final covariance call), mrqcof builds curvature, gradient and
// chi-square, gaussj solves and inverts, covsrt spreads the covariance.
#pragma once

#include <array>

#include "engine/fitdefs.h"

namespace tavrick {

// Model function of a peak variant: value y and derivatives dyda by the free
// parameters at abscissa x. a and dyda point at a(1) and dyda(1). Held
// parameters' derivatives need not be written.
using Model = void (*)(double x, const double* a, double& y, double* dyda, int ma, int npeaks,
                       int nbak);

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
};

// Pivot bookkeeping of gaussj, sized once.
struct GaussjWork {
  std::array<int, kMaxPar> indxc{};
  std::array<int, kMaxPar> indxr{};
  std::array<int, kMaxPar> ipiv{};
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
  // covariance call (alamda = 0). ierr: 0 success; 1 improper lista, or ma,
  // mfit or nca outside what the work arrays hold (set-up only, before anything
  // is changed but lista); 2 singular damped matrix.
  void mrqmin(const FitArgs& f, double& chisq, double& alamda, int& ierr);

  // Curvature matrix alpha (nca x nca), gradient beta and chi-square per point
  // at the parameter vector a.
  void mrqcof(const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq);

 private:
  double ochisq_ = 0.0;
  std::array<double, kMaxPar> atry_{};
  std::array<double, kMaxPar> beta_{};
  std::array<double, kMaxPar> da_{};
  std::array<double, kMaxPar> dyda_{};
  GaussjWork gw_{};
};

}  // namespace tavrick
