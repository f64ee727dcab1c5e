// The germanium-shape variant of the engine: per peak a Gaussian with a
// low-side tail, an optional high-side tail and a step (see lineshape.h), the
// shape parameters R, BETA, STEP (RH, BETAH) common to all peaks of the
// window, each free or held; widths free per peak, common or given (held);
// centroids free or held.
//
// Layout of the parameter vector: the free parameters first, in the order
//   per peak k = 1 .. N: c_k (centroids free), h_k, w_k (widths free),
//   w (one common width), the free shape parameters in the order
//   R, BETA, STEP, RH, BETAH, then the background coefficients b1 .. bM;
// then the held ones: the centroids, the given widths, the held shape
// parameters in the same order; and last the layout code, a held slot that
// tells the model function which layout it is looking at (the model has only
// the vector, ma, npeaks and nbak to go by).
#pragma once

#include <cstdio>

#include "engine/fitdefs.h"
#include "engine/hpge/lineshape.h"
#include "engine/hpge/report.h"
#include "engine/mrqmin.h"
#include "engine/variant.h"

namespace tavrick::hpge {

// How the widths of the peaks are fitted.
enum class Widths { free = 0, common = 1, given = 2 };

// What a germanium-shape fit is asked for besides the peaks and the window.
struct Config {
  Tail start{10.0, 1.0, 0.25, 0.0, 0.0};  // start (or held) shape parameters
  bool holdr = false, holdbeta = false, holdstep = false, holdrh = false, holdbetah = false;
  bool high = false;  // the high-side tail is part of the model
  Widths widths = Widths::free;
  bool centroidsHeld = false;

  Held held() const { return {holdr, holdbeta, holdstep, holdrh, holdbetah, high}; }
};

// Slots of one layout (1-based; 0 for a parameter the layout does not have).
struct Layout {
  int n = 0;
  int nbak = 0;
  int c[kMaxPeaks]{};
  int h[kMaxPeaks]{};
  int w[kMaxPeaks]{};
  int wcommon = 0;  // the common width's slot, also in w[] (Widths::common)
  int r = 0, beta = 0, step = 0, rh = 0, betah = 0;
  int bak = 0;   // slot before b1
  int mfit = 0;  // free parameters: slots 1 .. mfit
  int ma = 0;    // all slots, the layout code's last
  bool high = false;
};

// The layout code of a configuration and the layout it stands for.
int layoutCode(const Config& c);
Layout layout(int code, int npeaks, int nbak);

// Parameters the fit varies, as the degrees of freedom count them; 0 when the
// request does not fit into the engine's parameter vector.
int freeParameters(const Config& c, int npeaks, int nbak);

// The model at x (all peaks), with the derivatives of every free slot.
void fhpge(double x, const double* a, double& y, double* dyda, int ma, int npeaks, int nbak);

// The sparse form of fhpge. A peak reaches every point left of it (its step
// is at full height there), so only the points right of its reach leave it
// out; of the peaks left in, only the slots whose derivatives are not exact
// zeros are listed.
const SparseModel& sparseModel();

// Start values, fit (printing its log on out) and result routine with the
// table, the background area and the shape parameters (res.shapefit,
// res.shapeerr), for the settings s.hpge and r.hpge: the engine's start and
// result routines of the variant hpge.
void ghpge(const StartArgs& s, FitWork& w, std::FILE* out);
void xhpge(const ResultArgs& r, FitResults& res, std::FILE* out);

}  // namespace tavrick::hpge
