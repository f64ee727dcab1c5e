// Benchmarks of the whole fit (the engine entry, peak search to report) on
// the synthetic cases S1 .. S7, with the sparse curvature update and with
// the full triangular one, and two helpers for scripts/bench.sh:
//
//   tavrick_bench [benchmark flags]          the fit benchmarks
//   tavrick_bench --write-cases DIR          DIR/NAME.txt ("channel count"
//                                            lines) and DIR/NAME.args (the
//                                            command's arguments, one a line)
//   tavrick_bench --run-command N PROG ARGS  runs PROG N times (output to
//                                            /dev/null) and prints the median
//                                            and the least wall time in ms
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "engine/korvel.h"

extern char** environ;

namespace {

using tavrick::kChanArray;
namespace tb = tavrick::bench;

const std::vector<tb::Case>& allCases() {
  static const std::vector<tb::Case> c = tb::cases();
  return c;
}

// Storage of one engine call, allocated once per benchmark.
struct Call {
  std::vector<double> spec = std::vector<double>(kChanArray, 0.0);
  std::vector<double> fit = std::vector<double>(kChanArray, 0.0);
  std::vector<double> peaks = std::vector<double>(kChanArray, 0.0);
  std::vector<double> bkgrd = std::vector<double>(kChanArray, 0.0);
  double pos[tavrick::kMaxPeaks] = {};
  double fwhmin[tavrick::kMaxPeaks] = {};
  double fwloin[tavrick::kMaxPeaks] = {};
  std::unique_ptr<tavrick::Workspace> w = std::make_unique<tavrick::Workspace>();
  tavrick::FitResults r{};
};

void BM_Fit(benchmark::State& state, const tb::Case* c, bool full) {
  Call call;
  for (int ch = 0; ch < c->nchan; ++ch) {
    call.spec[static_cast<std::size_t>(ch)] = c->counts[static_cast<std::size_t>(ch)];
  }
  call.w->fit.mrq.setFullUpdate(full);
  std::FILE* out = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    // The peak search moves the guesses: every fit starts from the same ones.
    tavrick::KorvelArgs k = c->korvelArgs(call.pos, call.fwhmin, call.fwloin, call.spec.data(),
                                          call.fit.data(), call.peaks.data(), call.bkgrd.data());
    tavrick::korvel(k, call.r, *call.w, out);
    benchmark::DoNotOptimize(call.r.chisq);
  }
  std::fclose(out);
}

int writeCases(const std::string& dir) {
  for (const tb::Case& c : allCases()) {
    std::FILE* f = std::fopen((dir + "/" + c.name + ".txt").c_str(), "w");
    if (f == nullptr) return 1;
    for (int ch = 0; ch < c.nchan; ++ch) {
      std::fprintf(f, "%d %.0f\n", ch, c.counts[static_cast<std::size_t>(ch)]);
    }
    std::fclose(f);
    f = std::fopen((dir + "/" + c.name + ".args").c_str(), "w");
    if (f == nullptr) return 1;
    for (const std::string& a : c.args()) std::fprintf(f, "%s\n", a.c_str());
    std::fclose(f);
    f = std::fopen((dir + "/" + c.name + ".title").c_str(), "w");
    if (f == nullptr) return 1;
    std::fprintf(f, "%s\n", c.title.c_str());
    std::fclose(f);
  }
  return 0;
}

int runCommand(int n, char** argv) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ) != 0) return 1;
    int status = 0;
    waitpid(pid, &status, 0);
    const auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "%s failed\n", argv[0]);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  posix_spawn_file_actions_destroy(&fa);
  std::sort(ms.begin(), ms.end());
  std::printf("%.2f %.2f\n", ms[ms.size() / 2], ms.front());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-cases") == 0) return writeCases(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "--run-command") == 0) {
    return runCommand(std::max(1, std::atoi(argv[2])), argv + 3);
  }
  for (const tb::Case& c : allCases()) {
    benchmark::RegisterBenchmark(("fit/" + c.name + "/sparse").c_str(), BM_Fit, &c, false)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(0.1)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
    // The full update takes up to seconds on the large cases: one fit per
    // run there, three runs.
    auto* full = benchmark::RegisterBenchmark(("fit/" + c.name + "/full").c_str(), BM_Fit, &c, true)
                     ->Unit(benchmark::kMillisecond)
                     ->ReportAggregatesOnly(true);
    if (c.nchan > 8192) {
      full->Iterations(1)->Repetitions(3);
    } else {
      full->MinTime(0.1)->Repetitions(5);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
