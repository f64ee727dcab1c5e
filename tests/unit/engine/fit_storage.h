// Storage of one minimiser fit with kMaxPar places everywhere, as the
// variants hold it: points x = 0 .. n-1 with unit sigmas, every parameter free.
#pragma once

#include <array>
#include <vector>

#include "engine/mrqmin.h"

namespace enginetest {

struct FitStorage {
  std::vector<double> x, y, sig, peaks, bkgrd;
  std::array<double, tavrick::kMaxPar> a{};
  std::array<int, tavrick::kMaxPar> lista{};
  std::vector<double> covar = std::vector<double>(tavrick::kNca * tavrick::kNca, 0.0);
  std::vector<double> alpha = std::vector<double>(tavrick::kNca * tavrick::kNca, 0.0);
  tavrick::Mrq mrq;
  double chisq = 0.0;

  explicit FitStorage(int n) : x(n), y(n), sig(n, 1.0), peaks(n), bkgrd(n) {
    for (int i = 0; i < n; ++i) x[i] = i;
    for (int k = 0; k < tavrick::kMaxPar; ++k) lista[k] = k + 1;
  }
  double cov(int i, int j) const { return covar[(i - 1) + (j - 1) * tavrick::kNca]; }
  tavrick::FitArgs args(tavrick::Model m, int ma, int mfit) {
    return tavrick::FitArgs{x.data(),
                            y.data(),
                            peaks.data(),
                            bkgrd.data(),
                            sig.data(),
                            static_cast<int>(x.size()),
                            a.data(),
                            ma,
                            lista.data(),
                            mfit,
                            covar.data(),
                            alpha.data(),
                            tavrick::kNca,
                            m,
                            0,
                            0};
  }
};

}  // namespace enginetest
