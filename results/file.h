// Results files: a record as JSON or CSV text, and a file that appears under
// its name only when it is complete.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "results/record.h"

namespace tavrick::results {

enum class Format { json, csv };

// The format a path's extension names: ".json" or ".csv" (any case); none
// for another extension.
std::optional<Format> format_of(std::string_view path);

// The record as one JSON object (two-blank indent, names in a fixed order,
// newline at the end). Numbers read back to the same double (shortest form);
// values that are not finite, and energies without a calibration, are null.
std::string to_json(const Record& rec);

// The record as CSV: a header line, then one line per peak, the fit-wide
// values repeated on every line. Numbers as in JSON; a value that is not
// finite is an empty field.
std::string to_csv(const Record& rec);

std::string render(const Record& rec, Format f);

// A results file under construction. open creates a temporary file beside
// path; commit writes the text to it, syncs it to disk and renames it to
// path, so a reader sees either the previous file or the whole new one. A
// temporary that is not committed is removed. Both return "" or a one-line
// message; nothing here ends the process.
class ResultsFile {
 public:
  ResultsFile() = default;
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  std::string open(const std::string& path);
  std::string commit(std::string_view text);
  bool is_open() const { return fd_ >= 0; }

 private:
  std::string fail(const std::string& what, int err);
  void discard();

  std::string path_;
  std::string temp_;
  int fd_ = -1;
};

// open and commit in one: writes rec to path in the format of its extension.
std::string write_results(const std::string& path, const Record& rec);

}  // namespace tavrick::results
