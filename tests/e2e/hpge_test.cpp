// -shape hpge end to end on the bundled Eu-152 spectrum: refusals of bad
// option values, the report and the results file, the chi-square of the
// strong lines and the lines against gf3's own fit of the same spectrum
// (data/radware_eu152_gf3.sto, centroids in channels, areas in counts).
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

using Json = nlohmann::json;
using testsupport::slurp;

class Hpge : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testsupport::TempDir;
    store_ = dir_->path + "/demo.db";
    const auto r =
        testsupport::run({testsupport::bin("tavrick-store"), "demo", "--experiment", store_});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() { delete dir_; }

  static testsupport::Result run(std::vector<std::string> args) {
    args.insert(args.begin(), testsupport::bin("tavrick"));
    return testsupport::run(args, {"TAVRICK_EXPERIMENT=" + store_});
  }

  // A fit of radware_eu152_be with its results file read back.
  Json fit(const std::vector<std::string>& more, testsupport::Result* out = nullptr) {
    std::vector<std::string> args{"-spectrum", "radware_eu152_be", "-shape", "hpge"};
    args.insert(args.end(), more.begin(), more.end());
    args.insert(args.end(), {"-results", file("r.json")});
    const auto r = run(args);
    EXPECT_EQ(r.status, 0) << r.out;
    if (out != nullptr) *out = r;
    return Json::parse(slurp(file("r.json")));
  }

  std::string file(const std::string& name) const { return out_.path + "/" + name; }

  static testsupport::TempDir* dir_;
  static std::string store_;
  testsupport::TempDir out_;
};

testsupport::TempDir* Hpge::dir_ = nullptr;
std::string Hpge::store_;

const std::vector<std::string> kLine{"-limit", "180", "208", "-peaks", "195", "-widths", "2.6"};

// A bad value of each new option: one line, status 8, nothing else printed.
// With the other shapes the new options stay what they were, unknown words,
// and the listing keeps its bytes.
TEST_F(Hpge, BadValuesAreRefusedAndOtherShapesIgnoreTheNewOptions) {
  struct Case {
    std::vector<std::string> more;
    std::string message;
  };
  const std::vector<Case> cases{
      {{"-tail", "5"}, "bad TAIL argument (R 0..100, BETA above 0)"},
      {{"-tail", "101", "1"}, "bad TAIL argument (R 0..100, BETA above 0)"},
      {{"-tail", "5", "0"}, "bad TAIL argument (R 0..100, BETA above 0)"},
      {{"-step", "x"}, "bad STEP argument"},
      {{"-hightail", "2", "-1"}, "bad HIGHTAIL argument (RH 0..100, BETAH above 0)"},
      {{"-hold", "R"}, "bad HOLD argument (r|beta|step|rh|betah)R"},
      {{"-shape", "hpgE"}, "bad SHAPE argument (gauss|skew|skewtail|lorentz)hpgE"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"-spectrum", "radware_eu152_be"};
    args.insert(args.end(), kLine.begin(), kLine.end());
    // The shape word of a case replaces hpge: the first -shape counts.
    if (c.more[0] != "-shape") args.insert(args.end(), {"-shape", "hpge"});
    args.insert(args.end(), c.more.begin(), c.more.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 8) << c.message;
    EXPECT_EQ(r.out, c.message + "\n");
    EXPECT_EQ(r.err, "");
  }
  std::vector<std::string> gauss{"-spectrum", "radware_eu152_be"};
  gauss.insert(gauss.end(), kLine.begin(), kLine.end());
  const auto plain = run(gauss);
  ASSERT_EQ(plain.status, 0);
  for (const std::vector<std::string>& more :
       {std::vector<std::string>{"-tail", "5", "1", "-step", "2"},
        std::vector<std::string>{"-hold", "x", "-hightail", "-3"}}) {
    auto args = gauss;
    args.insert(args.end(), more.begin(), more.end());
    const auto r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plain.out);
  }
}

// The report: the shape's banner and held parameters in the configuration
// block, the table, the shape parameters under it and the usual closing
// lines; the results file holds every parameter, passes the schema, and its
// arguments repeat the fit bit for bit.
TEST_F(Hpge, ReportAndResultsFileHoldEveryParameter) {
  std::vector<std::string> more = kLine;
  more.insert(more.end(), {"-widthopt", "same", "-tail", "5", "1", "-hightail", "3.5", "0.8",
                           "-hold", "rh", "betah"});
  testsupport::Result r;
  const Json j = fit(more, &r);
  for (const char* line :
       {"\n Germanium peak shape: Gaussian, tail and step\n High-side tail included\n"
        " High-side tail share RH fixed in search\n High-side tail length BETAH fixed in search\n",
        "\n Single width, Fwhm=  2.6\n", "\n             Centroid               Area",
        "\n   Tail R (%)          ", "\n   High tail BETAH          0.800 +/-   0.000\n",
        "\n   Chisq per degree of freedom = "}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(j["shape"], "hpge");
  EXPECT_EQ(j["variant"], "hpge");
  // Height, centroid and the common width, R, BETA, STEP and three
  // background coefficients.
  EXPECT_EQ(j["free_parameters"], 2 + 1 + 3 + 3);
  const Json& h = j["hpge"];
  for (const char* p : {"r", "beta", "step", "rh", "betah"}) {
    const bool held = std::string(p) == "rh" || std::string(p) == "betah";
    EXPECT_EQ(h[p]["held"], held) << p;
    EXPECT_EQ(h[p]["error"].get<double>() == 0.0, held) << p;
  }
  const Json& p = j["peaks"][0];
  EXPECT_GT(p["position_error"].get<double>(), 0.0);
  // The mean position differs from the Gaussian's centroid by the tails'
  // shift, a fraction of a channel here.
  EXPECT_NEAR(p["centroid"].get<double>(), p["position"].get<double>(), 0.2);

  const auto v = testsupport::run({"/usr/bin/python3", TAVRICK_TEST_DIR "/e2e/validate_results.py",
                                   TAVRICK_SOURCE_DIR "/docs/results.schema.json", file("r.json")});
  EXPECT_EQ(v.status, 0) << v.out << v.err;

  auto again = j["arguments"].get<std::vector<std::string>>();
  again.insert(again.end(), {"-results", file("again.json")});
  EXPECT_EQ(run(again).out, r.out);
  EXPECT_EQ(slurp(file("again.json")), slurp(file("r.json")));
}

// The strong lines at 121.8, 344.3 and 1408.0 keV with every shape parameter
// free: chi-square per degree of freedom at most 5, from the results file.
TEST_F(Hpge, StrongLinesFitWithinChisqFive) {
  struct Case {
    const char* lo;
    const char* hi;
    const char* peak;
    const char* width;
  };
  const std::vector<Case> cases{
      {"180", "208", "195", "2.4"}, {"538", "560", "551", "2.6"}, {"2238", "2264", "2253", "3.4"}};
  for (const auto& c : cases) {
    const Json j = fit({"-limit", c.lo, c.hi, "-peaks", c.peak, "-widths", c.width, "-tail", "5",
                        "1", "-hightail", "3.5", "0.8", "-step", "0.5"});
    EXPECT_EQ(j["status"], "converged") << c.peak;
    EXPECT_LE(j["chisq_per_dof"].get<double>(), 5.0) << c.peak;
  }
}

// gf3's fit of the same spectrum, line by line: on its 14 clean lines (all
// but the members of the 1775/1779 doublet, 1.4 FWHM apart) centroids within
// 0.05 channel and areas within 1.5 %. The guesses are used as given
// (-search 0) and the high-side tail is held at the 121.8 keV line's values.
// Lines with enough counts fit R, BETA and STEP. The two weak lines gf3
// itself gives a centroid error above 0.05 channel for (1940.7, 2078.7) hold
// them at values interpolated linearly in channel between the strong
// singlets on either side (1542.6 and 2252.9): the shape is calibrated on
// strong lines and held for weak ones.
TEST_F(Hpge, CleanLinesAgreeWithGf3) {
  struct Line {
    double centroid, area;  // gf3's
    bool clean;             // within 0.05 channel and 1.5 %
  };
  struct Window {
    std::vector<std::string> limits, peaks, widths;
    std::vector<Line> lines;  // gf3's lines among the peaks, in peak order
    std::vector<std::string> more;
    int below = -1, above = -1;  // the calibration windows (weak lines)
  };
  // Windows keep neighbouring lines out, or fit them: the 1085.8 keV line
  // (not in gf3's file) next to 1743.7, the small peak at 2068.5 next to
  // 2078.7.
  const std::vector<Window> windows{
      {{"180", "208"}, {"194.7"}, {"2.4"}, {{194.7264, 1355289, true}}, {}},
      {{"378", "398"}, {"391.5"}, {"2.5"}, {{391.5353, 423900, true}}, {}},
      {{"462", "486"}, {"473.6"}, {"2.5"}, {{473.5633, 22229, true}}, {}},
      {{"538", "560"}, {"551.0"}, {"2.6"}, {{551.0142, 1174351, true}}, {}},
      {{"578", "600"}, {"588.6"}, {"2.6"}, {{588.6310, 36006, true}}, {}},
      {{"646", "662"}, {"658.0"}, {"2.6"}, {{657.9832, 85158, true}}, {}},
      {{"698", "722"}, {"710.5"}, {"2.7"}, {{710.5352, 111780, true}}, {}},
      {{"1234", "1260"}, {"1246.4"}, {"2.9"}, {{1246.3583, 286830, true}}, {}},
      {{"1374", "1402"}, {"1387.9"}, {"3.0"}, {{1387.8970, 86054, true}}, {}},
      {{"1530", "1556"}, {"1542.6"}, {"3.1"}, {{1542.5872, 273018, true}}, {}},
      {{"1725", "1756"},
       {"1738.0", "1743.7"},
       {"3.2"},
       {{0, 0, false}, {1743.6696, 30032, true}},
       {}},
      {{"1764", "1792"},
       {"1774.8", "1779.4"},
       {"3.2"},
       {{1774.7960, 3228, false}, {1779.4142, 226988, false}},
       {"-widthopt", "same"}},
      {{"2238", "2264"}, {"2252.9"}, {"3.4"}, {{2252.9036, 287551, true}}, {}},
      {{"1925", "1956"}, {"1940.7"}, {"3.3"}, {{1940.7156, 21921, true}}, {}, 9, 12},
      {{"2058", "2092"},
       {"2068.5", "2078.7"},
       {"3.3"},
       {{0, 0, false}, {2078.6592, 24079, true}},
       {},
       9,
       12},
  };
  std::vector<Json> fits;
  int clean = 0;
  for (const auto& w : windows) {
    std::vector<std::string> args{"-limit", w.limits[0], w.limits[1], "-peaks"};
    args.insert(args.end(), w.peaks.begin(), w.peaks.end());
    args.emplace_back("-widths");
    args.insert(args.end(), w.widths.begin(), w.widths.end());
    args.insert(args.end(), {"-hightail", "2.6", "0.92", "-search", "0"});
    if (w.below < 0) {
      args.insert(args.end(), {"-tail", "11.36", "0.76", "-step", "0.5", "-hold", "rh", "betah"});
    } else {
      // The shape at the weak line's guess (its window's last peak), from
      // the calibration fits.
      const Json& lo = fits[static_cast<std::size_t>(w.below)];
      const Json& hi = fits[static_cast<std::size_t>(w.above)];
      const double c0 = lo["peaks"][0]["centroid"].get<double>();
      const double c1 = hi["peaks"][0]["centroid"].get<double>();
      const double t = (std::stod(w.peaks.back()) - c0) / (c1 - c0);
      const auto at = [&](const char* p) {
        const double v0 = lo["hpge"][p]["value"].get<double>();
        return std::to_string(v0 + t * (hi["hpge"][p]["value"].get<double>() - v0));
      };
      args.insert(args.end(), {"-tail", at("r"), at("beta"), "-step", at("step"), "-hold", "r",
                               "beta", "step", "rh", "betah"});
    }
    args.insert(args.end(), w.more.begin(), w.more.end());
    const Json j = fit(args);
    fits.push_back(j);
    ASSERT_EQ(j["peaks"].size(), w.lines.size());
    EXPECT_EQ(j["status"], "converged") << w.peaks[0];
    for (std::size_t i = 0; i < w.lines.size(); ++i) {
      const Line& l = w.lines[i];
      if (!l.clean) continue;
      ++clean;
      const Json& p = j["peaks"][i];
      EXPECT_NEAR(p["centroid"].get<double>(), l.centroid, 0.05) << l.centroid;
      EXPECT_NEAR(p["area"].get<double>() / l.area, 1.0, 0.015) << l.centroid;
    }
  }
  EXPECT_EQ(clean, 14);
}

}  // namespace
