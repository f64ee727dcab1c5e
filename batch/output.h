// The rows as CSV or JSON, and the merge of shard outputs.
#pragma once

#include <string>
#include <vector>

#include "batch/fit.h"

namespace batch {

enum class Format { Csv, Json };

// The format an output file name asks for: .json is JSON, anything else CSV.
Format format_of(const std::string& path);

// The order of the output: spectrum name, then the line's energy, then its
// place in the lines file.
bool row_less(const Row& a, const Row& b);

// One row as a JSON object on one line.
std::string row_json(const Row& r);

// The whole output text of these rows (already in order).
std::string write_rows(const std::vector<Row>& rows, Format f);

// Joins the outputs of the shards of one run into the text one unsharded run
// writes. False with a one-line reason for a file that is no output of this
// program, of another format, or that repeats a row of another file.
bool merge(const std::vector<std::string>& files, Format f, std::string& text, std::string& error);

// Writes text to path through a temporary file renamed into place, so that a
// failed run leaves no partial file; "-" or an empty path is standard output.
bool write_file(const std::string& path, const std::string& text, std::string& error);

}  // namespace batch
