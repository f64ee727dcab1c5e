// Readers of spectrum files for tavrick-store: one file per format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrick::tools {

// One spectrum read from a file, ready to enter the store.
struct Imported {
  std::string name;              // suggested name: the file's stem, with a suffix per detector
  std::string title;             // what the file says of itself (with live/real time when known)
  std::string calibration;       // calibration text (see calibration_text), empty when none
  std::string fwhm_calibration;  // FWHM calibration text (see fwhm_text), empty when none
  int base = 0;                  // number of the first channel
  int size = 0;                  // channels (per row)
  int rows = 0;                  // 0 for a one-dimensional spectrum
  std::vector<std::int32_t> counts;  // size * max(rows, 1) values, row by row
  double live_time = -1.0;           // seconds; negative when the file does not say
  double real_time = -1.0;
};

// A file that is not what it claims to be. The message names the file and the
// byte offset or line where reading failed.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Format { Text, Csv, IaeaSpe, Chn, RadwareSpe, Cnf, N42, Matrix };

// Channels one import may hold in all files and spectra together (256 MB of
// counts): compressed files cannot expand into more.
inline constexpr std::size_t kMaxImportTotal = std::size_t{1} << 26;

// Options a reader may take.
struct ReadOptions {
  std::optional<std::string> detector;  // N42: only this detector
  // What is left of kMaxImportTotal for this file (readers of compressed
  // formats stop at it).
  std::size_t max_channels = kMaxImportTotal;
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
std::vector<Imported> read_file(const std::string& path,
                                std::optional<Format> format,
                                const ReadOptions& opt);

// Calibration text of an energy polynomial E = c0 + c1*ch + c2*ch^2 + ...:
// "POLY <unit> c0 c1 ..." with each coefficient in %.17g.
std::string calibration_text(const std::vector<double>& coeffs, const std::string& unit);
// FWHM calibration text "FWHM <unit> CH|SQRTE c0 c1 ..." (spectrum/calibration.h),
// in channels when unit is "ch"; empty when every coefficient is 0, one is not
// finite, or the text would not fit the store.
std::string fwhm_text(std::vector<double> coeffs, const std::string& unit, bool of_sqrt_energy);

// Helpers shared by the readers (defined in detect.cpp).

// Largest channel count a reader accepts from any header or expansion: far above
// every real spectrum, low enough that a corrupt count cannot exhaust memory.
inline constexpr std::size_t kMaxImportChannels = std::size_t{1} << 22;

// Throws ReadError "<file>: byte <offset>: <what>".
[[noreturn]] void fail_at_byte(const std::string& file,
                               std::size_t offset,
                               const std::string& what);
// Throws ReadError "<file>: line <line>: <what>" (lines counted from 1).
[[noreturn]] void fail_at_line(const std::string& file, std::size_t line, const std::string& what);
// The file name without its folders and extension: "data/eu.spe" -> "eu".
std::string file_stem(const std::string& file);
// The shortest text that reads back as the same double ("639.92", "96").
std::string number_text(double value);
// A title with the live and real times (to the millisecond) appended when
// known: "Sample live 96 s real 97 s".
std::string title_with_times(const std::string& text, double live_time, double real_time);

// Bounds-checked reads from the bytes of a binary file in one byte order. A
// read past the end throws ReadError naming the file, the offset and the field.
class ByteView {
 public:
  ByteView(Bytes data, const std::string& file, bool big_endian)
      : data_(data), file_(file), big_endian_(big_endian) {}
  std::size_t size() const { return data_.size(); }
  // Throws unless `length` bytes from `offset` are in the file.
  void need(std::size_t offset, std::size_t length, const char* field) const;
  std::uint8_t u8(std::size_t offset, const char* field) const;
  std::uint16_t u16(std::size_t offset, const char* field) const;
  std::int16_t i16(std::size_t offset, const char* field) const;
  std::uint32_t u32(std::size_t offset, const char* field) const;
  std::int32_t i32(std::size_t offset, const char* field) const;
  std::uint64_t u64(std::size_t offset, const char* field) const;
  float f32(std::size_t offset, const char* field) const;
  // `length` bytes as text, cut at the first NUL, trailing blanks removed.
  std::string text(std::size_t offset, std::size_t length, const char* field) const;
  [[noreturn]] void fail(std::size_t offset, const std::string& what) const {
    fail_at_byte(file_, offset, what);
  }

 private:
  std::uint64_t unsigned_at(std::size_t offset, std::size_t length, const char* field) const;
  Bytes data_;
  std::string file_;
  bool big_endian_;
};

}  // namespace tavrick::tools
