// RadWare binary .spe: a Fortran unformatted file of two records, written in
// the byte order of the machine that wrote it.
//   record 1 (24 bytes): name (8 characters), channels N, three int32 (1, 1, 1)
//   record 2 (4N bytes): N float32 counts, channel 0 first
// Each record is framed by its length as int32 before and after it, so the
// leading marker (24) tells the byte order.
#include <cmath>
#include <limits>

#include "tools/reader.h"

namespace tavrick::tools {

namespace {

constexpr std::size_t kHeaderLength = 24;

}  // namespace

std::vector<Imported> read_radware_spe(Bytes data, const std::string& file) {
  const ByteView le(data, file, false);
  const ByteView be(data, file, true);
  const bool big = le.i32(0, "header record length") != 24;
  if (big && be.i32(0, "header record length") != 24) {
    le.fail(0, "not a RadWare spectrum: the first record length is not 24 in either byte order");
  }
  const ByteView& v = big ? be : le;

  Imported spectrum;
  spectrum.name = file_stem(file);
  spectrum.title = v.text(4, 8, "spectrum name");
  const std::int32_t channels = v.i32(12, "channel count");
  if (channels <= 0 || static_cast<std::size_t>(channels) > kMaxImportChannels) {
    v.fail(12, "channel count " + std::to_string(channels) + " is out of range");
  }
  if (v.i32(4 + kHeaderLength, "header record end") != 24) {
    v.fail(4 + kHeaderLength, "header record does not end with its length 24");
  }
  const auto n = static_cast<std::size_t>(channels);
  const std::size_t data_start = 8 + kHeaderLength + 4;
  const std::int64_t marker = v.i32(data_start - 4, "data record length");
  if (marker != static_cast<std::int64_t>(4 * n)) {
    v.fail(data_start - 4, "data record length " + std::to_string(marker) + " is not 4 x " +
                               std::to_string(n) + " channels");
  }
  if (data.size() < data_start + 4 * n + 4) {
    v.fail(
        data.size(),
        "header claims " + std::to_string(n) + " channels but the file holds " +
            std::to_string(data.size() < data_start + 4 ? 0 : (data.size() - data_start - 4) / 4));
  }
  if (v.i32(data_start + 4 * n, "data record end") != static_cast<std::int32_t>(4 * n)) {
    v.fail(data_start + 4 * n, "data record does not end with its length");
  }
  if (data.size() != data_start + 4 * n + 4) {
    v.fail(data_start + 4 * n + 4, "unexpected bytes after the data record");
  }

  // Counts are float32; the store holds integers, so each is rounded to the
  // nearest integer (halves away from zero). Spectra written by acquisition
  // hold integral values and pass unchanged.
  spectrum.counts.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t at = data_start + 4 * k;
    const double value = std::round(static_cast<double>(v.f32(at, "count")));
    if (!std::isfinite(value) ||
        value < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        value > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
      v.fail(at, "count of channel " + std::to_string(k) + " is not a 32-bit integer value");
    }
    spectrum.counts[k] = static_cast<std::int32_t>(value);
  }
  spectrum.base = 0;
  spectrum.size = channels;
  spectrum.rows = 0;
  std::vector<Imported> out;
  out.push_back(std::move(spectrum));
  return out;
}

}  // namespace tavrick::tools
