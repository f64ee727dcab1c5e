// Whole fits through the start routines of the Lorentzian variants:
// noise-free peaks come back exactly and noisy ones within their errors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/lorentz/lorentz.h"
#include "unit/skew/harness.h"

namespace {

using testfit::at;
using testfit::expectRel;
using testfit::Fit;

struct Peak {
  double pos, height, fwhm;
};

struct Synthetic {
  std::vector<Peak> peaks;
  std::vector<double> back;

  void fill(Fit& f) const {
    for (int ch = f.ilo; ch <= f.ihi; ++ch) {
      const double x = ch - f.ilo;
      double y = 0.0;
      for (const Peak& p : peaks) {
        const double d = x - (p.pos - f.ilo);
        const double b = p.fwhm / 2.0;
        y += p.height * b * b / (d * d + b * b);
      }
      for (std::size_t j = 0; j < back.size(); ++j) y += back[j] * std::pow(x, static_cast<int>(j));
      f.spec[at(ch)] = y;
    }
  }
};

const Synthetic kTwo{{{130.4, 800.0, 6.0}, {158.2, 400.0, 4.4}}, {20.0, 0.1, -5e-4}};

bool failed(const Fit& f) { return f.log.find("Fit failed") != std::string::npos; }

TEST(Glor, RecoversNoiseFreePeaks) {
  Fit f;
  kTwo.fill(f);
  f.run(tavrick::glor, {131.0, 158.0}, {5.0, 5.0}, 0.0, 0.0, 2, 3);
  ASSERT_FALSE(failed(f)) << f.log;
  f.report(tavrick::xlor, 2, 3);
  for (std::size_t k = 0; k < 2; ++k) {
    const Peak& p = kTwo.peaks[k];
    expectRel(f.res.cenfit[k], p.pos, 1e-6, "centroid");
    expectRel(f.res.hgtfit[k], p.height, 1e-6, "height");
    expectRel(f.res.fwhfit[k], p.fwhm, 1e-6, "FWHM");
    expectRel(f.res.arefit[k], 3.141592654 * p.fwhm / 2.0 * p.height, 1e-6, "area");
  }
  for (std::size_t j = 0; j < 3; ++j) expectRel(f.res.bakfit[j], kTwo.back[j], 1e-5, "background");
  for (int ch = f.ilo; ch <= f.ihi; ++ch) EXPECT_NEAR(f.fit[at(ch)], f.spec[at(ch)], 1e-5) << ch;
}

TEST(Glorf, RecoversNoiseFreePeaksWithCommonWidth) {
  Synthetic syn = kTwo;
  for (Peak& p : syn.peaks) p.fwhm = 5.2;
  Fit f;
  syn.fill(f);
  f.run(tavrick::glorf, {131.0, 158.0}, {}, 7.0, 0.0, 2, 3);
  ASSERT_FALSE(failed(f)) << f.log;
  f.report(tavrick::xlorf, 2, 3);
  for (std::size_t k = 0; k < 2; ++k) {
    expectRel(f.res.cenfit[k], syn.peaks[k].pos, 1e-6, "centroid");
    expectRel(f.res.hgtfit[k], syn.peaks[k].height, 1e-6, "height");
    expectRel(f.res.fwhfit[k], 5.2, 1e-6, "FWHM");
  }
}

}  // namespace
