// The engine entry: configuration report, variant selection, the closing
// lines and the requests it must refuse rather than run.
#include "engine/korvel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "format/fortran.h"

namespace {

using tavrick::FitResults;
using tavrick::korvel;
using tavrick::KorvelArgs;
using tavrick::selectVariant;
using tavrick::Variant;
using tavrick::Workspace;

// Output of one engine call, captured through a memory stream.
struct Capture {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  std::string text() {
    std::fflush(f);
    return std::string(buf, len);
  }
  ~Capture() {
    std::fclose(f);
    std::free(buf);
  }
};

// A window with one Gaussian (centroid 50.3, FWHM 4) on a flat 20 counts.
struct Fixture {
  std::vector<double> spec = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(tavrick::kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(tavrick::kChanArray, 0.0);
  double pos[30] = {48.0};
  double fwhmin[30] = {4.0};
  double fwloin[30] = {4.0};
  std::unique_ptr<Workspace> w = std::make_unique<Workspace>();
  FitResults r{};
  KorvelArgs k{};

  Fixture() {
    for (int i = 1; i <= 100; ++i) {
      const double b = (i - 50.3) / (4.0 / 1.665109223);
      spec[static_cast<std::size_t>(i)] = std::round(20.0 + 1000.0 * std::exp(-b * b));
    }
    k = KorvelArgs{spec.data(), tavrick::kMaxCh,
                   20,          80,
                   1,           1,
                   pos,         fwhmin,
                   fwloin,      4.0,
                   4.0,         10,
                   1,           0,
                   0,           0,
                   0,           0.0,
                   fit.data(),  peaks.data(),
                   bkgrd.data()};
  }
  std::string run() {
    Capture c;
    korvel(k, r, *w, c.f);
    return c.text();
  }
};

const char* const kBanner =
    "\n"
    " KORVEL-Quenmoor University Fast FITting\n"
    " Version 3.0  23/11/92\n";

TEST(SelectVariant, FollowsTheFlagTable) {
  // ilor, ifixwd, iskew, ifixcn, idiffwd
  EXPECT_EQ(selectVariant(1, 0, 0, 0, 0), Variant::lorf);
  EXPECT_EQ(selectVariant(1, 0, 0, 0, 1), Variant::lor);
  EXPECT_EQ(selectVariant(1, 0, 0, 0, 2), Variant::None);
  EXPECT_EQ(selectVariant(2, 0, 0, 0, 1), Variant::None);
  EXPECT_EQ(selectVariant(-1, 0, 0, 0, 0), Variant::None);
  EXPECT_EQ(selectVariant(0, 1, 0, 0, 1), Variant::fwvc);
  EXPECT_EQ(selectVariant(0, 1, 0, 1, 0), Variant::fwfc);
  EXPECT_EQ(selectVariant(0, 1, 1, 0, 1), Variant::sfwvc);
  EXPECT_EQ(selectVariant(0, 1, 2, 0, 1), Variant::sfwvc);  // skewtail, widths given
  EXPECT_EQ(selectVariant(0, 1, 2, 1, 1), Variant::sfwfc);
  EXPECT_EQ(selectVariant(0, 0, 1, 1, 0), Variant::skewf);  // skew ignores held centroids
  EXPECT_EQ(selectVariant(0, 0, 1, 0, 1), Variant::skew);
  EXPECT_EQ(selectVariant(0, 0, 2, 0, 0), Variant::None);  // skewtail, same width
  EXPECT_EQ(selectVariant(0, 0, 0, 0, 0), Variant::symf);
  EXPECT_EQ(selectVariant(0, 0, 0, 1, 0), Variant::symfc);
  EXPECT_EQ(selectVariant(0, 0, 0, 0, 1), Variant::sym);
  EXPECT_EQ(selectVariant(0, 0, 0, 1, 1), Variant::None);  // gauss, different, given
  EXPECT_EQ(selectVariant(0, 0, 0, 0, 2), Variant::None);
}

TEST(Korvel, ReportsConfigurationInOrder) {
  Fixture f;
  f.k.idiffwd = 0;
  f.k.iskew = 1;
  f.k.ifixwd = 1;
  f.k.ifixcn = 1;
  const std::string out = f.run();
  const std::string head = std::string(kBanner) +
                           " Number of peaks=    1\n"
                           " Number of background parameters=    1\n"
                           " Start channel=   20  End Channel=   80\n"
                           " Asymmetric (skew) Gaussian shape \n"
                           " Search on Centroid guesses\n"
                           " Centroids of peaks fixed in search\n"
                           " Single width, Fwhm=  4.0\n"
                           " Width of peaks fixed in search\n";
  EXPECT_EQ(out.substr(0, head.size()), head);
}

TEST(Korvel, LorentzianClearsHeldFlags) {
  Fixture f;
  f.k.ilor = 1;
  f.k.iskew = 1;
  f.k.ifixwd = 1;
  f.k.ifixcn = 1;
  const std::string out = f.run();
  EXPECT_NE(out.find(" Lorentzian peak shape\n Search on Centroid guesses\n"
                     " Different widths for peaks\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("fixed in search"), std::string::npos);
  EXPECT_EQ(f.k.iskew, 0);
  EXPECT_EQ(f.k.ifixwd, 0);
  EXPECT_EQ(f.k.ifixcn, 0);
}

TEST(Korvel, WideSingleWidthPrintsAsterisks) {
  Fixture f;
  f.k.idiffwd = 0;
  f.k.width = 1000.0;
  f.k.ilor = 5;  // no variant: only the report is wanted
  EXPECT_NE(f.run().find(" Single width, Fwhm=*****\n"), std::string::npos);
}

TEST(Korvel, NoVariantStopsAfterSearchAndTotal) {
  Fixture f;
  f.k.iskew = 2;  // skewtail with a common free width: nothing fits it
  f.k.idiffwd = 0;
  f.r.chisq = 7.0;
  const std::string out = f.run();
  const std::string tail =
      " Single width, Fwhm=  4.0\n"
      " No fit: no peak shape matches these flags\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_EQ(f.pos[0], 50.0);  // the search still ran
  double total = 0.0;
  for (int i = 20; i <= 80; ++i) total += f.spec[static_cast<std::size_t>(i)];
  EXPECT_EQ(f.k.total, total);
  EXPECT_EQ(f.r.chisq, 7.0);
}

TEST(Korvel, RefusesRequestsBeyondItsStorage) {
  for (int which = 0; which < 4; ++which) {
    Fixture f;
    if (which == 0) f.k.npeaks = 31;
    if (which == 1) f.k.nbak = 7;
    if (which == 2) f.k.ilo = -1;
    if (which == 3) f.k.ihi = tavrick::kMaxCh + 1;
    const std::string out = f.run();
    EXPECT_NE(out.find(" No fit: request beyond the limits of the engine\n"), std::string::npos)
        << which;
    EXPECT_EQ(out.find("Check="), std::string::npos);
  }
}

TEST(Korvel, ClosingLinesUseTheWindowAndFreeParameters) {
  Fixture f;  // sym: one peak, one background coefficient, 4 free parameters
  const std::string out = f.run();
  double s = 0.0;
  s += f.r.arefit[0];
  const double check = (100.0 * ((s + f.r.bakarea) - f.k.total)) / f.k.total;
  const double perdof = (static_cast<double>(61.0f) * f.r.chisq) / static_cast<double>(57.0f);
  const std::string tail =
      fortran::format("('   Check=100*(Fit-Total)/Total = ',F7.2,' %')", check) +
      fortran::format("('   Chisq per data point        = ',F10.2)", f.r.chisq) +
      fortran::format("('   Chisq per degree of freedom = ',F10.2//)", perdof);
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
  EXPECT_NEAR(f.r.cenfit[0], 50.3, 0.05);
  EXPECT_NEAR(f.r.fwhfit[0], 4.0, 0.05);
}

// The germanium shape is a row of the variant table like the others: set,
// it is fitted whatever the flags say (here a combination no flag variant
// matches), and the closing lines count its own free parameters.
TEST(Korvel, GermaniumShapeIsFittedWhateverTheFlags) {
  Fixture f;
  const tavrick::hpge::Config c{};
  f.k.ilor = 5;
  f.k.hpge = &c;
  EXPECT_EQ(tavrick::variantOf(f.k), Variant::hpge);
  EXPECT_EQ(tavrick::freeParameters(Variant::hpge, 1, 1), 0);
  const int nfree = tavrick::hpge::freeParameters(c, 1, 1);
  EXPECT_EQ(tavrick::freeParameters(f.k), nfree);
  const std::string out = f.run();
  const double check = (100.0 * ((f.r.arefit[0] + f.r.bakarea) - f.k.total)) / f.k.total;
  const double perdof = (static_cast<double>(61.0f) * f.r.chisq) /
                        static_cast<double>(static_cast<float>(61 - nfree));
  const std::string tail =
      fortran::format("('   Check=100*(Fit-Total)/Total = ',F7.2,' %')", check) +
      fortran::format("('   Chisq per data point        = ',F10.2)", f.r.chisq) +
      fortran::format("('   Chisq per degree of freedom = ',F10.2//)", perdof);
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
  EXPECT_NEAR(f.r.posfit[0], 50.3, 0.2);
  EXPECT_NE(f.r.shapefit[1], 0.0);  // BETA, reported by the germanium result routine
}

}  // namespace
