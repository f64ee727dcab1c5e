// The lines file of tavrick-batch: which gamma lines to fit in every spectrum.
//
// A CSV file with a header line. Column `energy` (keV) is required; the
// optional columns are `shape`, `width_fwhm`, `fwhm`, `order` and `group`.
// Blank lines are skipped and `#` starts a comment that runs to the end of
// the line. An empty cell takes the column's default.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace batch {

struct Line {
  int index = 0;            // 1-based place in the file among the lines
  std::string energy_text;  // as written, for the output and the shard hash
  double energy = 0.0;      // keV
  std::string shape = "gauss";
  double width_fwhm = 3.0;     // window half-width in FWHMs
  std::optional<double> fwhm;  // keV; else the spectrum's own
  int order = 1;               // background polynomial order
  std::string group;           // lines of one group are fitted together
};

// Reads the text of a lines file. On success returns true and fills lines;
// otherwise returns false with a one-line reason (naming the line) in error.
bool parse_lines(std::string_view text, std::vector<Line>& lines, std::string& error);

// Reads a lines file from disk (reason as above, or that it cannot be read).
bool read_lines(const std::string& path, std::vector<Line>& lines, std::string& error);

}  // namespace batch
