// Host spectrum library: round trips, every failure status with its message,
// and that sexpt never creates or changes a file that is not a store of ours.
#include "spectrum/host.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/calibration.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using spectrum::Host;
using spectrum::Ident;
using spectrum::NewSpectrum;
using testsupport::exists;
using testsupport::slurp;

struct FileState {
  std::string bytes;
  long long mtime_ns = 0;
  bool operator==(const FileState&) const = default;
};

FileState state_of(const std::string& path) {
  struct stat sb {};
  ::stat(path.c_str(), &sb);
  return {slurp(path),
          static_cast<long long>(sb.st_mtim.tv_sec) * 1000000000LL + sb.st_mtim.tv_nsec};
}

void exec_sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* msg = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  EXPECT_EQ(rc, SQLITE_OK) << (msg ? msg : "");
  sqlite3_free(msg);
  sqlite3_close(db);
}

NewSpectrum spectrum_1d(const std::string& name, int base, int size) {
  NewSpectrum s;
  s.name = name;
  s.title = "title of " + name;
  s.base = base;
  s.size = size;
  for (int i = 0; i < size; ++i) s.counts.push_back(3 * i - 50);
  return s;
}

// A fresh store with spectrum "line" (channels 100..399, counts 3i - 50).
class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.path + "/e.db";
    int status = -1;
    host = std::make_unique<Host>(path);
    host->create(status);
    ASSERT_EQ(status, 0) << host->error();
    std::vector<NewSpectrum> v{spectrum_1d("line", 100, 300)};
    std::vector<Ident> ids;
    host->store(v, false, ids, status);
    ASSERT_EQ(status, 0) << host->error();
    host = std::make_unique<Host>(path);
    host->sexpt(status);
    ASSERT_EQ(status, 0) << host->error();
    line = lookup("line");
  }
  Ident lookup(const std::string& name) {
    Ident id;
    int status = -1;
    host->sname(id, name.data(), static_cast<int>(name.size()), status);
    EXPECT_EQ(status, 0) << host->error();
    return id;
  }

  testsupport::TempDir dir;
  std::string path;
  std::unique_ptr<Host> host;
  Ident line;
};

TEST(Ident, HalvesAreHighAndLowSixteenBits) {
  const Ident a = spectrum::ident_of(0x12345);
  EXPECT_EQ(a.id1, 1);
  EXPECT_EQ(a.id2, 0x2345);
  const Ident b = spectrum::ident_of(0x7FFFFFFF);
  EXPECT_EQ(b.id1, 0x7FFF);
  EXPECT_EQ(b.id2, -1);
  const Ident c = spectrum::ident_of(0x18000);
  EXPECT_EQ(c.id1, 1);
  EXPECT_EQ(c.id2, -32768);
  for (std::int32_t n : {1, 0xFFFF, 0x10000, 0x18000, 0x7FFFFFFF})
    EXPECT_EQ(spectrum::ident_number(spectrum::ident_of(n)), n);
}

TEST_F(Store, IdsAboveSixteenBitsSurviveTheRoundTrip) {
  // Push the id counter past bit 15 and bit 16 so both halves are exercised.
  exec_sql(path, "UPDATE sqlite_sequence SET seq = 98303 WHERE name = 'spectrum'");
  std::vector<NewSpectrum> v{spectrum_1d("big", 0, 4)};
  std::vector<Ident> ids;
  int status = -1;
  host->store(v, false, ids, status);
  ASSERT_EQ(status, 0) << host->error();
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ids[0].id1, 1);
  EXPECT_EQ(ids[0].id2, -32768);  // 98304 = 0x18000
  const Ident found = lookup("big");
  EXPECT_EQ(found.id1, 1);
  EXPECT_EQ(found.id2, -32768);
  std::int32_t got[4] = {};
  host->sread(found, 0, 4, 0, 0, got, 4, status);
  ASSERT_EQ(status, 0) << host->error();
  EXPECT_EQ(got[3], 3 * 3 - 50);
}

TEST(Sexpt, MissingFileFailsAndIsNotCreated) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/none.db";
  Host host(path);
  int status = 0;
  host.sexpt(status);
  EXPECT_EQ(status, spectrum::kNoExperiment);
  EXPECT_EQ(host.error(), "experiment '" + path + "' does not exist");
  EXPECT_FALSE(exists(path));
  EXPECT_FALSE(exists(path + "-wal"));
}

TEST(Sexpt, NonSqliteFileIsRefusedUnchanged) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/text.db";
  std::ofstream(path) << "0 75\n1 77\n2 100\nnot a database at all, but long enough\n";
  const FileState before = state_of(path);
  Host host(path);
  int status = 0;
  host.sexpt(status);
  EXPECT_EQ(status, spectrum::kNotStore);
  EXPECT_NE(host.error().find("is not a spectrum store"), std::string::npos) << host.error();
  EXPECT_TRUE(state_of(path) == before);
  EXPECT_FALSE(exists(path + "-wal"));
  EXPECT_FALSE(exists(path + "-journal"));
}

TEST(Sexpt, ForeignSqliteFileIsRefusedUnchanged) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/other.db";
  exec_sql(path,
           "CREATE TABLE spectrum (id INTEGER PRIMARY KEY, name TEXT);"
           "INSERT INTO spectrum VALUES (1, 'x');");
  const FileState before = state_of(path);
  Host host(path);
  int status = 0;
  host.sexpt(status);
  EXPECT_EQ(status, spectrum::kNotStore);
  EXPECT_EQ(host.error(),
            "'" + path + "' is not a spectrum store (an SQLite file of another program)");
  EXPECT_TRUE(state_of(path) == before);
  EXPECT_FALSE(exists(path + "-wal"));  // journal mode left alone
}

TEST(Sexpt, EmptyFileIsRefusedUnchanged) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/empty.db";
  std::ofstream(path).close();
  Host host(path);
  int status = 0;
  host.sexpt(status);
  EXPECT_EQ(status, spectrum::kNotStore);
  EXPECT_EQ(slurp(path), "");
}

TEST(Sexpt, DirectoryIsRefused) {
  testsupport::TempDir dir;
  Host host(dir.path);
  int status = 0;
  host.sexpt(status);
  EXPECT_EQ(status, spectrum::kNoExperiment);
  EXPECT_NE(host.error().find("not a regular file"), std::string::npos);
}

TEST_F(Store, NewerSchemaIsRefused) {
  exec_sql(path, "PRAGMA user_version = 99");
  Host h(path);
  int status = 0;
  h.sexpt(status);
  EXPECT_EQ(status, spectrum::kNewerStore);
  EXPECT_NE(h.error().find("schema version 99"), std::string::npos) << h.error();
}

TEST(Sexpt, StoreOfVersionZeroIsMigrated) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/old.db";
  exec_sql(path, "PRAGMA application_id = 1415673458");  // ours, before any schema
  Host host(path);
  int status = -1;
  host.sexpt(status);
  ASSERT_EQ(status, 0) << host.error();
  std::vector<spectrum::Summary> all;
  host.list(all, status);
  EXPECT_EQ(status, 0) << host.error();
  EXPECT_TRUE(all.empty());
}

// Stores written by earlier versions (schema 1: no checksums, 2: no times)
// open, keep their spectra and calibrations, and take times from then on.
TEST(Sexpt, StoresOfEarlierVersionsAreMigrated) {
  for (const int version : {1, 2}) {
    SCOPED_TRACE(version);
    testsupport::TempDir dir;
    const std::string path = dir.path + "/old.db";
    exec_sql(path,
             "PRAGMA application_id = 1415673458;"
             "CREATE TABLE spectrum (id INTEGER PRIMARY KEY AUTOINCREMENT CHECK (id BETWEEN 1 AND "
             "2147483647), name TEXT UNIQUE, title TEXT NOT NULL DEFAULT '', label TEXT NOT NULL "
             "DEFAULT '', base INTEGER NOT NULL, size INTEGER NOT NULL CHECK (size >= 0), rowbase "
             "INTEGER NOT NULL, rows INTEGER NOT NULL CHECK (rows >= 0), kind INTEGER NOT NULL "
             "DEFAULT 0, smallest INTEGER NOT NULL DEFAULT 0, largest INTEGER NOT NULL DEFAULT 0, "
             "counts BLOB NOT NULL);"
             "CREATE TABLE calibration (spectrum INTEGER NOT NULL REFERENCES spectrum(id) ON "
             "DELETE CASCADE, number INTEGER NOT NULL CHECK (number >= 1), text TEXT NOT NULL, "
             "PRIMARY KEY (spectrum, number));"
             "INSERT INTO spectrum (name, title, base, size, rowbase, rows, largest, counts) "
             "VALUES ('old', 'Sample live 96 s real 97 s', 0, 2, 0, 0, 7, x'0500000007000000');"
             "INSERT INTO calibration VALUES (1, 1, 'POLY keV 1 2');"
             "PRAGMA user_version = 1;");
    if (version == 2) {
      // Version 2 is today's store without the times and the fits table:
      // upgrade, then take them out.
      Host upgrade(path);
      int status = -1;
      upgrade.sexpt(status);
      std::vector<Ident> none;
      upgrade.store(std::vector<NewSpectrum>{}, false, none, status);
      ASSERT_EQ(status, 0) << upgrade.error();
      exec_sql(path,
               "ALTER TABLE spectrum DROP COLUMN live_time; ALTER TABLE spectrum DROP COLUMN "
               "real_time; DROP TABLE fits; PRAGMA user_version = 2;");
    }
    Host host(path);
    int status = -1;
    host.sexpt(status);
    ASSERT_EQ(status, 0) << host.error();
    std::vector<spectrum::Summary> all;
    host.list(all, status);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].title, "Sample live 96 s real 97 s");
    EXPECT_EQ(all[0].total, 12);
    EXPECT_FALSE(all[0].damaged);
    EXPECT_FALSE(all[0].live_time || all[0].real_time);
    spectrum::EnergyCalibration e;
    EXPECT_EQ(spectrum::read_energy_calibration(host, all[0].id, e), 0);
    EXPECT_EQ(e.energy(3), 7);
    NewSpectrum timed = spectrum_1d("timed", 0, 4);
    timed.live_time = 96.5;
    timed.real_time = 97;
    std::vector<Ident> ids;
    host.store(std::vector<NewSpectrum>{timed}, false, ids, status);
    ASSERT_EQ(status, 0) << host.error();
    spectrum::Summary s;
    host.inquire(ids.at(0), s, status);
    EXPECT_EQ(s.live_time, 96.5);
    EXPECT_EQ(s.real_time, 97.0);
    // A negative time is refused, and nothing is stored.
    timed.name = "bad";
    timed.live_time = -1;
    host.store(std::vector<NewSpectrum>{timed}, false, ids, status);
    EXPECT_EQ(status, spectrum::kBadGeometry);
    host.list(all, status);
    EXPECT_EQ(all.size(), 2u);
  }
}

TEST(Create, RefusesAnExistingFile) {
  testsupport::TempDir dir;
  const std::string path = dir.path + "/x.db";
  std::ofstream(path) << "keep me";
  Host host(path);
  int status = 0;
  host.create(status);
  EXPECT_EQ(status, spectrum::kExists);
  EXPECT_EQ(slurp(path), "keep me");
}

TEST(Host, CallsBeforeSexptFail) {
  Host host("/nonexistent/x.db");
  Ident id;
  int status = 0;
  host.sname(id, "a", 1, status);
  EXPECT_EQ(status, spectrum::kNotConnected);
  std::int32_t v = 7;
  host.sread(id, 0, 1, 0, 0, &v, 4, status);
  EXPECT_EQ(status, spectrum::kNotConnected);
  EXPECT_EQ(v, 7);
}

TEST_F(Store, ReadsBackWhatWasStored) {
  int status = -1;
  // A blank-padded name is looked up by its significant length.
  Ident id;
  host->sname(id, "line      ", 10, status);
  ASSERT_EQ(status, 0) << host->error();
  char title[256];
  int titlelen = 132;
  host->srtit(id, title, titlelen, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(titlelen, 13);
  EXPECT_EQ(std::string(title, 132), "title of line" + std::string(119, ' '));
  int base = 0, size = 0, rowbase = -1, rows = -1, kind = -1;
  host->sinq(id, base, size, rowbase, rows, kind, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(base, 100);
  EXPECT_EQ(size, 300);
  EXPECT_EQ(rows, 0);
  EXPECT_EQ(rowbase, 0);
  std::vector<std::int32_t> got(11, 12345);
  host->sread(id, 390, 10, 0, 0, got.data(), 4, status);
  ASSERT_EQ(status, 0) << host->error();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[static_cast<size_t>(i)], 3 * (290 + i) - 50);
  EXPECT_EQ(got[10], 12345);  // nothing past count
  int lo = 0, hi = 0;
  host->srmax(id, lo, hi, status);
  EXPECT_EQ(lo, -50);
  EXPECT_EQ(hi, 3 * 299 - 50);
}

TEST_F(Store, SreadFailuresWriteNothing) {
  std::vector<std::int32_t> got(4, 777);
  int status = 0;
  host->sread(line, 100, 4, 0, 0, got.data(), 2, status);
  EXPECT_EQ(status, spectrum::kBadElemSize);
  EXPECT_EQ(host->error(),
            "read of spectrum 'line' with element size 2: counts are 4-byte integers");
  host->sread(line, 100, -1, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kBadCount);
  host->sread(line, 398, 4, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  EXPECT_EQ(host->error(),
            "read of channels 398..401 past the end of spectrum 'line' (channels 100..399)");
  host->sread(line, 99, 4, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  EXPECT_EQ(host->error(),
            "read of channels 99..102 before the start of spectrum 'line' (channels 100..399)");
  // A huge count must not overflow the range test.
  host->sread(line, 2147483600, 2147483647, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  host->sread(line, 100, 4, 1, 1, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  EXPECT_EQ(host->error(), "read of rows 1..1 outside spectrum 'line' (rows 0..0)");
  for (auto v : got) EXPECT_EQ(v, 777);
  host->swrite(line, 399, 2, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  EXPECT_EQ(host->error(),
            "write of channels 399..400 past the end of spectrum 'line' (channels 100..399)");
  host->sread(line, 399, 1, 0, 0, got.data(), 4, status);
  EXPECT_EQ(got[0], 3 * 299 - 50);  // the refused write changed nothing

  char text[spectrum::kErrorLen + 1];
  text[spectrum::kErrorLen] = '!';
  int len = 0;
  host->serror(text, len);
  EXPECT_EQ(std::string(text, static_cast<size_t>(len)), host->error());
  EXPECT_EQ(text[spectrum::kErrorLen - 1], ' ');
  EXPECT_EQ(text[spectrum::kErrorLen], '!');
}

TEST_F(Store, UnknownNamesAndIdsFail) {
  Ident id;
  id.id1 = 5;
  int status = 0;
  host->sname(id, "nothing", 7, status);
  EXPECT_EQ(status, spectrum::kNoSuchName);
  EXPECT_EQ(host->error(), "no spectrum named 'nothing' in experiment '" + path + "'");
  EXPECT_EQ(id.id1, 5);  // untouched
  host->sname(id, "", 0, status);
  EXPECT_EQ(status, spectrum::kNoSuchName);
  int b, s, rb, r, k;
  const Ident none = spectrum::ident_of(999);
  host->sinq(none, b, s, rb, r, k, status);
  EXPECT_EQ(status, spectrum::kNoSuchId);
  EXPECT_EQ(host->error(), "no spectrum with identifier (0, 999) in experiment '" + path + "'");
  host->sinq(Ident{}, b, s, rb, r, k, status);
  EXPECT_EQ(status, spectrum::kNoSuchId);
}

TEST_F(Store, DamagedCountsAreRefused) {
  exec_sql(path, "UPDATE spectrum SET counts = x'01020304050607' WHERE name = 'line'");
  std::vector<std::int32_t> got(2, 5);
  int status = 0;
  host->sread(line, 100, 2, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kDamaged);
  EXPECT_EQ(host->error(), "spectrum damaged: line");
  EXPECT_EQ(got[0], 5);
  host->swrite(line, 100, 2, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, spectrum::kDamaged);
}

TEST_F(Store, TwoDimensionalSpectra) {
  Ident id;
  int status = -1;
  host->sdef(id, 5, 4, 10, 3, 2, "matrix label", 12, status);
  ASSERT_EQ(status, 0) << host->error();
  int base, size, rowbase, rows, kind;
  host->sinq(id, base, size, rowbase, rows, kind, status);
  EXPECT_EQ(base, 5);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(rowbase, 10);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(kind, 2);
  const std::int32_t rows11_12[] = {1, 2, 3, 4, 5, 6, 7, 8};
  host->swrite(id, 5, 4, 11, 2, rows11_12, 4, status);
  ASSERT_EQ(status, 0) << host->error();
  const std::int32_t point = -9;
  host->swrite(id, 7, 1, 10, 1, &point, 4, status);  // one point of row 10
  ASSERT_EQ(status, 0) << host->error();
  std::int32_t all[12];
  host->sread(id, 5, 4, 10, 3, all, 4, status);
  ASSERT_EQ(status, 0) << host->error();
  const std::int32_t want[] = {0, 0, -9, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(all[i], want[i]) << i;
  std::int32_t part[2];
  host->sread(id, 6, 2, 12, 0, part, 4, status);  // row count 0: row 12 alone
  ASSERT_EQ(status, 0);
  EXPECT_EQ(part[0], 6);
  EXPECT_EQ(part[1], 7);
  host->sread(id, 5, 1, 12, 2, part, 4, status);
  EXPECT_EQ(status, spectrum::kOutOfRange);
  EXPECT_EQ(host->error(), "read of rows 12..13 outside spectrum #2 (rows 10..12)");
  char label[spectrum::kLabelLen];
  std::memset(label, '.', sizeof label);
  host->srlab(id, label, spectrum::kLabelLen, status);
  EXPECT_EQ(std::string(label, 14), "matrix label..");  // only the stored characters
}

TEST_F(Store, SdefRefusesBadGeometryAndLabels) {
  Ident id;
  int status = 0;
  host->sdef(id, 0, -1, 0, 0, 0, "", 0, status);
  EXPECT_EQ(status, spectrum::kBadGeometry);
  host->sdef(id, 0, 4096, 0, 4097, 0, "", 0, status);
  EXPECT_EQ(status, spectrum::kBadGeometry);
  host->sdef(id, 2147483600, 100, 0, 0, 0, "", 0, status);
  EXPECT_EQ(status, spectrum::kBadGeometry);
  const std::string longlabel(81, 'x');
  host->sdef(id, 0, 1, 0, 0, 0, longlabel.data(), 81, status);
  EXPECT_EQ(status, spectrum::kTooLong);
  // A header-only spectrum (size 0) that carries a label.
  host->sdef(id, 0, 0, 0, 0, 0, longlabel.data(), 80, status);
  EXPECT_EQ(status, 0) << host->error();
}

TEST_F(Store, NamesTitlesAndExtremes) {
  Ident id;
  int status = -1;
  host->sdef(id, 0, 8, 0, 0, 0, "", 0, status);
  ASSERT_EQ(status, 0);
  host->siden(id, "line", 4, status);
  EXPECT_EQ(status, spectrum::kNameInUse);
  EXPECT_EQ(host->error(),
            "name 'line' already belongs to spectrum #1 in experiment '" + path + "'");
  host->siden(id, "   ", 3, status);
  EXPECT_EQ(status, spectrum::kBadName);
  host->siden(id, "a\tb", 3, status);
  EXPECT_EQ(status, spectrum::kBadName);
  host->siden(id, "second  ", 8, status);
  ASSERT_EQ(status, 0);
  const Ident again = lookup("second");
  EXPECT_EQ(spectrum::ident_number(again), spectrum::ident_number(id));
  host->siden(id, "second", 6, status);  // its own name again
  EXPECT_EQ(status, 0);
  const std::string t(257, 't');
  host->swtit(id, t.data(), 257, status);
  EXPECT_EQ(status, spectrum::kTooLong);
  host->swtit(id, "New title", 9, status);
  ASSERT_EQ(status, 0);
  char title[5];
  int len = 5;
  host->srtit(id, title, len, status);
  EXPECT_EQ(len, 5);
  EXPECT_EQ(std::string(title, 5), "New t");
  host->swmax(id, -3, 99, status);
  ASSERT_EQ(status, 0);
  int lo = 0, hi = 0;
  host->srmax(id, lo, hi, status);
  EXPECT_EQ(lo, -3);
  EXPECT_EQ(hi, 99);
  host->swmax(spectrum::ident_of(4242), 0, 0, status);
  EXPECT_EQ(status, spectrum::kNoSuchId);
}

TEST_F(Store, Calibrations) {
  char text[300];
  int len = 256;
  int status = 0;
  host->srcal(line, text, len, status);
  EXPECT_EQ(status, spectrum::kNoCalibration);
  EXPECT_EQ(host->error(), "spectrum 'line' has no calibration 1");
  const std::string cal = "POLY keV 0.5 0.25";
  host->swcal(line, cal.data(), static_cast<int>(cal.size()), status);
  ASSERT_EQ(status, 0) << host->error();
  host->swcaln(line, 3, "POLY ch 1 2", 11, status);
  ASSERT_EQ(status, 0);
  std::memset(text, '#', sizeof text);
  len = 256;
  host->srcal(line, text, len, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(len, static_cast<int>(cal.size()));
  EXPECT_EQ(std::string(text, 256), cal + std::string(256 - cal.size(), ' '));
  EXPECT_EQ(text[256], '#');
  len = 256;
  host->srcaln(line, 3, text, len, status);
  EXPECT_EQ(std::string(text, static_cast<size_t>(len)), "POLY ch 1 2");
  host->srcaln(line, 0, text, len, status);
  EXPECT_EQ(status, spectrum::kBadCalNumber);
  const std::string toolong(257, 'c');
  host->swcaln(line, 2, toolong.data(), 257, status);
  EXPECT_EQ(status, spectrum::kTooLong);
  host->swcaln(line, 3, "    ", 4, status);  // blank: removes it
  ASSERT_EQ(status, 0);
  len = 256;
  host->srcaln(line, 3, text, len, status);
  EXPECT_EQ(status, spectrum::kNoCalibration);
  std::vector<std::pair<int, std::string>> all;
  host->calibrations(line, all, status);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].second, cal);
}

TEST_F(Store, ImportIsAllOrNothing) {
  std::vector<NewSpectrum> v{spectrum_1d("a", 0, 10), spectrum_1d("b", 0, 10)};
  v[1].counts.pop_back();  // one count short
  std::vector<Ident> ids;
  int status = 0;
  host->store(v, false, ids, status);
  EXPECT_EQ(status, spectrum::kBadGeometry);
  EXPECT_EQ(host->error(), "spectrum 'b' has 9 counts where 10 are needed");
  // A clash found inside the transaction rolls back what came before it.
  std::vector<NewSpectrum> w{spectrum_1d("a", 0, 10), spectrum_1d("line", 0, 10)};
  host->store(w, false, ids, status);
  EXPECT_EQ(status, spectrum::kNameInUse);
  std::vector<spectrum::Summary> all;
  host->list(all, status);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "line");
  std::vector<NewSpectrum> dup{spectrum_1d("c", 0, 1), spectrum_1d("c", 0, 1)};
  host->store(dup, false, ids, status);
  EXPECT_EQ(status, spectrum::kNameInUse);
}

TEST_F(Store, ReplaceKeepsTheIdAndRemoveDeletes) {
  std::vector<NewSpectrum> v{spectrum_1d("line", 0, 5)};
  v[0].calibrations = {"POLY keV 1 2"};
  std::vector<Ident> ids;
  int status = 0;
  host->store(v, true, ids, status);
  ASSERT_EQ(status, 0) << host->error();
  EXPECT_EQ(spectrum::ident_number(ids[0]), spectrum::ident_number(line));
  spectrum::Summary s;
  host->inquire(line, s, status);
  EXPECT_EQ(s.size, 5);
  EXPECT_EQ(s.total, -50 - 47 - 44 - 41 - 38);
  host->remove(line, status);
  ASSERT_EQ(status, 0);
  host->remove(line, status);
  EXPECT_EQ(status, spectrum::kNoSuchId);
  char text[256];
  int len = 256;
  host->srcal(line, text, len, status);
  EXPECT_EQ(status, spectrum::kNoSuchId);
}

TEST_F(Store, SnapshotSeesOneVersionWhileAWriterWaits) {
  int status = 0;
  host->snapshot(status);
  ASSERT_EQ(status, 0) << host->error();
  const Ident id = lookup("line");
  // Another connection removes the spectrum: it waits for the snapshot.
  int removed = -1;
  std::thread writer([&] {
    Host w(path);
    int st = 0;
    w.sexpt(st);
    if (st == 0) w.remove(id, st);
    removed = st;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int base = 0, size = 0, rowbase = 0, rows = 0, kind = 0;
  host->sinq(id, base, size, rowbase, rows, kind, status);
  EXPECT_EQ(status, 0) << host->error();
  std::vector<std::int32_t> got(300);
  host->sread(id, 100, 300, 0, 0, got.data(), 4, status);
  EXPECT_EQ(status, 0) << host->error();
  EXPECT_EQ(got, spectrum_1d("line", 100, 300).counts);
  // Writes are refused while the snapshot is held, not deadlocked.
  host->swtit(id, "t", 1, status);
  EXPECT_EQ(status, spectrum::kReadOnly);
  host->release();
  writer.join();
  EXPECT_EQ(removed, 0);
  Ident gone;
  host->sname(gone, "line", 4, status);
  EXPECT_EQ(status, spectrum::kNoSuchName);
}

TEST(Calibration, TextAndValuesRoundTrip) {
  char text[spectrum::kCalLen];
  int len = 0;
  int status = -1;
  spectrum::secal(text, len, 0.1, 1.0 / 3.0, "keV", "POLY", status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(std::string(text, static_cast<size_t>(len)),
            "POLY keV 0.10000000000000001 0.33333333333333331");
  double offset = 0, gain = 0;
  std::string unit, kind;
  spectrum::sdcal(text, spectrum::kCalLen, offset, gain, unit, kind, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(offset, 0.1);
  EXPECT_EQ(gain, 1.0 / 3.0);
  EXPECT_EQ(unit, "keV");
  EXPECT_EQ(kind, "POLY");
  // No unit travels as "-"; a constant polynomial has gain 0; c2 is accepted.
  spectrum::secal(text, len, -2, 0.5, "", "", status);
  EXPECT_EQ(std::string(text, static_cast<size_t>(len)), "POLY - -2 0.5");
  spectrum::sdcal("POLY - 7", 8, offset, gain, unit, kind, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(offset, 7);
  EXPECT_EQ(gain, 0);
  EXPECT_EQ(unit, "");
  spectrum::sdcal("POLY keV 1 2 5.5e-9", 19, offset, gain, unit, kind, status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(gain, 2);
}

TEST(Calibration, MalformedIsRefused) {
  double offset = 9, gain = 9;
  std::string unit = "u", kind = "k";
  int status = 0;
  for (const char* bad : {"", "POLY", "POLY keV", "LIN keV 1 2", "POLY keV x 2", "POLY keV 1 2 z",
                          "POLY keV nan 1"}) {
    spectrum::sdcal(bad, static_cast<int>(std::strlen(bad)), offset, gain, unit, kind, status);
    EXPECT_EQ(status, spectrum::kBadCalibration) << bad;
  }
  EXPECT_EQ(offset, 9);
  EXPECT_EQ(unit, "u");
  char text[spectrum::kCalLen];
  int len = 0;
  spectrum::secal(text, len, 1, 2, "k eV", "POLY", status);
  EXPECT_EQ(status, spectrum::kBadCalibration);
  spectrum::secal(text, len, 1, 2, "keV", "SQRT", status);
  EXPECT_EQ(status, spectrum::kBadCalibration);
}

TEST(Calibration, EnergyAndFwhmTexts) {
  using Var = spectrum::FwhmCalibration::Variable;
  struct Case {
    const char* text;
    bool energy;       // POLY text, else FWHM
    int status;        // of parsing
    const char* back;  // formatted again (nullptr: as given)
    double x, y;       // y = E(x) or FWHM(x), with E(ch) = 2 + ch for SQRTE
  };
  const std::vector<Case> cases = {
      {"POLY keV 1 2 0.5", true, 0, nullptr, 2, 7},
      {"POLY - 3", true, 0, nullptr, 9, 3},
      {"POLY keV 1 2  ", true, 0, "POLY keV 1 2", 1, 3},
      {"FWHM ch CH 6 0.001", false, 0, nullptr, 1000, 7},
      {"FWHM keV SQRTE 0.5 0.25", false, 0, nullptr, 14, 1.5},
      {"FWHM keV SQRT 0.5 0.25", false, spectrum::kBadCalibration, nullptr, 0, 0},
      {"FWHM ch CH", false, spectrum::kBadCalibration, nullptr, 0, 0},
      {"POLY keV 1 inf", true, spectrum::kBadCalibration, nullptr, 0, 0},
      {"FWHM keV 1 2", false, spectrum::kBadCalibration, nullptr, 0, 0},
      {"POLY keV 1 2", false, spectrum::kBadCalibration, nullptr, 0, 0},
  };
  spectrum::EnergyCalibration two_plus;
  two_plus.coefficients = {2, 1};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string again;
    if (c.energy) {
      spectrum::EnergyCalibration e;
      ASSERT_EQ(spectrum::parse_energy_calibration(c.text, e), c.status);
      if (c.status != 0) continue;
      EXPECT_EQ(e.energy(c.x), c.y);
      EXPECT_EQ(spectrum::format_energy_calibration(e, again), 0);
    } else {
      spectrum::FwhmCalibration f;
      ASSERT_EQ(spectrum::parse_fwhm_calibration(c.text, f), c.status);
      if (c.status != 0) continue;
      EXPECT_EQ(f.fwhm(c.x, &two_plus), c.y);
      if (f.variable == Var::SqrtEnergy) {
        EXPECT_TRUE(std::isnan(f.fwhm(c.x, nullptr)));
      }
      EXPECT_EQ(spectrum::format_fwhm_calibration(f, again), 0);
    }
    EXPECT_EQ(again, c.back != nullptr ? c.back : c.text);
  }
  // dE/dch of 1 + 2ch + 0.5ch^2 at 4 is 6; a text past 256 characters is refused.
  spectrum::EnergyCalibration e{"keV", {1, 2, 0.5}};
  EXPECT_EQ(e.slope(4), 6);
  e.coefficients.assign(13, 1.0 / 3.0);
  std::string text = "kept";
  EXPECT_EQ(spectrum::format_energy_calibration(e, text), spectrum::kTooLong);
  EXPECT_EQ(text, "kept");
}

TEST(Exstop, EndsWithStatusEight) {
  Host host("/nonexistent/x.db");
  int status = 0;
  host.sexpt(status);
  EXPECT_EXIT(spectrum::exstop(host, status), ::testing::ExitedWithCode(8), "");
}

}  // namespace
