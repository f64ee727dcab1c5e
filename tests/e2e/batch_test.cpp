// tavrick-batch end to end on the demo store: the Ba-133 lines in the eight
// detectors of the N42 file against direct tavrick fits, parallel and
// sharded runs against the plain one, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

using testsupport::Result;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (const char c : s) {
    if (c == sep) {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

class BatchRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new testsupport::TempDir;
    db = dir->path + "/demo.db";
    const Result r =
        testsupport::run({testsupport::bin("tavrick-store"), "--experiment", db, "demo"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() { delete dir; }

  static Result batch(std::vector<std::string> args) {
    args.insert(args.begin(), std::string(TAVRICK_BIN_DIR) + "/batch/tavrick-batch");
    return testsupport::run(args, {"TAVRICK_EXPERIMENT=" + db});
  }
  static std::string path(const std::string& name) { return dir->path + "/" + name; }
  static std::string file(const std::string& name, const std::string& content) {
    std::ofstream(path(name), std::ios::binary) << content;
    return path(name);
  }

  const std::string lines = std::string(TAVRICK_SOURCE_DIR) + "/batch/ba133_lines.csv";
  static testsupport::TempDir* dir;
  static std::string db;
};
testsupport::TempDir* BatchRun::dir = nullptr;
std::string BatchRun::db;

TEST_F(BatchRun, Ba133InEightDetectorsAsDirectFits) {
  const Result r = batch({"--lines", lines, "--spectra", "n42_*", "--jobs", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto rows = split(r.out, '\n');
  ASSERT_EQ(rows.back(), "");
  rows.pop_back();
  ASSERT_EQ(rows.size(), 41u);
  const auto head = split(rows[0], ',');
  const auto col = [&](const char* name) {
    return static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
  };
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto c = split(rows[i], ',');
    ASSERT_EQ(c.size(), head.size()) << rows[i];
    EXPECT_EQ(c[col("row_status")], "ok") << rows[i];
    EXPECT_EQ(c[col("status")], "converged") << rows[i];
    EXPECT_NEAR(std::stod(c[col("energy")]), std::stod(c[col("line_energy")]), 1.0) << rows[i];
    // The command line of the row, run as it stands: its table row prints
    // the row's values to the last digit.
    std::vector<std::string> args = split(c[col("arguments")], ' ');
    args.insert(args.begin(), testsupport::bin("tavrick"));
    const Result direct = testsupport::run(args, {"TAVRICK_EXPERIMENT=" + db});
    ASSERT_EQ(direct.status, 0) << direct.out;
    const auto at = direct.out.find("\n   1 ", direct.out.find("Centroid"));
    ASSERT_NE(at, std::string::npos) << direct.out;
    std::string table = direct.out.substr(at + 1, direct.out.find('\n', at + 1) - at - 1);
    for (auto p = table.find("+/-"); p != std::string::npos; p = table.find("+/-"))
      table[p] = ' ', table.erase(p + 1, 2);
    std::istringstream in(table);
    std::vector<std::string> printed;
    for (std::string t; in >> t;) printed.push_back(t);
    ASSERT_EQ(printed.size(), 7u) << table;
    const auto f2 = [](const std::string& v) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.2f", std::stod(v));
      return std::string(buf);
    };
    EXPECT_EQ(f2(c[col("centroid")]), printed[1]) << rows[i];
    EXPECT_EQ(f2(c[col("area")]), printed[3]) << rows[i];
    EXPECT_EQ(f2(c[col("fwhm")]), printed[5]) << rows[i];
  }
}

TEST_F(BatchRun, JobsAndShardsGiveTheSameBytes) {
  for (const std::string ext : {".csv", ".json"}) {
    const Result one = batch({"--lines", lines, "--jobs", "1", "--out", path("one" + ext)});
    // Every spectrum of the store: some lines fail in some of them (status 1).
    ASSERT_LE(one.status, 1) << one.err;
    const Result two = batch({"--lines", lines, "--jobs", "2", "--out", path("two" + ext)});
    ASSERT_EQ(two.status, one.status) << two.err;
    EXPECT_EQ(read(path("one" + ext)), read(path("two" + ext)));
    std::vector<std::string> merge{"merge"};
    for (int k = 1; k <= 4; ++k) {
      const std::string part = path("part" + std::to_string(k) + ext);
      const Result r =
          batch({"--lines", lines, "--shard", std::to_string(k) + "/4", "--out", part});
      ASSERT_LE(r.status, 1) << r.err;
      EXPECT_NE(read(part), read(path("one" + ext)));
      merge.push_back(part);
    }
    merge.insert(merge.end(), {"--out", path("merged" + ext)});
    const Result m = batch(merge);
    ASSERT_EQ(m.status, 0) << m.err;
    EXPECT_EQ(read(path("merged" + ext)), read(path("one" + ext)));
  }
}

TEST_F(BatchRun, FailuresAreRowsAndSetTheStatus) {
  const std::string l = file("far.csv", "energy,fwhm\n356,1.2\n5000,2\n");
  const Result r = batch({"--lines", l, "--spectra", "n42_*A1", "--spectra", "radware_eu152_be"});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto rows = split(r.out, '\n');
  ASSERT_EQ(rows.size(), 6u) << r.out;
  EXPECT_EQ(rows[1].substr(0, 34), "n42_2006_ba133_hpge_8det_A1,356,1,");
  EXPECT_NE(rows[2].find(",5000,2,outside,channel "), std::string::npos) << rows[2];
  EXPECT_NE(rows[3].find(",356,1,no_calibration,no energy calibration,"), std::string::npos);
  EXPECT_NE(rows[4].find(",5000,2,no_calibration,"), std::string::npos);
}

TEST_F(BatchRun, RecordedRowsReadBackFromTheStore) {
  const std::string store = path("recorded.db");
  ASSERT_EQ(
      testsupport::run({testsupport::bin("tavrick-store"), "--experiment", store, "demo"}).status,
      0);
  const auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), std::string(TAVRICK_BIN_DIR) + "/batch/tavrick-batch");
    return testsupport::run(args, {"TAVRICK_EXPERIMENT=" + store});
  };
  const auto fits = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {testsupport::bin("tavrick-store"), "--experiment", store, "fits"});
    return testsupport::run(args);
  };
  // Sharded runs never write the store.
  const Result sharded = run({"--lines", lines, "--record", "--shard", "1/2"});
  EXPECT_EQ(sharded.status, 2);
  EXPECT_NE(sharded.err.find("--record with --shard"), std::string::npos) << sharded.err;
  EXPECT_EQ(fits({}).out, "id,time,version,command\n");

  const Result r = run(
      {"--lines", lines, "--spectra", "n42_*A[12]", "--record", "--out", path("recorded.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto written = split(read(path("recorded.json")), '\n');
  const Result json = fits({"n42_2006_ba133_hpge_8det_A2", "--format", "json"});
  ASSERT_EQ(json.status, 0) << json.err;
  const auto stored = split(json.out, '\n');
  ASSERT_EQ(stored.size(), 8u) << json.out;  // [, 5 rows, ], and the end
  for (std::size_t k = 1; k <= 5; ++k) {
    // The stored object is the written row behind the record's own fields.
    std::string row = written[5 + k], got = stored[k];
    if (row.back() == ',') row.pop_back();
    if (got.back() == ',') got.pop_back();
    EXPECT_NE(stored[k].find("\"command\":\"tavrick-batch --lines "), std::string::npos);
    EXPECT_NE(stored[k].find(",\"version\":\""), std::string::npos);
    EXPECT_EQ(got.substr(got.find("\"spectrum\":")), row.substr(1)) << got;
  }
  const Result csv = fits({});
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 11) << csv.out;
  EXPECT_EQ(fits({"nosuch"}).status, 1);
  EXPECT_EQ(fits({"--format", "xml"}).status, 1);
}

TEST_F(BatchRun, BadInputWritesNothing) {
  const struct {
    const char* lines;  // content of the lines file
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {"fwhm\n1\n", {}, "no 'energy' column in the header"},
      {"energy,colour\n81,red\n", {}, "unknown column 'colour'"},
      {"energy\n81 keV\n", {}, "energy '81 keV' is not a number above 0"},
      {"energy\n81\n", {"--spectra", "nosuch*"}, "no spectrum matches 'nosuch*'"},
      {"energy\n81\n", {"--shard", "0/4"}, "--shard: '0/4' needs 1 <= K <= N"},
      {"energy\n81\n", {"--shard", "5/4"}, "--shard: '5/4' needs 1 <= K <= N"},
      {"energy\n81\n", {"--shard", "1/0"}, "--shard: '1/0' needs 1 <= K <= N"},
      {"energy\n81\n", {"--jobs", "0"}, "--jobs"},
      {"energy\n81\n", {"--bogus"}, "--bogus"},
      {"energy\n81\n",
       {"--plots", path("bad.csv") + "/pictures"},
       "--plots: cannot create the folder"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--lines", file("bad.csv", c.lines), "--out",
                                  path("bad.csv.out")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = batch(args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tavrick-batch: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(std::ifstream(path("bad.csv.out")).good()) << c.message;
  }
}

TEST_F(BatchRun, PlotsDrawEachFitAsTavrickSketchDoesAndIndexEveryRow) {
  // Two detectors, a line beyond their range (rows without a fit) and a
  // spectrum without a calibration (rows without a plan).
  const std::string l =
      file("plots.csv", "energy,fwhm\n81,1.0\n276.4,1.1\n302.9,1.1\n356,1.2\n5000,2\n");
  const std::vector<std::string> args{"--lines",    l,           "--spectra",
                                      "n42_*A[12]", "--spectra", "radware_eu152_be"};
  std::map<std::string, std::string> first;  // file name -> content, of the run with 2 jobs
  for (const std::string jobs : {"2", "1"}) {
    const std::string dir = path("plots-" + jobs);
    std::vector<std::string> a = args;
    a.insert(a.end(), {"--jobs", jobs, "--plots", dir, "--out", path("plots-" + jobs + ".csv")});
    const Result r = batch(a);
    ASSERT_EQ(r.status, 1) << r.err;
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
      files[e.path().filename().string()] = read(e.path().string());
    if (first.empty()) {
      first = files;
    } else {
      EXPECT_EQ(files, first) << "the pictures depend on --jobs";
    }
  }
  auto rows = split(read(path("plots-2.csv")), '\n');
  rows.pop_back();
  const auto head = split(rows[0], ',');
  const auto col = [&](const char* name) {
    return static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
  };
  ASSERT_EQ(rows.size(), 16u);  // header, 5 lines in each of 3 spectra
  const std::string& index = first["index.html"];
  ASSERT_FALSE(index.empty());
  // Self-contained: no address beyond the folder, no file but the pictures.
  EXPECT_EQ(index.find("http"), std::string::npos);
  EXPECT_EQ(index.find("src="), std::string::npos);
  const auto body = index.substr(index.find("<tbody>"));
  std::vector<std::string> trs;
  for (auto at = body.find("<tr"); at != std::string::npos; at = body.find("<tr", at + 1))
    trs.push_back(body.substr(at, body.find("</tr>", at) - at));
  ASSERT_EQ(trs.size(), rows.size() - 1);
  std::set<std::string> pictures;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto c = split(rows[i], ',');
    const std::string& tr = trs[i - 1];
    EXPECT_NE(tr.find("<td>" + c[col("spectrum")] + "</td>"), std::string::npos) << tr;
    EXPECT_NE(tr.find(">" + c[col("row_status")] + "</td>"), std::string::npos) << tr;
    EXPECT_NE(tr.find(">" + c[col("reason")] + "</td>"), std::string::npos) << tr;
    const bool fitted = !c[col("arguments")].empty();
    EXPECT_EQ(tr.find("class=\"failed\"") == std::string::npos, c[col("row_status")] == "ok") << tr;
    const auto href = tr.find("<a href=\"");
    ASSERT_EQ(href != std::string::npos, fitted) << tr;
    if (!fitted) continue;
    const std::string name = tr.substr(href + 9, tr.find('"', href + 9) - href - 9);
    ASSERT_TRUE(first.count(name)) << name;
    if (!pictures.insert(name).second) continue;
    // The picture is tavrick-sketch's picture of the row's command line.
    std::vector<std::string> sketch = split(c[col("arguments")], ' ');
    sketch.insert(sketch.begin(), testsupport::bin("tavrick-sketch"));
    sketch.insert(sketch.end(), {"-sketchlist", "/dev/null", "-sketchformat", "svg"});
    const Result direct = testsupport::run(sketch, {"TAVRICK_EXPERIMENT=" + db});
    ASSERT_EQ(direct.status, 0) << c[col("arguments")];
    EXPECT_EQ(first[name], direct.out) << name;
  }
  // 4 fits in each detector; the index and pictures only, no temporary file.
  EXPECT_EQ(pictures.size(), 8u);
  EXPECT_EQ(first.size(), pictures.size() + 1);

  // Shards in folders of their own: together the same pictures, each index
  // its own rows.
  std::map<std::string, std::string> joined;
  for (int k = 1; k <= 2; ++k) {
    const std::string dir = path("plots-shard" + std::to_string(k));
    std::vector<std::string> a = args;
    a.insert(a.end(), {"--shard", std::to_string(k) + "/2", "--plots", dir});
    ASSERT_LE(batch(a).status, 1);
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name == "index.html") continue;
      EXPECT_TRUE(joined.emplace(name, read(e.path().string())).second) << name;
    }
    EXPECT_NE(read(dir + "/index.html"), index);
  }
  first.erase("index.html");
  EXPECT_EQ(joined, first);
}

TEST_F(BatchRun, LinesWithoutFwhmTakeTheFwhmCalibration) {
  const std::string store = path("fwhm.db");
  const auto store_cmd = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {testsupport::bin("tavrick-store"), "--experiment", store});
    return testsupport::run(args);
  };
  ASSERT_EQ(store_cmd({"demo"}).status, 0);
  // A1 in keV; A2 all zero, which stands for none; A3 as its file has it,
  // in channels.
  const std::string a = "n42_2006_ba133_hpge_8det_A";
  ASSERT_EQ(store_cmd({"calibrate", a + "1", "--fwhm", "--unit", "keV", "1.2", "0"}).status, 0);
  ASSERT_EQ(store_cmd({"calibrate", a + "2", "--fwhm", "0", "0"}).status, 0);
  const Result r =
      testsupport::run({std::string(TAVRICK_BIN_DIR) + "/batch/tavrick-batch", "--lines",
                        file("nofwhm.csv", "energy\n356\n"), "--spectra", "n42_*A[123]"},
                       {"TAVRICK_EXPERIMENT=" + store});
  EXPECT_EQ(r.status, 1) << r.err;
  const auto rows = split(r.out, '\n');
  ASSERT_EQ(rows.size(), 5u) << r.out;
  // 1.2 keV at 0.1874 keV per channel, as a fwhm cell of 1.2 would give it.
  EXPECT_EQ(rows[1].rfind(a + "1,356,1,ok,,", 0), 0u) << rows[1];
  EXPECT_NE(rows[1].find(" -widths 6.4 "), std::string::npos) << rows[1];
  EXPECT_EQ(
      rows[2].rfind(a + "2,356,1,no_fwhm,no fwhm given for the line and no FWHM calibration,", 0),
      0u)
      << rows[2];
  // 5.5567 + 0.00096 ch - 2.9e-8 ch^2 channels at channel 1890.
  EXPECT_EQ(rows[3].rfind(a + "3,356,1,ok,,", 0), 0u) << rows[3];
  EXPECT_NE(rows[3].find(" -widths 7.27 "), std::string::npos) << rows[3];
}

}  // namespace
