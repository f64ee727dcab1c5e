// Readers of spectrum files for tavrick-store: one file per format.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrick::tools {

// One spectrum read from a file, ready to enter the store.
struct Imported {
  std::string name;         // suggested name: the file's stem, with a suffix per detector
  std::string title;        // what the file says of itself (with live/real time when known)
  std::string calibration;  // calibration text (see calibration_text), empty when none
  int base = 0;             // number of the first channel
  int size = 0;             // channels (per row)
  int rows = 0;             // 0 for a one-dimensional spectrum
  std::vector<std::int32_t> counts;  // size * max(rows, 1) values, row by row
  double live_time = -1.0;  // seconds; negative when the file does not say
  double real_time = -1.0;
};

// A file that is not what it claims to be. The message names the file and the
// byte offset or line where reading failed.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Format { Text, Csv, IaeaSpe, Chn, RadwareSpe, Cnf, N42, Matrix };

// Options a reader may take.
struct ReadOptions {
  std::optional<std::string> detector;  // N42: only this detector
};

using Bytes = std::span<const unsigned char>;

std::vector<Imported> read_text(Bytes data, const std::string& file);
std::vector<Imported> read_csv(Bytes data, const std::string& file);
std::vector<Imported> read_matrix(Bytes data, const std::string& file);
std::vector<Imported> read_iaea_spe(Bytes data, const std::string& file);
std::vector<Imported> read_chn(Bytes data, const std::string& file);
std::vector<Imported> read_radware_spe(Bytes data, const std::string& file);
std::vector<Imported> read_cnf(Bytes data, const std::string& file);
std::vector<Imported> read_n42(Bytes data, const std::string& file, const ReadOptions& opt);

// Format from the content first, the file name's extension second.
// Throws ReadError when neither tells.
Format detect_format(Bytes data, const std::string& file);
// Parses a --format word ("text", "csv", "spe", "chn", "radware", "cnf", "n42", "matrix").
std::optional<Format> parse_format(const std::string& word);
// Reads a whole file in the given (or detected) format.
std::vector<Imported> read_file(const std::string& path, std::optional<Format> format,
                                const ReadOptions& opt);

// Calibration text of an energy polynomial E = c0 + c1*ch + c2*ch^2 + ...:
// "POLY <unit> c0 c1 ..." with each coefficient in %.17g.
std::string calibration_text(const std::vector<double>& coeffs, const std::string& unit);

}  // namespace tavrick::tools
