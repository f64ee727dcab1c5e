// Fitting the planned work on worker threads, each with its own engine
// storage, and the result rows in the order of the work.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/lines.h"
#include "batch/plan.h"

namespace batch {

// One row of the output: one line of one spectrum.
struct Row {
  std::string spectrum;
  std::string energy;  // the line's energy as written in the lines file
  int line = 0;        // the line's place in the lines file
  std::string status;  // "ok" or why there is no result
  std::string reason;
  int peak = 0;    // the peak's number in the fit (1-based), 0 without a fit
  int npeaks = 0;  // peaks in the fit
  int lo = 0, hi = 0;
  // In channels, as the engine gives them.
  double centroid = 0, centroid_err = 0, area = 0, area_err = 0, fwhm = 0, fwhm_err = 0;
  double chisq = 0;
  // By the spectrum's energy calibration, in keV.
  double energy_fit = 0, energy_err = 0, fwhm_kev = 0;
  std::string arguments;  // the tavrick command line of the fit
};

// Called from the calling thread while the fits run, with fits done and total.
using Progress = std::function<void(std::size_t done, std::size_t total)>;

// Fits every work item on jobs threads and returns its rows, work item by
// work item, peak by peak. The rows do not depend on jobs or on timing.
std::vector<Row> run(const std::vector<Spectrum>& spectra, const std::vector<Line>& lines,
                     std::vector<Work>& work, int jobs, const Progress& progress = {});

// True when a row is no result.
inline bool failed(const Row& r) { return r.status != "ok"; }

}  // namespace batch
