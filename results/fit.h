// The fit as a function call, for programs that hold their counts themselves
// (a batch runner, a Python module, a plot writer).
//
//   tavrick::results::FitWorkspace ws;          // once per thread: ~5 MB
//   tavrick::results::FitRequest req;
//   req.spectrum = "ge1";
//   req.counts = counts;                        // std::span<const double>
//   req.first_channel = 0;                      // channel of counts[0]
//   req.lo = 80; req.hi = 160;
//   req.peaks = {121}; req.widths = {4.4};
//   tavrick::results::Record rec;
//   std::string err = tavrick::results::fit(req, ws, rec);   // "" on success
//   if (err.empty()) std::puts(tavrick::results::to_json(rec).c_str());
//
// A request means what the same options of the tavrick command mean, and it is
// checked the same way, in the same order, with the same one-line messages
// ("too many PEAKS (max of 30)", "some peaks lie outside fitting limits", ...);
// the window must lie within the counts given ("first peak lies ouside
// spectrum: NAME", the command's spelling) and within channels 0 .. 65535.
// Checks only a call can fail add: "PEAKS must be finite" (likewise WIDTHS,
// SKEWS) and "COUNTS must be finite" for a count of the window. Like the
// command, the fit takes the counts, peaks, widths and skews in single
// precision, and only the window's counts (the peak search sees zeros
// outside it), so a request gives the record the command gives for the
// arguments in record.arguments, bit for bit.
//
// Thread safety: nothing is shared between calls but the workspace; fits on
// different workspaces may run in parallel threads. The fit allocates
// nothing; building the record afterwards does.
#pragma once

#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "results/file.h"
#include "results/record.h"

namespace tavrick::results {

// The storage of one fit at a time: the per-channel arrays (channels 0 ..
// 65536) and the engine's work arrays, allocated once by the constructor and
// reused by every fit on it. Not to be shared between threads running at the
// same time.
class FitWorkspace {
 public:
  FitWorkspace();
  ~FitWorkspace();
  FitWorkspace(FitWorkspace&&) noexcept;
  FitWorkspace& operator=(FitWorkspace&&) noexcept;

  // The latest successful fit's window: the counts as fitted, the fitted
  // background and the total fit (background plus peaks), one value per
  // channel from first() to last(). Empty before the first fit and after a
  // refused request.
  std::span<const double> counts() const;
  std::span<const double> background() const;
  std::span<const double> curve() const;
  int first() const;
  int last() const;

  struct Arrays;  // defined in fit.cpp

 private:
  struct Free {
    void operator()(Arrays* a) const;
  };
  std::unique_ptr<Arrays, Free> a_;
  friend std::string fit(const FitRequest&, FitWorkspace&, Record&, std::FILE*);
};

// Checks req and fits it on ws. Returns "" and fills rec (program "tavrick",
// the version, req.calibration's energies), or the one-line message of the
// first failed check and leaves rec alone. The engine's report (what tavrick
// prints between its braces) goes to report; nothing is printed when report
// is null.
std::string fit(const FitRequest& req, FitWorkspace& ws, Record& rec, std::FILE* report = nullptr);

// The message of the first check req fails, in the command's order, or "".
// Checks the options only, not the counts or the window against them.
std::string check_options(const FitRequest& req);

}  // namespace tavrick::results
