#include "batch/fit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "results/fit.h"

namespace batch {

namespace {

// Fits one work item into its rows on a worker's own workspace.
void fit_one(const Spectrum& sp, const Work& w, tavrick::results::FitWorkspace& ws, Row* rows) {
  tavrick::results::FitRequest req = w.request;
  req.counts = sp.counts;
  auto rec = std::make_shared<tavrick::results::Record>();
  const std::string err = tavrick::results::fit(req, ws, *rec);
  std::string status = "ok", reason;
  if (!err.empty()) {
    status = "refused";
    reason = err;
  } else if (rec->status == tavrick::FitStatus::singular ||
             rec->status == tavrick::FitStatus::not_finite) {
    status = "fit_failed";
    reason = std::string(tavrick::results::status_name(rec->status));
  }
  for (std::size_t k = 0; k < w.lines.size(); ++k) {
    Row& row = rows[k];
    row.status = status;
    row.reason = reason;
    if (!err.empty()) continue;
    row.peak = static_cast<int>(k) + 1;
    row.record = rec;
    const auto& p = rec->peaks[k];
    if (status != "ok") continue;
    if (!(std::isfinite(p.centroid) && std::isfinite(p.area) && std::isfinite(p.fwhm))) {
      row.status = "fit_failed";
      row.reason = "result is not a number";
    } else if (p.centroid < rec->first || p.centroid > rec->last) {
      row.status = "fit_failed";
      row.reason = "centroid left the window";
    }
  }
}

}  // namespace

std::vector<Row> run(const std::vector<Spectrum>& spectra,
                     const std::vector<Line>& lines,
                     std::vector<Work>& work,
                     int jobs,
                     const Progress& progress,
                     const AfterFit& after) {
  // Rows laid out in work order before any fit starts: each worker writes
  // only the rows of the items it takes.
  std::vector<std::size_t> first(work.size() + 1, 0);
  for (std::size_t i = 0; i < work.size(); ++i) first[i + 1] = first[i] + work[i].lines.size();
  std::vector<Row> rows(first.back());
  std::vector<std::size_t> to_fit;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const Work& w = work[i];
    const Spectrum& sp = spectra[static_cast<std::size_t>(w.spectrum)];
    for (std::size_t k = 0; k < w.lines.size(); ++k) {
      Row& row = rows[first[i] + k];
      const Line& l = lines[static_cast<std::size_t>(w.lines[k])];
      row.spectrum = sp.name;
      row.energy = l.energy_text;
      row.line = l.index;
      row.status = w.status;
      row.reason = w.reason;
    }
    if (w.status == "ok") to_fit.push_back(i);
  }

  // The two counters every worker writes, each on a cache line of its own,
  // away from the vectors the workers read.
  alignas(64) std::atomic<std::size_t> next{0};
  alignas(64) std::atomic<std::size_t> done{0};
  const auto worker = [&] {
    tavrick::results::FitWorkspace ws;
    for (std::size_t j = 0; (j = next.fetch_add(1)) < to_fit.size();) {
      const std::size_t i = to_fit[j];
      fit_one(spectra[static_cast<std::size_t>(work[i].spectrum)], work[i], ws, &rows[first[i]]);
      if (after && rows[first[i]].record) after(work[i], ws, &rows[first[i]]);
      done.fetch_add(1, std::memory_order_release);
    }
  };
  const int n = std::max(1, std::min<int>(jobs, static_cast<int>(to_fit.size())));
  std::vector<std::thread> threads;
  for (int t = 1; t < n; ++t) threads.emplace_back(worker);
  if (progress) {
    // The calling thread reports while the workers fit.
    threads.emplace_back(worker);
    for (;;) {
      const std::size_t d = done.load(std::memory_order_acquire);
      progress(d, to_fit.size());
      if (d == to_fit.size()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  } else {
    worker();
  }
  for (auto& t : threads) t.join();
  return rows;
}

}  // namespace batch
