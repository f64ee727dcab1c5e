// The results library: the fit call's checks and statuses, a reused
// workspace, the JSON and CSV forms and the all-or-nothing file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "results/file.h"
#include "results/fit.h"
#include "support/files.h"
#include "support/store.h"

namespace {

namespace fs = std::filesystem;
using tavrick::FitStatus;
using namespace tavrick::results;

class Results : public testing::Test {
 protected:
  // Channels 0 .. 199: a Gaussian of height 1000 and FWHM 5 at channel 100
  // on a flat 50 counts.
  Results() : counts_(200) {
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      const double x = (static_cast<double>(i) - 100.0) / (5.0 / 1.665109223);
      counts_[i] = std::round(50.0 + 1000.0 * std::exp(-x * x));
    }
    dir_ = fs::temp_directory_path() / ("results_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  ~Results() override { fs::remove_all(dir_); }

  FitRequest request() const {
    FitRequest r;
    r.spectrum = "line";
    r.counts = counts_;
    r.lo = 70;
    r.hi = 130;
    r.peaks = {101};
    r.widths = {4.4};
    r.order = 1;
    return r;
  }

  static std::vector<std::string> files(const fs::path& d) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(d)) v.push_back(e.path().filename().string());
    return v;
  }

  std::vector<double> counts_;
  fs::path dir_;
  FitWorkspace ws_;
};

TEST_F(Results, RefusesRequestsWithTheCommandsMessages) {
  struct Case {
    std::function<void(FitRequest&)> change;
    std::string message;
  };
  const std::vector<Case> cases{
      {[](FitRequest& r) { r.shape = "Gauss"; },
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)Gauss"},
      {[](FitRequest& r) { r.widthopt = "fixed"; },
       "bad WIDTHOPT argument (different|same|given)fixed"},
      {[](FitRequest& r) { r.peakopt = ""; }, "bad PEAKOPT argument (different|given)"},
      {[](FitRequest& r) { r.order = 6; }, "invalid background polynomial order (0..5)"},
      {[](FitRequest& r) { r.peaks.assign(31, 100.0); }, "too many PEAKS (max of 30)"},
      {[](FitRequest& r) { r.peaks.clear(); }, "no PEAKS argument(s) at all"},
      {[](FitRequest& r) { r.widths.clear(); }, "no WIDTHS argument(s) at all"},
      {[](FitRequest& r) { r.widths.assign(31, 4.0); }, "too many WIDTHS (max of 30)"},
      // Rounded to single precision first, as the command reads it: 1e-50 is 0.
      {[](FitRequest& r) {
         r.widths = {4.0, 1e-50};
       },
       "WIDTHS must be positive"},
      {[](FitRequest& r) { r.shape = "skew"; }, "no SKEWS argument(s) at all"},
      {[](FitRequest& r) { r.skews = {-1.0}; }, "SKEWS must be positive"},
      {[](FitRequest& r) { r.shape = "skewtail"; },
       "SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given"},
      {[](FitRequest& r) {
         r.shape = "skewtail";
         r.widthopt = "same";
       },
       "SHAPE=skewtail requires WIDTHOPT=given"},
      {[](FitRequest& r) { r.peakopt = "given"; },
       "SHAPE=gauss with PEAKOPT=given requires WIDTHOPT=same|given"},
      {[](FitRequest& r) { r.search = -1; }, "bad SEARCH argument (an integer 0..65536)"},
      {[](FitRequest& r) { r.weights = "Poisson"; },
       "bad WEIGHTS argument (data|fit|poisson)Poisson"},
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->start.r = 101.0;
       },
       "bad TAIL argument (R 0..100, BETA above 0)"},
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->start.beta = 0.0;
       },
       "bad TAIL argument (R 0..100, BETA above 0)"},
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->start.step = NAN;
       },
       "bad STEP argument"},
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->high = true;
       },
       "bad HIGHTAIL argument (RH 0..100, BETAH above 0)"},
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->start.rh = 3.0;
         r.hpge->start.betah = -1.0;
       },
       "bad HIGHTAIL argument (RH 0..100, BETAH above 0)"},
      // The shape's options are checked last, as the command reads them.
      {[](FitRequest& r) {
         r.shape = "hpge";
         r.hpge = tavrick::hpge::Config{};
         r.hpge->start.r = -1.0;
         r.weights = "x";
       },
       "bad WEIGHTS argument (data|fit|poisson)x"},
      {[](FitRequest& r) { r.peaks = {NAN}; }, "PEAKS must be finite"},
      {[](FitRequest& r) { r.widths = {1e39}; }, "WIDTHS must be finite"},
      {[](FitRequest& r) { r.lo = -1; }, "first peak lies ouside spectrum: line"},
      {[](FitRequest& r) { r.hi = 200; }, "last peak lies outside spectrum: line"},
      {[](FitRequest& r) {
         r.peaks = {101, 140};
       },
       "some peaks lie outside fitting limits"},
  };
  for (const auto& c : cases) {
    FitRequest r = request();
    c.change(r);
    Record rec;
    EXPECT_EQ(fit(r, ws_, rec), c.message);
  }
  std::vector<double> big(70000, 1.0);
  FitRequest r = request();
  r.counts = big;
  r.lo = 65500;
  r.hi = 65536;
  r.peaks = {65520};
  Record rec;
  EXPECT_EQ(fit(r, ws_, rec), "fitting over too many channels (65536 maximum)");
  counts_[80] = NAN;
  EXPECT_EQ(fit(request(), ws_, rec), "COUNTS must be finite");
}

// Zero counts give a singular curvature matrix at once. A spike that the
// start values reproduce exactly (background 0, the spike's height, a width
// too narrow to reach the next channel, centroid and width held) has
// chi-square 0 from the start: no step can lower it, so the fit runs into the
// cap.
TEST_F(Results, StatusSaysHowTheFitEnded) {
  std::vector<double> zeros(200, 0.0);
  std::vector<double> spike(200, 0.0);
  spike[100] = 500.0;
  struct Case {
    const std::vector<double>* counts;
    std::string widthopt, peakopt;
    double width;
    FitStatus status;
    int iterations;
  };
  const std::vector<Case> cases{
      {&counts_, "different", "different", 4.4, FitStatus::converged, -1},
      {&zeros, "different", "different", 4.4, FitStatus::singular, 0},
      {&spike, "given", "given", 0.05, FitStatus::iteration_cap, 100},
  };
  for (const auto& c : cases) {
    FitRequest r = request();
    r.counts = *c.counts;
    r.widthopt = c.widthopt;
    r.peakopt = c.peakopt;
    r.widths = {c.width};
    r.order = 0;
    Record rec;
    ASSERT_EQ(fit(r, ws_, rec), "");
    EXPECT_EQ(rec.status, c.status) << status_name(rec.status);
    if (c.iterations >= 0) {
      EXPECT_EQ(rec.iterations, c.iterations);
    }
  }
}

// A workspace that fitted another window before gives the same record bit
// for bit: nothing of the earlier fit leaks into the peak search.
TEST_F(Results, ReusedWorkspaceGivesTheSameRecord) {
  Record first, other, again;
  ASSERT_EQ(fit(request(), ws_, first), "");
  FitRequest wide = request();
  wide.lo = 0;
  wide.hi = 199;
  wide.peaks = {95};
  ASSERT_EQ(fit(wide, ws_, other), "");
  ASSERT_EQ(fit(request(), ws_, again), "");
  EXPECT_EQ(to_json(first), to_json(again));
  // Fits on workspaces of their own run in parallel threads alike.
  Record threaded, here;
  std::thread t([&] {
    FitWorkspace own;
    EXPECT_EQ(fit(request(), own, threaded), "");
  });
  FitWorkspace mine;
  EXPECT_EQ(fit(wide, mine, here), "");
  t.join();
  EXPECT_EQ(to_json(threaded), to_json(first));
  EXPECT_EQ(to_json(here), to_json(other));
  EXPECT_EQ(ws_.counts().size(), 61u);
  EXPECT_EQ(ws_.first(), 70);
  EXPECT_NEAR(first.peaks[0].centroid, 100.0, 0.05);
  EXPECT_EQ(first.peaks[0].start, 100.0);  // the search found the top
  EXPECT_EQ(first.arguments,
            (std::vector<std::string>{"-spectrum", "line", "-limit", "70", "130", "-peaks", "101",
                                      "-widths", "4.4", "-shape", "gauss", "-widthopt", "different",
                                      "-peakopt", "different", "-order", "1"}));
}

TEST_F(Results, SearchAndWeightsAreRecordedAndRepeated) {
  const struct {
    int search;
    const char* weights;
    std::vector<std::string> tail;  // arguments after -order 1
    const char* text;               // the record's weights line
    double start;                   // where the fit started
  } cases[] = {
      {10, "data", {}, "sqrt(count), 1 for counts below 1", 100.0},
      {0, "fit", {"-search", "0", "-weights", "fit"}, "sqrt(fit), 1 for fits below 1", 101.0},
      {3,
       "poisson",
       {"-search", "3", "-weights", "poisson"},
       "Poisson likelihood: chisq = 2 * sum(fit - count + count * ln(count / fit))",
       100.0},
  };
  for (const auto& c : cases) {
    FitRequest r = request();
    r.search = c.search;
    r.weights = c.weights;
    Record rec;
    ASSERT_EQ(fit(r, ws_, rec), "") << c.weights;
    std::vector<std::string> want{"-spectrum", "line",      "-limit",    "70",       "130",
                                  "-peaks",    "101",       "-widths",   "4.4",      "-shape",
                                  "gauss",     "-widthopt", "different", "-peakopt", "different",
                                  "-order",    "1"};
    want.insert(want.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(rec.arguments, want) << c.weights;
    EXPECT_EQ(rec.peaks[0].start, c.start) << c.weights;
    EXPECT_NE(to_json(rec).find(std::string("\"weights\": \"") + c.text + "\""), std::string::npos)
        << c.weights;
    EXPECT_NE(to_json(rec).find("\"search\": " + std::to_string(c.search)), std::string::npos);
    EXPECT_NEAR(rec.peaks[0].area, 1000.0 * 1.772453851 * 5.0 / 1.665109223, 60.0) << c.weights;
  }
}

// A germanium-shape request gives the results file the command gives for
// the record's arguments, byte for byte, on a line with a low-side tail and a
// step.
TEST_F(Results, HpgeRequestGivesTheCommandsResultsFile) {
  std::vector<std::int32_t> line(200);
  for (std::size_t i = 0; i < line.size(); ++i) {
    const double u = static_cast<double>(i) - 100.0;
    const double x = u / 3.0;
    const double tail = u < 0.0 ? 150.0 * std::exp(u / 2.0) + 20.0 : 0.0;
    line[i] = static_cast<std::int32_t>(std::lround(50.0 + 1000.0 * std::exp(-x * x) + tail));
  }
  std::vector<double> counts(line.begin(), line.end());
  testsupport::TestStore store;
  store.add("line", 0, line);

  using tavrick::hpge::Config;
  const auto with = [](auto set) {
    Config c;
    set(c);
    return std::optional<Config>(c);
  };
  struct Case {
    const char* name;
    std::optional<Config> hpge;
    const char* widthopt;
    const char* peakopt;
    const char* weights;
    std::vector<std::string> shape;  // the record's arguments after -order 1
  };
  const std::vector<Case> cases{
      {"defaults",
       std::nullopt,
       "different",
       "different",
       "data",
       {"-tail", "10", "2.2", "-step", "0.25"}},
      {"high tail held, one width",
       with([](Config& c) {
         c.start = {5.0, 1.0, 0.5, 3.0, 0.8};
         c.holdrh = c.holdbetah = true;
       }),
       "same",
       "different",
       "data",
       {"-tail", "5", "1", "-step", "0.5", "-hightail", "3", "0.8", "-hold", "rh", "betah"}},
      {"all held, widths and centroid given",
       with([](Config& c) {
         c.start = {12.5, 1.5, 1.0, 0.0, 0.0};
         c.holdr = c.holdbeta = c.holdstep = true;
       }),
       "given",
       "given",
       "data",
       {"-tail", "12.5", "1.5", "-step", "1", "-hold", "r", "beta", "step"}},
      {"no high tail with RH 0, Poisson",
       with([](Config& c) {
         c.start = {8.0, 2.0, 0.3, 0.0, 1.0};
       }),
       "different",
       "different",
       "poisson",
       {"-weights", "poisson", "-tail", "8", "2", "-step", "0.3"}},
  };
  for (const auto& c : cases) {
    FitRequest r = request();
    r.counts = counts;
    r.shape = "hpge";
    r.hpge = c.hpge;
    r.widthopt = c.widthopt;
    r.peakopt = c.peakopt;
    r.weights = c.weights;
    Record rec;
    ASSERT_EQ(fit(r, ws_, rec), "") << c.name;
    std::vector<std::string> want{"-spectrum", "line",     "-limit",  "70",     "130",  "-peaks",
                                  "101",       "-widths",  "4.4",     "-shape", "hpge", "-widthopt",
                                  c.widthopt,  "-peakopt", c.peakopt, "-order", "1"};
    want.insert(want.end(), c.shape.begin(), c.shape.end());
    EXPECT_EQ(rec.arguments, want) << c.name;
    ASSERT_TRUE(rec.hpge.has_value()) << c.name;
    EXPECT_EQ(rec.hpge->high, c.hpge && c.hpge->start.rh > 0.0) << c.name;

    for (const char* ext : {".json", ".csv"}) {
      auto args = rec.arguments;
      const std::string path = (dir_ / (std::string("command") + ext)).string();
      args.insert(args.end(), {"-results", path});
      const auto run = store.run(args);
      ASSERT_EQ(run.status, 0) << c.name << run.out;
      EXPECT_EQ(testsupport::slurp(path), render(rec, *format_of(path))) << c.name;
    }

    // The CSV: the other shapes' columns, then the Gaussian's centroid and
    // the shape parameters; RH and BETAH empty without a high-side tail.
    const std::string csv = to_csv(rec);
    const std::string head = csv.substr(0, csv.find('\n'));
    const std::string plain = to_csv(Record{});
    EXPECT_EQ(head.rfind(plain.substr(0, plain.find('\n')) + ",position,", 0), 0u) << c.name;
    const std::string row =
        csv.substr(head.size() + 1, csv.find('\n', head.size() + 1) - head.size() - 1);
    std::istringstream h(head), v(row);
    std::map<std::string, std::string> field;
    for (std::string n, x; std::getline(h, n, ',') && std::getline(v, x, ',');) field[n] = x;
    EXPECT_EQ(std::stod(field["position"]), rec.peaks[0].position) << c.name;
    EXPECT_EQ(std::stod(field["hpge_beta"]), rec.hpge->beta.value) << c.name;
    EXPECT_EQ(field["hpge_r_held"], rec.hpge->r.held ? "true" : "false") << c.name;
    EXPECT_EQ(field["hpge_betah_held"].empty(), !rec.hpge->high) << c.name;
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), std::count(head.begin(), head.end(), ','))
        << c.name;
  }
}

TEST_F(Results, JsonAndCsvKeepEveryBit) {
  FitRequest r = request();
  r.calibration = parse_calibration("POLY keV 0.5 0.25 1e-6");
  Record rec;
  ASSERT_EQ(fit(r, ws_, rec), "");
  rec.peaks[0].height_error = INFINITY;
  const auto j = nlohmann::json::parse(to_json(rec));
  EXPECT_EQ(j["peaks"][0]["centroid"].get<double>(), rec.peaks[0].centroid);
  EXPECT_EQ(j["chisq_per_dof"].get<double>(), rec.chisq_per_dof);
  EXPECT_TRUE(j["peaks"][0]["height_error"].is_null());
  EXPECT_EQ(j["calibration"]["unit"], "keV");
  const double c = rec.peaks[0].centroid;
  EXPECT_EQ(j["peaks"][0]["energy"].get<double>(), 0.5 + c * (0.25 + c * 1e-6));
  EXPECT_DOUBLE_EQ(j["peaks"][0]["energy_error"].get<double>(),
                   (0.25 + 2e-6 * c) * rec.peaks[0].centroid_error);

  std::istringstream csv(to_csv(rec));
  std::string head, row, extra;
  ASSERT_TRUE(std::getline(csv, head));
  ASSERT_TRUE(std::getline(csv, row));
  EXPECT_FALSE(std::getline(csv, extra));
  const auto field = [&](const std::string& name) {
    std::istringstream h(head), v(row);
    std::string hn, vv;
    while (std::getline(h, hn, ',') && std::getline(v, vv, ',')) {
      if (hn == name) return vv;
    }
    return std::string("<none>");
  };
  EXPECT_EQ(std::stod(field("centroid")), rec.peaks[0].centroid);
  EXPECT_EQ(field("height_error"), "");
  EXPECT_EQ(field("status"), "converged");
}

TEST_F(Results, FileAppearsWholeOrNotAtAll) {
  Record rec;
  ASSERT_EQ(fit(request(), ws_, rec), "");
  const std::string path = (dir_ / "fit.json").string();
  { std::ofstream(path) << "old"; }
  EXPECT_EQ(write_results(path, rec), "");
  std::ifstream in(path);
  EXPECT_EQ(nlohmann::json::parse(in)["status"], "converged");
  EXPECT_EQ(files(dir_), std::vector<std::string>{"fit.json"});

  const std::string missing = (dir_ / "nowhere" / "fit.csv").string();
  EXPECT_EQ(write_results(missing, rec),
            "can't write RESULTS file: " + missing + ": No such file or directory");
  EXPECT_EQ(write_results((dir_ / "fit.txt").string(), rec),
            "bad RESULTS argument (.json|.csv): " + (dir_ / "fit.txt").string());
  // Opened and never committed: the temporary goes, the old file stays.
  {
    ResultsFile f;
    ASSERT_EQ(f.open(path), "");
  }
  EXPECT_EQ(files(dir_), std::vector<std::string>{"fit.json"});
}

TEST(EnergyCalibration, ReadsOnlyPolynomialTexts) {
  struct Case {
    std::string text;
    bool ok;
    std::string unit;
    std::vector<double> coefficients;
  };
  const std::vector<Case> cases{
      {"POLY keV 0.33972999999999998 0.18296999999999999",
       true,
       "keV",
       {0.33972999999999998, 0.18296999999999999}},
      {"POLY - 1 2 3   ", true, "", {1, 2, 3}},
      {"POLY keV", false, "", {}},
      {"LIN keV 1 2", false, "", {}},
      {"POLY keV 1 x", false, "", {}},
      {"POLY keV 1 nan", false, "", {}},
  };
  for (const auto& c : cases) {
    const auto cal = parse_calibration(c.text);
    ASSERT_EQ(cal.has_value(), c.ok) << c.text;
    if (!cal) continue;
    EXPECT_EQ(cal->unit, c.unit);
    EXPECT_EQ(cal->coefficients, c.coefficients);
  }
  const Calibration q{"keV", {1.0, 2.0, 3.0}};
  EXPECT_EQ(q.energy(2.0), 17.0);
  EXPECT_EQ(q.slope(2.0), 14.0);
}

}  // namespace
