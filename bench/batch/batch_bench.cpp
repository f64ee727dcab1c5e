// Throughput of tavrick-batch's fitting stage: 1000 small fits (1 to 3
// Gaussians, 50 to 100 channels) on 1 and 2 worker threads.
//
// 250 spectra of 1200 channels at 0.5 keV per channel, each with four fits:
// a single line, a doublet, a triplet and another single line, on a sloping
// background with Poisson noise (seeded: every run fits the same counts).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>

#include "batch/fit.h"
#include "batch/lines.h"
#include "batch/plan.h"

namespace {

struct Setup {
  std::vector<batch::Spectrum> spectra;
  std::vector<batch::Line> lines;
};

const Setup& setup() {
  static const Setup s = [] {
    Setup s;
    std::string error;
    // Windows: +/- 3 FWHM of 4 keV (8 channels) around each line; the close
    // lines overlap and are fitted together.
    const std::string text =
        "energy,fwhm,width_fwhm\n"
        "110,4,3\n"
        "200,4,3\n212,4,3\n"
        "300,4,3\n312,4,3\n324,4,3\n"
        "500,4,3.5\n";
    if (!batch::parse_lines(text, s.lines, error)) std::abort();
    std::mt19937_64 rng(20261208);
    for (int k = 0; k < 250; ++k) {
      batch::Spectrum sp;
      sp.name = "s";
      sp.name += std::to_string(1000 + k);
      sp.size = 1200;
      sp.poly = {10.0, 0.5};
      const double shift = 0.2 * (k % 7);
      for (int ch = 0; ch < sp.size; ++ch) {
        double m = 200.0 - 0.1 * ch;
        for (const auto& l : s.lines) {
          const double c = (l.energy - 10.0) / 0.5 + shift;
          const double b = (ch - c) / (8.0 / 2.354820045);
          m += 2000.0 * std::exp(-0.5 * b * b);
        }
        std::poisson_distribution<int> p(m);
        sp.counts.push_back(p(rng));
      }
      s.spectra.push_back(std::move(sp));
    }
    return s;
  }();
  return s;
}

void BM_BatchFits(benchmark::State& state) {
  const Setup& s = setup();
  std::vector<batch::Work> work = batch::plan(s.spectra, s.lines);
  if (work.size() != 1000) state.SkipWithError("expected 1000 fits");
  std::size_t failed = 0;
  for (auto _ : state) {
    const auto rows = batch::run(s.spectra, s.lines, work, static_cast<int>(state.range(0)));
    failed = static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), batch::failed));
    benchmark::DoNotOptimize(rows.data());
  }
  state.counters["fits/s"] =
      benchmark::Counter(static_cast<double>(work.size()) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["failed"] = static_cast<double>(failed);
}
// CPU time is the whole process's, over all threads: on 2 threads it stays
// near the 1-thread time when nothing is serialised or contended, whatever
// else the machine runs.
BENCHMARK(BM_BatchFits)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("jobs")
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// The console's report, and the fits per second and CPU time of each thread
// count kept (the median over repetitions when there are any) for the
// comparison.
class Reporter : public benchmark::ConsoleReporter {
 public:
  Reporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const auto it = r.counters.find("fits/s");
      if (it == r.counters.end() || r.error_occurred) continue;
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (median || (r.run_type == Run::RT_Iteration && !have_median_.count(r.run_name.args))) {
        Measured& m = measured_[r.run_name.args];
        m.rate = it->second.value;
        m.cpu_ms = r.GetAdjustedCPUTime();
        if (median) have_median_[r.run_name.args] = true;
      }
    }
  }
  struct Measured {
    double rate = 0.0;    // fits per second (real time)
    double cpu_ms = 0.0;  // process CPU time of the 1000 fits, all threads
  };
  // What "jobs:N" measured (zeros when it did not run).
  Measured of(int jobs) const {
    const auto it = measured_.find("jobs:" + std::to_string(jobs));
    return it == measured_.end() ? Measured{} : it->second;
  }

 private:
  std::map<std::string, Measured> measured_;
  std::map<std::string, bool> have_median_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const Reporter::Measured one = reporter.of(1), two = reporter.of(2);
  if (one.rate > 0.0 && two.rate > 0.0) {
    // The CPU times tell the work's own cost of a second thread (locks,
    // shared cache lines, serial parts) from a machine busy with others.
    std::printf(
        "\n1000 fits: %.0f fits/s on 1 thread, %.0f fits/s on 2 threads: %.2f times\n"
        "CPU time of the 1000 fits: %.1f ms on 1 thread, %.1f ms on 2 threads together\n",
        one.rate, two.rate, two.rate / one.rate, one.cpu_ms, two.cpu_ms);
  }
  return 0;
}
