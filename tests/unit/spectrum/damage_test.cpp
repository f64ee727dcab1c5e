// Damage to a store's file: random byte flips in 300 copies of one store.
// Every read either gives back exactly what was stored or fails (naming the
// spectrum, or refusing the store), and check lists the spectra reads find
// damaged.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
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

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Fifteen spectra of 500 to 3300 channels (one of them 2-D), each with a
// calibration, the counts of each distinct.
std::vector<NewSpectrum> fifteen() {
  std::vector<NewSpectrum> v;
  std::mt19937 rng(7);
  for (int k = 0; k < 15; ++k) {
    NewSpectrum s;
    s.name = "s";  // appended: "s" + to_string() trips g++ 12's false -Wrestrict at -O3
    s.name += std::to_string(k);
    s.base = 10 * k;
    s.size = 500 + 200 * k;
    s.rows = k == 4 ? 3 : 0;
    s.rowbase = k == 4 ? 1 : 0;
    const std::size_t n = static_cast<std::size_t>(s.size) * (s.rows > 0 ? 3 : 1);
    std::uniform_int_distribution<std::int32_t> count(0, 100000);
    for (std::size_t i = 0; i < n; ++i) s.counts.push_back(count(rng));
    s.calibrations = {"POLY keV " + std::to_string(k) + " 0.5"};
    v.push_back(std::move(s));
  }
  return v;
}

struct Seen {
  std::set<std::string> damaged;  // spectra a read reported damaged
  int wrong = 0;                  // reads that returned something else than was stored
  int sound = 0;                  // reads that returned what was stored
};

// Reads every spectrum of the original by id, as a fit would.
Seen read_all(Host& host, const std::vector<NewSpectrum>& orig) {
  Seen seen;
  const std::string prefix = "spectrum damaged: ";
  auto note = [&](int status) {
    if (status == spectrum::kDamaged && host.error().rfind(prefix, 0) == 0)
      seen.damaged.insert(host.error().substr(prefix.size()));
  };
  for (std::size_t k = 0; k < orig.size(); ++k) {
    const Ident id = spectrum::ident_of(static_cast<std::int32_t>(k + 1));
    int base = 0, size = 0, rowbase = 0, rows = 0, kind = 0, status = 0;
    host.sinq(id, base, size, rowbase, rows, kind, status);
    if (status != 0) {
      note(status);
      continue;
    }
    const std::size_t n =
        static_cast<std::size_t>(size) * static_cast<std::size_t>(std::max(rows, 1));
    std::vector<std::int32_t> got(n);
    host.sread(id, base, size, rowbase, rows, got.data(), 4, status);
    if (status != 0) {
      note(status);
    } else {
      const NewSpectrum& o = orig[k];
      const bool same = base == o.base && size == o.size && rows == o.rows && got == o.counts;
      ++(same ? seen.sound : seen.wrong);
      if (!same) ADD_FAILURE() << "counts of " << o.name;
    }
    std::vector<std::pair<int, std::string>> cals;
    host.calibrations(id, cals, status);
    if (status != 0)
      note(status);
    else if (cals.size() != 1 || cals[0].second != orig[k].calibrations[0]) {
      ++seen.wrong;
      ADD_FAILURE() << "calibration of " << orig[k].name << ": " << cals.size();
    }
  }
  return seen;
}

TEST(Damage, EveryFlippedByteIsDetectedOrHarmless) {
  testsupport::TempDir dir;
  const std::string clean = dir.path + "/clean.db";
  const auto orig = fifteen();
  {
    Host host(clean);
    int status = 0;
    host.create(status);
    ASSERT_EQ(status, 0) << host.error();
    std::vector<Ident> ids;
    host.store(orig, false, ids, status);
    ASSERT_EQ(status, 0) << host.error();
  }
  const std::string bytes = slurp(clean);
  std::mt19937 rng(20261208);
  std::map<std::string, int> outcome;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = bytes;
    // 1 to 20 bytes, either scattered or in one run (a torn sector).
    const int n = std::uniform_int_distribution<int>(1, 20)(rng);
    const bool run = round % 2 == 1;
    std::uniform_int_distribution<std::size_t> where(0, damaged.size() - 21);
    std::uniform_int_distribution<int> flip(1, 255);
    std::size_t at = where(rng);
    for (int i = 0; i < n; ++i) {
      damaged[at] = static_cast<char>(damaged[at] ^ flip(rng));
      at = run ? at + 1 : where(rng);
    }
    const std::string path = dir.path + "/r" + std::to_string(round) + ".db";
    spit(path, damaged);
    Host host(path);
    int status = 0;
    host.sexpt(status);
    if (status != 0) {
      ++outcome["store refused"];
      continue;
    }
    const Seen seen = read_all(host, orig);
    EXPECT_EQ(seen.wrong, 0) << "round " << round << ": a read returned changed data";
    std::vector<std::string> listed, problems;
    host.check(listed, problems, status);
    if (status != 0) {
      ++outcome["check refused"];
      continue;
    }
    const std::set<std::string> by_check(listed.begin(), listed.end());
    // Everything a read found damaged is listed; with the file otherwise
    // sound, check lists nothing more.
    for (const auto& d : seen.damaged)
      EXPECT_TRUE(by_check.count(d)) << "round " << round << ": " << d << " not listed";
    if (problems.empty()) {
      EXPECT_EQ(by_check, seen.damaged) << "round " << round;
    }
    ++outcome[!seen.damaged.empty() ? "spectra damaged"
              : !problems.empty()   ? "store damaged"
                                    : "no harm"];
    std::remove(path.c_str());
  }
  for (const auto& [what, count] : outcome) RecordProperty(what, count);
  EXPECT_GT(outcome["spectra damaged"], 50) << "the flips rarely hit the counts";
}

// Every way a spectrum can be damaged, made by SQL on the file, and what
// the reads and check say.
TEST(Damage, EachKindOfDamageIsNamed) {
  testsupport::TempDir dir;
  const auto orig = fifteen();
  const struct {
    const char* what;
    const char* sql;
    std::set<std::string> damaged;
    bool counts = true;  // the counts or their geometry are damaged
  } cases[] = {
      {"one count",
       "UPDATE spectrum SET counts = zeroblob(length(counts)) WHERE name = 's3'",
       {"s3"}},
      {"the size", "UPDATE spectrum SET size = size - 1 WHERE name = 's5'", {"s5"}},
      {"the base", "UPDATE spectrum SET base = base + 1 WHERE name = 's6'", {"s6"}},
      {"the rows", "UPDATE spectrum SET rows = 1 WHERE name = 's4'", {"s4"}},
      {"a calibration",
       "UPDATE calibration SET text = 'POLY keV 9 9' WHERE spectrum = 8",
       {"s7"},
       false},
      {"a lost calibration", "DELETE FROM calibration WHERE spectrum = 11", {"s10"}, false},
      {"a strayed calibration",
       "UPDATE calibration SET spectrum = 13, number = 2 WHERE spectrum = 12",
       {"s11", "s12"},
       false},
      {"a lost checksum", "UPDATE spectrum SET checksum = NULL WHERE name = 's9'", {"s9"}},
      {"two spectra",
       "UPDATE spectrum SET counts = counts || x'00000000', size = size + 1 WHERE name IN "
       "('s1', 's2')",
       {"s1", "s2"}},
      {"nothing", "SELECT 1", {}},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path + "/" + c.what + ".db";
    {
      Host host(path);
      int status = 0;
      host.create(status);
      std::vector<Ident> ids;
      host.store(orig, false, ids, status);
      ASSERT_EQ(status, 0) << host.error();
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK) << c.what;
    sqlite3_close(db);
    Host host(path);
    int status = 0;
    host.sexpt(status);
    ASSERT_EQ(status, 0) << c.what << ": " << host.error();
    const Seen seen = read_all(host, orig);
    EXPECT_EQ(seen.wrong, 0) << c.what;
    EXPECT_EQ(seen.damaged, c.damaged) << c.what;
    std::vector<std::string> listed, problems;
    host.check(listed, problems, status);
    ASSERT_EQ(status, 0) << c.what << ": " << host.error();
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), c.damaged) << c.what;
    EXPECT_TRUE(problems.empty()) << c.what << ": " << problems.front();
    // A damaged spectrum can still be removed, and a writer never blesses damage.
    for (const auto& name : c.damaged) {
      Ident id;
      host.sname(id, name.c_str(), static_cast<int>(name.size()), status);
      std::vector<std::int32_t> one{1};
      int base = 0, size = 0, rowbase = 0, rows = 0, kind = 0;
      host.sinq(id, base, size, rowbase, rows, kind, status);
      host.swrite(id, orig[std::stoul(name.substr(1))].base, 1, 0, 0, one.data(), 4, status);
      if (c.counts) {
        EXPECT_NE(status, 0) << c.what;
      }
      host.remove(id, status);
      EXPECT_EQ(status, 0) << c.what << ": " << host.error();
    }
  }
}

}  // namespace
