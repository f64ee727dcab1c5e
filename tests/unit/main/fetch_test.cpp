// The fetch phase in process: what reaches the engine's arrays.
#include "main/fetch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct TempStore {
  std::string dir;
  std::string path;
  TempStore() {
    char tmpl[] = "/tmp/tavrick-fetch-XXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/experiment.db";
  }
  ~TempStore() {
    std::remove(path.c_str());
    std::remove((path + "-wal").c_str());
    std::remove((path + "-shm").c_str());
    std::remove(dir.c_str());
  }
};

tavrick::Settings settings(const std::string& name, int ilo, int ihi, double peak) {
  tavrick::Settings s;
  s.name.fill(' ');
  name.copy(s.name.data(), name.size());
  s.namelen = static_cast<int>(name.size());
  s.ilo = ilo;
  s.ihi = ihi;
  s.npeaks = 1;
  s.pos[0] = peak;
  s.fwhmin.fill(3.0);
  s.fwloin.fill(3.0);
  s.width = 3.0;
  s.widlo = 3.0;
  return s;
}

TEST(Fetch, CountsReachTheEngineThroughSinglePrecision) {
  TempStore t;
  spectrum::Host host(t.path);
  int status = 0;
  host.create(status);
  ASSERT_EQ(status, 0) << host.error();
  std::vector<std::int32_t> counts(20, 7);
  counts[0] = 20000001;  // not a single-precision value: becomes 20,000,000
  counts[5] = -3;
  spectrum::Ident id;
  host.sdef(id, 0, 20, 0, 0, 0, "", 0, status);
  host.siden(id, "s", 1, status);
  host.swrite(id, 0, 20, 0, 0, counts.data(), 4, status);
  ASSERT_EQ(status, 0) << host.error();

  auto run = std::make_unique<tavrick::Run>();
  tavrick::Settings s = settings("s", 0, 9, 4.0);  // a window from channel 0
  tavrick::fetch(s, host, *run, stdout);
  EXPECT_EQ(run->nchan, 10);
  EXPECT_EQ(run->idata[0], 20000001);
  EXPECT_EQ(run->spec[0], 20000000.0);
  EXPECT_EQ(run->spec[5], -3.0);
  EXPECT_EQ(run->spec[9], 7.0);
  EXPECT_EQ(run->spec[10], 0.0);  // beyond the window: left 0
  EXPECT_EQ(run->idata[10], 0);
}

TEST(Fit, EngineInOutValuesReturnToTheSettings) {
  auto run = std::make_unique<tavrick::Run>();
  for (int i = 10; i <= 30; ++i) run->spec[static_cast<std::size_t>(i)] = (i == 22) ? 500.0 : 10.0;
  tavrick::Settings s = settings("s", 10, 30, 20.0);
  s.ilor = 1;
  s.ifixwd = 1;
  s.ifixcn = 1;
  run->nchan = 21;
  std::FILE* out = std::fopen("/dev/null", "w");
  tavrick::fit(s, *run, out);
  std::fclose(out);
  EXPECT_EQ(s.pos[0], 22.0);  // the peak search's position
  EXPECT_EQ(s.ifixwd, 0);
  EXPECT_EQ(s.ifixcn, 0);
  EXPECT_EQ(run->k.ipksch, tavrick::kPeakSearch);
  EXPECT_EQ(run->k.maxch, tavrick::kMaxCh);
}

TEST(Fit, WithoutSearchTheGuessStaysWhereGiven) {
  auto run = std::make_unique<tavrick::Run>();
  for (int i = 10; i <= 30; ++i) run->spec[static_cast<std::size_t>(i)] = (i == 22) ? 500.0 : 10.0;
  tavrick::Settings s = settings("s", 10, 30, 20.0);
  s.ifixwd = 1;
  s.ifixcn = 1;
  s.ipksch = 0;
  run->nchan = 21;
  std::FILE* out = std::fopen("/dev/null", "w");
  tavrick::fit(s, *run, out);
  std::fclose(out);
  EXPECT_EQ(s.pos[0], 20.0);
  EXPECT_EQ(run->k.ipksch, 0);
  EXPECT_NEAR(run->res.cenfit[0], 20.0, 1e-9);
}

}  // namespace
