// The tavrick command against hostile and broken input: every refusal is one
// line on standard output with status 8, nothing on standard error, and the
// store is left exactly as it was; fits that cannot succeed still end with a
// complete listing. Each class of input is one test; the number of cases run
// is printed at the end.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "support/process.h"
#include "support/store.h"

namespace {

using testsupport::Result;

int cases_run = 0;

// Prints how many command lines the tests ran.
class CaseCount : public ::testing::Environment {
 public:
  void TearDown() override { std::cout << "bad-input cases: " << cases_run << "\n"; }
};
const auto* const case_count = ::testing::AddGlobalTestEnvironment(new CaseCount);

std::optional<std::string> slurp(const std::string& path) {
  struct stat sb {};
  if (::stat(path.c_str(), &sb) != 0 || !S_ISREG(sb.st_mode)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The bytes of a store and of its write-ahead log. The shared-memory index
// (-shm) is left out: readers mark their place in it, and it is rebuilt from
// the two files whenever a connection opens.
struct Snapshot {
  std::optional<std::string> db, wal;
  explicit Snapshot(const std::string& path) : db(slurp(path)), wal(slurp(path + "-wal")) {}
};

// The store is undamaged when the database is byte for byte the same and a
// log left behind by a process that ended through exit holds no frames.
void expect_unchanged(const Snapshot& before, const std::string& path, const std::string& what) {
  const Snapshot after(path);
  EXPECT_EQ(before.db.has_value(), after.db.has_value()) << what;
  EXPECT_TRUE(before.db == after.db) << what << ": store bytes changed";
  if (before.wal.has_value() && !before.wal->empty()) {
    EXPECT_TRUE(before.wal == after.wal) << what << ": log changed";
  } else {
    EXPECT_TRUE(!after.wal.has_value() || after.wal->empty()) << what << ": log has frames";
  }
}

std::vector<std::int32_t> two_peaks(int n) {
  std::vector<std::int32_t> c(static_cast<std::size_t>(n));
  for (int ch = 0; ch < n; ++ch) {
    const double w = 5.0 / 1.665109223;
    const double b1 = (ch - 150) / w;
    const double b2 = (ch - 170) / w;
    const double y = 100.0 + 4000.0 * std::exp(-b1 * b1) + 2500.0 * std::exp(-b2 * b2);
    c[static_cast<std::size_t>(ch)] = static_cast<std::int32_t>(std::lround(y));
  }
  return c;
}

// A store with the spectra the cases use; the filling connection is closed,
// so the store is a single file when the command runs.
struct Store : testsupport::TestStore {
  Store() {
    add("two", 100, two_peaks(300));  // channels 100 .. 399
    add("matrix", 0, std::vector<std::int32_t>(200, 1), 2);
    add("zeros", 0, std::vector<std::int32_t>(300, 0));
    add("flat", 0, std::vector<std::int32_t>(300, 50));
    std::vector<std::int32_t> extreme(300);
    for (std::size_t ch = 0; ch < extreme.size(); ++ch)
      extreme[ch] = ch % 2 == 0 ? INT32_MAX : (ch % 3 == 0 ? INT32_MIN : 0);
    add("extreme", 0, extreme);
    add("wide-zeros", 0, std::vector<std::int32_t>(65536, 0));
  }

  Result run(const std::vector<std::string>& args, const std::string& experiment = {}) const {
    ++cases_run;
    return TestStore::run(args, experiment);
  }
};

struct Case {
  std::string what;
  std::vector<std::string> args;
  std::string message;  // the whole of standard output, without its newline
};

// Each case ends with its message alone on standard output, status 8, and
// leaves the store as it was.
void refused(const Store& s, const std::vector<Case>& cases, const std::string& experiment = {}) {
  const std::string path = experiment.empty() ? s.path : experiment;
  for (const Case& c : cases) {
    const Snapshot before(path);
    const Result r = s.run(c.args, experiment);
    EXPECT_EQ(r.status, 8) << c.what;
    EXPECT_EQ(r.out, c.message + "\n") << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    expect_unchanged(before, path, c.what);
  }
}

// A command line that passes the option phase, with `more` appended.
std::vector<std::string> fit(const std::string& spectrum, std::vector<std::string> more = {}) {
  std::vector<std::string> v{"-spectrum", spectrum, "-limit",  "120", "200",
                             "-peaks",    "150",    "-widths", "5"};
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

// The same with one option's values replaced.
std::vector<std::string> with(const std::string& option, const std::vector<std::string>& values) {
  std::vector<std::string> v{"-spectrum", "two"};
  if (option != "limit") v.insert(v.end(), {"-limit", "120", "200"});
  if (option != "peaks") v.insert(v.end(), {"-peaks", "150"});
  if (option != "widths") v.insert(v.end(), {"-widths", "5"});
  v.push_back("-" + option);
  v.insert(v.end(), values.begin(), values.end());
  return v;
}

const std::string kNoSpectrum = "bad SPECTRUM argument:" + std::string(80, ' ');
const std::string kShape = "bad SHAPE argument (gauss|skew|skewtail|lorentz)";

TEST(BadInput, NoOrUnknownOptions) {
  Store s;
  refused(s, {
                 {"no arguments", {}, kNoSpectrum},
                 {"only unknown options", {"-foo", "1", "--help", "-h", "-"}, kNoSpectrum},
                 {"names in capitals", {"-SPECTRUM", "two", "-Limit", "1", "2"}, kNoSpectrum},
                 {"abbreviated name", {"-spec", "two"}, kNoSpectrum},
                 {"double minus", {"--spectrum", "two"}, kNoSpectrum},
                 {"name as the last argument", {"-limit", "1", "2", "-spectrum"}, kNoSpectrum},
                 {"unknown options beside valid ones", fit("nosuch", {"-verbose", "-x", "--help"}),
                  "spectrum not found: nosuch"},
             });
}

TEST(BadInput, MalformedValues) {
  Store s;
  refused(s,
          {
              {"shape in capitals", with("shape", {"GAUSS"}), kShape + "GAUSS"},
              {"shape empty", with("shape", {""}), kShape},
              {"shape longer", with("shape", {"gaussian"}), kShape + "gaussian"},
              {"widthopt", with("widthopt", {"fixed"}),
               "bad WIDTHOPT argument (different|same|given)fixed"},
              {"peakopt", with("peakopt", {"same"}), "bad PEAKOPT argument (different|given)same"},
              {"order 6", with("order", {"6"}), "invalid background polynomial order (0..5)"},
              {"order -1", with("order", {"-1"}), "invalid background polynomial order (0..5)"},
              {"limit real", with("limit", {"1.5", "200"}), "bad LIMIT argument"},
              {"limit hex", with("limit", {"0x10", "200"}), "bad LIMIT argument"},
              {"limit empty", with("limit", {"", "200"}), "bad LIMIT argument"},
              {"limit blank inside", with("limit", {"1 2", "200"}), "bad LIMIT argument"},
              {"limit one value", with("limit", {"120"}), "bad LIMIT argument"},
              {"peaks word", with("peaks", {"abc"}), "no PEAKS argument(s) at all"},
              {"peaks 31", with("peaks", std::vector<std::string>(31, "150")),
               "too many PEAKS (max of 30)"},
              {"widths word", with("widths", {"wide"}), "no WIDTHS argument(s) at all"},
              {"widths zero", with("widths", {"0"}), "WIDTHS must be positive"},
              {"widths negative", with("widths", {"5", "-5"}), "WIDTHS must be positive"},
              {"skews negative", with("skews", {"-1"}), "SKEWS must be positive"},
              {"skew shape without skews", with("shape", {"skew"}), "no SKEWS argument(s) at all"},
              {"skewtail at the defaults", with("shape", {"skewtail"}),
               "SHAPE=skewtail requires WIDTHOPT=same|given or PEAKOPT=given"},
          });
}

TEST(BadInput, HugeAndTinyNumbers) {
  Store s;
  refused(
      s,
      {
          {"limit above 32 bits", with("limit", {"2147483648", "200"}), "bad LIMIT argument"},
          {"limit below 32 bits", with("limit", {"-2147483649", "200"}), "bad LIMIT argument"},
          {"limit of 40 digits", with("limit", {std::string(40, '9'), "200"}),
           "bad LIMIT argument"},
          {"limit 33 characters of leading zeros",
           with("limit", {std::string(32, '0') + "1", "200"}), "bad LIMIT argument"},
          {"largest limits", with("limit", {"2147483647", "2147483647"}),
           "first peak lies ouside spectrum: two"},
          {"smallest limit", with("limit", {"-2147483648", "200"}),
           "first peak lies ouside spectrum: two"},
          {"peak beyond single precision", with("peaks", {"3.5e38"}),
           "no PEAKS argument(s) at all"},
          {"peak that underflows to zero", with("peaks", {"1e-50"}),
           "some peaks lie outside fitting limits"},
          {"peak at the largest float", with("peaks", {"3.4028234e38"}),
           "some peaks lie outside fitting limits"},
          {"peak at minus the largest float", with("peaks", {"-3.4028234e38"}),
           "some peaks lie outside fitting limits"},
          {"width that underflows to zero", with("widths", {"1e-50"}), "WIDTHS must be positive"},
          {"width beyond single precision", with("widths", {"1e39"}),
           "no WIDTHS argument(s) at all"},
          {"order beyond 32 bits is the default", fit("nosuch", {"-order", "99999999999"}),
           "spectrum not found: nosuch"},
      });
}

TEST(BadInput, NanAndInfinitySpellings) {
  Store s;
  std::vector<Case> cases;
  for (const char* v : {"nan",      "NaN",      "-nan",  "nan(0x1)", "inf",   "-inf", "+Inf",
                        "infinity", "Infinity", "1e999", "-1e999",   "0x1p3", "1e",   "1e+",
                        ".",        "+",        "-",     "1.2.3",    "5 ",    " 5",   "1d5x"}) {
    // " 5" and "5 ": an inner blank does not convert; a trailing one is filler.
    if (std::string(v) == "5 ") continue;
    cases.push_back({std::string("peak ") + v, with("peaks", {v}), "no PEAKS argument(s) at all"});
    cases.push_back(
        {std::string("width ") + v, with("widths", {v}), "no WIDTHS argument(s) at all"});
    cases.push_back({std::string("limit ") + v, with("limit", {v, "200"}), "bad LIMIT argument"});
  }
  refused(s, cases);
}

TEST(BadInput, ManyArguments) {
  Store s;
  std::vector<std::string> peaks{"-peaks"};
  for (int k = 0; k < 10000; ++k) peaks.push_back(std::to_string(120 + k % 80));
  std::vector<std::string> junk(10000, "x");
  std::vector<std::string> late = junk;
  late.insert(late.end(),
              {"-spectrum", "nosuch", "-limit", "120", "200", "-peaks", "150", "-widths", "5"});
  // More arguments than the scan reads are refused, not cut silently.
  std::vector<std::string> beyond(40000, "x");
  beyond.insert(beyond.end(), {"-spectrum", "nosuch"});
  refused(s, {
                 {"10000 peak values", with("peaks", {peaks.begin() + 1, peaks.end()}),
                  "too many PEAKS (max of 30)"},
                 {"10000 arguments before the options", late, "spectrum not found: nosuch"},
                 {"10000 arguments after the options", fit("nosuch", junk),
                  "spectrum not found: nosuch"},
                 {"options after 40000 arguments", beyond, "too many arguments (32766 maximum)"},
             });
}

TEST(BadInput, LongArguments) {
  Store s;
  const std::string big(100000, 'a');
  const std::string cut = big.substr(0, 128);
  std::string long_number = "1" + std::string(99999, '0');
  refused(
      s, {
             {"spectrum name of 100000 bytes", fit(big), "spectrum not found: " + cut},
             {"shape of 100000 bytes", with("shape", {big}), kShape + cut},
             {"peak of 100000 digits", with("peaks", {long_number}), "no PEAKS argument(s) at all"},
             {"limit of 100000 digits", with("limit", {long_number, "200"}), "bad LIMIT argument"},
             {"option name of 100000 bytes",
              {"-" + big, "1", "-spectrum", "nosuch"},
              "bad LIMIT argument"},
         });
}

TEST(BadInput, NonUtf8Bytes) {
  Store s;
  const std::string bytes = "\xff\xfe\x80\xc3\x28";
  refused(s, {
                 {"spectrum name", fit(bytes), "spectrum not found: " + bytes},
                 {"shape", with("shape", {bytes}), kShape + bytes},
                 {"peak", with("peaks", {"1\xff"}), "no PEAKS argument(s) at all"},
                 {"option name", {"-spectr\xc3\xbcm", "two"}, kNoSpectrum},
                 {"name with an inner control character", fit("tw\x01o"),
                  "spectrum not found: tw\x01o"},
             });
}

TEST(BadInput, MissingOrForeignStore) {
  Store s;
  const std::string missing = s.dir.path + "/missing.db";
  refused(s, {{"missing store", fit("two"), "can't connect to experiment"}}, missing);
  struct stat sb {};
  EXPECT_NE(::stat(missing.c_str(), &sb), 0) << "a missing store was created";
  refused(s, {{"a folder", fit("two"), "can't connect to experiment"}}, s.dir.path);

  const auto foreign = [&](const std::string& name, const std::string& bytes) {
    const std::string path = s.dir.path + "/" + name;
    spit(path, bytes);
    refused(s, {{name, fit("two"), "can't connect to experiment"}}, path);
  };
  foreign("empty.db", "");
  foreign("text.db", "0 37\n1 27\n");
  foreign("zeros.db", std::string(8192, '\0'));
  std::string header = "SQLite format 3";
  header.push_back('\0');
  foreign("header-only.db", header + std::string(84, '\x01'));

  // An SQLite file of another program.
  const std::string other = s.dir.path + "/other.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE spectra(name TEXT); INSERT INTO spectra VALUES('two');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  refused(s, {{"another program's database", fit("two"), "can't connect to experiment"}}, other);
}

TEST(BadInput, DamagedStoreEndsWithOneLine) {
  // A store cut short or overwritten in its middle: whatever the library
  // says, the command ends with one line and status 8 and writes nothing.
  Store s;
  const std::string whole = *slurp(s.path);
  for (const std::size_t keep : {std::size_t{100}, std::size_t{4096}, whole.size() / 2}) {
    const std::string path = s.dir.path + "/cut" + std::to_string(keep) + ".db";
    spit(path, whole.substr(0, keep));
    const Snapshot before(path);
    const Result r = s.run(fit("two"), path);
    EXPECT_EQ(r.status, 8) << keep << ": " << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << keep << ": " << r.out;
    expect_unchanged(before, path, "cut store");
  }
  std::string scribbled = whole;
  for (std::size_t i = 4096; i < scribbled.size(); i += 7) scribbled[i] = '\x5a';
  const std::string path = s.dir.path + "/scribbled.db";
  spit(path, scribbled);
  const Snapshot before(path);
  const Result r = s.run(fit("two"), path);
  if (r.status != 0) {
    EXPECT_EQ(r.status, 8) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  }
  expect_unchanged(before, path, "scribbled store");
}

TEST(BadInput, LockedStore) {
  Store s;
  const Snapshot before(s.path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(s.path.c_str(), &db), SQLITE_OK);

  // Another connection in the middle of a write: the command reads the last
  // committed version and fits it.
  ASSERT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE; DELETE FROM spectrum;", nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  const Result reading = s.run(fit("two"));
  EXPECT_EQ(reading.status, 0) << reading.out.substr(0, 500);
  EXPECT_NE(reading.out.find("\n} \n"), std::string::npos);
  ASSERT_EQ(sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr), SQLITE_OK);

  // Another connection holding the store exclusively: the command gives up
  // after the library's wait with one line.
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                         "SELECT count(*) FROM spectrum; ",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  const Result locked = s.run(fit("two"));
  EXPECT_EQ(locked.status, 8) << locked.out;
  EXPECT_EQ(locked.out, "can't connect to experiment\n");
  EXPECT_EQ(locked.err, "");
  ASSERT_EQ(sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  expect_unchanged(before, s.path, "locked store");
}

TEST(BadInput, SpectrumAndWindow) {
  Store s;
  refused(s, {
                 {"2-D spectrum", fit("matrix"), "spectrum not 1d: matrix"},
                 {"window below the spectrum", with("limit", {"99", "200"}),
                  "first peak lies ouside spectrum: two"},
                 {"window above the spectrum", with("limit", {"120", "400"}),
                  "last peak lies outside spectrum: two"},
                 {"window wholly below", with("limit", {"-500", "-400"}),
                  "first peak lies ouside spectrum: two"},
                 {"window wholly above", with("limit", {"1000000", "1000001"}),
                  "first peak lies ouside spectrum: two"},
                 {"peak below the window", with("peaks", {"150", "119.99"}),
                  "some peaks lie outside fitting limits"},
                 {"peak above the window", with("peaks", {"200.01", "150"}),
                  "some peaks lie outside fitting limits"},
                 {"peak far outside", with("peaks", {"-1e30"}),
                  "some peaks lie outside fitting limits"},
             });
}

// A complete listing: "{", the engine's text, "} " and the two lists of the
// window.
void expect_complete(const Result& r, int ilo, int nchan, const std::string& what) {
  EXPECT_EQ(r.status, 0) << what << "\n" << r.out.substr(0, 2000);
  EXPECT_EQ(r.err, "") << what;
  ASSERT_EQ(r.out.substr(0, 2), "{\n") << what;
  const std::size_t close = r.out.find("\n} \n");
  ASSERT_NE(close, std::string::npos) << what;
  std::istringstream rest(r.out.substr(close + 4));
  char head[64];
  std::snprintf(head, sizeof head, " {{ %11d %11d } {", ilo, nchan);
  int lists = 0;
  for (std::string line; std::getline(rest, line); ++lists) {
    EXPECT_EQ(line.substr(0, 31), head) << what;
    EXPECT_EQ(line.size(), 31u + 12u * static_cast<std::size_t>(nchan) + 4u) << what;
  }
  EXPECT_EQ(lists, 2) << what;
}

bool failed_or_not_finite(const std::string& out) {
  const std::string text = out.substr(0, out.find("\n} \n"));
  return text.find(" Fit failed: singular curvature matrix") != std::string::npos ||
         text.find("NaN") != std::string::npos || text.find("Inf") != std::string::npos;
}

TEST(BadInput, FitsThatCannotSucceedStillList) {
  Store s;
  std::vector<std::string> thirty{"-peaks"};
  for (int k = 0; k < 30; ++k) thirty.push_back(std::to_string(150 + k % 3));
  const struct {
    std::string what;
    std::vector<std::string> args;
    int ilo, nchan;
  } cases[] = {
      {"two channels, nine parameters",
       {"-spectrum", "two", "-limit", "150", "151", "-peaks", "150", "-widths", "5", "-order", "5"},
       150,
       2},
      {"thirty peaks in three channels",
       [&] {
         std::vector<std::string> v{"-spectrum", "two", "-limit", "150", "152", "-widths", "5"};
         v.insert(v.end(), thirty.begin(), thirty.end());
         return v;
       }(),
       150, 3},
      {"all counts zero", fit("zeros"), 120, 81},
      {"all counts zero, skew", fit("zeros", {"-shape", "skew", "-skews", "3"}), 120, 81},
      {"all counts zero, lorentz", fit("zeros", {"-shape", "lorentz"}), 120, 81},
      {"flat spectrum", fit("flat"), 120, 81},
      {"flat spectrum, same width", fit("flat", {"-widthopt", "same", "-order", "0"}), 120, 81},
  };
  for (const auto& c : cases) {
    const Result r = s.run(c.args);
    expect_complete(r, c.ilo, c.nchan, c.what);
    EXPECT_TRUE(failed_or_not_finite(r.out)) << c.what << "\n" << r.out.substr(0, 3000);
  }
}

TEST(BadInput, ExtremeCountsStillList) {
  // Counts at both ends of the 32-bit range, and a whole 65536-channel
  // window of zeros with the highest background order.
  Store s;
  expect_complete(s.run(fit("extreme")), 120, 81, "extreme counts");
  expect_complete(s.run(fit("extreme", {"-shape", "skew", "-skews", "2"})), 120, 81,
                  "extreme counts, skew");
  expect_complete(s.run(fit("extreme", {"-shape", "lorentz", "-order", "5"})), 120, 81,
                  "extreme counts, lorentz");
  const Result r = s.run({"-spectrum", "wide-zeros", "-limit", "0", "65535", "-peaks", "100",
                          "-widths", "3", "-order", "5"});
  expect_complete(r, 0, 65536, "65536 zeros");
  EXPECT_TRUE(failed_or_not_finite(r.out));
}

TEST(BadInput, ExtremeWidthsStillList) {
  // Widths at the ends of single precision make a fit of no use, but the
  // command still ends with a complete listing.
  Store s;
  for (const char* w : {"3.4e38", "1e-38", "1e-45"}) {
    const Result r = s.run(with("widths", {w}));
    expect_complete(r, 120, 81, std::string("width ") + w);
  }
}

}  // namespace
