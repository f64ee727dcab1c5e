// -results, --help and --version end to end: the listing stays byte for byte
// what it was, the file agrees with the printed table, energies come from the
// stored calibration, and a file that cannot be written is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
const fs::path kCases = fs::path(TAVRICK_TEST_DIR) / "golden" / "cases";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

// The numbers of the results table, from its heading to the chi-square per
// degree of freedom, in print order: "+/-", labels and "%" dropped.
std::vector<std::string> table_numbers(const std::string& out) {
  std::vector<std::string> nums;
  bool in = false;
  for (std::string l : lines(out)) {
    if (!in) {
      in = l.find("Centroid") != std::string::npos && l.find("Fwhm") != std::string::npos;
      continue;
    }
    if (l.find("Fwhmhi") != std::string::npos || l.find("Fwhmlo") != std::string::npos) continue;
    const bool last = l.find("degree of freedom") != std::string::npos;
    if (const auto eq = l.rfind('='); eq != std::string::npos) l = l.substr(eq + 1);
    if (const auto bg = l.find("Background Area"); bg != std::string::npos) l = l.substr(bg + 15);
    for (std::size_t p; (p = l.find("+/-")) != std::string::npos;) l[p] = ' ', l.erase(p + 1, 2);
    std::istringstream w(l);
    for (std::string t; w >> t;) {
      if (t != "%") nums.push_back(t);
    }
    if (last) break;
  }
  return nums;
}

// The record's values in the order the table prints them.
std::vector<Json> record_numbers(const Json& j) {
  std::vector<Json> v;
  int k = 0;
  for (const Json& p : j["peaks"]) {
    v.push_back(++k);
    v.insert(v.end(), {p["centroid"], p["centroid_error"]});
    if (j["shape"] == "lorentz") {
      v.insert(v.end(), {p["height"], p["height_error"], p["fwhm"], p["fwhm_error"], p["area"],
                         p["area_error"]});
    } else {
      v.insert(v.end(), {p["area"], p["area_error"], p["fwhm"], p["fwhm_error"]});
    }
    if (j["shape"] == "skew" || j["shape"] == "skewtail") {
      v.insert(v.end(), {p["fwhm_high"], p["fwhm_high_error"], p["fwhm_low"], p["fwhm_low_error"]});
    }
  }
  const Json& b = j["background"];
  v.insert(v.end(),
           {b["area"], b["area_error"], j["check"], j["chisq_per_point"], j["chisq_per_dof"]});
  return v;
}

// Each printed number is the record's value rounded to the digits shown;
// NaN and infinities are null; asterisks stand for a number too wide.
void expect_table_agrees(const std::string& id, const std::string& out, const Json& j) {
  const auto printed = table_numbers(out);
  const auto values = record_numbers(j);
  ASSERT_EQ(printed.size(), values.size()) << id;
  for (std::size_t i = 0; i < printed.size(); ++i) {
    const std::string& t = printed[i];
    const Json& v = values[i];
    if (t.find('*') != std::string::npos) {
      EXPECT_TRUE(v.is_number()) << id << " #" << i;
    } else if (t.find("NaN") != std::string::npos || t.find("Inf") != std::string::npos) {
      EXPECT_TRUE(v.is_null()) << id << " #" << i << " " << t;
    } else {
      ASSERT_TRUE(v.is_number()) << id << " #" << i << " " << t;
      const auto dot = t.find('.');
      const int decimals = dot == std::string::npos ? 0 : static_cast<int>(t.size() - dot - 1);
      const double half = 0.5 * std::pow(10.0, -decimals) * (1.0 + 1e-9);
      EXPECT_LE(std::abs(v.get<double>() - std::stod(t)), half) << id << " #" << i << " " << t;
    }
  }
}

class ResultsCommand : public testing::Test {
 protected:
  // The demo store with every reference case's spectrum added.
  static void SetUpTestSuite() {
    dir_ = new testsupport::TempDir;
    store_ = dir_->path + "/demo.db";
    const auto r =
        testsupport::run({testsupport::bin("tavrick-store"), "demo", "--experiment", store_});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& e : fs::directory_iterator(kCases)) {
      if (e.path().extension() != ".txt") continue;
      const std::string name = e.path().stem().string();
      const auto imp =
          testsupport::run({testsupport::bin("tavrick-store"), "import", e.path().string(),
                            "--name", name, "--experiment", store_});
      ASSERT_EQ(imp.status, 0) << imp.err;
    }
  }
  static void TearDownTestSuite() { delete dir_; }

  static testsupport::Result run(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), testsupport::bin(program));
    return testsupport::run(args, {"TAVRICK_EXPERIMENT=" + store_});
  }

  static Json read_json(const std::string& path) { return Json::parse(slurp(path)); }

  std::string file(const std::string& name) const { return out_.path + "/" + name; }

  static testsupport::TempDir* dir_;
  static std::string store_;
  testsupport::TempDir out_;
};

testsupport::TempDir* ResultsCommand::dir_ = nullptr;
std::string ResultsCommand::store_;

// Every reference case, through both commands: the same bytes and status with
// and without -results; the JSON agrees with the table, the CSV has a line
// per peak, and every JSON file passes the schema.
TEST_F(ResultsCommand, ReferenceCasesKeepTheirOutputAndAgreeWithTheTable) {
  std::vector<std::string> written;
  int variants = 0;
  for (const auto& e : fs::directory_iterator(kCases)) {
    const std::string f = e.path().filename().string();
    if (e.path().extension() != ".args") continue;
    const bool sketch = f.ends_with(".sketch.args");
    const std::string id = f.substr(0, f.size() - 5);
    const std::string program = sketch ? "tavrick-sketch" : "tavrick";
    const auto args = lines(slurp(e.path()));
    const auto plain = run(program, args);
    for (const char* ext : {".json", ".csv"}) {
      const std::string path = file(id + ext);
      auto with = args;
      with.insert(with.end(), {"-results", path});
      const auto r = run(program, with);
      EXPECT_EQ(r.status, plain.status) << id;
      EXPECT_TRUE(r.out == plain.out) << id << ext;
      EXPECT_EQ(r.err, plain.err) << id << ext;
      EXPECT_EQ(fs::exists(path), plain.status == 0) << id << ext;
    }
    if (plain.status != 0) continue;
    const Json j = read_json(file(id + ".json"));
    written.push_back(file(id + ".json"));
    EXPECT_EQ(lines(slurp(file(id + ".csv"))).size(), j["peaks"].size() + 1) << id;
    if (!sketch) {
      expect_table_agrees(id, plain.out, j);
      if (j["variant"] != "none" && id == j["variant"]) ++variants;
    }
  }
  EXPECT_EQ(variants, 11);
  std::vector<std::string> cmd{"/usr/bin/python3", TAVRICK_TEST_DIR "/e2e/validate_results.py",
                               TAVRICK_SOURCE_DIR "/docs/results.schema.json"};
  cmd.insert(cmd.end(), written.begin(), written.end());
  const auto v = testsupport::run(cmd);
  EXPECT_EQ(v.status, 0) << v.out << v.err;
}

// Lines of the real spectra: a Gaussian area too wide for the table, and
// energies by the stored calibrations.
TEST_F(ResultsCommand, RealLinesInEnergy) {
  // The calibration the ORTEC file holds, in the single precision it keeps.
  const std::vector<double> ortec{static_cast<float>(0.33973), static_cast<float>(0.18297),
                                  static_cast<float>(5.5683e-09)};
  struct Case {
    std::vector<std::string> args;
    double energy;  // expected energy of the line, 0: none checked
    double within;
  };
  const std::vector<Case> cases{
      {{"-spectrum", "radware_eu152_be", "-limit", "185", "205", "-peaks", "195", "-widths", "2.6",
        "-order", "1"},
       0.0,
       0.0},
      {{"-spectrum", "ortec_eu152_hpge", "-limit", "1840", "1920", "-peaks", "1880", "-widths",
        "8.2", "-order", "1"},
       344.28,
       1.0},
      {{"-spectrum", "n42_2006_ba133_hpge_8det_A1", "-limit", "1870", "1920", "-peaks", "1896",
        "-widths", "7", "-order", "1"},
       356.01,
       1.0},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    args.insert(args.end(), {"-results", file("line.json")});
    const auto r = run("tavrick", args);
    ASSERT_EQ(r.status, 0) << r.out;
    const Json j = read_json(file("line.json"));
    const Json& p = j["peaks"][0];
    EXPECT_EQ(j["status"], "converged") << c.args[1];
    if (c.args[1] == "radware_eu152_be") {
      EXPECT_NE(r.out.find(" ********* +/-"), std::string::npos);
      EXPECT_GT(p["area"].get<double>(), 1.3e6);
      EXPECT_LT(p["area"].get<double>(), 1.4e6);
      EXPECT_TRUE(p["energy"].is_null());
    }
    if (c.energy != 0.0) {
      EXPECT_NEAR(p["energy"].get<double>(), c.energy, c.within);
    }
    if (c.args[1] == "ortec_eu152_hpge") {
      const double ch = p["centroid"].get<double>();
      const double e = ortec[0] + ortec[1] * ch + ortec[2] * ch * ch;
      const double de = ortec[1] + 2.0 * ortec[2] * ch;
      EXPECT_NEAR(p["energy"].get<double>(), e, 1e-9 * e);
      EXPECT_NEAR(p["energy_error"].get<double>(), de * p["centroid_error"].get<double>(),
                  1e-9 * p["energy_error"].get<double>());
      EXPECT_EQ(j["calibration"]["unit"], "keV");
    }
    // The arguments recorded repeat the fit bit for bit.
    auto again = j["arguments"].get<std::vector<std::string>>();
    again.insert(again.end(), {"-results", file("again.json")});
    ASSERT_EQ(run("tavrick", again).out, r.out);
    EXPECT_EQ(slurp(file("again.json")), slurp(file("line.json")));
  }
}

// A file that cannot be written: one line where errors go, status 8, no file
// and nothing of the listing.
TEST_F(ResultsCommand, UnwritableFileIsRefusedBeforeTheFit) {
  const std::vector<std::string> fit{"-spectrum", "sym", "-limit",  "80", "160",
                                     "-peaks",    "121", "-widths", "4.4"};
  struct Case {
    std::string program;
    std::string path;
    std::string message;
  };
  const std::string missing = file("nowhere/r.json");
  const std::vector<Case> cases{
      {"tavrick", missing, "can't write RESULTS file: " + missing + ": No such file or directory"},
      {"tavrick", file("r.txt"), "bad RESULTS argument (.json|.csv): " + file("r.txt")},
      {"tavrick-sketch", missing,
       "can't write RESULTS file: " + missing + ": No such file or directory"},
  };
  for (const auto& c : cases) {
    auto args = fit;
    args.insert(args.end(), {"-results", c.path});
    const auto r = run(c.program, args);
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(c.program == "tavrick" ? r.out : r.err, c.message + "\n");
    EXPECT_FALSE(fs::exists(c.path));
  }
  EXPECT_FALSE(fs::exists(file("nowhere")));
  EXPECT_EQ(std::distance(fs::directory_iterator(out_.path), fs::directory_iterator()), 0);
}

TEST_F(ResultsCommand, HelpAndVersionOnlyAsTheOnlyArgument) {
  const std::string bad = "bad SPECTRUM argument:" + std::string(80, ' ') + "\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // prefix
  };
  const std::vector<Case> cases{
      {{"--help"}, 0, "usage: tavrick -spectrum NAME"},
      {{"--version"}, 0, "tavrick "},
      {{}, 8, bad},
      {{"-h"}, 8, bad},
      {{"--help", "--version"}, 8, bad},
      {{"--help "}, 8, bad},
  };
  for (const auto& c : cases) {
    const auto r = run("tavrick", c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
    if (c.status == 8) {
      EXPECT_EQ(r.out, bad);
    }
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(run("tavrick-sketch", {"--help"}).out.substr(0, 21), "usage: tavrick-sketch");
  const auto v = run("tavrick-sketch", {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.substr(0, 15), "tavrick-sketch ");
  EXPECT_EQ(run("tavrick-sketch", {}).err, bad);
}

}  // namespace
