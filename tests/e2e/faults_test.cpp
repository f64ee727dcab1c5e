// The commands under faults around them: a store shared between users or on
// read-only media, a writer replacing the spectrum a fit reads, exhausted
// memory, closed pipes, FIFOs, locks and damaged headers. Every failure is
// one line with the documented status; readers never leave a file behind.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/host.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testsupport::Result;
using testsupport::slurp;

// Two users without rights over each other's files (no password entries needed).
constexpr int kOwner = 65534;
constexpr int kOther = 65533;

std::vector<std::int32_t> peak(int n, double height) {
  std::vector<std::int32_t> c(static_cast<std::size_t>(n));
  for (int ch = 0; ch < n; ++ch) {
    const double b = (ch - 60) / 3.0;
    c[static_cast<std::size_t>(ch)] =
        static_cast<std::int32_t>(std::lround(50 + height * std::exp(-b * b)));
  }
  return c;
}

std::vector<std::string> as_user(int uid, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                             "--regid=" + std::to_string(uid), "--clear-groups"});
  return argv;
}

// A folder with a store of spectrum "line" (channels 100..399) and "big"
// (200,000 channels, for outputs larger than any pipe buffer).
class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir.path.c_str(), 0755);
    folder = dir.path + "/store";
    ::mkdir(folder.c_str(), 0777);
    ::chmod(folder.c_str(), 0777);
    db = folder + "/e.db";
  }

  void fill(const std::string& path) {
    spectrum::Host host(path);
    int status = 0;
    host.create(status);
    ASSERT_EQ(status, 0) << host.error();
    std::vector<spectrum::NewSpectrum> v(2);
    v[0].name = "line";
    v[0].base = 100;
    v[0].size = 300;
    v[0].counts = peak(300, 900);
    v[0].calibrations = {"POLY keV 1 0.5"};
    v[1].name = "big";
    v[1].size = 200000;
    v[1].counts.assign(200000, 7);
    std::vector<spectrum::Ident> ids;
    host.store(v, false, ids, status);
    ASSERT_EQ(status, 0) << host.error();
  }

  std::vector<std::string> fit_args(const std::string& name = "line") const {
    return {testsupport::bin("tavrick"),
            "-spectrum",
            name,
            "-limit",
            "120",
            "200",
            "-peaks",
            "160",
            "-widths",
            "7",
            "-order",
            "1"};
  }
  Result fit(const std::string& store, int uid = -1) const {
    auto argv = fit_args();
    return testsupport::run(uid < 0 ? argv : as_user(uid, argv), {"TAVRICK_EXPERIMENT=" + store});
  }
  Result tool(const std::string& store, std::vector<std::string> args, int uid = -1) const {
    args.insert(args.begin(), {testsupport::bin("tavrick-store"), "--experiment", store});
    return testsupport::run(uid < 0 ? args : as_user(uid, args));
  }
  static std::set<std::string> files(const std::string& folder) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
      out.insert(e.path().filename().string());
    return out;
  }

  testsupport::TempDir dir;
  std::string folder;
  std::string db;
};

bool root() { return ::geteuid() == 0; }

// Whether the built programs can be run by the other users at all (a build
// folder under a private home cannot).
bool others_reach_the_build() {
  return testsupport::run(as_user(kOther, {testsupport::bin("tavrick-store"), "--help"})).status ==
         0;
}

void expect_listing(const Result& r, const std::string& what) {
  EXPECT_EQ(r.status, 0) << what << ": " << r.out.substr(0, 300) << r.err;
  EXPECT_NE(r.out.find("\n} \n"), std::string::npos) << what;
  EXPECT_EQ(r.err, "") << what;
}

TEST_F(Faults, ReadersOfAnotherUserCreateNothingAndTheOwnerStillWrites) {
  if (!root()) GTEST_SKIP() << "needs root to act as two users";
  if (!others_reach_the_build()) GTEST_SKIP() << "other users cannot run the built programs";
  // The owner makes the store (mode 644) in a folder both may write.
  ASSERT_EQ(tool(db, {"init"}, kOwner).status, 0);
  const std::string text = dir.path + "/line.txt";
  std::string counts;
  for (const auto c : peak(300, 900)) counts += std::to_string(c) + "\n";
  std::ofstream(text) << counts;
  ::chmod(text.c_str(), 0644);
  ASSERT_EQ(tool(db, {"import", text}, kOwner).status, 0);

  // Every reading command of the other user: it works and leaves nothing.
  const struct {
    const char* what;
    std::vector<std::string> args;
  } reads[] = {{"list", {"list"}},
               {"show", {"show", "line"}},
               {"export", {"export", "line"}},
               {"check", {"check"}}};
  for (const auto& r : reads) {
    const Result got = tool(db, r.args, kOther);
    EXPECT_EQ(got.status, 0) << r.what << ": " << got.err;
    EXPECT_EQ(files(folder), std::set<std::string>{"e.db"}) << r.what;
  }
  expect_listing(fit(db, kOther), "fit by the other user");
  EXPECT_EQ(files(folder), std::set<std::string>{"e.db"}) << "fit by the other user";

  // The owner still writes, and the other user cannot.
  const Result again = tool(db, {"import", text, "--replace"}, kOwner);
  EXPECT_EQ(again.status, 0) << again.err;
  const Result refused = tool(db, {"remove", "line"}, kOther);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot be written"), std::string::npos) << refused.err;
  EXPECT_EQ(files(folder), std::set<std::string>{"e.db"});
}

TEST_F(Faults, StoreOnReadOnlyMediaReadsNormally) {
  if (!root()) GTEST_SKIP() << "needs root to mount";
  fill(db);
  // The same store once more, as an older version left it: in WAL mode.
  const std::string wal = folder + "/wal.db";
  fill(wal);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(wal.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);

  // A read-only bind mount of the folder; where mounting is not allowed, the
  // folder made read-only for another user stands in for it.
  const std::string media = dir.path + "/media";
  ::mkdir(media.c_str(), 0755);
  int uid = -1;
  bool mounted =
      ::mount(folder.c_str(), media.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
      ::mount(nullptr, media.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  // Whatever fails below, the mount goes and the folder is writable again
  // (so that the temporary folder can be removed).
  struct Restore {
    std::string media, folder;
    bool mounted;
    ~Restore() {
      if (mounted) ::umount2(media.c_str(), MNT_DETACH);
      ::chmod(folder.c_str(), 0777);
    }
  } restore{media, folder, mounted};
  std::string where = media;
  if (!mounted && !others_reach_the_build()) GTEST_SKIP() << "neither a mount nor another user";
  if (!mounted) {
    ::umount(media.c_str());
    ::chmod(folder.c_str(), 0555);
    where = folder;
    uid = kOther;
  }
  const auto before = files(folder);
  const std::string bytes = slurp(db) + slurp(wal);
  for (const std::string name : {"e.db", "wal.db"}) {
    const std::string store = where + "/" + name;
    const Result list = tool(store, {"list"}, uid);
    EXPECT_EQ(list.status, 0) << name << ": " << list.err;
    EXPECT_NE(list.out.find("line"), std::string::npos) << name;
    EXPECT_EQ(tool(store, {"check"}, uid).out, "ok\n") << name;
    expect_listing(fit(store, uid), name);
    const Result write = tool(store, {"remove", "line"}, uid);
    EXPECT_EQ(write.status, 1) << name;
    EXPECT_NE(write.err.find("cannot be written"), std::string::npos) << name << ": " << write.err;
  }
  ::chmod(folder.c_str(), 0777);
  EXPECT_EQ(files(folder), before);
  EXPECT_TRUE(slurp(db) + slurp(wal) == bytes) << "a reader changed a store";
}

// Remove and import the spectrum in a loop, in two sizes, until `end`.
[[noreturn]] void churn(const std::string& db, std::chrono::steady_clock::time_point end) {
  spectrum::Host host(db);
  int status = 0;
  host.sexpt(status);
  for (int k = 0; std::chrono::steady_clock::now() < end; ++k) {
    spectrum::Ident id;
    host.sname(id, "line", 4, status);
    if (status == 0) host.remove(id, status);
    std::vector<spectrum::NewSpectrum> v(1);
    v[0].name = "line";
    v[0].base = 100;
    v[0].size = k % 2 == 0 ? 150 : 300;
    v[0].counts = peak(v[0].size, 500.0 + k % 7);
    std::vector<spectrum::Ident> ids;
    host.store(v, false, ids, status);
    if (status != 0) _exit(2);
  }
  _exit(0);
}

TEST_F(Faults, FitSeesOneVersionOfASpectrumOrNotFound) {
  fill(db);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2500);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) churn(db, end);
  int fits = 0, missing = 0;
  // At least a dozen fits however slow the machine: a loaded one must not fail
  // the test for running fewer fits while the writer churns.
  while (fits < 12 || std::chrono::steady_clock::now() < end) {
    const Result r = fit(db);
    ++fits;
    if (r.status == 8 && r.out == "spectrum not found: line\n") {
      ++missing;
      continue;
    }
    expect_listing(r, "fit " + std::to_string(fits));
    if (r.status != 0) break;
  }
  int ws = 0;
  waitpid(child, &ws, 0);
  EXPECT_TRUE(WIFEXITED(ws) && WEXITSTATUS(ws) == 0);
  RecordProperty("fits", fits);
  RecordProperty("not_found", missing);
}

TEST_F(Faults, ExhaustedMemoryIsOneLine) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
  fill(db);
  // Address-space limits (kB) from too small to start up at all to enough.
  for (const int kb : {6000, 8000, 9000, 10000, 12000, 16000}) {
    const std::string limit = "ulimit -v " + std::to_string(kb) + "; exec \"$@\"";
    auto argv = fit_args();
    argv.insert(argv.begin(), {"/bin/sh", "-c", limit, "sh"});
    const Result f = testsupport::run(argv, {"TAVRICK_EXPERIMENT=" + db});
    // Below some limit the loader itself cannot start the program.
    if (f.err.find("error while loading shared libraries") != std::string::npos) continue;
    if (f.status != 0) {
      EXPECT_EQ(f.status, 8) << kb << ": " << f.out << f.err;
      EXPECT_EQ(std::count(f.out.begin(), f.out.end(), '\n'), 1) << kb << ": " << f.out;
    }
    const Result s =
        testsupport::run({"/bin/sh", "-c", limit, "sh", testsupport::bin("tavrick-store"),
                          "--experiment", db, "export", "big"});
    if (s.status != 0) {
      EXPECT_EQ(s.status, 1) << kb << ": " << s.err;
      EXPECT_EQ(s.err.rfind("tavrick-store: ", 0), 0u) << kb << ": " << s.err;
      EXPECT_EQ(std::count(s.err.begin(), s.err.end(), '\n'), 1) << kb << ": " << s.err;
      EXPECT_EQ(s.err.find("std::"), std::string::npos) << kb << ": " << s.err;
    }
  }
}

TEST_F(Faults, EveryFailureIsOneLineWithItsStatus) {
  fill(db);
  const std::string fifo = folder + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string empty = folder + "/empty.db";
  std::ofstream(empty).close();
  const std::string damaged = folder + "/damaged.db";
  fill(damaged);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(damaged.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, "UPDATE spectrum SET size = 2000000000 WHERE name = 'line'", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  std::vector<std::string> many(32756, "x");
  many.insert(many.begin(), testsupport::bin("tavrick"));
  const auto tail = fit_args();
  many.insert(many.end(), tail.begin() + 1, tail.end());
  auto sketch = many;
  sketch[0] = testsupport::bin("tavrick-sketch");
  const std::string store = testsupport::bin("tavrick-store");
  const std::string env = "TAVRICK_EXPERIMENT=" + db;

  struct Case {
    std::string what;
    std::vector<std::string> argv;
    int status;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"import of a FIFO",
       {store, "--experiment", db, "import", fifo},
       1,
       "",
       "tavrick-store: " + fifo + ": not a regular file\n"},
      {"arguments past the scan", many, 8, "too many arguments (32766 maximum)\n", ""},
      {"arguments past the scan, sketch", sketch, 8, "", "too many arguments (32766 maximum)\n"},
      {"newline in the spectrum name",
       {testsupport::bin("tavrick"), "-spectrum", "li\nne", "-limit", "120", "200", "-peaks", "160",
        "-widths", "7"},
       8,
       "spectrum not found: li\\nne\n",
       ""},
      {"carriage return in the shape",
       {testsupport::bin("tavrick"), "-spectrum", "line", "-shape", "ga\r\nuss", "-limit", "120",
        "200", "-peaks", "160", "-widths", "7"},
       8,
       "bad SHAPE argument (gauss|skew|skewtail|lorentz)ga\\r\\nuss\n",
       ""},
      {"newline in a file name",
       {store, "--experiment", db, "import", folder + "/a\nb.txt"},
       1,
       "",
       "tavrick-store: " + folder + "/a\\nb.txt: cannot open: No such file or directory\n"},
      {"a folder as the store",
       {store, "--experiment", folder, "list"},
       1,
       "",
       "tavrick-store: experiment '" + folder + "' is not a regular file\n"},
      {"a FIFO as the store",
       {store, "--experiment", fifo, "list"},
       1,
       "",
       "tavrick-store: experiment '" + fifo + "' is not a regular file\n"},
      {"an empty file as the store",
       {store, "--experiment", empty, "list"},
       1,
       "",
       "tavrick-store: '" + empty + "' is an empty file, not a spectrum store\n"},
      {"a missing store",
       {store, "--experiment", folder + "/none.db", "list"},
       1,
       "",
       "tavrick-store: experiment '" + folder +
           "/none.db' does not exist (create it with 'tavrick-store init')\n"},
      {"a damaged size, export",
       {store, "--experiment", damaged, "export", "line"},
       1,
       "",
       "tavrick-store: spectrum damaged: line\n"},
      {"a damaged size, fit",
       {"/usr/bin/env", "TAVRICK_EXPERIMENT=" + damaged, testsupport::bin("tavrick"), "-spectrum",
        "line", "-limit", "120", "200", "-peaks", "160", "-widths", "7"},
       8,
       "spectrum damaged: line\n",
       ""},
      // A closed pipe at the default SIGPIPE disposition: status and message.
      {"export into a closed pipe",
       {"/bin/bash", "-c", "set -o pipefail; trap - PIPE; \"$@\" | head -c 1 >/dev/null", "sh",
        store, "--experiment", db, "export", "big"},
       1,
       "",
       "tavrick-store: write to standard output failed\n"},
  };
  for (const Case& c : cases) {
    const Result r = testsupport::run(c.argv, {env});
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.out.substr(0, 200) << r.err;
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
  }
}

TEST_F(Faults, JournalOfAKilledWriterIsUndoneByTheNextReader) {
  fill(db);
  const std::string before = slurp(db);
  // A writer that spilled half a transaction into the file, then died.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* raw = nullptr;
    if (sqlite3_open(db.c_str(), &raw) != SQLITE_OK) _exit(2);
    sqlite3_exec(raw,
                 "PRAGMA cache_size = 5; BEGIN IMMEDIATE; "
                 "UPDATE spectrum SET counts = zeroblob(length(counts));",
                 nullptr, nullptr, nullptr);
    _exit(0);
  }
  int ws = 0;
  waitpid(child, &ws, 0);
  ASSERT_TRUE(std::filesystem::exists(db + "-journal")) << "the writer left no journal";
  EXPECT_TRUE(slurp(db) != before) << "the writer changed nothing in the file";
  expect_listing(fit(db), "fit after the killed writer");
  EXPECT_EQ(files(folder), std::set<std::string>{"e.db"});
  EXPECT_TRUE(slurp(db) == before);
  EXPECT_EQ(tool(db, {"check"}).out, "ok\n");
}

TEST_F(Faults, LockedStoreIsNamedAsLocked) {
  fill(db);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw,
                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "SELECT count(*) FROM spectrum;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const Result r = tool(db, {"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tavrick-store: experiment '" + db +
                       "' is locked by another program (gave up after waiting 5 s)\n");
  sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
}

}  // namespace
