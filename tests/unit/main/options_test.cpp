// The option phase: the settings it leaves behind. Each of its messages is
// checked against the built command in tests/e2e/options_test.cpp.
#include "main/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using tavrick::Settings;

Settings parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tavrick");
  std::vector<char*> p;
  for (auto& a : args) p.push_back(a.data());
  p.push_back(nullptr);
  tavrick::Args a(static_cast<int>(args.size()), p.data());
  Settings s;
  tavrick::options(a, s, stderr);
  return s;
}

// A valid command line plus more; "-widths 3" unless more gives widths.
std::vector<std::string> base(std::vector<std::string> more = {}) {
  std::vector<std::string> v{"-spectrum", "ge1", "-limit", "900", "100", "-peaks", "150"};
  if (std::find(more.begin(), more.end(), "-widths") == more.end()) {
    v.insert(v.end(), {"-widths", "3"});
  }
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

TEST(Options, DefaultsAndWindow) {
  const Settings s = parse(base());
  EXPECT_EQ(std::string(s.name.data(), 4), "ge1 ");
  EXPECT_EQ(s.namelen, 3);
  EXPECT_EQ(s.name[255], ' ');
  EXPECT_EQ(s.iskew, 0);
  EXPECT_EQ(s.ilor, 0);
  EXPECT_EQ(s.ifixwd, 0);
  EXPECT_EQ(s.idiffwd, 1);
  EXPECT_EQ(s.ifixcn, 0);
  EXPECT_EQ(s.nbak, 3);
  EXPECT_EQ(s.lim1, 900);
  EXPECT_EQ(s.lim2, 100);
  EXPECT_EQ(s.ilo, 100);
  EXPECT_EQ(s.ihi, 900);
  EXPECT_EQ(s.npeaks, 1);
  EXPECT_EQ(parse(base({"-order", "x"})).nbak, 3);
  EXPECT_EQ(parse(base({"-order", "0"})).nbak, 1);
  EXPECT_EQ(parse(base({"-order", "5"})).nbak, 6);
}

TEST(Options, WordsSetTheFlags) {
  const Settings lor = parse(base({"-shape", "lorentz", "-widthopt", "same"}));
  EXPECT_EQ(lor.ilor, 1);
  EXPECT_EQ(lor.iskew, 0);
  EXPECT_EQ(lor.ifixwd, 0);
  EXPECT_EQ(lor.idiffwd, 0);
  const Settings sk =
      parse(base({"-shape", "skew", "-skews", "2", "-widthopt", "given", "-peakopt", "given"}));
  EXPECT_EQ(sk.iskew, 1);
  EXPECT_EQ(sk.ifixwd, 1);
  EXPECT_EQ(sk.idiffwd, 1);
  EXPECT_EQ(sk.ifixcn, 1);
  EXPECT_EQ(parse(base({"-shape", "skewtail", "-widthopt", "given"})).iskew, 2);
}

TEST(Options, ListsEndAtTheFirstValueThatIsNoNumber) {
  const Settings s = parse({"-spectrum", "a", "-limit", "1", "2", "-peaks", "100.3", "-5", "x",
                            "200", "-widths", "3", "4"});
  EXPECT_EQ(s.npeaks, 2);
  // Reals pass through single precision.
  EXPECT_EQ(s.pos[0], static_cast<double>(100.3f));
  EXPECT_NE(s.pos[0], 100.3);
  EXPECT_EQ(s.pos[1], -5.0);
  EXPECT_EQ(s.width, 3.0);
  EXPECT_EQ(s.fwhmin[1], 4.0);
  EXPECT_EQ(s.fwhmin[29], 4.0);
}

TEST(Options, ThirtyValuesFit) {
  std::vector<std::string> v{"-spectrum", "a", "-limit", "1", "2", "-peaks"};
  for (int k = 1; k <= 30; ++k) v.push_back(std::to_string(k));
  v.push_back("-widths");
  for (int k = 1; k <= 30; ++k) v.push_back(std::to_string(k) + ".5");
  const Settings s = parse(v);
  EXPECT_EQ(s.npeaks, 30);
  EXPECT_EQ(s.pos[29], 30.0);
  EXPECT_EQ(s.fwhmin[29], 30.5);
}

TEST(Options, LowSideWidths) {
  // Without skews the low side takes the padded high-side widths.
  const Settings none =
      parse(base({"-widths", "3", "4", "-shape", "skewtail", "-widthopt", "given"}));
  EXPECT_EQ(none.fwloin, none.fwhmin);
  EXPECT_EQ(none.widlo, 3.0);
  const Settings given = parse(base({"-skews", "1.25", "2"}));
  EXPECT_EQ(given.widlo, 1.25);
  EXPECT_EQ(given.fwloin[1], 2.0);
  EXPECT_EQ(given.fwloin[29], 2.0);
  EXPECT_EQ(given.fwhmin[29], 3.0);
}

TEST(Options, SearchHalfWidth) {
  const struct {
    std::vector<std::string> more;
    int ipksch;
  } cases[] = {
      {{}, tavrick::kPeakSearch},
      {{"-search", "0"}, 0},
      {{"-search", "3"}, 3},
      {{"-search", "+65536"}, 65536},
      {{"-search", "007"}, 7},
      {{"-search", "4", "-search", "9"}, 4},  // only the first occurrence counts
      {{"-search"}, tavrick::kPeakSearch},    // a name with nothing after it
  };
  for (const auto& c : cases) EXPECT_EQ(parse(base(c.more)).ipksch, c.ipksch) << c.more.size();
}

Settings parse_hpge(std::vector<std::string> args, int ihpge = 1) {
  args.insert(args.begin(), "tavrick");
  std::vector<char*> p;
  for (auto& a : args) p.push_back(a.data());
  p.push_back(nullptr);
  tavrick::Args a(static_cast<int>(args.size()), p.data());
  Settings s;
  tavrick::options(a, s, stderr);
  s.ihpge = ihpge;
  tavrick::hpge_options(a, s, stderr);
  return s;
}

TEST(Options, GermaniumShapeAndWeights) {
  using tavrick::Weighting;
  const struct {
    std::vector<std::string> more;
    double r, beta, step;
    bool hr, hb, hs;
    Weighting wt;
    double rh = 0.0, betah = 0.0;
    bool hrh = false, hbh = false;
  } cases[] = {
      // clang-format off
      // Defaults: R 10 %, BETA half the first width, STEP 0.25 %, all free.
      {{}, 10.0, 1.5, 0.25, false, false, false, Weighting::data},
      {{"-tail", "5", "1.25", "-step", "-0.5"}, 5.0, 1.25, -0.5, false, false, false,
       Weighting::data},
      {{"-tail", "0", "2", "-hold", "r", "beta"}, 0.0, 2.0, 0.25, true, true, false,
       Weighting::data},
      {{"-hold", "step", "x", "r"}, 10.0, 1.5, 0.25, false, false, true, Weighting::data},
      {{"-hold", "beta", "-weights", "poisson"}, 10.0, 1.5, 0.25, false, true, false,
       Weighting::poisson},
      {{"-weights", "fit", "-weights", "data"}, 10.0, 1.5, 0.25, false, false, false,
       Weighting::fit},
      {{"-tail", "100", "0.1", "-hold"}, 100.0, 0.10000000149011612, 0.25, false, false, false,
       Weighting::data},
      {{"-hightail", "4", "0.75", "-hold", "rh", "betah", "step"}, 10.0, 1.5, 0.25, false, false,
       true, Weighting::data, 4.0, 0.75, true, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    const Settings s = parse_hpge(base(c.more));
    const std::string what = c.more.empty() ? "defaults" : c.more[0] + " " + c.more[1];
    EXPECT_EQ(s.tailr, c.r) << what;
    EXPECT_EQ(s.tailbeta, c.beta) << what;
    EXPECT_EQ(s.tailstep, c.step) << what;
    EXPECT_EQ(s.holdr, c.hr) << what;
    EXPECT_EQ(s.holdbeta, c.hb) << what;
    EXPECT_EQ(s.holdstep, c.hs) << what;
    EXPECT_EQ(s.weights, c.wt) << what;
    EXPECT_EQ(s.tailrh, c.rh) << what;
    EXPECT_EQ(s.tailbetah, c.betah) << what;
    EXPECT_EQ(s.holdrh, c.hrh) << what;
    EXPECT_EQ(s.holdbetah, c.hbh) << what;
  }
  // Weights go with every shape.
  EXPECT_EQ(parse_hpge(base({"-weights", "poisson"}), 0).weights, Weighting::poisson);
}

TEST(OptionsDeathTest, GermaniumShapeAndWeightsRefused) {
  const struct {
    std::vector<std::string> more;
    int ihpge;
    const char* msg;
  } cases[] = {
      {{"-tail", "5"}, 1, "^bad TAIL argument \\(R 0..100, BETA above 0\\)\n$"},
      {{"-tail", "5", "-step", "1"}, 1, "^bad TAIL argument"},
      {{"-tail", "101", "1"}, 1, "^bad TAIL argument"},
      {{"-tail", "-1", "1"}, 1, "^bad TAIL argument"},
      {{"-tail", "5", "0"}, 1, "^bad TAIL argument"},
      {{"-tail", "x", "1"}, 1, "^bad TAIL argument"},
      {{"-step", "s"}, 1, "^bad STEP argument\n$"},
      {{"-hightail", "5", "-1"}, 1, "^bad HIGHTAIL argument \\(RH 0..100, BETAH above 0\\)\n$"},
      {{"-hightail", "100.5", "1"}, 1, "^bad HIGHTAIL argument"},
      {{"-hightail", "2", "1"}, 0, "^TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge\n$"},
      {{"-hold", "R"}, 1, "^bad HOLD argument \\(r\\|beta\\|step\\|rh\\|betah\\)R\n$"},
      {{"-hold", "-order", "1"},
       1,
       "^bad HOLD argument \\(r\\|beta\\|step\\|rh\\|betah\\)-order\n$"},
      {{"-weights", "Poisson"}, 1, "^bad WEIGHTS argument \\(data\\|fit\\|poisson\\)Poisson\n$"},
      {{"-step", "1"}, 0, "^TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge\n$"},
      {{"-hold", "r"}, 0, "^TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge\n$"},
      {{"-tail", "5", "1"}, 0, "^TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge\n$"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(parse_hpge(base(c.more), c.ihpge), ::testing::ExitedWithCode(8), c.msg)
        << c.more[0] << " " << c.more[1];
  }
}

TEST(Options, CombinationsWithAShapeAreAccepted) {
  EXPECT_EQ(parse(base({"-peakopt", "given", "-widthopt", "same"})).ifixcn, 1);
  EXPECT_EQ(parse(base({"-shape", "lorentz", "-peakopt", "given"})).ifixcn, 1);
  EXPECT_EQ(parse(base({"-shape", "skew", "-skews", "2", "-peakopt", "given"})).ifixcn, 1);
}

}  // namespace
