// The fitting engine's one entry.
#pragma once

#include <cstdio>

#include "engine/hpge/hpge.h"
#include "engine/variant.h"

namespace tavrick {

// Inputs and in/out values of one engine call. Per-channel arrays are indexed
// by channel number (0 .. kMaxCh); pos, fwhmin and fwloin by peak from 0.
struct KorvelArgs {
  const double* spec;
  int maxch;
  int ilo;
  int ihi;  // may be lowered by the start routine
  int npeaks;
  int nbak;
  double* pos;  // replaced by the peak search
  const double* fwhmin;
  const double* fwloin;
  double width;
  double widlo;
  int ipksch;
  int idiffwd;
  int iskew;   // set to 0 for a Lorentzian shape
  int ifixwd;  // set to 0 for a Lorentzian shape
  int ifixcn;  // set to 0 for a Lorentzian shape
  int ilor;
  double total;  // out: sum of spec over the window
  double* fit;
  double* peaks;
  double* bkgrd;
  Weighting weights = Weighting::data;  // how the points are weighted
  // The germanium shape: its configuration, or none for the shapes above
  // (then iskew, ilor and the flags choose the variant as always).
  const hpge::Config* hpge = nullptr;
};

// Half-width in channels of the peak search around each guess, when the
// command line does not set it.
inline constexpr int kPeakSearch = 10;

// What the option phase settles for one fit: the variant's flags, the
// window, the peaks' start lists, the search and the weighting.
struct FitSettings {
  int iskew = 0;
  int ilor = 0;
  int ihpge = 0;
  int ifixwd = 0;
  int idiffwd = 1;
  int ifixcn = 0;
  int nbak = 3;
  int ilo = 0;
  int ihi = 0;
  int npeaks = 0;
  std::array<double, kMaxPeaks> pos{};  // replaced by the peak search
  std::array<double, kMaxPeaks> fwhmin{};
  std::array<double, kMaxPeaks> fwloin{};
  double width = 0.0;
  double widlo = 0.0;
  int ipksch = kPeakSearch;  // 0: no search, the guesses stay where given
  Weighting weights = Weighting::data;
};

// Sets k for a fit of s over the channel arrays spec, fit, peaks and bkgrd:
// the flags and window of s, its lists (the search writes s.pos), a total of
// 0 and no germanium shape (the caller sets k.hpge for that).
void bindArgs(
    KorvelArgs& k, FitSettings& s, const double* spec, double* fit, double* peaks, double* bkgrd);

// Storage the engine needs for a call, sized once by its caller.
struct Workspace {
  FitWork fit{};
  std::array<double, kNca * kNca> covar{};
  std::array<double, kMaxPar> a{};
};

// The eleven peak-shape variants of the flags, the germanium shape, and None for flag combinations
// no variant matches.
enum class Variant {
  None,
  sym,
  symf,
  symfc,
  fwvc,
  fwfc,
  skew,
  skewf,
  sfwvc,
  sfwfc,
  lor,
  lorf,
  hpge
};

// The variant the engine runs for these flags, as it sees them after a
// Lorentzian shape has cleared iskew, ifixwd and ifixcn.
Variant selectVariant(int ilor, int ifixwd, int iskew, int ifixcn, int idiffwd);

// Free parameters of a variant with npeaks peaks and nbak background
// coefficients (the count the fit varies); 0 for None and hpge, whose count
// depends on what it holds.
int freeParameters(Variant v, int npeaks, int nbak);

// The variant of a call's arguments, and its free parameters.
Variant variantOf(const KorvelArgs& k);
int freeParameters(const KorvelArgs& k);

// Fits one set of peaks in one window, printing the report on out.
void korvel(KorvelArgs& k, FitResults& r, Workspace& w, std::FILE* out);

}  // namespace tavrick
