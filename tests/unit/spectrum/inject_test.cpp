// Fault injection: the n-th allocation of SQLite, or the n-th write, sync or
// truncation of a file, fails, for every n along an import, an upgrade and a
// fit's reads. Each run either succeeds completely or fails with a one-line
// message, and after a failure the store holds exactly what it held before
// and passes check.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using spectrum::Host;
using spectrum::Ident;
using spectrum::NewSpectrum;
using testsupport::slurp;

// ---- the faults: counters and the one call that fails ----

enum class Kind { kNone, kMalloc, kWrite };
Kind armed = Kind::kNone;
long calls = 0;    // calls of the armed kind so far
long fail_at = 0;  // the call that fails (1-based)
bool fired = false;

bool fault(Kind k) {
  if (armed != k) return false;
  if (++calls != fail_at) return false;
  fired = true;
  return true;
}

// SQLite's allocator, failing on demand.
sqlite3_mem_methods real_mem{};
void* inject_malloc(int n) { return fault(Kind::kMalloc) ? nullptr : real_mem.xMalloc(n); }
void* inject_realloc(void* p, int n) {
  return fault(Kind::kMalloc) ? nullptr : real_mem.xRealloc(p, n);
}

// A file system shim over the default one whose writes, syncs and
// truncations fail on demand as on a full disk.
sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs shim_vfs{};
struct ShimFile {
  sqlite3_file base;
  sqlite3_file* real;
};
sqlite3_file* real_of(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f)->real; }

int shim_close(sqlite3_file* f) { return real_of(f)->pMethods->xClose(real_of(f)); }
int shim_read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
  return real_of(f)->pMethods->xRead(real_of(f), p, n, at);
}
int shim_write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  if (fault(Kind::kWrite)) return SQLITE_FULL;
  return real_of(f)->pMethods->xWrite(real_of(f), p, n, at);
}
int shim_truncate(sqlite3_file* f, sqlite3_int64 size) {
  if (fault(Kind::kWrite)) return SQLITE_IOERR_TRUNCATE;
  return real_of(f)->pMethods->xTruncate(real_of(f), size);
}
int shim_sync(sqlite3_file* f, int flags) {
  if (fault(Kind::kWrite)) return SQLITE_IOERR_FSYNC;
  return real_of(f)->pMethods->xSync(real_of(f), flags);
}
int shim_size(sqlite3_file* f, sqlite3_int64* size) {
  return real_of(f)->pMethods->xFileSize(real_of(f), size);
}
int shim_lock(sqlite3_file* f, int l) { return real_of(f)->pMethods->xLock(real_of(f), l); }
int shim_unlock(sqlite3_file* f, int l) { return real_of(f)->pMethods->xUnlock(real_of(f), l); }
int shim_reserved(sqlite3_file* f, int* out) {
  return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out);
}
int shim_control(sqlite3_file* f, int op, void* arg) {
  return real_of(f)->pMethods->xFileControl(real_of(f), op, arg);
}
int shim_sector(sqlite3_file* f) { return real_of(f)->pMethods->xSectorSize(real_of(f)); }
int shim_device(sqlite3_file* f) {
  return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f));
}

// Version 1: no shared memory and no memory mapping, which the rollback
// journal does not need.
const sqlite3_io_methods shim_methods = {
    1,         shim_close,  shim_read,     shim_write,   shim_truncate, shim_sync,   shim_size,
    shim_lock, shim_unlock, shim_reserved, shim_control, shim_sector,   shim_device, nullptr,
    nullptr,   nullptr,     nullptr,       nullptr,      nullptr};

int shim_open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out) {
  auto* s = reinterpret_cast<ShimFile*>(f);
  s->base.pMethods = nullptr;
  s->real = reinterpret_cast<sqlite3_file*>(s + 1);
  const int rc = real_vfs->xOpen(real_vfs, name, s->real, flags, out);
  if (s->real->pMethods != nullptr) s->base.pMethods = &shim_methods;
  return rc;
}

// Installed before anything in this program touches SQLite.
const bool installed = [] {
  if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &real_mem) != SQLITE_OK) return false;
  sqlite3_mem_methods mine = real_mem;
  mine.xMalloc = inject_malloc;
  mine.xRealloc = inject_realloc;
  if (sqlite3_config(SQLITE_CONFIG_MALLOC, &mine) != SQLITE_OK) return false;
  if (sqlite3_initialize() != SQLITE_OK) return false;
  real_vfs = sqlite3_vfs_find(nullptr);
  shim_vfs = *real_vfs;
  shim_vfs.iVersion = 1;
  shim_vfs.zName = "inject";
  shim_vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + real_vfs->szOsFile;
  shim_vfs.xOpen = shim_open;
  return sqlite3_vfs_register(&shim_vfs, 1) == SQLITE_OK;
}();

// ---- the store ----

NewSpectrum spectrum(const std::string& name, int size, int seed) {
  NewSpectrum s;
  s.name = name;
  s.title = "title " + name;
  s.size = size;
  for (int i = 0; i < size; ++i) s.counts.push_back((i * 37 + seed) % 1000);
  s.calibrations = {"POLY keV " + std::to_string(seed) + " 0.5"};
  return s;
}

// Every spectrum's name, counts and calibrations, read without faults.
std::string contents(const std::string& path) {
  Host host(path);
  int status = 0;
  host.sexpt(status);
  if (status != 0) return "cannot open: " + host.error();
  std::vector<spectrum::Summary> all;
  host.list(all, status);
  std::string out;
  for (const auto& s : all) {
    std::vector<std::int32_t> v(static_cast<std::size_t>(s.size));
    host.sread(s.id, s.base, s.size, 0, 0, v.data(), 4, status);
    out += s.name + ":" + std::to_string(status);
    for (auto c : v) {
      out += ' ';  // appended: " " + to_string() trips g++ 12's false -Wrestrict at -O3
      out += std::to_string(c);
    }
    std::vector<std::pair<int, std::string>> cals;
    host.calibrations(s.id, cals, status);
    for (const auto& c : cals) out += " | " + c.second;
    out += "\n";
  }
  std::vector<std::string> damaged, problems;
  host.check(damaged, problems, status);
  if (status != 0 || !damaged.empty() || !problems.empty()) out += "check failed";
  return out;
}

class Inject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(installed) << "the fault injection could not be installed";
    base = dir.path + "/base.db";
    work = dir.path + "/work.db";
    Host host(base);
    int status = 0;
    host.create(status);
    ASSERT_EQ(status, 0) << host.error();
    std::vector<NewSpectrum> v{spectrum("a", 300, 1), spectrum("b", 2000, 2)};
    std::vector<Ident> ids;
    host.store(v, false, ids, status);
    ASSERT_EQ(status, 0) << host.error();
  }

  // What a store holds, read from a copy (reading may upgrade a store).
  std::string contents_of_copy(const std::string& path) {
    const std::string copy = dir.path + "/copy.db";
    std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
    return contents(copy);
  }

  // Runs op with the n-th call of kind failing, for n = 1, 2, ... until a
  // run passes without reaching its n. Each run starts from a copy of
  // `from`; after it, the store must hold either what it held before or what
  // op was to make, and a failure must have a one-line message. Returns the
  // number of runs.
  int every_fault(Kind kind,
                  const std::string& from,
                  const std::function<int(Host&, std::string&)>& op,
                  const std::string& after) {
    const std::string before = contents_of_copy(from);
    int runs = 0;
    for (long n = 1;; ++n) {
      std::filesystem::copy_file(from, work, std::filesystem::copy_options::overwrite_existing);
      std::filesystem::remove(work + "-journal");
      std::string error;
      int status = 0;
      {
        Host host(work);
        armed = kind;
        calls = 0;
        fail_at = n;
        fired = false;
        status = op(host, error);
        armed = Kind::kNone;
      }
      ++runs;
      const std::string now = contents(work);
      const std::string what = "fault at call " + std::to_string(n) + ": " + error;
      if (status == 0) {
        EXPECT_EQ(now, after) << what;
      } else {
        EXPECT_TRUE(fired) << what;
        EXPECT_EQ(now, before) << what;
        EXPECT_FALSE(error.empty()) << what;
        EXPECT_EQ(error.find('\n'), std::string::npos) << what;
        EXPECT_EQ(error.find("is not a spectrum store"), std::string::npos) << what;
      }
      if (!fired || n > 100000) break;
    }
    return runs;
  }

  testsupport::TempDir dir;
  std::string base;
  std::string work;
};

// An import that replaces one spectrum and adds another.
int import(Host& host, std::string& error) {
  int status = 0;
  host.sexpt(status);
  if (status == 0) {
    std::vector<NewSpectrum> v{spectrum("b", 500, 7), spectrum("c", 4000, 8)};
    std::vector<Ident> ids;
    host.store(v, true, ids, status);
  }
  if (status != 0) error = host.error();
  return status;
}

// A fit's reads: connect, hold one snapshot, look up and read.
int fetch(Host& host, std::string& error) {
  int status = 0;
  host.sexpt(status);
  Ident id;
  if (status == 0) host.snapshot(status);
  if (status == 0) host.sname(id, "b", 1, status);
  int b = 0, size = 0, rb = 0, rows = 0, kind = 0;
  if (status == 0) host.sinq(id, b, size, rb, rows, kind, status);
  std::vector<std::int32_t> v(2000);
  if (status == 0) host.sread(id, 0, 2000, 0, 0, v.data(), 4, status);
  if (status == 0 && v != spectrum("b", 2000, 2).counts) {
    error = "wrong counts";
    return 1;
  }
  host.release();
  if (status != 0) error = host.error();
  return status;
}

TEST_F(Inject, EveryFailedAllocationOrWriteOfAnImportLeavesTheStoreAsItWas) {
  std::string unused;
  // What a complete import makes.
  std::filesystem::copy_file(base, dir.path + "/done.db");
  {
    Host host(dir.path + "/done.db");
    ASSERT_EQ(import(host, unused), 0) << unused;
  }
  const std::string after = contents(dir.path + "/done.db");
  const int allocations = every_fault(Kind::kMalloc, base, import, after);
  const int writes = every_fault(Kind::kWrite, base, import, after);
  EXPECT_GT(allocations, 50);
  EXPECT_GT(writes, 5);
  RecordProperty("allocation_faults", allocations);
  RecordProperty("write_faults", writes);
}

TEST_F(Inject, EveryFailedAllocationOfAFitsReadIsACleanError) {
  const std::string before = contents(base);
  const int allocations = every_fault(Kind::kMalloc, base, fetch, before);
  EXPECT_GT(allocations, 20);
}

TEST_F(Inject, EveryFailedWriteOfAnUpgradeLeavesTheOlderStore) {
  // The store as version 1 left it: no checksum columns.
  const std::string old = dir.path + "/old.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(old.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "PRAGMA application_id = 1415673458; PRAGMA user_version = 1;"
                         "CREATE TABLE spectrum (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT "
                         "UNIQUE, title TEXT NOT NULL DEFAULT '', label TEXT NOT NULL DEFAULT '', "
                         "base INTEGER NOT NULL, size INTEGER NOT NULL, rowbase INTEGER NOT NULL, "
                         "rows INTEGER NOT NULL, kind INTEGER NOT NULL DEFAULT 0, smallest "
                         "INTEGER NOT NULL DEFAULT 0, largest INTEGER NOT NULL DEFAULT 0, counts "
                         "BLOB NOT NULL);"
                         "CREATE TABLE calibration (spectrum INTEGER NOT NULL, number INTEGER NOT "
                         "NULL, text TEXT NOT NULL, PRIMARY KEY (spectrum, number));"
                         "INSERT INTO spectrum (name, base, size, rowbase, rows, counts) VALUES "
                         "('old', 0, 3, 0, 0, x'010000000200000003000000');"
                         "INSERT INTO calibration VALUES (1, 1, 'POLY - 1 2');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string bytes = slurp(old);
  const std::string after = contents_of_copy(old);
  const auto upgrade = [](Host& host, std::string& error) {
    int status = 0;
    host.sexpt(status);
    if (status != 0) error = host.error();
    return status;
  };
  // The upgrade changes no spectrum: a failed one and a done one read alike,
  // and a failed one leaves a store that upgrades later.
  const int writes = every_fault(Kind::kWrite, old, upgrade, after);
  EXPECT_GT(writes, 3);
  EXPECT_TRUE(slurp(old) == bytes);
}

}  // namespace
