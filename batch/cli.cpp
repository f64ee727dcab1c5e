#include "batch/cli.h"

#include <sched.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "batch/fit.h"
#include "batch/lines.h"
#include "batch/output.h"
#include "batch/plan.h"
#include "batch/plots.h"
#include "batch/source.h"
#include "spectrum/host.h"

#ifndef TAVRICK_VERSION
#define TAVRICK_VERSION "unknown"
#endif

namespace batch {

namespace {

int cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) == 0) return std::max(1, CPU_COUNT(&set));
  return 1;
}

std::string utc_now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  std::array<char, 32> buf{};
  std::strftime(buf.data(), buf.size(), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf.data();
}

int fail(const std::string& msg) {
  std::fprintf(stderr, "tavrick-batch: %s\n", msg.c_str());
  return kBadInput;
}

// "done/total, rate, ETA" on one terminal line, rewritten in place.
class Meter {
 public:
  void operator()(std::size_t done, std::size_t total) {
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double rate = s > 0 ? static_cast<double>(done) / s : 0.0;
    const double eta = rate > 0 ? static_cast<double>(total - done) / rate : 0.0;
    std::fprintf(stderr, "\rtavrick-batch: %zu/%zu fits, %.0f/s, ETA %.0f s   ", done, total, rate,
                 eta);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace

int batch_main(int argc, char** argv) {
  CLI::App app{
      "Fits the same gamma lines in many spectra of the experiment's store, in parallel, and "
      "writes one row per line and spectrum.",
      "tavrick-batch"};
  app.set_version_flag("--version", std::string("tavrick-batch ") + TAVRICK_VERSION);
  app.footer(
      "Exit status: 0 every row fitted, 1 the output was written but some rows are failures, "
      "2 bad input (nothing written).");
  std::string lines_path, out_path, experiment, shard_text, plots_dir;
  std::vector<std::string> patterns;
  int jobs = cores();
  bool record = false;
  app.add_option("--lines", lines_path,
                 "CSV file of lines: energy (keV, required), shape, width_fwhm, fwhm (keV), "
                 "order, group");
  app.add_option("--spectra", patterns,
                 "name patterns (glob) of the spectra; default: every one-dimensional spectrum "
                 "with an energy calibration");
  app.add_option("--jobs", jobs, "worker threads (default: the cores available)")
      ->check(CLI::Range(1, 1024));
  app.add_option("--shard", shard_text, "fit only part K of N of the work (K/N, 1 <= K <= N)");
  app.add_option("--out", out_path, "output file, .csv or .json (default: CSV on standard output)");
  app.add_option("--plots", plots_dir,
                 "folder for an SVG picture of every fit and index.html, the table of the rows "
                 "linking to them");
  app.add_flag("--record", record,
               "also store the rows in the experiment's store (table fits; read them back with "
               "'tavrick-store fits')");
  app.add_option("--experiment", experiment,
                 "the store (default: $TAVRICK_EXPERIMENT, else experiment.db)");

  auto* merge_cmd = app.add_subcommand(
      "merge", "join the outputs of the shards of one run into what the unsharded run writes");
  std::vector<std::string> merge_files;
  std::string merge_out;
  merge_cmd->add_option("FILE", merge_files, "shard outputs")->required();
  merge_cmd->add_option("--out", merge_out, "merged file (.csv or .json)")->required();
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return fail(e.what());
  }

  std::string error;
  if (merge_cmd->parsed()) {
    std::string text;
    if (!merge(merge_files, format_of(merge_out), text, error) ||
        !write_file(merge_out, text, error))
      return fail(error);
    return kAllFitted;
  }

  if (lines_path.empty()) return fail("--lines is required");
  int shard_k = 1, shard_n = 1;
  if (!shard_text.empty() && !parse_shard(shard_text, shard_k, shard_n, error)) return fail(error);
  // One SQLite file written by many shards at once (perhaps over a network
  // file system) is not safe: shards write their own outputs only.
  if (record && !shard_text.empty())
    return fail("--record with --shard: shards must not write one store; record unsharded runs");
  std::vector<Line> lines;
  if (!read_lines(lines_path, lines, error)) return fail(error);

  std::vector<Spectrum> spectra;
  spectrum::Host host = experiment.empty() ? spectrum::Host() : spectrum::Host(experiment);
  if (!load_spectra(host, patterns, spectra, error)) return fail(error);
  std::vector<Work> work = plan(spectra, lines);
  if (shard_n > 1)
    std::erase_if(work, [&](const Work& w) { return !in_shard(w, shard_k, shard_n); });

  // The pictures: each fit's written by its worker while the workspace holds
  // the fit, every file through a temporary name; the index last.
  AfterFit after;
  std::vector<std::string> plot_errors(work.size());
  if (!plots_dir.empty()) {
    if (!make_plot_dir(plots_dir, error)) return fail(error);
    after = [&](const Work& w, const tavrick::results::FitWorkspace& ws, Row* rows) {
      const auto item = static_cast<std::size_t>(&w - work.data());
      const std::string name =
          plot_name(rows[0].spectrum, lines[static_cast<std::size_t>(w.lines.front())].index);
      const std::string svg = fit_svg(*rows[0].record, ws);
      if (svg.empty()) {
        plot_errors[item] = "cannot draw the picture '" + name + "'";
        return;
      }
      if (!write_file(plots_dir + "/" + name, svg, plot_errors[item])) return;
      for (std::size_t k = 0; k < w.lines.size(); ++k) rows[k].plot = name;
    };
  }

  Progress progress;
  Meter meter;
  if (isatty(STDERR_FILENO)) progress = std::ref(meter);
  std::vector<Row> rows = run(spectra, lines, work, jobs, progress, after);
  std::stable_sort(rows.begin(), rows.end(), row_less);
  if (!plots_dir.empty()) {
    for (const std::string& e : plot_errors)
      if (!e.empty()) return fail(e);
    if (!write_file(plots_dir + "/index.html", index_html(rows), error)) return fail(error);
  }

  // The store first: when it refuses the rows, no output claims they were kept.
  if (record) {
    std::vector<std::string> words(argv, argv + argc);
    words[0] = "tavrick-batch";
    std::vector<spectrum::FitRecord> fits;
    fits.reserve(rows.size());
    const std::string command = command_line(words), time = utc_now();
    for (const Row& r : rows)
      fits.push_back(
          {0, r.spectrum, r.energy, r.status, row_json(r), command, time, TAVRICK_VERSION});
    int status = 0;
    host.record_fits(fits, status);
    if (status != 0) return fail(host.error());
  }
  if (!write_file(out_path, write_rows(rows, format_of(out_path)), error)) return fail(error);
  return std::any_of(rows.begin(), rows.end(), failed) ? kSomeFailed : kAllFitted;
}

}  // namespace batch
