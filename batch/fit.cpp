#include "batch/fit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "main/fetch.h"

namespace batch {

namespace {

// What one worker thread owns: the command's run storage (per-channel arrays,
// engine workspace and results) and a fixed buffer the report is written to.
// Both are allocated once per thread; a fit allocates nothing.
class Worker {
 public:
  Worker() : run_(static_cast<tavrick::Run*>(std::calloc(1, sizeof(tavrick::Run)))) {
    if (!run_) throw std::bad_alloc();
    report_.reset(fmemopen(buffer_.get(), kReport, "w"));
    if (!report_) throw std::bad_alloc();
  }

  // Fits one work item into its rows.
  void fit(const Spectrum& sp, Work& w, Row* rows) {
    tavrick::Run& r = *run_;
    tavrick::Settings s = w.settings;
    const int ilo = s.ilo, ihi = s.ihi;
    // Counts reach the engine through single precision, as in the command.
    for (int ch = ilo; ch <= ihi; ++ch) {
      const auto c = static_cast<std::size_t>(ch);
      r.idata[c] = sp.counts[static_cast<std::size_t>(ch - sp.base)];
      r.spec[c] = tavrick::sp(static_cast<float>(r.idata[c]));
    }
    std::rewind(report_.get());
    tavrick::fit(s, r, report_.get());
    std::fflush(report_.get());
    // A report longer than the buffer is cut; its start holds what is read.
    const long end = std::ftell(report_.get());
    const std::string_view report(
        buffer_.get(), std::min(kReport, end > 0 ? static_cast<std::size_t>(end) : std::size_t{0}));
    std::string status = "ok", reason;
    if (report.find(" Fit failed") != std::string_view::npos) {
      status = "fit_failed";
      reason = "singular curvature matrix";
    } else if (report.find(" No fit") != std::string_view::npos) {
      status = "fit_failed";
      reason = "no peak shape matches the options";
    }
    const int n = static_cast<int>(w.lines.size());
    for (int k = 0; k < n; ++k) {
      const auto i = static_cast<std::size_t>(k);
      Row& row = rows[i];
      const auto& res = r.res;
      row.peak = k + 1;
      row.npeaks = n;
      row.lo = ilo;
      row.hi = ihi;
      row.centroid = res.cenfit[i];
      row.centroid_err = res.cenerr[i];
      row.area = res.arefit[i];
      row.area_err = res.areerr[i];
      row.fwhm = res.fwhfit[i];
      row.fwhm_err = res.fwherr[i];
      row.chisq = res.chisq;
      const double d = slope_at(sp.poly, row.centroid);
      row.energy_fit = energy_at(sp.poly, row.centroid);
      row.energy_err = row.centroid_err * d;
      row.fwhm_kev = row.fwhm * d;
      row.status = status;
      row.reason = reason;
      if (status == "ok" && !(std::isfinite(row.centroid) && std::isfinite(row.area) &&
                              std::isfinite(row.fwhm) && std::isfinite(row.area_err))) {
        row.status = "fit_failed";
        row.reason = "result is not a number";
      } else if (status == "ok" && (row.centroid < ilo || row.centroid > ihi)) {
        row.status = "fit_failed";
        row.reason = "centroid left the window";
      }
    }
    // Back to all zeros, so that no fit sees what an earlier one left.
    for (int ch = ilo; ch <= ihi; ++ch) {
      const auto c = static_cast<std::size_t>(ch);
      r.idata[c] = 0;
      r.spec[c] = r.fit[c] = r.peaks[c] = r.bkgrd[c] = 0.0;
    }
  }

 private:
  struct Free {
    void operator()(tavrick::Run* p) const { std::free(p); }
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  static constexpr std::size_t kReport = 1 << 20;
  std::unique_ptr<tavrick::Run, Free> run_;
  std::unique_ptr<char[]> buffer_{new char[kReport]()};
  std::unique_ptr<std::FILE, Free> report_;
};

}  // namespace

std::vector<Row> run(const std::vector<Spectrum>& spectra, const std::vector<Line>& lines,
                     std::vector<Work>& work, int jobs, const Progress& progress) {
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
      if (w.status == "ok") row.arguments = command_line(w.args);
    }
    if (w.status == "ok") to_fit.push_back(i);
  }

  std::atomic<std::size_t> next{0}, done{0};
  const auto worker = [&] {
    Worker me;
    for (std::size_t j; (j = next.fetch_add(1)) < to_fit.size();) {
      const std::size_t i = to_fit[j];
      me.fit(spectra[static_cast<std::size_t>(work[i].spectrum)], work[i], &rows[first[i]]);
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
