// tavrick-store end to end: help texts, every subcommand, refusals that leave
// the store as it was, readers and a writer side by side, and imports killed
// half-way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/host.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testsupport::exists;
using testsupport::Result;
using testsupport::slurp;

const std::string kGolden = std::string(TAVRICK_TEST_DIR) + "/golden/cases/";

// SQLite's verdict on the store. The connection may write: the journal a
// killed writer leaves is rolled back by the first connection that can.
std::string integrity(const std::string& path) {
  sqlite3* db = nullptr;
  std::string out = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

// A store in a temporary folder and the command run against it.
class Cli : public ::testing::Test {
 protected:
  void SetUp() override { db = dir.path + "/e.db"; }

  Result store(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), {testsupport::bin("tavrick-store"), "--experiment", db});
    return testsupport::run(args, env);
  }
  // Runs and expects success with nothing on standard error.
  std::string ok(std::vector<std::string> args) {
    const Result r = store(std::move(args));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    return r.out;
  }
  // Runs and expects exit status 1 with one line on standard error.
  std::string refused(std::vector<std::string> args) {
    const Result r = store(std::move(args));
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.err.rfind("tavrick-store: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    return r.err;
  }
  std::string file(const std::string& name, const std::string& content) {
    const std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  testsupport::TempDir dir;
  std::string db;
};

TEST_F(Cli, HelpTexts) {
  const Result top = testsupport::run({testsupport::bin("tavrick-store"), "--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out.rfind("Usage: tavrick-store [--experiment PATH] COMMAND [ARGS]\n", 0), 0u);
  for (const char* cmd :
       {"init", "import", "list", "show", "export", "remove", "demo", "calibrate"}) {
    EXPECT_NE(top.out.find(std::string("\n  ") + cmd + " "), std::string::npos) << cmd;
    const Result r = testsupport::run({testsupport::bin("tavrick-store"), cmd, "--help"});
    EXPECT_EQ(r.status, 0) << cmd;
    EXPECT_EQ(r.out.rfind(std::string("Usage: tavrick-store [--experiment PATH] ") + cmd, 0), 0u)
        << r.out;
    const Result h = testsupport::run({testsupport::bin("tavrick-store"), "help", cmd});
    EXPECT_EQ(h.out, r.out);
  }
  EXPECT_FALSE(exists(db));
  const Result none = testsupport::run({testsupport::bin("tavrick-store")});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "tavrick-store: no command given (see 'tavrick-store --help')\n");
  EXPECT_EQ(refused({"frobnicate"}),
            "tavrick-store: unknown command 'frobnicate' (see 'tavrick-store --help')\n");
  EXPECT_EQ(
      refused({"list", "--counts"}),
      "tavrick-store: unknown option '--counts' for list (see 'tavrick-store list --help')\n");
}

TEST_F(Cli, InitImportListShowExportRemove) {
  EXPECT_EQ(ok({"init"}), "created empty store '" + db + "'\n");
  EXPECT_EQ(refused({"init"}), "tavrick-store: '" + db + "' already exists\n");
  const std::string sym = kGolden + "sym.txt";
  EXPECT_EQ(ok({"import", sym, "--title", "Symmetric test line"}),
            "imported 'sym' (id 1, channels 0..255, total 30758)\n");
  // Exported text is the imported file again.
  EXPECT_EQ(ok({"export", "sym"}), slurp(sym));
  const std::string csv = ok({"export", "sym", "--format", "csv"});
  EXPECT_EQ(csv.rfind("channel,count\n0,75\n1,77\n", 0), 0u);
  EXPECT_EQ(ok({"import", kGolden + "lor.txt", "--name=second"}),
            "imported 'second' (id 2, channels 0..255, total 15890)\n");
  EXPECT_EQ(ok({"list"}),
            "NAME           ID  CHANNELS   ROWS          TOTAL  TITLE\n"
            "sym             1       256      0          30758  Symmetric test line\n"
            "second          2       256      0          15890  \n");
  const std::string shown = ok({"show", "sym", "--counts"});
  EXPECT_EQ(shown.rfind(
                "name:      sym\nid:        1 (id1 0, id2 1)\ntitle:     Symmetric test line\n", 0),
            0u)
      << shown;
  EXPECT_NE(shown.find("\ncalibration: none\n\n" + slurp(sym)), std::string::npos) << shown;
  // An existing name needs --replace, which keeps the id.
  EXPECT_EQ(refused({"import", sym}),
            "tavrick-store: a spectrum named 'sym' is already in experiment '" + db +
                "' (use --replace to overwrite it)\n");
  const std::string small = file("small.txt", "10 1\n11 2\n12 3\n");
  EXPECT_EQ(ok({"import", small, "--name", "sym", "--replace"}),
            "imported 'sym' (id 1, channels 10..12, total 6)\n");
  EXPECT_EQ(ok({"export", "sym"}), "10 1\n11 2\n12 3\n");
  EXPECT_EQ(ok({"remove", "sym"}), "removed 'sym'\n");
  EXPECT_EQ(refused({"remove", "sym"}),
            "tavrick-store: no spectrum named 'sym' in experiment '" + db + "'\n");
  EXPECT_EQ(refused({"show", "sym"}),
            "tavrick-store: no spectrum named 'sym' in experiment '" + db + "'\n");
  EXPECT_EQ(refused({"export", "second", "--format", "xml"}),
            "tavrick-store: unknown export format 'xml' (text or csv)\n");
  EXPECT_EQ(refused({"show"}),
            "tavrick-store: show needs a spectrum NAME (see 'tavrick-store show --help')\n");
  EXPECT_EQ(integrity(db), "ok");
}

TEST_F(Cli, MatricesRoundTrip) {
  ok({"init"});
  const std::string m = file("m.txt", "1 2 3\n4 5 6\n");
  EXPECT_EQ(ok({"import", m, "--format", "matrix"}),
            "imported 'm' (id 1, channels 0..2, 2 rows, total 21)\n");
  EXPECT_EQ(ok({"export", "m"}), "1 2 3\n4 5 6\n");
  EXPECT_EQ(ok({"export", "m", "--format", "csv"}),
            "row,channel,count\n0,0,1\n0,1,2\n0,2,3\n1,0,4\n1,1,5\n1,2,6\n");
}

TEST_F(Cli, ExperimentSelection) {
  const std::string other = dir.path + "/env.db";
  // The environment names the store when --experiment is absent.
  Result r = testsupport::run({testsupport::bin("tavrick-store"), "init"},
                              {"TAVRICK_EXPERIMENT=" + other});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(other));
  // --experiment wins over it, before or after the command word.
  r = testsupport::run({testsupport::bin("tavrick-store"), "init", "--experiment", db},
                       {"TAVRICK_EXPERIMENT=" + other});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(db));
  // A missing store is never created by anything but init and demo.
  const std::string missing = dir.path + "/missing.db";
  r = testsupport::run(
      {testsupport::bin("tavrick-store"), "--experiment", missing, "import", kGolden + "sym.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tavrick-store: experiment '" + missing +
                       "' does not exist (create it with 'tavrick-store init')\n");
  EXPECT_FALSE(exists(missing));
  // A file that is not a store is refused and left alone.
  const std::string text = file("notes.db", "just some notes\n");
  r = testsupport::run({testsupport::bin("tavrick-store"), "--experiment", text, "list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tavrick-store: '" + text + "' is not a spectrum store: file is not a database\n");
  EXPECT_EQ(slurp(text), "just some notes\n");
}

TEST_F(Cli, BadFilesLeaveTheStoreUnchanged) {
  ok({"init"});
  ok({"import", kGolden + "sym.txt"});
  const std::string before = ok({"list"});
  const std::string good = file("good.txt", "0 1\n1 2\n");
  // A corrupt text file among good ones: nothing of any of them enters the store.
  const std::string corrupt = file("corrupt.txt", "0 1\n1 2\n2 x7\n3 4\n");
  EXPECT_EQ(refused({"import", good, corrupt}),
            "tavrick-store: " + corrupt + ": line 3: count 'x7' is not a number\n");
  // Cut mid-way, a file of pairs gets a gap and is refused too.
  const std::string gap = file("gap.txt", "0 1\n1 2\n5 3\n");
  EXPECT_EQ(
      refused({"import", gap}),
      "tavrick-store: " + gap +
          ": line 3: channel 5 follows channel 1 (channels must rise by one, without gaps)\n");
  // Binary data offered as text.
  const std::string bin = file("image.txt", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
  EXPECT_NE(refused({"import", bin, "--format", "text"}).find(bin + ": line "), std::string::npos);
  // A truncated binary spectrum, named by byte.
  std::string spe = slurp(std::string(TAVRICK_SOURCE_DIR) + "/data/radware_demo_le.spe");
  if (!spe.empty()) {
    const std::string cut = file("cut.spe", spe.substr(0, spe.size() / 2));
    const std::string err = refused({"import", good, cut});
    EXPECT_NE(err.find(cut + ": byte "), std::string::npos) << err;
  }
  EXPECT_EQ(
      refused({"import", good, "--format", "weird"}),
      "tavrick-store: unknown format 'weird' (text, csv, matrix, spe, chn, radware, cnf, n42)\n");
  EXPECT_EQ(refused({"import", good, good}),
            "tavrick-store: two spectra named 'good' in one import\n");
  EXPECT_EQ(refused({"import", good, kGolden + "lor.txt", "--name", "x"}),
            "tavrick-store: --name needs exactly one spectrum, but the files hold 2\n");
  EXPECT_EQ(ok({"list"}), before);
  EXPECT_EQ(integrity(db), "ok");
}

TEST_F(Cli, DemoImportsTheBundledSpectra) {
  const Result r = store({"demo"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("imported 'radware_eu152_be' (id 1, channels 0..4095, total 7979595)\n"),
            std::string::npos)
      << r.out;
  // Refreshing keeps every id.
  const std::string first = ok({"list"});
  ok({"demo"});
  EXPECT_EQ(ok({"list"}), first);
}

TEST_F(Cli, CalibrateShowAndExportEnergies) {
  const Result version = testsupport::run({testsupport::bin("tavrick-store"), "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tavrick-store ", 0), 0u) << version.out;
  ok({"init"});
  ok({"import", std::string(TAVRICK_SOURCE_DIR) + "/data/iaea_cs137_lowres.spe"});
  const std::string name = "iaea_cs137_lowres";
  EXPECT_EQ(refused({"export", name, "--energy"}),
            "tavrick-store: spectrum '" + name +
                "' has no energy calibration (set one with 'tavrick-store calibrate')\n");
  // Bad arguments: one line, status 1, and the store file byte for byte as it was.
  const std::string before = slurp(db);
  struct Bad {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Bad> bad = {
      {{"calibrate", name, "1"}, "calibrate needs a spectrum NAME and at least two coefficients"},
      {{"calibrate", name, "1", "x"}, "coefficient 'x' of the energy calibration is not a finite"},
      {{"calibrate", name, "1", "1e999"}, "coefficient '1e999' of the energy"},
      {{"calibrate", name, "--fwhm", "nan", "1"}, "coefficient 'nan' of the FWHM"},
      {{"calibrate", name, "5", "0", "0"}, "does not depend on the channel"},
      {{"calibrate", name, "--unit", "k eV", "1", "2"}, "unit 'k eV' is not one word"},
      {{"calibrate", name, "--unit", "-", "1", "2"}, "unit '-' is not one word"},
      {{"calibrate", "nosuch", "1", "2"}, "no spectrum named 'nosuch'"},
      {{"calibrate", name, "--slope", "1", "2"}, "unknown option '--slope' for calibrate"},
      {{"calibrate", name, "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1", "0.1",
        "0.1", "0.1", "0.1"},
       "13 coefficients do not fit the 256-character calibration text"},
  };
  for (const Bad& b : bad) {
    const std::string err = refused(b.args);
    EXPECT_NE(err.find(b.message), std::string::npos) << err;
    EXPECT_TRUE(slurp(db) == before) << err;
  }
  // The Cs-137 line at channel 283 becomes 662 keV (2.5 keV per channel).
  EXPECT_EQ(ok({"calibrate", name, "-45.5", "2.5"}),
            "calibration 1 of '" + name + "': POLY keV -45.5 2.5\n");
  EXPECT_EQ(ok({"calibrate", name, "--fwhm", "21", "0"}),
            "calibration 2 of '" + name + "': FWHM ch CH 21 0\n");
  const std::string shown = ok({"show", name});
  EXPECT_NE(shown.find("live time: 28 s\nreal time: 29 s\n"
                       "energy:    E(ch) = -45.5 + 2.5*ch keV\n"
                       "fwhm:      FWHM(ch) = 21 + 0*ch channels\n"),
            std::string::npos)
      << shown;
  EXPECT_NE(shown.find("title:     No sample description was entered. live 28 s real 29 s\n"),
            std::string::npos)
      << shown;
  const std::string text = ok({"export", name, "--energy"});
  EXPECT_EQ(text.rfind("0 0 -45.5\n1 0 -43\n", 0), 0u);
  EXPECT_NE(text.find("\n283 443 662\n"), std::string::npos);
  const std::string csv = ok({"export", name, "--energy", "--format", "csv"});
  EXPECT_EQ(csv.rfind("channel,count,energy\n0,0,-45.5\n", 0), 0u);
  EXPECT_NE(csv.find("\n283,443,662\n"), std::string::npos);
  // Without --energy the export is what it was.
  EXPECT_EQ(ok({"export", name}).substr(0, 8), "0 0\n1 0\n");
}

// Writes version k of a 16384-channel spectrum (every channel = k) in a loop.
[[noreturn]] void writer(const std::string& db, std::chrono::milliseconds run) {
  spectrum::Host host(db);
  int status = 0;
  host.sexpt(status);
  spectrum::Ident id;
  host.sname(id, "busy", 4, status);
  std::vector<std::int32_t> v(16384);
  const auto end = std::chrono::steady_clock::now() + run;
  for (std::int32_t k = 1; std::chrono::steady_clock::now() < end; ++k) {
    std::fill(v.begin(), v.end(), k);
    host.swrite(id, 0, 16384, 0, 0, v.data(), 4, status);
    if (status != 0) _exit(2);
  }
  _exit(0);
}

TEST_F(Cli, ReadersSeeWholeVersionsWhileAWriterRuns) {
  ok({"init"});
  std::string zeros;
  for (int i = 0; i < 16384; ++i) zeros += "0\n";
  ok({"import", file("busy.txt", zeros)});
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) writer(db, std::chrono::milliseconds(2500));

  spectrum::Host host(db);
  int status = 0;
  host.sexpt(status);
  ASSERT_EQ(status, 0) << host.error();
  spectrum::Ident id;
  host.sname(id, "busy", 4, status);
  std::vector<std::int32_t> v(16384);
  int reads = 0, changes = 0, last = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
  while (std::chrono::steady_clock::now() < end) {
    host.sread(id, 0, 16384, 0, 0, v.data(), 4, status);
    ASSERT_EQ(status, 0) << host.error();
    ASSERT_EQ(std::count(v.begin(), v.end(), v[0]), 16384) << "mixed versions at read " << reads;
    if (v[0] != last) ++changes;
    last = v[0];
    ++reads;
    if (reads % 50 == 0) {
      // The command reads through the same library: one version per export too.
      const Result r = store({"export", "busy", "--format", "csv"});
      ASSERT_EQ(r.status, 0) << r.err;
      const auto second = r.out.find('\n') + 1;
      const std::string first = r.out.substr(second, r.out.find('\n', second) - second);
      const std::string value = first.substr(first.find(',') + 1);
      EXPECT_EQ(r.out.find("," + value + "\n") != std::string::npos, true);
      std::size_t lines = 0, same = 0;
      for (std::size_t p = second; p < r.out.size(); p = r.out.find('\n', p) + 1) {
        ++lines;
        const auto e = r.out.find('\n', p);
        if (r.out.substr(p, e - p).substr(r.out.substr(p, e - p).find(',') + 1) == value) ++same;
      }
      EXPECT_EQ(same, lines);
    }
  }
  int ws = 0;
  waitpid(child, &ws, 0);
  EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0);
  EXPECT_GT(reads, 20);
  EXPECT_GT(changes, 2) << "the writer never got in";
  EXPECT_EQ(integrity(db), "ok");
}

pid_t spawn_quiet(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

TEST_F(Cli, ImportsKilledHalfWayLeaveNoHalfSpectrum) {
  ok({"init"});
  constexpr int kChannels = 2000000;
  std::string big;
  big.reserve(kChannels * 10);
  for (int i = 0; i < kChannels; ++i) big += std::to_string(i) + " 7\n";
  const std::string path = file("big.txt", big);
  const std::vector<std::string> argv = {
      testsupport::bin("tavrick-store"), "--experiment", db, "import", path, "--replace"};
  // How long a whole import takes here sets the range of the kill moments.
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = spawn_quiet(argv);
  ASSERT_GT(pid, 0);
  int ws = 0;
  waitpid(pid, &ws, 0);
  ASSERT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0);
  const auto full =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
  ok({"remove", "big"});

  std::mt19937 rng(20261208);
  std::uniform_int_distribution<long long> when(full.count() / 4, full.count() * 11 / 10);
  int complete = 0;
  for (int round = 0; round < 5; ++round) {
    pid = spawn_quiet(argv);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(when(rng)));
    kill(pid, SIGKILL);
    waitpid(pid, &ws, 0);
    // The first reader after the kill undoes the half-done write by itself.
    EXPECT_EQ(ok({"check"}), "ok\n") << "round " << round;
    ASSERT_EQ(integrity(db), "ok") << "round " << round;
    spectrum::Host host(db);
    int status = 0;
    host.sexpt(status);
    ASSERT_EQ(status, 0) << host.error();
    spectrum::Ident id;
    host.sname(id, "big", 3, status);
    if (status == spectrum::kNoSuchName) continue;  // killed before the commit
    ASSERT_EQ(status, 0) << host.error();
    spectrum::Summary s;
    host.inquire(id, s, status);
    ASSERT_EQ(status, 0) << host.error();
    EXPECT_EQ(s.size, kChannels);
    EXPECT_EQ(s.total, 7LL * kChannels);
    ++complete;
    ok({"remove", "big"});
  }
  RecordProperty("complete_imports", complete);
}

}  // namespace
