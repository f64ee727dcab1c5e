// Levenberg-Marquardt minimiser. Every sum runs in the order written here and
// the single-precision constants are widened floats: fits must reproduce to
// the last bit.
#include "engine/mrqmin.h"

#include <cmath>
#include <cstddef>
#include <utility>

namespace tavrick {

namespace {

// Smallest pivot magnitude gaussj accepts.
constexpr double kTinyPivot = FitOptions{}.tinyPivot;

}  // namespace

void gaussj(double* a, int n, int np, double* b, int m, int mp, GaussjWork& w, int& ierr) {
  ierr = 0;
  // The pivot bookkeeping holds kMaxPar unknowns; a larger or inconsistent
  // request is refused rather than written past the arrays.
  if (n < 0 || n > kMaxPar || np < n || m < 0 || mp < m) {
    ierr = 1;
    return;
  }
  const Mat1<double> am{a, np};
  const Mat1<double> bm{b, np};
  const Vec1<int> ipiv{w.ipiv.data()};
  const Vec1<int> indxr{w.indxr.data()};
  const Vec1<int> indxc{w.indxc.data()};
  for (int j = 1; j <= n; ++j) ipiv(j) = 0;

  // When every remaining candidate is NaN the scan chooses nothing and the
  // previous pivot position is taken again (the first position at the first
  // elimination): its counter then passes 1 and a later scan reports the
  // failure, while a NaN pivot itself goes on through the elimination.
  int irow = 1;
  int icol = 1;
  for (int i = 1; i <= n; ++i) {
    // The pivot is the element of largest magnitude among the rows and
    // columns not yet pivoted, scanned row by row (columns ascending within
    // a row) with >=, so of equal magnitudes the one scanned last wins; a
    // column counter above 1 met while scanning a row is a failure. The same
    // choice is made here column by column, the storage order: the largest
    // magnitude, and of equal ones the element latest in row order (a larger
    // row, or the same row in a later column, which the column order gives).
    // NaN magnitudes compare false and are never chosen.
    bool rowScanned = false;
    bool overPivoted = false;
    for (int j = 1; j <= n; ++j) {
      if (ipiv(j) != 1) rowScanned = true;
      if (ipiv(j) > 1) overPivoted = true;
    }
    if (rowScanned && overPivoted) {
      ierr = 1;
      return;
    }
    double big = -1.0;
    int bj = 0;
    int bk = 0;
    for (int k = 1; k <= n; ++k) {
      if (ipiv(k) != 0) continue;
      for (int j = 1; j <= n; ++j) {
        if (ipiv(j) == 1) continue;
        const double v = std::abs(am(j, k));
        if (v > big || (v == big && j >= bj)) {
          big = v;
          bj = j;
          bk = k;
        }
      }
    }
    if (bj != 0) {
      irow = bj;
      icol = bk;
    }
    ipiv(icol) = ipiv(icol) + 1;

    // Put the pivot on the diagonal by swapping rows.
    if (irow != icol) {
      for (int l = 1; l <= n; ++l) std::swap(am(irow, l), am(icol, l));
      for (int l = 1; l <= m; ++l) std::swap(bm(irow, l), bm(icol, l));
    }
    indxr(i) = irow;
    indxc(i) = icol;
    // A NaN compares false here: only a magnitude below the threshold fails.
    if (std::abs(am(icol, icol)) < kTinyPivot) {
      ierr = 1;
      return;
    }
    const double pivinv = 1.0 / am(icol, icol);
    am(icol, icol) = 1.0;
    for (int l = 1; l <= n; ++l) am(icol, l) = am(icol, l) * pivinv;
    for (int l = 1; l <= m; ++l) bm(icol, l) = bm(icol, l) * pivinv;
    // Every other row loses the pivot row times its old element of the pivot
    // column, that element set to 0 first. Each element takes exactly one
    // such update per elimination, so the loops run column by column (the
    // storage order) with the multipliers taken beforehand.
    const Vec1<double> dum{w.dum.data()};
    for (int ll = 1; ll <= n; ++ll) {
      if (ll == icol) continue;
      dum(ll) = am(ll, icol);
      am(ll, icol) = 0.0;
    }
    for (int l = 1; l <= n; ++l) {
      const double piv = am(icol, l);
      for (int ll = 1; ll < icol; ++ll) am(ll, l) = am(ll, l) - piv * dum(ll);
      for (int ll = icol + 1; ll <= n; ++ll) am(ll, l) = am(ll, l) - piv * dum(ll);
    }
    for (int l = 1; l <= m; ++l) {
      const double piv = bm(icol, l);
      for (int ll = 1; ll < icol; ++ll) bm(ll, l) = bm(ll, l) - piv * dum(ll);
      for (int ll = icol + 1; ll <= n; ++ll) bm(ll, l) = bm(ll, l) - piv * dum(ll);
    }
  }

  // Undo the row swaps as column swaps of the inverse, last first.
  for (int l = n; l >= 1; --l) {
    if (indxr(l) != indxc(l)) {
      for (int k = 1; k <= n; ++k) std::swap(am(k, indxr(l)), am(k, indxc(l)));
    }
  }
}

void covsrt(double* covar, int nca, int ma, const int* lista, int mfit) {
  const Mat1<double> c{covar, nca};
  const Vec1<const int> l{lista};
  for (int j = 1; j <= ma - 1; ++j) {
    for (int i = j + 1; i <= ma; ++i) c(i, j) = 0.0;
  }
  for (int i = 1; i <= mfit - 1; ++i) {
    for (int j = i + 1; j <= mfit; ++j) {
      if (l(j) > l(i)) {
        c(l(j), l(i)) = c(i, j);
      } else {
        c(l(i), l(j)) = c(i, j);
      }
    }
  }
  const double swap = c(1, 1);
  for (int j = 1; j <= ma; ++j) {
    c(1, j) = c(j, j);
    c(j, j) = 0.0;
  }
  c(l(1), l(1)) = swap;
  for (int j = 2; j <= mfit; ++j) c(l(j), l(j)) = c(1, j);
  for (int j = 2; j <= ma; ++j) {
    for (int i = 1; i <= j - 1; ++i) c(i, j) = c(j, i);
  }
}

void Mrq::mrqcof(const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq) {
  if (!full_ && f.sparse != nullptr && mrqcofSparse(f, a, alpha, beta, chisq)) return;
  mrqcofFull(f, a, alpha, beta, chisq);
}

void Mrq::mrqcofFull(
    const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq) {
  const Mat1<double> al{alpha, f.nca};
  const Vec1<double> be{beta};
  const Vec1<const double> x{f.x};
  const Vec1<const double> y{f.y};
  const Vec1<const double> sig{f.sig};
  const Vec1<const int> lista{f.lista};
  const Vec1<double> dyda{dyda_.data()};
  const int mfit = f.mfit;

  for (int j = 1; j <= mfit; ++j) {
    for (int k = 1; k <= j; ++k) al(j, k) = 0.0;
    be(j) = 0.0;
  }
  chisq = 0.0;
  for (int i = 1; i <= f.ndata; ++i) {
    double ymod = 0.0;
    f.funcs(x(i), a, ymod, dyda_.data(), f.ma, f.npeaks, f.nbak);
    const PointFit pf = pointFit(f.weights, y(i), ymod, sig(i));
    const double sig2i = pf.sig2i;
    const double dy = pf.dy;
    for (int j = 1; j <= mfit; ++j) {
      const double wt = dyda(lista(j)) * sig2i;
      for (int k = 1; k <= j; ++k) al(j, k) = al(j, k) + wt * dyda(lista(k));
      be(j) = be(j) + dy * wt;
    }
    chisq = chisq + pf.chisq;
  }
  // Per point, with the point count passed through single precision.
  chisq = chisq / static_cast<double>(static_cast<float>(f.ndata));
  for (int j = 2; j <= mfit; ++j) {
    for (int k = 1; k <= j - 1; ++k) al(k, j) = al(j, k);
  }
}

void Mrq::storeBlock(const Mat1<double>& al, const Vec1<double>& be, int nheld) {
  std::size_t idx = 0;
  for (int p = 0; p < nheld; ++p) {
    const int j = held_[static_cast<std::size_t>(p)];
    be(j) = lbe_[static_cast<std::size_t>(p)];
    for (int q = 0; q <= p; ++q) al(j, held_[static_cast<std::size_t>(q)]) = loc_[idx++];
  }
}

// Why the sparse update has the bits of the full one. At a point the full
// update adds wt(j) * dyda(k) to element (j, k) for every pair and dy * wt(j)
// to beta(j); the sparse update leaves out the pairs where a slot belongs to
// a peak beyond its cut-off, whose derivative the model sets to exactly 0. With
// finite factors such a term is +0 or -0, and adding a signed zero to a sum
// changes nothing: a non-zero sum stays as it is, and a sum that started at
// +0 and so far only met zeros or cancelled exactly is +0 (round to nearest
// gives +0 for x + (-x)), and +0 + -0 is +0. Likewise the model's value
// leaves out the peaks' exact-zero terms h * 0. Every element keeps its own
// order of points. A factor that is not finite (a parameter, or a derivative
// or sum that overflowed) could turn such a left-out term into NaN, so a pass
// that meets one, in the parameters or in any result, is done again by the
// full update.
bool Mrq::mrqcofSparse(
    const FitArgs& f, const double* a, double* alpha, double* beta, double& chisq) {
  const Vec1<const double> x{f.x};
  const Vec1<const int> lista{f.lista};
  const int mfit = f.mfit;
  // Slots are matched to matrix rows by the identity list every variant
  // uses; the sweep below needs the points in increasing abscissa order.
  for (int j = 1; j <= mfit; ++j) {
    if (lista(j) != j) return false;
  }
  for (int i = 2; i <= f.ndata; ++i) {
    if (!(x(i) >= x(i - 1))) return false;
  }
  const int n = f.sparse->reach(a, f.ma, f.npeaks, f.nbak, lo_.data(), hi_.data());
  if (n < 0 || n > kMaxPeaks) return false;

  // Peaks ordered by the start and by the end of their reach (a handful:
  // insertion sort; ties keep peak order).
  const auto order = [n](std::array<int, kMaxPeaks>& idx, const std::array<double, kMaxPeaks>& v) {
    for (int k = 0; k < n; ++k) {
      int p = k;
      while (p > 0 && v[static_cast<std::size_t>(idx[static_cast<std::size_t>(p - 1)])] >
                          v[static_cast<std::size_t>(k)]) {
        idx[static_cast<std::size_t>(p)] = idx[static_cast<std::size_t>(p - 1)];
        --p;
      }
      idx[static_cast<std::size_t>(p)] = k;
    }
  };
  order(byLo_, lo_);
  order(byHi_, hi_);

  const Mat1<double> al{alpha, f.nca};
  const Vec1<double> be{beta};
  const Vec1<const double> y{f.y};
  const Vec1<const double> sig{f.sig};
  const Vec1<double> dyda{dyda_.data()};
  for (int j = 1; j <= mfit; ++j) {
    for (int k = 1; k <= j; ++k) al(j, k) = 0.0;
    be(j) = 0.0;
  }
  chisq = 0.0;
  PeakSet cand = 0;
  int nlo = 0;
  int nhi = 0;
  int nheld = 0;
  for (int i = 1; i <= f.ndata; ++i) {
    const double xi = x(i);
    // Peaks whose reach starts at or before this point join; those whose
    // reach ended before it leave (a peak leaves only after it joined, since
    // lo <= hi).
    while (nlo < n && lo_[static_cast<std::size_t>(byLo_[static_cast<std::size_t>(nlo)])] <= xi) {
      cand |= PeakSet{1} << byLo_[static_cast<std::size_t>(nlo)];
      ++nlo;
    }
    while (nhi < n && hi_[static_cast<std::size_t>(byHi_[static_cast<std::size_t>(nhi)])] < xi) {
      cand &= ~(PeakSet{1} << byHi_[static_cast<std::size_t>(nhi)]);
      ++nhi;
    }
    double ymod = 0.0;
    int nact = 0;
    f.sparse->eval(xi, a, ymod, dyda_.data(), f.ma, f.npeaks, f.nbak, cand, act_.data(), nact);
    // Held slots come last in the ascending list and take no part.
    while (nact > 0 && act_[static_cast<std::size_t>(nact - 1)] > mfit) --nact;
    // The running sums of the active block live in held_/loc_/lbe_ while
    // the active slots stay the same (over most points: the background
    // between peaks); they move back to alpha and beta, unchanged, when the
    // slots change. Each sum is in one place at a time and takes its points
    // in order, so only where it is kept differs.
    bool same = nact == nheld;
    for (int p = 0; same && p < nact; ++p) {
      same = act_[static_cast<std::size_t>(p)] == held_[static_cast<std::size_t>(p)];
    }
    if (!same) {
      storeBlock(al, be, nheld);
      nheld = nact;
      std::size_t idx = 0;
      for (int p = 0; p < nact; ++p) {
        const int j = act_[static_cast<std::size_t>(p)];
        held_[static_cast<std::size_t>(p)] = j;
        lbe_[static_cast<std::size_t>(p)] = be(j);
        for (int q = 0; q <= p; ++q) loc_[idx++] = al(j, act_[static_cast<std::size_t>(q)]);
      }
    }
    for (int p = 0; p < nact; ++p) {
      dv_[static_cast<std::size_t>(p)] = dyda(act_[static_cast<std::size_t>(p)]);
    }
    const PointFit pf = pointFit(f.weights, y(i), ymod, sig(i));
    const double sig2i = pf.sig2i;
    const double dy = pf.dy;
    std::size_t idx = 0;
    for (int p = 0; p < nact; ++p) {
      const double wt = dv_[static_cast<std::size_t>(p)] * sig2i;
      for (int q = 0; q <= p; ++q) {
        loc_[idx] = loc_[idx] + wt * dv_[static_cast<std::size_t>(q)];
        ++idx;
      }
      lbe_[static_cast<std::size_t>(p)] = lbe_[static_cast<std::size_t>(p)] + dy * wt;
    }
    chisq = chisq + pf.chisq;
  }
  storeBlock(al, be, nheld);
  chisq = chisq / static_cast<double>(static_cast<float>(f.ndata));

  bool finite = std::isfinite(chisq);
  for (int j = 1; j <= mfit && finite; ++j) {
    finite = std::isfinite(be(j));
    for (int k = 1; k <= j && finite; ++k) finite = std::isfinite(al(j, k));
  }
  if (!finite) return false;
  for (int j = 2; j <= mfit; ++j) {
    for (int k = 1; k <= j - 1; ++k) al(k, j) = al(j, k);
  }
  ++sparsePasses_;
  return true;
}

MrqStatus Mrq::mrqmin(const FitArgs& f, double& chisq, double& alamda) {
  const int mfit = f.mfit;
  const int ma = f.ma;
  const Vec1<int> lista{f.lista};
  const Vec1<double> a{f.a};
  const Vec1<double> atry{atry_.data()};
  const Vec1<double> beta{beta_.data()};
  const Vec1<double> da{da_.data()};
  const Mat1<double> covar{f.covar, f.nca};
  const Mat1<double> alpha{f.alpha, f.nca};

  if (alamda < 0.0) {
    // The work arrays and matrices hold kMaxPar parameters: sizes beyond them
    // are an improper selection, refused before anything is written.
    if (ma < 1 || ma > kMaxPar || mfit < 0 || mfit > ma || f.nca < ma) {
      return MrqStatus::improper;
    }
    // Complete lista with the held parameters, checking that the free ones
    // are distinct indices of a.
    int kk = mfit + 1;
    for (int j = 1; j <= ma; ++j) {
      int ihit = 0;
      for (int k = 1; k <= mfit; ++k) {
        if (lista(k) == j) ++ihit;
      }
      if (ihit == 0) {
        // More held parameters than places: an entry lies outside 1..ma.
        if (kk > ma) {
          return MrqStatus::improper;
        }
        lista(kk) = j;
        ++kk;
      } else if (ihit > 1) {
        return MrqStatus::improper;
      }
    }
    if (kk != ma + 1) {
      return MrqStatus::improper;
    }
    alamda = f.options.alamdaStart;
    mrqcof(f, f.a, f.alpha, beta_.data(), chisq);
    ochisq_ = chisq;
    for (int j = 1; j <= ma; ++j) atry(j) = a(j);
  }

  // Damped system: the curvature with its diagonal scaled by 1 + alamda.
  for (int j = 1; j <= mfit; ++j) {
    for (int k = 1; k <= mfit; ++k) covar(j, k) = alpha(j, k);
    covar(j, j) = alpha(j, j) * (1.0 + alamda);
    da(j) = beta(j);
  }
  int gerr = 0;
  gaussj(f.covar, mfit, f.nca, da_.data(), 1, 1, gw_, gerr);
  if (gerr != 0) {
    return MrqStatus::singular;
  }
  if (alamda == 0.0) {
    covsrt(f.covar, f.nca, ma, f.lista, mfit);
    return MrqStatus::ok;
  }

  for (int j = 1; j <= mfit; ++j) atry(lista(j)) = a(lista(j)) + da(j);
  mrqcof(f, atry_.data(), f.covar, da_.data(), chisq);
  if (chisq < ochisq_) {
    alamda = alamda * f.options.alamdaDown;
    ochisq_ = chisq;
    for (int j = 1; j <= mfit; ++j) {
      for (int k = 1; k <= mfit; ++k) alpha(j, k) = covar(j, k);
      beta(j) = da(j);
      a(lista(j)) = atry(lista(j));
    }
  } else {
    alamda = alamda * f.options.alamdaUp;
    chisq = ochisq_;
  }
  return MrqStatus::ok;
}

}  // namespace tavrick
