// What every peak variant's start routine (g...) and result routine (x...)
// take, and the engine's result arguments.
#pragma once

#include <array>
#include <cstdio>

#include "engine/fitdefs.h"
#include "engine/mrqmin.h"
#include "engine/search.h"

namespace tavrick {

namespace hpge {
struct Config;
}

// Work storage of a fit, sized once for the process and reused by every
// variant: fit points, weights, curvature matrix, free-parameter list and the
// minimiser's state.
struct FitWork {
  std::array<double, kMaxCh> x{};
  std::array<double, kMaxCh> sig{};
  std::array<double, kNca * kNca> alpha{};
  std::array<int, kMaxPar> lista{};
  Mrq mrq{};
  FitSummary summary{};  // how the latest fit ended
};

// Arguments of a start routine. Per-channel arrays are indexed by channel
// number; pos and fwhmin by peak from 0 (pos[k-1] is the guess of peak k);
// a points at a(1); covar is kNca x kNca.
struct StartArgs {
  const double* spec;
  double* peaks;
  double* bkgrd;
  int ilo;
  int& ihi;  // lowered to ilo + 65535 for a longer window
  int npeaks;
  int nbak;
  const double* pos;
  const double* fwhmin;
  double width;
  double widlo;  // read by gsfwvc and gsfwfc only
  double* a;
  double* covar;
  double& chisq;
  Weighting weights = Weighting::data;
  const hpge::Config* hpge = nullptr;  // the germanium shape's settings, read by ghpge only
};

// The engine's result arguments. Per-peak lists are indexed from 0 (entry
// k-1 is peak k), coefficient lists likewise.
struct FitResults {
  std::array<double, kMaxPeaks> cenfit{}, arefit{}, hgtfit{}, fwhfit{}, fwlfit{}, widfit{},
      wlofit{};
  double bakarea = 0.0;
  std::array<double, kMaxBak> bakfit{};
  std::array<double, kMaxPeaks> cenerr{}, areerr{}, hgterr{}, fwherr{}, fwlerr{};
  double scratch = 0.0;  // accepted and not used
  std::array<double, kMaxPeaks> wloerr{};
  double bakaerr = 0.0;
  std::array<double, kMaxBak> bakerr{};
  double chisq = 0.0;
  FitSummary summary{};  // status and steps of the fit
  // The germanium shape only: R, BETA, STEP, RH and BETAH, and their errors
  // (0 for a held one); each peak's Gaussian centroid (cenfit is its mean
  // position, tails included) and its error.
  std::array<double, 5> shapefit{}, shapeerr{};
  std::array<double, kMaxPeaks> posfit{}, poserr{};
};

// Arguments of a result routine besides the results themselves.
struct ResultArgs {
  const double* spec;
  int maxch;
  int ilo;
  int ihi;
  int npeaks;
  int nbak;
  double total;
  double* fit;
  double* peaks;
  double* bkgrd;
  const double* a;
  const double* covar;
  const hpge::Config* hpge = nullptr;  // the germanium shape's settings, read by xhpge only
};

}  // namespace tavrick
