// Fitting the planned work on worker threads, each with its own engine
// storage, and the result rows in the order of the work.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/lines.h"
#include "batch/plan.h"
#include "results/fit.h"
#include "results/record.h"

namespace batch {

// One row of the output: one line of one spectrum, with the record of the
// fit that holds it (every field of a results file) when there is one.
struct Row {
  std::string spectrum;
  std::string energy;  // the line's energy as written in the lines file
  int line = 0;        // the line's place in the lines file
  std::string status;  // "ok" or why there is no result
  std::string reason;
  int peak = 0;  // the line's peak in the record (1-based), 0 without a fit
  std::shared_ptr<const tavrick::results::Record> record;
  std::string plot;  // file name of the fit's picture (--plots), else empty
};

// Called from the calling thread while the fits run, with fits done and total.
using Progress = std::function<void(std::size_t done, std::size_t total)>;

// Called on the worker thread right after each fit that ran (its rows have a
// record), while ws still holds it, with the work item's rows (one per line
// of w). It may change only those rows and what is its own per item.
using AfterFit =
    std::function<void(const Work& w, const tavrick::results::FitWorkspace& ws, Row* rows)>;

// Fits every work item on jobs threads and returns its rows, work item by
// work item, peak by peak. The rows do not depend on jobs or on timing.
std::vector<Row> run(const std::vector<Spectrum>& spectra,
                     const std::vector<Line>& lines,
                     std::vector<Work>& work,
                     int jobs,
                     const Progress& progress = {},
                     const AfterFit& after = {});

// True when a row is no result.
inline bool failed(const Row& r) { return r.status != "ok"; }

}  // namespace batch
