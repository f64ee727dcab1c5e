// Throughput of tavrick-batch's fitting stage: 1000 small fits (1 to 3
// Gaussians, 50 to 100 channels) on 1 and 2 worker threads.
//
// 250 spectra of 1200 channels at 0.5 keV per channel, each with four fits:
// a single line, a doublet, a triplet and another single line, on a sloping
// background with Poisson noise (seeded: every run fits the same counts).
#include <benchmark/benchmark.h>

#include <cmath>
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
      sp.name = "s" + std::to_string(1000 + k);
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
  state.counters["fits/s"] = benchmark::Counter(static_cast<double>(work.size()) *
                                                    static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
  state.counters["failed"] = static_cast<double>(failed);
}
BENCHMARK(BM_BatchFits)->Arg(1)->Arg(2)->ArgName("jobs")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
