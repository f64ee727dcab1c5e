// Host spectrum library over one SQLite database file per experiment.
//
// Tables (schema version 4):
//   spectrum(id, name, title, label, base, size, rowbase, rows, kind,
//            smallest, largest, counts, checksum, calsum,
//            live_time, real_time)
//            counts: little-endian int32 blob; calsum: sum of its calibrations' checksums;
//            live_time, real_time: seconds, NULL when unknown
//   calibration(spectrum, number, text, checksum)
// The file carries application id 0x54617672 ("Tavr") and the schema version
// in user_version; nothing is written to a file before both are checked.
//
// Every spectrum's geometry and counts, and every calibration text, carry a
// 64-bit checksum written with them and checked whenever they are read, so
// that damage to the file is reported as such and never fitted.
//
// The store uses SQLite's rollback journal. A connection is opened read-only
// and becomes a writing one only when a routine writes: readers take nothing
// but a shared lock on the file, create no file beside it (a store on
// read-only media or in a folder of another user reads normally), and see
// one committed version per transaction; a writer's journal exists only
// while it commits.
#include "spectrum/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "spectrum/sqlite_handle.h"

namespace spectrum {

namespace {

constexpr std::int32_t kApplicationId = 0x54617672;  // "Tavr"
constexpr int kBusyTimeoutMs = 5000;

// Schema steps: kMigrations[v] takes a store from version v to v + 1.
constexpr const char* kMigrations[] = {
    // 0 -> 1: the first schema.
    "CREATE TABLE spectrum ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT CHECK (id BETWEEN 1 AND 2147483647),"
    "  name TEXT UNIQUE,"
    "  title TEXT NOT NULL DEFAULT '',"
    "  label TEXT NOT NULL DEFAULT '',"
    "  base INTEGER NOT NULL,"
    "  size INTEGER NOT NULL CHECK (size >= 0),"
    "  rowbase INTEGER NOT NULL,"
    "  rows INTEGER NOT NULL CHECK (rows >= 0),"
    "  kind INTEGER NOT NULL DEFAULT 0,"
    "  smallest INTEGER NOT NULL DEFAULT 0,"
    "  largest INTEGER NOT NULL DEFAULT 0,"
    "  counts BLOB NOT NULL);"
    "CREATE TABLE calibration ("
    "  spectrum INTEGER NOT NULL REFERENCES spectrum(id) ON DELETE CASCADE,"
    "  number INTEGER NOT NULL CHECK (number >= 1),"
    "  text TEXT NOT NULL,"
    "  PRIMARY KEY (spectrum, number));",
    // 1 -> 2: checksums of the counts and calibrations (filled by fill_checksums).
    "ALTER TABLE spectrum ADD COLUMN checksum INTEGER;"
    "ALTER TABLE calibration ADD COLUMN checksum INTEGER;"
    "ALTER TABLE spectrum ADD COLUMN calsum INTEGER;",
    // 2 -> 3: measurement times; spectra stored before have none (NULL).
    "ALTER TABLE spectrum ADD COLUMN live_time REAL CHECK (live_time >= 0);"
    "ALTER TABLE spectrum ADD COLUMN real_time REAL CHECK (real_time >= 0);",
    // 3 -> 4: stored fit results (tavrick-batch --record), one row per line
    // fitted, with the command, time and program version of the run.
    "CREATE TABLE fits ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  spectrum TEXT NOT NULL,"
    "  energy TEXT NOT NULL,"
    "  status TEXT NOT NULL,"
    "  result TEXT NOT NULL,"
    "  command TEXT NOT NULL,"
    "  time TEXT NOT NULL,"
    "  version TEXT NOT NULL);"
    "CREATE INDEX fits_by_spectrum ON fits (spectrum, id);",
};
// The version whose upgrade computes the checksums of what the store holds.
constexpr int kChecksumVersion = 2;
// The version from which spectra carry live and real times.
constexpr int kTimesVersion = 3;
constexpr int kSchemaVersion = static_cast<int>(std::size(kMigrations));

struct Err {
  int code = 0;
  std::string text;
  int sqlite = 0;  // SQLite's extended result code, when SQLite failed
  explicit operator bool() const { return code != 0; }
};

// A text up to its significant length: trailing blanks, controls and NULs go.
std::string significant(const char* text, int len) {
  if (text == nullptr || len <= 0) return {};
  auto n = static_cast<std::size_t>(len);
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= 32) --n;
  return std::string(text, n);
}

// Copies s into dest (room characters), blank-padding; returns the length copied.
int put_text(char* dest, int room, std::string_view s, bool pad = true) {
  if (dest == nullptr || room <= 0) return 0;
  const auto n = std::min(static_cast<std::size_t>(room), s.size());
  std::memcpy(dest, s.data(), n);
  if (pad) std::memset(dest + n, ' ', static_cast<std::size_t>(room) - n);
  return static_cast<int>(n);
}

bool has_controls(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
  });
}

void put_le(unsigned char* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<unsigned char>(u);
  p[1] = static_cast<unsigned char>(u >> 8);
  p[2] = static_cast<unsigned char>(u >> 16);
  p[3] = static_cast<unsigned char>(u >> 24);
}

std::int32_t get_le(const unsigned char* p) {
  const std::uint32_t u =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(u);
}

// A 64-bit checksum over 32-bit words. Each step is a bijection of the state
// for a given word and of the word for a given state, so a change of any one
// word always changes the result; wider damage goes unnoticed with odds of
// about 2^-64.
class Checksum {
 public:
  void word(std::uint32_t w) {
    h_ = (h_ ^ w) * 0x9E3779B97F4A7C15ull;
    h_ ^= h_ >> 29;
  }
  // Bytes in little-endian words; a last partial word is padded with zeros
  // (callers that hash texts add the length, so padding cannot collide).
  void bytes(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
      word(static_cast<std::uint32_t>(p[i]) | (static_cast<std::uint32_t>(p[i + 1]) << 8) |
           (static_cast<std::uint32_t>(p[i + 2]) << 16) |
           (static_cast<std::uint32_t>(p[i + 3]) << 24));
    if (i < n) {
      std::uint32_t w = 0;
      for (std::size_t k = i; k < n; ++k) w |= static_cast<std::uint32_t>(p[k]) << (8 * (k - i));
      word(w);
    }
  }
  std::int64_t value() const {
    std::uint64_t h = h_ * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
    return static_cast<std::int64_t>(h);
  }

 private:
  std::uint64_t h_ = 0x6A09E667F3BCC908ull;
};

// The checksum of a spectrum starts with its geometry, so that a damaged
// size or base is caught like damaged counts.
Checksum counts_checksum_start(int base, int size, int rowbase, int rows) {
  Checksum c;
  for (const int v : {base, size, rowbase, rows}) c.word(static_cast<std::uint32_t>(v));
  return c;
}

std::int64_t calibration_checksum(std::int32_t spectrum, int number, std::string_view text) {
  Checksum c;
  c.word(static_cast<std::uint32_t>(spectrum));
  c.word(static_cast<std::uint32_t>(number));
  c.word(static_cast<std::uint32_t>(text.size()));
  c.bytes(reinterpret_cast<const unsigned char*>(text.data()), text.size());
  return c.value();
}

std::string col_text(sqlite3_stmt* st, int col) {
  const unsigned char* p = sqlite3_column_text(st, col);
  if (p == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(p),
                     static_cast<std::size_t>(sqlite3_column_bytes(st, col)));
}

int col_int(sqlite3_stmt* st, int col) { return sqlite3_column_int(st, col); }

// "a..b", or "none" for an empty range.
std::string span_text(std::int64_t from, std::int64_t count) {
  if (count <= 0) return "none";
  return std::to_string(from) + ".." + std::to_string(from + count - 1);
}

// One spectrum's header row.
struct Row {
  std::int32_t number = 0;
  std::string name;
  int base = 0;
  int size = 0;
  int rowbase = 0;
  int rows = 0;
  int kind = 0;
  std::int64_t bytes = 0;  // length of the stored counts
  bool has_checksum = false;
  std::int64_t checksum = 0;
  std::int64_t calsum = 0;  // meaningful only with has_checksum

  std::string who() const {
    return name.empty() ? "spectrum #" + std::to_string(number) : "spectrum '" + name + "'";
  }
  std::int64_t nrows() const { return std::max(rows, 1); }
  std::int64_t values() const { return static_cast<std::int64_t>(size) * nrows(); }
  // The spectrum as a damage report names it.
  std::string label_for_damage() const {
    if (!name.empty()) return name;
    // Appended, not prepended: g++ 12 warns (-Wrestrict, falsely) about a
    // literal + temporary string at -O3.
    std::string label(1, '#');
    label += std::to_string(number);
    return label;
  }
};

// Channel and row window of one sread or swrite, checked against a spectrum.
struct Window {
  std::int64_t first = 0;  // channel offset from base
  std::int64_t count = 0;
  std::int64_t row0 = 0;  // row offset from rowbase
  std::int64_t nrow = 1;
};

Err check_window(const Row& r,
                 const char* what,
                 int first,
                 int count,
                 int firstrow,
                 int rowcount,
                 int elemsize,
                 Window& w) {
  if (elemsize != 4)
    return {kBadElemSize, std::string(what) + " of " + r.who() + " with element size " +
                              std::to_string(elemsize) + ": counts are 4-byte integers"};
  if (count < 0 || rowcount < 0)
    return {kBadCount, std::string(what) + " of " + r.who() + " with a negative count (" +
                           std::to_string(count) + " channels, " + std::to_string(rowcount) +
                           " rows)"};
  w.count = count;
  w.first = static_cast<std::int64_t>(first) - r.base;
  const std::string range = "channels " + span_text(first, count);
  const std::string own = " (channels " + span_text(r.base, r.size) + ")";
  if (count > 0 && w.first < 0)
    return {kOutOfRange,
            std::string(what) + " of " + range + " before the start of " + r.who() + own};
  if (count > 0 && w.first + count > r.size)
    return {kOutOfRange, std::string(what) + " of " + range + " past the end of " + r.who() + own};
  w.nrow = std::max(rowcount, 1);
  if (r.rows == 0 && rowcount == 0) {
    w.row0 = 0;  // a 1-D read: the spectrum's only row
  } else {
    w.row0 = static_cast<std::int64_t>(firstrow) - r.rowbase;
    if (w.row0 < 0 || w.row0 + w.nrow > r.nrows())
      return {kOutOfRange, std::string(what) + " of rows " + span_text(firstrow, w.nrow) +
                               " outside " + r.who() + " (rows " + span_text(r.rowbase, r.nrows()) +
                               ")"};
  }
  return {};
}

// Checks a spectrum's geometry for sdef and store.
Err check_geometry(int base, int size, int rowbase, int rows) {
  if (size < 0 || rows < 0)
    return {kBadGeometry, "spectrum of " + std::to_string(size) + " channels and " +
                              std::to_string(rows) + " rows: neither may be negative"};
  constexpr std::int64_t top = std::numeric_limits<std::int32_t>::max();
  if (static_cast<std::int64_t>(base) + size - 1 > top ||
      static_cast<std::int64_t>(rowbase) + rows - 1 > top)
    return {kBadGeometry, "spectrum channels " + std::to_string(base) + " + " +
                              std::to_string(size) + " pass the largest channel number"};
  const std::int64_t values = static_cast<std::int64_t>(size) * std::max(rows, 1);
  if (values > kMaxValues)
    return {kBadGeometry, "spectrum of " + std::to_string(values) + " counts is larger than " +
                              std::to_string(kMaxValues) + " counts"};
  return {};
}

Err check_name(const std::string& name) {
  if (name.empty()) return {kBadName, "empty spectrum name"};
  if (static_cast<int>(name.size()) > kNameLen)
    return {kBadName, "spectrum name '" + name.substr(0, 40) + "...' is longer than " +
                          std::to_string(kNameLen) + " characters"};
  if (has_controls(name)) return {kBadName, "spectrum name holds control characters"};
  return {};
}

}  // namespace

std::int32_t ident_number(const Ident& id) {
  const auto hi = static_cast<std::uint32_t>(static_cast<std::uint16_t>(id.id1));
  const auto lo = static_cast<std::uint32_t>(static_cast<std::uint16_t>(id.id2));
  return static_cast<std::int32_t>((hi << 16) | lo);
}

Ident ident_of(std::int32_t number) {
  const auto u = static_cast<std::uint32_t>(number);
  Ident id;
  id.id1 = static_cast<std::int16_t>(static_cast<std::uint16_t>(u >> 16));
  id.id2 = static_cast<std::int16_t>(static_cast<std::uint16_t>(u & 0xFFFFu));
  return id;
}

// The open database and the statements every routine needs.
class Store {
 public:
  Store(sql::Db db, std::string path) : db_(std::move(db)), path_(std::move(path)) {}

  sqlite3* db() const { return db_.get(); }
  const std::string& path() const { return path_; }
  // Whether the tables carry checksums (a store too old to upgrade, read
  // where it cannot be written, has none).
  bool checksums() const { return checksums_; }
  void set_checksums(bool on) { checksums_ = on; }
  bool times() const { return times_; }
  void set_times(bool on) { times_ = on; }
  // Whether this connection was opened for writing.
  bool writing() const { return writing_; }
  void set_writing(bool on) { writing_ = on; }

  // An SQLite failure as a status and text: what was being done, then SQLite's reason.
  Err sql_error(const std::string& what, int rc) const {
    int code = kDatabase;
    switch (rc & 0xFF) {
      case SQLITE_BUSY:
      case SQLITE_LOCKED:
        code = kBusy;
        break;
      case SQLITE_READONLY:
      case SQLITE_PERM:
        code = kReadOnly;
        break;
      case SQLITE_NOTADB:
        code = kNotStore;
        break;
      case SQLITE_CORRUPT:
        code = kDamaged;
        break;
      default:
        break;
    }
    return {code, what + " in experiment '" + path_ + "' failed: " + sqlite3_errmsg(db()),
            sqlite3_extended_errcode(db())};
  }

  Err exec(const char* text, const std::string& what) const {
    const int rc = sqlite3_exec(db(), text, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return sql_error(what, rc);
    return {};
  }

  // A statement of the text, compiled once per connection and reused: an
  // import of many spectra would otherwise spend most of its time compiling.
  Err prepare(const char* text, sql::Stmt& st, const std::string& what) const {
    st.reset();
    Cached& c = cache_[text];
    if (c.stmt != nullptr && !c.in_use) {
      c.in_use = true;
      st.reset(c.stmt);
      st.get_deleter() = sql::Finalize{&c.in_use};
      return {};
    }
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db(), text, -1, &raw, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(raw);
      return sql_error(what, rc);
    }
    if (c.stmt == nullptr) {
      // Kept by the cache; the caller holds it until its handle goes.
      c.stmt = raw;
      c.in_use = true;
      st.reset(raw);
      st.get_deleter() = sql::Finalize{&c.in_use};
    } else {
      // The kept one is in use (the same text twice at once): a one-off.
      st.reset(raw);
      st.get_deleter() = sql::Finalize{};
    }
    return {};
  }

  // Runs a statement that returns no rows.
  Err run(sqlite3_stmt* st, const std::string& what) const {
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) return sql_error(what, rc);
    return {};
  }

  // The header of spectrum `number`, kNoSuchId when there is none. With
  // whole, a header whose geometry is impossible or does not fit the length
  // of its counts is damage (kDamaged): nothing may be read through it.
  Err load(std::int32_t number, const Ident& id, Row& row, bool whole = true) const {
    if (number <= 0) return no_such(id);
    sql::Stmt st;
    if (auto e = prepare(checksums_ ? "SELECT name, base, size, rowbase, rows, kind, "
                                      "length(counts), checksum, calsum FROM spectrum WHERE id = ?"
                                    : "SELECT name, base, size, rowbase, rows, kind, "
                                      "length(counts), NULL, NULL FROM spectrum WHERE id = ?",
                         st, "look-up of a spectrum"))
      return e;
    sqlite3_bind_int(st.get(), 1, number);
    row.number = number;
    const int rc = sqlite3_step(st.get());
    if (rc == SQLITE_DONE) return no_such(id);
    if ((rc & 0xFF) == SQLITE_CORRUPT) return damaged(row);
    if (rc != SQLITE_ROW) return sql_error("look-up of spectrum #" + std::to_string(number), rc);
    row.name = col_text(st.get(), 0);
    row.base = col_int(st.get(), 1);
    row.size = col_int(st.get(), 2);
    row.rowbase = col_int(st.get(), 3);
    row.rows = col_int(st.get(), 4);
    row.kind = col_int(st.get(), 5);
    row.bytes = sqlite3_column_int64(st.get(), 6);
    row.has_checksum = sqlite3_column_type(st.get(), 7) != SQLITE_NULL &&
                       sqlite3_column_type(st.get(), 8) != SQLITE_NULL;
    row.checksum = sqlite3_column_int64(st.get(), 7);
    row.calsum = sqlite3_column_int64(st.get(), 8);
    if (whole && !sound(row)) return damaged(row);
    return {};
  }

  // A header that can be trusted to describe its counts.
  bool sound(const Row& row) const {
    if (check_geometry(row.base, row.size, row.rowbase, row.rows)) return false;
    if (row.bytes != row.values() * 4) return false;
    return !checksums_ || row.has_checksum;
  }

  static Err damaged(const Row& row) {
    return {kDamaged, "spectrum damaged: " + row.label_for_damage()};
  }

  Err no_such(const Ident& id) const {
    return {kNoSuchId, "no spectrum with identifier (" + std::to_string(id.id1) + ", " +
                           std::to_string(id.id2) + ") in experiment '" + path_ + "'"};
  }

  // Opens the counts of a spectrum (already found sound by load) for
  // incremental reading or writing.
  Err open_counts(const Row& row, bool write, sql::Blob& blob) const {
    sqlite3_blob* raw = nullptr;
    const int rc =
        sqlite3_blob_open(db(), "main", "spectrum", "counts", row.number, write ? 1 : 0, &raw);
    blob.reset(raw);
    if ((rc & 0xFF) == SQLITE_CORRUPT) return damaged(row);
    if (rc != SQLITE_OK) return sql_error("access to the counts of " + row.who(), rc);
    if (sqlite3_blob_bytes(raw) != row.bytes) return damaged(row);
    return {};
  }

  // Reads the whole of an open counts blob in pieces through a small buffer
  // and gives the checksum of the geometry and counts.
  Err checksum_of(const Row& row, sqlite3_blob* blob, std::int64_t& out) const {
    Checksum c = counts_checksum_start(row.base, row.size, row.rowbase, row.rows);
    std::array<unsigned char, 16384> buf;
    for (std::int64_t at = 0; at < row.bytes;) {
      const auto n = static_cast<int>(std::min<std::int64_t>(buf.size(), row.bytes - at));
      const int rc = sqlite3_blob_read(blob, buf.data(), n, static_cast<int>(at));
      if (rc != SQLITE_OK) {
        if ((rc & 0xFF) == SQLITE_CORRUPT) return damaged(row);
        return sql_error("read of the counts of " + row.who(), rc);
      }
      c.bytes(buf.data(), static_cast<std::size_t>(n));
      at += n;
    }
    out = c.value();
    return {};
  }

  // Checks the counts of a sound header against their checksum.
  Err verify(const Row& row, sqlite3_blob* blob) const {
    if (!checksums_) return {};
    std::int64_t sum = 0;
    if (auto e = checksum_of(row, blob, sum)) return e;
    if (sum != row.checksum) return damaged(row);
    return {};
  }

  // Every calibration of a spectrum (loaded by load), in number order, each
  // checked against its checksum and all of them against the spectrum's sum
  // of those, so that a lost or strayed calibration is damage too.
  Err calibrations_of(const Row& row, std::vector<std::pair<int, std::string>>& out) const {
    out.clear();
    sql::Stmt st;
    if (auto e = prepare(checksums_ ? "SELECT number, text, checksum FROM calibration WHERE "
                                      "spectrum = ? ORDER BY number"
                                    : "SELECT number, text, NULL FROM calibration WHERE "
                                      "spectrum = ? ORDER BY number",
                         st, "calibration read"))
      return e;
    sqlite3_bind_int(st.get(), 1, row.number);
    std::uint64_t sum = 0;
    int rc = 0;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      const int number = col_int(st.get(), 0);
      std::string text = col_text(st.get(), 1);
      if (checksums_ &&
          (sqlite3_column_type(st.get(), 2) == SQLITE_NULL ||
           calibration_checksum(row.number, number, text) != sqlite3_column_int64(st.get(), 2))) {
        out.clear();
        return damaged(row);
      }
      sum += static_cast<std::uint64_t>(sqlite3_column_int64(st.get(), 2));
      out.emplace_back(number, std::move(text));
    }
    if ((rc & 0xFF) == SQLITE_CORRUPT) return damaged(row);
    if (rc != SQLITE_DONE) return sql_error("calibration read of " + row.who(), rc);
    if (checksums_ && (!row.has_checksum || static_cast<std::int64_t>(sum) != row.calsum)) {
      out.clear();
      return damaged(row);
    }
    return {};
  }

  // Sets a spectrum's sum (modulo 2^64) of its calibrations' checksums from the rows.
  Err update_calsum(std::int32_t number) const {
    sql::Stmt st;
    if (auto e =
            prepare("SELECT checksum FROM calibration WHERE spectrum = ?", st, "calibration write"))
      return e;
    sqlite3_bind_int(st.get(), 1, number);
    std::uint64_t sum = 0;
    int rc = 0;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW)
      sum += static_cast<std::uint64_t>(sqlite3_column_int64(st.get(), 0));
    if (rc != SQLITE_DONE) return sql_error("calibration write", rc);
    if (auto e = prepare("UPDATE spectrum SET calsum = ? WHERE id = ?", st, "calibration write"))
      return e;
    sqlite3_bind_int64(st.get(), 1, static_cast<std::int64_t>(sum));
    sqlite3_bind_int(st.get(), 2, number);
    return run(st.get(), "calibration write");
  }

 private:
  // A compiled statement the connection keeps, finalized before the connection closes.
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool in_use = false;
    Cached() = default;
    Cached(const Cached&) = delete;
    Cached& operator=(const Cached&) = delete;
    ~Cached() { sqlite3_finalize(stmt); }
  };

  sql::Db db_;
  std::string path_;
  bool checksums_ = true;
  bool times_ = true;
  bool writing_ = false;
  mutable std::unordered_map<std::string, Cached> cache_;  // after db_: destroyed first
};

namespace {

// One transaction; rolled back unless committed.
class Txn {
 public:
  explicit Txn(const Store& s) : s_(s) {}
  ~Txn() {
    if (active_) sqlite3_exec(s_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;

  // A write transaction takes the write lock at once (waiting up to the busy
  // timeout), so it never fails half-way for want of the lock. Inside a
  // transaction already open (a snapshot held by the caller) it joins that one.
  Err begin(bool write) {
    if (sqlite3_get_autocommit(s_.db()) == 0) return {};
    if (auto e = s_.exec(write ? "BEGIN IMMEDIATE" : "BEGIN", "start of a transaction")) return e;
    active_ = true;
    return {};
  }
  Err commit() {
    if (!active_) return {};
    if (auto e = s_.exec("COMMIT", "commit")) return e;
    active_ = false;
    return {};
  }

 private:
  const Store& s_;
  bool active_ = false;
};

Err read_pragma(const Store& s, const char* text, std::int64_t& value) {
  sql::Stmt st;
  if (auto e = s.prepare(text, st, "check of the store")) return e;
  const int rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) return s.sql_error("check of the store", rc);
  value = sqlite3_column_int64(st.get(), 0);
  return {};
}

// Computes the checksums of every spectrum and calibration of a store that
// had none (inside the upgrade's transaction).
Err fill_checksums(const Store& s) {
  sql::Stmt st;
  if (auto e = s.prepare("SELECT id, base, size, rowbase, rows, counts FROM spectrum", st,
                         "checksums of the counts"))
    return e;
  sql::Stmt up;
  if (auto e = s.prepare("UPDATE spectrum SET checksum = ? WHERE id = ?", up, "checksums"))
    return e;
  int rc = 0;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    Checksum c = counts_checksum_start(col_int(st.get(), 1), col_int(st.get(), 2),
                                       col_int(st.get(), 3), col_int(st.get(), 4));
    const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st.get(), 5));
    c.bytes(p, static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 5)));
    sqlite3_reset(up.get());
    sqlite3_bind_int64(up.get(), 1, c.value());
    sqlite3_bind_int(up.get(), 2, col_int(st.get(), 0));
    if (auto e = s.run(up.get(), "checksums of the counts")) return e;
  }
  if (rc != SQLITE_DONE) return s.sql_error("checksums of the counts", rc);
  if (auto e = s.prepare("SELECT spectrum, number, text FROM calibration", st,
                         "checksums of the calibrations"))
    return e;
  if (auto e = s.prepare("UPDATE calibration SET checksum = ? WHERE spectrum = ? AND number = ?",
                         up, "checksums"))
    return e;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    sqlite3_reset(up.get());
    sqlite3_bind_int64(
        up.get(), 1,
        calibration_checksum(col_int(st.get(), 0), col_int(st.get(), 1), col_text(st.get(), 2)));
    sqlite3_bind_int(up.get(), 2, col_int(st.get(), 0));
    sqlite3_bind_int(up.get(), 3, col_int(st.get(), 1));
    if (auto e = s.run(up.get(), "checksums of the calibrations")) return e;
  }
  if (rc != SQLITE_DONE) return s.sql_error("checksums of the calibrations", rc);
  if (auto e = s.prepare("SELECT id FROM spectrum", st, "checksums")) return e;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW)
    if (auto e = s.update_calsum(col_int(st.get(), 0))) return e;
  if (rc != SQLITE_DONE) return s.sql_error("checksums of the calibrations", rc);
  return {};
}

// Brings a store of our own from its version to the current one.
Err migrate(const Store& s) {
  Txn txn(s);
  if (auto e = txn.begin(true)) return e;
  std::int64_t version = 0;
  if (auto e = read_pragma(s, "PRAGMA user_version", version)) return e;
  if (version > kSchemaVersion)
    return {kNewerStore, "experiment '" + s.path() + "' has schema version " +
                             std::to_string(version) + "; this program knows up to " +
                             std::to_string(kSchemaVersion)};
  for (auto v = version; v < kSchemaVersion; ++v) {
    if (auto e = s.exec(kMigrations[v], "schema upgrade to version " + std::to_string(v + 1)))
      return e;
    if (v + 1 == kChecksumVersion)
      if (auto e = fill_checksums(s)) return e;
  }
  if (version < kSchemaVersion) {
    const std::string set = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    if (auto e = s.exec(set.c_str(), "schema upgrade")) return e;
  }
  return txn.commit();
}

// A file path as the path of an SQLite URI: characters that would end it
// or start an escape are written as %HH.
std::string uri_path(const std::string& path) {
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '?' || c == '#' || c == '%' || u < 33 || u >= 127) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  // A relative path must not read as an authority ("file://host/...").
  if (out.rfind("//", 0) == 0) out = "/" + out;
  return out;
}

// Waits for a lock held by another connection: 1 ms at a time, up to the
// busy timeout. Readers and a writer of the rollback journal take turns
// between each other's transactions; SQLite's own handler sleeps ever longer
// (up to 100 ms), so that a writer committing in a loop would starve readers.
int wait_briefly(void*, int tries) {
  if (tries >= kBusyTimeoutMs) return 0;
  ::usleep(1000);
  return 1;
}

// How a connection opens the store file.
enum class Open {
  kWrite,      // reading and writing (reading only when the file allows no more)
  kRead,       // reading only
  kImmutable,  // reading a file nothing can change: no locks, no files beside it
};

// Opens the store file. A store on a read-only file system is always opened
// immutable: nothing can change it, and an older store in WAL mode could not
// be read there otherwise.
Err open_db(const std::string& path, sql::Db& db, Open mode = Open::kWrite) {
  sqlite3* raw = nullptr;
  const bool write = mode == Open::kWrite;
  int flags = write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
  std::string name = path;
  struct statvfs fs {};
  if (!write && (mode == Open::kImmutable ||
                 (::statvfs(path.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0))) {
    name = "file:" + uri_path(path) + "?immutable=1";
    flags |= SQLITE_OPEN_URI;
  }
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  db.reset(raw);
  if (rc != SQLITE_OK)
    return {kNoExperiment, "can't open experiment '" + path +
                               "': " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc))};
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_handler(raw, wait_briefly, nullptr);
  return {};
}

std::vector<unsigned char> encode(std::span<const std::int32_t> counts) {
  std::vector<unsigned char> bytes(counts.size() * 4);
  for (std::size_t i = 0; i < counts.size(); ++i) put_le(bytes.data() + 4 * i, counts[i]);
  return bytes;
}

void bind_text(sqlite3_stmt* st, int i, const std::string& s) {
  // SQLITE_STATIC (a null destructor): every string outlives the statement's step.
  sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), nullptr);
}

Err read_summary(const Store& s, sqlite3_stmt* st, Summary& out) {
  out.id = ident_of(sqlite3_column_int(st, 0));
  out.name = col_text(st, 1);
  out.title = col_text(st, 2);
  out.label = col_text(st, 3);
  out.base = col_int(st, 4);
  out.size = col_int(st, 5);
  out.rowbase = col_int(st, 6);
  out.rows = col_int(st, 7);
  out.kind = col_int(st, 8);
  out.smallest = col_int(st, 9);
  out.largest = col_int(st, 10);
  // Totals over whole 4-byte counts only, so a damaged row still lists.
  const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(st, 11));
  const int bytes = sqlite3_column_bytes(st, 11);
  const std::int64_t n = std::min<std::int64_t>(
      bytes / 4, static_cast<std::int64_t>(out.size) * std::max(out.rows, 1));
  out.total = 0;
  for (std::int64_t i = 0; i < n; ++i) out.total += get_le(p + 4 * i);
  Row r;
  r.base = out.base;
  r.size = out.size;
  r.rowbase = out.rowbase;
  r.rows = out.rows;
  r.bytes = bytes;
  r.has_checksum = sqlite3_column_type(st, 12) != SQLITE_NULL;
  out.damaged = !s.sound(r);
  if (!out.damaged && s.checksums()) {
    Checksum c = counts_checksum_start(out.base, out.size, out.rowbase, out.rows);
    c.bytes(p, static_cast<std::size_t>(bytes));
    out.damaged = c.value() != sqlite3_column_int64(st, 12);
  }
  out.live_time.reset();
  out.real_time.reset();
  if (sqlite3_column_type(st, 13) != SQLITE_NULL) out.live_time = sqlite3_column_double(st, 13);
  if (sqlite3_column_type(st, 14) != SQLITE_NULL) out.real_time = sqlite3_column_double(st, 14);
  return {};
}

// The summary's columns; then the checksum and the live and real time (NULL
// in a store of a version without them, which a reader does not upgrade).
std::string summary_sql(const Store& s) {
  return std::string(
             "SELECT id, coalesce(name, ''), title, label, base, size, rowbase, rows, kind, "
             "smallest, largest, counts, ") +
         (s.checksums() ? "checksum" : "NULL") +
         (s.times() ? ", live_time, real_time" : ", NULL, NULL") + " FROM spectrum";
}

// Opens the store (for writing when write and the file allows it), checks
// that it is one of ours and not newer than this program; version receives
// its schema version.
Err open_checked(const std::string& path,
                 bool write,
                 std::unique_ptr<Store>& out,
                 std::int64_t& version,
                 Open read_mode = Open::kRead) {
  sql::Db db;
  if (auto e = open_db(path, db, write ? Open::kWrite : read_mode)) return e;
  auto store = std::make_unique<Store>(std::move(db), path);
  store->set_writing(write && sqlite3_db_readonly(store->db(), "main") == 0);
  // Reads only, until the file is known to be ours.
  std::int64_t app = 0;
  if (Err e = read_pragma(*store, "PRAGMA application_id", app)) {
    if (e.code == kNotStore || e.code == kDamaged)
      return {kNotStore, "'" + path + "' is not a spectrum store: " + sqlite3_errmsg(store->db())};
    return e;
  }
  if (app != kApplicationId)
    return {kNotStore,
            "'" + path + "' is not a spectrum store (an SQLite file of another program)"};
  if (auto e = read_pragma(*store, "PRAGMA user_version", version)) return e;
  if (version < 0)
    return {kNotStore, "'" + path + "' is not a spectrum store (schema version " +
                           std::to_string(version) + ")"};
  if (version > kSchemaVersion)
    return {kNewerStore, "experiment '" + path + "' has schema version " + std::to_string(version) +
                             "; this program knows up to " + std::to_string(kSchemaVersion)};
  store->set_checksums(version >= kChecksumVersion);
  store->set_times(version >= kTimesVersion);
  // Deletes that follow references.
  if (auto e = store->exec("PRAGMA foreign_keys = ON", "set-up")) return e;
  out = std::move(store);
  return {};
}

// Readies a writing connection: the rollback journal (an older store in WAL
// mode is switched when no one else has it open; until then it stays in WAL),
// and the schema upgraded to the current version.
Err become_writer(Store& s, std::int64_t version) {
  std::int64_t ignored = 0;
  (void)read_pragma(s, "PRAGMA journal_mode = DELETE", ignored);
  if (version < kSchemaVersion)
    if (auto e = migrate(s)) return e;
  s.set_checksums(true);
  s.set_times(true);
  return {};
}

}  // namespace

Host::Host() {
  const char* env = std::getenv("TAVRICK_EXPERIMENT");
  path_ = (env != nullptr && env[0] != '\0') ? env : "experiment.db";
}

Host::Host(std::string path) : path_(std::move(path)) {}

Host::~Host() = default;

void Host::fail(int& status, int code, std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  error_ = std::move(text);
  last_status_ = code;
  status = code;
}

bool Host::connected(int& status) {
  if (store_) return true;
  fail(status, kNotConnected, "not connected to an experiment (no successful sexpt)");
  return false;
}

#define TAVRICK_TRY(expr)                        \
  do {                                           \
    if (Err e_ = (expr)) {                       \
      fail(status, e_.code, std::move(e_.text)); \
      return;                                    \
    }                                            \
  } while (false)

void Host::sexpt(int& status) {
  store_.reset();
  // SQLite would open a missing name as a new database; look first so that
  // a missing or odd file is reported as such and never created.
  struct stat sb {};
  if (::stat(path_.c_str(), &sb) != 0) {
    const int err = errno;
    fail(status, kNoExperiment,
         err == ENOENT ? "experiment '" + path_ + "' does not exist"
                       : "can't open experiment '" + path_ + "': " + std::strerror(err));
    return;
  }
  if (!S_ISREG(sb.st_mode)) {
    fail(status, kNoExperiment, "experiment '" + path_ + "' is not a regular file");
    return;
  }
  if (sb.st_size == 0) {
    fail(status, kNotStore, "'" + path_ + "' is an empty file, not a spectrum store");
    return;
  }
  std::unique_ptr<Store> store;
  std::int64_t version = 0;
  Err e = open_checked(path_, false, store, version);
  if (e && e.sqlite != SQLITE_READONLY_ROLLBACK &&
      ((e.sqlite & 0xFF) == SQLITE_READONLY || (e.sqlite & 0xFF) == SQLITE_CANTOPEN)) {
    // A store left in WAL mode by an older version, in a folder where the
    // files beside it cannot be made: no one can write it there either, so
    // it is read as an unchanging file.
    e = open_checked(path_, false, store, version, Open::kImmutable);
  }
  if (e && e.sqlite == SQLITE_READONLY_ROLLBACK) {
    // A writer ended in the middle of a commit and left its journal: undo
    // that write, as any writer opening the store would, then read.
    std::unique_ptr<Store> w;
    e = open_checked(path_, true, w, version);
    if (!e && !w->writing())
      e = {kReadOnly, "experiment '" + path_ +
                          "' holds an unfinished write that only a program allowed to write "
                          "it can undo"};
    w.reset();
    if (!e) e = open_checked(path_, false, store, version);
  }
  TAVRICK_TRY(std::move(e));
  if (version < kSchemaVersion) {
    // An older store is upgraded when this program may write it; otherwise
    // it is read as it is (without checksums), which needs its tables.
    std::unique_ptr<Store> w;
    std::int64_t v = 0;
    Err we = open_checked(path_, true, w, v);
    if (!we && w->writing()) {
      TAVRICK_TRY(become_writer(*w, v));
      w.reset();
      TAVRICK_TRY(open_checked(path_, false, store, version));
    } else if (version < 1) {
      fail(status, kReadOnly,
           "experiment '" + path_ + "' of schema version " + std::to_string(version) +
               " needs an upgrade, and it cannot be written");
      return;
    }
  }
  store_ = std::move(store);
  status = 0;
}

bool Host::writable(int& status) {
  if (!connected(status)) return false;
  if (store_->writing()) return true;
  if (sqlite3_get_autocommit(store_->db()) == 0) {
    fail(status, kReadOnly, "write to experiment '" + path_ + "' while a read snapshot is held");
    return false;
  }
  std::unique_ptr<Store> w;
  std::int64_t version = 0;
  Err e = open_checked(path_, true, w, version);
  // Read by this connection but not opened for writing: a read-only file,
  // folder or file system (one that SQLite cannot even open for writing too).
  if ((!e && !w->writing()) || (e && e.code != kBusy && e.code != kNewerStore))
    e = {kReadOnly, "experiment '" + path_ +
                        "' cannot be written (a read-only file, folder or "
                        "file system)"};
  if (!e) e = become_writer(*w, version);
  if (e) {
    fail(status, e.code, std::move(e.text));
    return false;
  }
  store_ = std::move(w);
  return true;
}

void Host::snapshot(int& status) {
  if (!connected(status)) return;
  if (sqlite3_get_autocommit(store_->db()) != 0)
    TAVRICK_TRY(store_->exec("BEGIN", "start of a read snapshot"));
  status = 0;
}

void Host::release() {
  if (store_ && sqlite3_get_autocommit(store_->db()) == 0)
    sqlite3_exec(store_->db(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Host::create(int& status) {
  store_.reset();
  // O_EXCL: an existing file is never touched, even one created a moment ago.
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    fail(status, err == EEXIST ? kExists : kNoExperiment,
         err == EEXIST ? "'" + path_ + "' already exists"
                       : "can't create '" + path_ + "': " + std::strerror(err));
    return;
  }
  ::close(fd);
  Err e;
  {
    sql::Db db;
    e = open_db(path_, db);
    if (!e) {
      auto store = std::make_unique<Store>(std::move(db), path_);
      store->set_writing(true);
      const std::string app = "PRAGMA application_id = " + std::to_string(kApplicationId);
      e = store->exec(app.c_str(), "creation");
      if (!e) e = store->exec("PRAGMA foreign_keys = ON", "creation");
      if (!e) e = migrate(*store);
      if (!e) store_ = std::move(store);
    }
  }
  if (e) {
    ::unlink(path_.c_str());
    ::unlink((path_ + "-journal").c_str());
    fail(status, e.code, std::move(e.text));
    return;
  }
  status = 0;
}

void Host::sname(Ident& id, const char* name, int namelen, int& status) {
  if (!connected(status)) return;
  const std::string key = significant(name, namelen);
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("SELECT id FROM spectrum WHERE name = ?", st, "look-up by name"));
  bind_text(st.get(), 1, key);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) {
    fail(status, kNoSuchName, "no spectrum named '" + key + "' in experiment '" + path_ + "'");
    return;
  }
  if (rc != SQLITE_ROW) TAVRICK_TRY(store_->sql_error("look-up of spectrum '" + key + "'", rc));
  id = ident_of(sqlite3_column_int(st.get(), 0));
  status = 0;
}

void Host::srtit(const Ident& id, char* title, int& titlelen, int& status) {
  if (!connected(status)) return;
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("SELECT title FROM spectrum WHERE id = ?", st, "title read"));
  const std::int32_t number = ident_number(id);
  sqlite3_bind_int(st.get(), 1, number);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE || number <= 0) TAVRICK_TRY(store_->no_such(id));
  if (rc != SQLITE_ROW) TAVRICK_TRY(store_->sql_error("title read", rc));
  titlelen = put_text(title, titlelen, col_text(st.get(), 0));
  status = 0;
}

void Host::sinq(
    const Ident& id, int& base, int& size, int& rowbase, int& rows, int& kind, int& status) {
  if (!connected(status)) return;
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r));
  base = r.base;
  size = r.size;
  rowbase = r.rowbase;
  rows = r.rows;
  kind = r.kind;
  status = 0;
}

void Host::sread(const Ident& id,
                 int first,
                 int count,
                 int firstrow,
                 int rowcount,
                 std::int32_t* dest,
                 int elemsize,
                 int& status) {
  if (!connected(status)) return;
  // Header, length check and counts in one read transaction: one version.
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(false));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r));
  Window w;
  TAVRICK_TRY(check_window(r, "read", first, count, firstrow, rowcount, elemsize, w));
  if (w.count > 0) {
    sql::Blob blob;
    TAVRICK_TRY(store_->open_counts(r, false, blob));
    // The whole spectrum is checked before anything reaches dest.
    TAVRICK_TRY(store_->verify(r, blob.get()));
    // Then the window's counts go straight into dest, row by row, and are
    // turned from little-endian in place.
    for (std::int64_t k = 0; k < w.nrow; ++k) {
      const std::int64_t offset = ((w.row0 + k) * r.size + w.first) * 4;
      const int rc = sqlite3_blob_read(blob.get(), dest + k * w.count,
                                       static_cast<int>(w.count * 4), static_cast<int>(offset));
      if (rc != SQLITE_OK) TAVRICK_TRY(store_->sql_error("read of the counts of " + r.who(), rc));
    }
    blob.reset();
    if constexpr (std::endian::native != std::endian::little) {
      for (std::int64_t i = 0; i < w.count * w.nrow; ++i)
        dest[i] = get_le(reinterpret_cast<const unsigned char*>(dest + i));
    }
  }
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::swrite(const Ident& id,
                  int first,
                  int count,
                  int firstrow,
                  int rowcount,
                  const std::int32_t* src,
                  int elemsize,
                  int& status) {
  if (!writable(status)) return;
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r));
  Window w;
  TAVRICK_TRY(check_window(r, "write", first, count, firstrow, rowcount, elemsize, w));
  if (w.count > 0) {
    sql::Blob blob;
    TAVRICK_TRY(store_->open_counts(r, true, blob));
    // Damage is never overwritten into counts that look sound.
    TAVRICK_TRY(store_->verify(r, blob.get()));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(w.count * 4));
    for (std::int64_t k = 0; k < w.nrow; ++k) {
      for (std::int64_t i = 0; i < w.count; ++i) put_le(bytes.data() + 4 * i, src[k * w.count + i]);
      const std::int64_t offset = ((w.row0 + k) * r.size + w.first) * 4;
      const int rc = sqlite3_blob_write(blob.get(), bytes.data(), static_cast<int>(w.count * 4),
                                        static_cast<int>(offset));
      if (rc != SQLITE_OK) TAVRICK_TRY(store_->sql_error("write of the counts of " + r.who(), rc));
    }
    std::int64_t sum = 0;
    TAVRICK_TRY(store_->checksum_of(r, blob.get(), sum));
    blob.reset();
    sql::Stmt st;
    TAVRICK_TRY(store_->prepare("UPDATE spectrum SET checksum = ? WHERE id = ?", st,
                                "write of the counts"));
    sqlite3_bind_int64(st.get(), 1, sum);
    sqlite3_bind_int(st.get(), 2, r.number);
    TAVRICK_TRY(store_->run(st.get(), "write of the counts of " + r.who()));
  }
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::serror(char* text, int& len) const { len = put_text(text, kErrorLen, error_); }

void Host::sdef(Ident& id,
                int base,
                int size,
                int rowbase,
                int rows,
                int kind,
                const char* label,
                int labellen,
                int& status) {
  if (!writable(status)) return;
  TAVRICK_TRY(check_geometry(base, size, rowbase, rows));
  const std::string lab = significant(label, labellen);
  if (static_cast<int>(lab.size()) > kLabelLen) {
    fail(status, kTooLong,
         "label of " + std::to_string(lab.size()) + " characters is longer than " +
             std::to_string(kLabelLen));
    return;
  }
  const std::int64_t values = static_cast<std::int64_t>(size) * std::max(rows, 1);
  Checksum sum = counts_checksum_start(base, size, rowbase, rows);
  for (std::int64_t i = 0; i < values; ++i) sum.word(0);
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare(
      "INSERT INTO spectrum (name, title, label, base, size, rowbase, rows, kind, counts, "
      "checksum, calsum) VALUES (NULL, '', ?, ?, ?, ?, ?, ?, zeroblob(?), ?, 0)",
      st, "definition of a spectrum"));
  bind_text(st.get(), 1, lab);
  sqlite3_bind_int(st.get(), 2, base);
  sqlite3_bind_int(st.get(), 3, size);
  sqlite3_bind_int(st.get(), 4, rowbase);
  sqlite3_bind_int(st.get(), 5, rows);
  sqlite3_bind_int(st.get(), 6, kind);
  sqlite3_bind_int64(st.get(), 7, values * 4);
  sqlite3_bind_int64(st.get(), 8, sum.value());
  // One statement in autocommit mode is one transaction.
  TAVRICK_TRY(store_->run(st.get(), "definition of a spectrum"));
  id = ident_of(static_cast<std::int32_t>(sqlite3_last_insert_rowid(store_->db())));
  status = 0;
}

void Host::srmax(const Ident& id, int& smallest, int& largest, int& status) {
  if (!connected(status)) return;
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("SELECT smallest, largest FROM spectrum WHERE id = ?", st,
                              "read of the extreme counts"));
  const std::int32_t number = ident_number(id);
  sqlite3_bind_int(st.get(), 1, number);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE || number <= 0) TAVRICK_TRY(store_->no_such(id));
  if (rc != SQLITE_ROW) TAVRICK_TRY(store_->sql_error("read of the extreme counts", rc));
  smallest = col_int(st.get(), 0);
  largest = col_int(st.get(), 1);
  status = 0;
}

// Runs an UPDATE of one spectrum; kNoSuchId when it touched no row.
#define TAVRICK_UPDATE_ONE(st, what)                                          \
  do {                                                                        \
    TAVRICK_TRY(store_->run((st), (what)));                                   \
    if (sqlite3_changes(store_->db()) == 0) TAVRICK_TRY(store_->no_such(id)); \
  } while (false)

void Host::swmax(const Ident& id, int smallest, int largest, int& status) {
  if (!writable(status)) return;
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("UPDATE spectrum SET smallest = ?, largest = ? WHERE id = ?", st,
                              "write of the extreme counts"));
  sqlite3_bind_int(st.get(), 1, smallest);
  sqlite3_bind_int(st.get(), 2, largest);
  sqlite3_bind_int(st.get(), 3, ident_number(id));
  TAVRICK_UPDATE_ONE(st.get(), "write of the extreme counts");
  status = 0;
}

void Host::siden(const Ident& id, const char* name, int namelen, int& status) {
  if (!writable(status)) return;
  const std::string key = significant(name, namelen);
  TAVRICK_TRY(check_name(key));
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r, false));
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("SELECT id FROM spectrum WHERE name = ? AND id <> ?", st, "naming"));
  bind_text(st.get(), 1, key);
  sqlite3_bind_int(st.get(), 2, r.number);
  if (sqlite3_step(st.get()) == SQLITE_ROW) {
    fail(status, kNameInUse,
         "name '" + key + "' already belongs to spectrum #" +
             std::to_string(sqlite3_column_int(st.get(), 0)) + " in experiment '" + path_ + "'");
    return;
  }
  st.reset();
  TAVRICK_TRY(store_->prepare("UPDATE spectrum SET name = ? WHERE id = ?", st, "naming"));
  bind_text(st.get(), 1, key);
  sqlite3_bind_int(st.get(), 2, r.number);
  TAVRICK_TRY(store_->run(st.get(), "naming of " + r.who()));
  st.reset();
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::swtit(const Ident& id, const char* title, int titlelen, int& status) {
  if (!writable(status)) return;
  const std::string t = significant(title, titlelen);
  if (static_cast<int>(t.size()) > kTitleLen) {
    fail(status, kTooLong,
         "title of " + std::to_string(t.size()) + " characters is longer than " +
             std::to_string(kTitleLen));
    return;
  }
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("UPDATE spectrum SET title = ? WHERE id = ?", st, "title write"));
  bind_text(st.get(), 1, t);
  sqlite3_bind_int(st.get(), 2, ident_number(id));
  TAVRICK_UPDATE_ONE(st.get(), "title write");
  status = 0;
}

void Host::srlab(const Ident& id, char* label, int labellen, int& status) {
  if (!connected(status)) return;
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("SELECT label FROM spectrum WHERE id = ?", st, "label read"));
  const std::int32_t number = ident_number(id);
  sqlite3_bind_int(st.get(), 1, number);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE || number <= 0) TAVRICK_TRY(store_->no_such(id));
  if (rc != SQLITE_ROW) TAVRICK_TRY(store_->sql_error("label read", rc));
  put_text(label, std::min(labellen, kLabelLen), col_text(st.get(), 0), false);
  status = 0;
}

void Host::srcal(const Ident& id, char* text, int& len, int& status) {
  srcaln(id, 1, text, len, status);
}

void Host::swcal(const Ident& id, const char* text, int len, int& status) {
  swcaln(id, 1, text, len, status);
}

void Host::srcaln(const Ident& id, int number, char* text, int& len, int& status) {
  if (!connected(status)) return;
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(false));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r, false));
  if (number < 1 || number > kMaxCalNumber) {
    fail(status, kBadCalNumber,
         "calibration number " + std::to_string(number) + " of " + r.who() + " outside 1.." +
             std::to_string(kMaxCalNumber));
    return;
  }
  // All of the spectrum's calibrations are read, so that a lost one shows.
  std::vector<std::pair<int, std::string>> all;
  TAVRICK_TRY(store_->calibrations_of(r, all));
  const auto it =
      std::find_if(all.begin(), all.end(), [&](const auto& c) { return c.first == number; });
  if (it == all.end()) {
    fail(status, kNoCalibration, r.who() + " has no calibration " + std::to_string(number));
    return;
  }
  len = put_text(text, std::min(len, kCalLen), it->second);
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::swcaln(const Ident& id, int number, const char* text, int len, int& status) {
  if (!writable(status)) return;
  const std::string t = significant(text, len);
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r));
  if (number < 1 || number > kMaxCalNumber) {
    fail(status, kBadCalNumber,
         "calibration number " + std::to_string(number) + " of " + r.who() + " outside 1.." +
             std::to_string(kMaxCalNumber));
    return;
  }
  if (static_cast<int>(t.size()) > kCalLen) {
    fail(status, kTooLong,
         "calibration text of " + std::to_string(t.size()) + " characters for " + r.who() +
             " is longer than " + std::to_string(kCalLen));
    return;
  }
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare(t.empty()
                                  ? "DELETE FROM calibration WHERE spectrum = ?1 AND number = ?2"
                                  : "INSERT OR REPLACE INTO calibration (spectrum, number, text, "
                                    "checksum) VALUES (?1, ?2, ?3, ?4)",
                              st, "calibration write"));
  sqlite3_bind_int(st.get(), 1, r.number);
  sqlite3_bind_int(st.get(), 2, number);
  if (!t.empty()) {
    bind_text(st.get(), 3, t);
    sqlite3_bind_int64(st.get(), 4, calibration_checksum(r.number, number, t));
  }
  TAVRICK_TRY(store_->run(st.get(), "calibration write of " + r.who()));
  st.reset();
  TAVRICK_TRY(store_->update_calsum(r.number));
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::list(std::vector<Summary>& out, int& status) {
  if (!connected(status)) return;
  out.clear();
  sql::Stmt st;
  const std::string text = summary_sql(*store_) + " ORDER BY id";
  TAVRICK_TRY(store_->prepare(text.c_str(), st, "listing"));
  int rc = 0;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    Summary s;
    TAVRICK_TRY(read_summary(*store_, st.get(), s));
    out.push_back(std::move(s));
  }
  if (rc != SQLITE_DONE) TAVRICK_TRY(store_->sql_error("listing", rc));
  status = 0;
}

void Host::inquire(const Ident& id, Summary& out, int& status) {
  if (!connected(status)) return;
  sql::Stmt st;
  const std::string text = summary_sql(*store_) + " WHERE id = ?";
  TAVRICK_TRY(store_->prepare(text.c_str(), st, "inquiry"));
  const std::int32_t number = ident_number(id);
  sqlite3_bind_int(st.get(), 1, number);
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE || number <= 0) TAVRICK_TRY(store_->no_such(id));
  if (rc != SQLITE_ROW) TAVRICK_TRY(store_->sql_error("inquiry", rc));
  TAVRICK_TRY(read_summary(*store_, st.get(), out));
  if (out.damaged) {
    Row r;
    r.number = number;
    r.name = out.name;
    TAVRICK_TRY(Store::damaged(r));
  }
  status = 0;
}

void Host::calibrations(const Ident& id,
                        std::vector<std::pair<int, std::string>>& out,
                        int& status) {
  if (!connected(status)) return;
  out.clear();
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(false));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r, false));
  TAVRICK_TRY(store_->calibrations_of(r, out));
  TAVRICK_TRY(txn.commit());
  status = 0;
}

namespace {

#define TAVRICK_RETURN_IF(expr)     \
  do {                              \
    if (Err e_ = (expr)) return e_; \
  } while (false)

// Everything about spectra to enter the store that can be checked before the
// store is touched.
Err check_new_spectra(std::span<const NewSpectrum> spectra) {
  std::unordered_set<std::string_view> seen;
  for (const NewSpectrum& s : spectra) {
    TAVRICK_RETURN_IF(check_name(s.name));
    if (!seen.insert(s.name).second)
      return {kNameInUse, "two spectra named '" + s.name + "' in one import"};
    if (Err geom = check_geometry(s.base, s.size, s.rowbase, s.rows))
      return {geom.code, "spectrum '" + s.name + "': " + geom.text};
    const auto values =
        static_cast<std::size_t>(s.size) * static_cast<std::size_t>(std::max(s.rows, 1));
    if (s.counts.size() != values)
      return {kBadGeometry, "spectrum '" + s.name + "' has " + std::to_string(s.counts.size()) +
                                " counts where " + std::to_string(values) + " are needed"};
    if (static_cast<int>(s.title.size()) > kTitleLen ||
        static_cast<int>(s.label.size()) > kLabelLen)
      return {kTooLong, "title or label of spectrum '" + s.name + "' is too long"};
    for (const auto& t : {s.live_time, s.real_time})
      if (t && !(std::isfinite(*t) && *t >= 0.0))
        return {kBadGeometry,
                "spectrum '" + s.name + "' has a live or real time that is negative or not finite"};
    if (s.calibrations.size() > static_cast<std::size_t>(kMaxCalNumber))
      return {kBadCalNumber, "too many calibrations for spectrum '" + s.name + "'"};
    for (const auto& c : s.calibrations)
      if (static_cast<int>(c.size()) > kCalLen)
        return {kTooLong, "calibration text of spectrum '" + s.name + "' is longer than " +
                              std::to_string(kCalLen) + " characters"};
  }
  return {};
}

// Writes one checked spectrum with its calibrations and checksums, inside the
// caller's write transaction; number receives its id. A replaced spectrum
// keeps its id, so identifiers held elsewhere stay good.
Err write_new_spectrum(const Store& store,
                       const NewSpectrum& s,
                       bool replace,
                       const std::string& path,
                       std::int32_t& number) {
  const std::string what = "import of '" + s.name + "'";
  sql::Stmt st;
  TAVRICK_RETURN_IF(store.prepare("SELECT id FROM spectrum WHERE name = ?", st, "import"));
  bind_text(st.get(), 1, s.name);
  std::int32_t existing = 0;
  const int rc = sqlite3_step(st.get());
  if (rc == SQLITE_ROW)
    existing = sqlite3_column_int(st.get(), 0);
  else if (rc != SQLITE_DONE)
    return store.sql_error(what, rc);
  st.reset();
  if (existing != 0 && !replace)
    return {kNameInUse,
            "a spectrum named '" + s.name + "' is already in experiment '" + path + "'"};
  std::int32_t smallest = 0;
  std::int32_t largest = 0;
  if (!s.counts.empty()) {
    const auto [lo, hi] = std::minmax_element(s.counts.begin(), s.counts.end());
    smallest = *lo;
    largest = *hi;
  }
  const std::vector<unsigned char> bytes = encode(s.counts);
  Checksum sum = counts_checksum_start(s.base, s.size, s.rowbase, s.rows);
  sum.bytes(bytes.data(), bytes.size());
  TAVRICK_RETURN_IF(store.prepare(
      existing != 0
          ? "UPDATE spectrum SET title = ?2, label = ?3, base = ?4, size = ?5, rowbase = ?6, "
            "rows = ?7, kind = ?8, smallest = ?9, largest = ?10, counts = ?11, checksum = ?13, "
            "live_time = ?14, real_time = ?15 WHERE id = ?12"
          : "INSERT INTO spectrum (name, title, label, base, size, rowbase, rows, kind, "
            "smallest, largest, counts, checksum, live_time, real_time) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?13, ?14, ?15)",
      st, "import"));
  if (existing == 0) bind_text(st.get(), 1, s.name);
  bind_text(st.get(), 2, s.title);
  bind_text(st.get(), 3, s.label);
  sqlite3_bind_int(st.get(), 4, s.base);
  sqlite3_bind_int(st.get(), 5, s.size);
  sqlite3_bind_int(st.get(), 6, s.rowbase);
  sqlite3_bind_int(st.get(), 7, s.rows);
  sqlite3_bind_int(st.get(), 8, s.kind);
  sqlite3_bind_int(st.get(), 9, smallest);
  sqlite3_bind_int(st.get(), 10, largest);
  // zeroblob keeps an empty spectrum's counts a blob, never NULL.
  if (bytes.empty())
    sqlite3_bind_zeroblob(st.get(), 11, 0);
  else
    sqlite3_bind_blob(st.get(), 11, bytes.data(), static_cast<int>(bytes.size()), nullptr);
  if (existing != 0) sqlite3_bind_int(st.get(), 12, existing);
  sqlite3_bind_int64(st.get(), 13, sum.value());
  // Unbound parameters are NULL: an unknown time.
  if (s.live_time) sqlite3_bind_double(st.get(), 14, *s.live_time);
  if (s.real_time) sqlite3_bind_double(st.get(), 15, *s.real_time);
  TAVRICK_RETURN_IF(store.run(st.get(), what));
  st.reset();
  number =
      existing != 0 ? existing : static_cast<std::int32_t>(sqlite3_last_insert_rowid(store.db()));
  TAVRICK_RETURN_IF(store.prepare("DELETE FROM calibration WHERE spectrum = ?", st, "import"));
  sqlite3_bind_int(st.get(), 1, number);
  TAVRICK_RETURN_IF(store.run(st.get(), what));
  st.reset();
  std::uint64_t calsum = 0;
  for (std::size_t k = 0; k < s.calibrations.size(); ++k) {
    if (s.calibrations[k].empty()) continue;
    const std::int64_t calcheck =
        calibration_checksum(number, static_cast<int>(k + 1), s.calibrations[k]);
    calsum += static_cast<std::uint64_t>(calcheck);
    TAVRICK_RETURN_IF(store.prepare(
        "INSERT INTO calibration (spectrum, number, text, checksum) VALUES (?, ?, ?, ?)", st,
        "import"));
    sqlite3_bind_int(st.get(), 1, number);
    sqlite3_bind_int(st.get(), 2, static_cast<int>(k + 1));
    bind_text(st.get(), 3, s.calibrations[k]);
    sqlite3_bind_int64(st.get(), 4, calcheck);
    TAVRICK_RETURN_IF(store.run(st.get(), what));
    st.reset();
  }
  TAVRICK_RETURN_IF(store.prepare("UPDATE spectrum SET calsum = ? WHERE id = ?", st, "import"));
  sqlite3_bind_int64(st.get(), 1, static_cast<std::int64_t>(calsum));
  sqlite3_bind_int(st.get(), 2, number);
  return store.run(st.get(), what);
}

#undef TAVRICK_RETURN_IF

}  // namespace

void Host::store(std::span<const NewSpectrum> spectra,
                 bool replace,
                 std::vector<Ident>& ids,
                 int& status) {
  if (!writable(status)) return;
  // Everything is checked before the transaction starts.
  TAVRICK_TRY(check_new_spectra(spectra));
  std::vector<Ident> made;
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  for (const NewSpectrum& s : spectra) {
    std::int32_t number = 0;
    TAVRICK_TRY(write_new_spectrum(*store_, s, replace, path_, number));
    made.push_back(ident_of(number));
  }
  TAVRICK_TRY(txn.commit());
  ids = std::move(made);
  status = 0;
}

void Host::remove(const Ident& id, int& status) {
  if (!writable(status)) return;
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  Row r;
  TAVRICK_TRY(store_->load(ident_number(id), id, r, false));
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("DELETE FROM calibration WHERE spectrum = ?", st, "removal"));
  sqlite3_bind_int(st.get(), 1, r.number);
  TAVRICK_TRY(store_->run(st.get(), "removal of " + r.who()));
  TAVRICK_TRY(store_->prepare("DELETE FROM spectrum WHERE id = ?", st, "removal"));
  sqlite3_bind_int(st.get(), 1, r.number);
  TAVRICK_TRY(store_->run(st.get(), "removal of " + r.who()));
  st.reset();
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::check(std::vector<std::string>& damaged,
                 std::vector<std::string>& problems,
                 int& status) {
  if (!connected(status)) return;
  damaged.clear();
  problems.clear();
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(false));
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare("PRAGMA integrity_check", st, "integrity check"));
  int rc = 0;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    const std::string line = col_text(st.get(), 0);
    if (line != "ok") problems.push_back(line);
  }
  if (rc != SQLITE_DONE) problems.push_back(sqlite3_errmsg(store_->db()));
  if (!store_->checksums()) problems.push_back("the store is of a version without checksums");

  // Every spectrum by id: the header through load (geometry and length), the
  // counts through their checksum, then its calibrations.
  std::vector<std::int32_t> numbers;
  TAVRICK_TRY(store_->prepare("SELECT id FROM spectrum ORDER BY id", st, "check"));
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) numbers.push_back(col_int(st.get(), 0));
  if (rc != SQLITE_DONE) problems.push_back(sqlite3_errmsg(store_->db()));
  for (const std::int32_t number : numbers) {
    Row r;
    r.number = number;
    Err e = store_->load(number, ident_of(number), r, false);
    if (e && e.code != kDamaged) TAVRICK_TRY(std::move(e));
    bool bad = static_cast<bool>(e) || !store_->sound(r);
    if (!bad && r.bytes > 0) {
      sql::Blob blob;
      e = store_->open_counts(r, false, blob);
      if (!e) e = store_->verify(r, blob.get());
      if (e && e.code != kDamaged && e.code != kDatabase) TAVRICK_TRY(std::move(e));
      bad = static_cast<bool>(e);
    }
    if (!bad) {
      std::vector<std::pair<int, std::string>> cals;
      e = store_->calibrations_of(r, cals);
      if (e && e.code != kDamaged && e.code != kDatabase) TAVRICK_TRY(std::move(e));
      bad = static_cast<bool>(e);
    }
    if (bad) damaged.push_back(r.label_for_damage());
  }
  // Calibrations whose spectrum is gone are damage too, of no one spectrum.
  TAVRICK_TRY(store_->prepare(
      "SELECT count(*) FROM calibration WHERE spectrum NOT IN (SELECT id FROM spectrum)", st,
      "check"));
  if (sqlite3_step(st.get()) == SQLITE_ROW && sqlite3_column_int64(st.get(), 0) > 0)
    problems.push_back(std::to_string(sqlite3_column_int64(st.get(), 0)) +
                       " calibrations of spectra that are not in the store");
  st.reset();
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::record_fits(std::span<const FitRecord> fits, int& status) {
  if (!writable(status)) return;
  Txn txn(*store_);
  TAVRICK_TRY(txn.begin(true));
  sql::Stmt st;
  TAVRICK_TRY(
      store_->prepare("INSERT INTO fits (spectrum, energy, status, result, command, time, version) "
                      "VALUES (?, ?, ?, ?, ?, ?, ?)",
                      st, "fit record"));
  for (const FitRecord& f : fits) {
    sqlite3_reset(st.get());
    int k = 0;
    for (const std::string* t :
         {&f.spectrum, &f.energy, &f.status, &f.result, &f.command, &f.time, &f.version})
      bind_text(st.get(), ++k, *t);
    TAVRICK_TRY(store_->run(st.get(), "fit record of spectrum '" + f.spectrum + "'"));
  }
  st.reset();
  TAVRICK_TRY(txn.commit());
  status = 0;
}

void Host::fits(const std::string& spectrum, std::vector<FitRecord>& out, int& status) {
  if (!connected(status)) return;
  out.clear();
  sql::Stmt st;
  TAVRICK_TRY(store_->prepare(
      spectrum.empty()
          ? "SELECT id, spectrum, energy, status, result, command, time, version FROM fits "
            "ORDER BY id"
          : "SELECT id, spectrum, energy, status, result, command, time, version FROM fits "
            "WHERE spectrum = ? ORDER BY id",
      st, "fit records"));
  if (!spectrum.empty()) bind_text(st.get(), 1, spectrum);
  int rc = 0;
  const auto text = [&](int col) {
    const auto* p = sqlite3_column_text(st.get(), col);
    return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p));
  };
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    FitRecord f;
    f.id = sqlite3_column_int64(st.get(), 0);
    f.spectrum = text(1);
    f.energy = text(2);
    f.status = text(3);
    f.result = text(4);
    f.command = text(5);
    f.time = text(6);
    f.version = text(7);
    out.push_back(std::move(f));
  }
  if (rc != SQLITE_DONE) TAVRICK_TRY(store_->sql_error("fit records", rc));
  status = 0;
}

#undef TAVRICK_UPDATE_ONE
#undef TAVRICK_TRY

void exstop(const Host& host, int status) {
  if (status != 0 && status == host.last_status() && !host.error().empty())
    std::printf("%s\n", host.error().c_str());
  else
    std::printf("spectrum access failed with status %d\n", status);
  std::fflush(stdout);
  std::exit(8);
}

}  // namespace spectrum
