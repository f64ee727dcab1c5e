// Steps shared by the peak families; see family.h.
#include "engine/family.h"

#include <cmath>

#include "engine/search.h"
#include "format/fortran.h"

namespace tavrick {

int setupFitPoints(const StartArgs& s, FitWork& w) {
  // The work arrays hold kMaxCh points; a longer window is cut and the
  // caller sees the lowered end.
  if (s.ihi - s.ilo + 1 > kMaxCh) s.ihi = s.ilo + (kMaxCh - 1);
  const int ndata = s.ihi - s.ilo + 1;
  for (int i = 1; i <= ndata; ++i) {
    const double count = s.spec[s.ilo + i - 1];
    w.x[static_cast<std::size_t>(i - 1)] = static_cast<double>(i - 1);
    // A weight never falls below one count: no zero or NaN sig for empty or
    // negative channels.
    w.sig[static_cast<std::size_t>(i - 1)] = count < 1.0 ? 1.0 : std::sqrt(count);
  }
  for (int k = 1; k <= kMaxPar; ++k) w.lista[static_cast<std::size_t>(k - 1)] = k;
  return ndata;
}

int nearestChannel(double pos) {
  // Adding a half and truncating is the rounding wanted here (halves go away
  // from zero), not std::lround's.
  // NOLINTNEXTLINE(bugprone-incorrect-roundings)
  return pos > 0.0 ? static_cast<int>(pos + 0.5) : static_cast<int>(pos - 0.5);
}

double startHeight(const double* spec, double pos) { return spec[nearestChannel(pos)]; }

void startPeaks(const StartArgs& s, double* a, int c0, int cstep, int h0, int hstep) {
  const Vec1<double> av{a};
  for (int k = 1; k <= s.npeaks; ++k) {
    const double pos = s.pos[static_cast<std::size_t>(k - 1)];
    av(c0 + cstep * k) = pos - static_cast<double>(s.ilo);
    av(h0 + hstep * k) = startHeight(s.spec, pos);
  }
}

void startBackground(const double* spec, int ilo, int ihi, int count, double* b) {
  if (count >= 1) b[0] = spec[ilo];
  if (count >= 2) {
    // A one-channel window has no slope to start from.
    b[1] = ihi == ilo ? 0.0 : (spec[ihi] - spec[ilo]) / static_cast<double>(ihi - ilo);
  }
  for (int j = 3; j <= count; ++j) b[j - 1] = 0.0;
}

void backgroundCoefficients(
    const double* a, const double* covar, int B, int nbak, FitResults& res) {
  const Vec1<const double> av{a};
  const Mat1<const double> cv{covar, kNca};
  for (int j = 1; j <= nbak; ++j) {
    res.bakfit[static_cast<std::size_t>(j - 1)] = av(B + j);
    res.bakerr[static_cast<std::size_t>(j - 1)] = std::sqrt(cv(B + j, B + j));
  }
}

double backgroundCurve(const double* b, int nbak, int x) {
  const float xf = static_cast<float>(x);
  double bk = 0.0;
  for (int j = 1; j <= nbak; ++j) {
    bk = bk + b[j - 1] * static_cast<double>(ipowf(xf, j - 1));
  }
  return bk;
}

void backgroundArea(const double* covar, int B, int nbak, int ilo, int ihi, FitResults& res) {
  res.bakarea = 0.0;
  res.bakaerr = 0.0;
  if (nbak == 0) return;
  const Mat1<const double> cv{covar, kNca};
  const double X = static_cast<double>(ihi - ilo);
  double area = 0.0;
  double var = 0.0;
  for (int k = 1; k <= nbak; ++k) {
    area =
        area + (res.bakfit[static_cast<std::size_t>(k - 1)] * ipow(X, k)) / static_cast<double>(k);
    for (int j = 1; j <= k; ++j) {
      const double m = j < k ? 2.0 : 1.0;
      const int p = j + k - 1;
      var = var + ((m * cv(B + k, B + j)) * ipow(X, p)) / static_cast<double>(p);
    }
  }
  res.bakarea = area;
  res.bakaerr = std::sqrt(var);
}

void printBackgroundArea(std::FILE* out, int nbak, const FitResults& res) {
  if (nbak == 0) return;
  // clang-format off
  fortran::write(out, "( 3X,'Background Area',                                          3X,F12.2,' +/-',F10.2)",
                 res.bakarea, res.bakaerr);
  // clang-format on
}

void backgroundResults(const ResultArgs& r, FitResults& res, std::FILE* out, int B) {
  backgroundArea(r.covar, B, r.nbak, r.ilo, r.ihi, res);
  printBackgroundArea(out, r.nbak, res);
}

void runFit(const StartArgs& s,
            FitWork& w,
            std::FILE* out,
            int ndata,
            int ma,
            int mfit,
            Model model,
            const SparseModel* sparse) {
  const FitArgs f{w.x.data(),
                  s.spec + s.ilo,
                  s.peaks + s.ilo,
                  s.bkgrd + s.ilo,
                  w.sig.data(),
                  ndata,
                  s.a,
                  ma,
                  w.lista.data(),
                  mfit,
                  s.covar,
                  w.alpha.data(),
                  kNca,
                  model,
                  s.npeaks,
                  s.nbak,
                  sparse,
                  s.weights};
  double alamda = 0.0;
  // The likelihood is steep where the model nears 0 (a background that
  // starts at an empty channel), and from such a start its steps can end in a
  // wide peak that stands in for the background. Its fit starts instead where
  // the fit with weights from the model ends; that first fit writes no log.
  if (f.weights == Weighting::poisson) {
    FitArgs first = f;
    first.weights = Weighting::fit;
    search(w.mrq, nullptr, first, s.chisq, alamda);
  }
  w.summary = search(w.mrq, out, f, s.chisq, alamda);
}

}  // namespace tavrick
