// Canberra .cnf (little-endian): a directory of 48-byte section entries at
// byte 0x70 (uint32 id at +0, uint32 file offset at +0x0A, ended by id 0);
// every section starts with a copy of its entry. Sections read here:
//   0x12000 parameters: channels / 256 at +0x30+0x8A; at +0x30+o2 (o2 at +0x24)
//           start, real and live time; at +0x30+o1 (o1 at +0x22) the energy
//           calibration A0..A3 at +0x44, its unit at +0x5C and the FWHM
//           calibration F0..F3 at +0xDC: FWHM = F0 + F1*sqrt(E), in the
//           energy unit (only that form is read: F2 and F3 must be 0)
//   0x12001 strings: sample title at +0x30 (64 characters)
//   0x12005 channel data: N uint32 counts from +0x200
#include <algorithm>
#include <cstring>
#include <limits>

#include "tools/reader.h"

namespace tavrick::tools {

namespace {

constexpr std::size_t kDirectory = 0x70;
constexpr std::size_t kEntrySize = 0x30;
constexpr std::uint32_t kParameters = 0x00012000;
constexpr std::uint32_t kStrings = 0x00012001;
constexpr std::uint32_t kChannels = 0x00012005;

// Offset of the section with this id, checked against the file and against
// the copy of the entry the section begins with; 0 when the directory has none.
std::size_t find_section(const ByteView& v, std::uint32_t id) {
  for (std::size_t entry = kDirectory;; entry += kEntrySize) {
    const std::uint32_t found = v.u32(entry, "section directory entry");
    if (found == 0) return 0;
    if (found != id) continue;
    const std::size_t offset = v.u32(entry + 0x0A, "section offset");
    if (offset >= v.size()) {
      v.fail(entry + 0x0A, "section offset " + std::to_string(offset) +
                               " is past the end of the file (" + std::to_string(v.size()) +
                               " bytes)");
    }
    if (v.u32(offset, "section id") != id) {
      v.fail(offset, "section does not begin with its id");
    }
    return offset;
  }
}

// A PDP-11 F float as the file stores it: 16-bit halves swapped relative to
// IEEE single precision, and an exponent bias larger by 2 (hence the 4).
double pdp11_float(const ByteView& v, std::size_t at, const char* field) {
  const std::uint32_t raw = v.u32(at, field);
  const std::uint32_t bits = (raw << 16) | (raw >> 16);
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return static_cast<double>(value) / 4.0;
}

// A duration stored as the bitwise complement of 100 ns ticks; negative when
// the field is empty or absurd (over a year).
double duration(const ByteView& v, std::size_t at, const char* field) {
  const std::uint64_t ticks = ~v.u64(at, field);
  constexpr std::uint64_t kYear = 10'000'000ull * 86'400ull * 366ull;
  if (ticks > kYear) return -1.0;
  return static_cast<double>(ticks) / 1.0e7;
}

}  // namespace

std::vector<Imported> read_cnf(Bytes data, const std::string& file) {
  const ByteView v(data, file, false);
  const std::uint32_t first = v.u32(kDirectory, "section directory");
  if ((first & 0xFFFFFF00u) != 0x00012000u) {
    v.fail(kDirectory, "not a CNF file: no section directory");
  }
  const std::size_t params = find_section(v, kParameters);
  if (params == 0) v.fail(kDirectory, "no parameter section in the directory");
  const std::size_t block = params + 0x30;
  const std::size_t n = std::size_t{v.u8(block + 0x8A, "channel count")} * 256;
  if (n == 0) v.fail(block + 0x8A, "channel count is 0");

  const std::size_t channels = find_section(v, kChannels);
  if (channels == 0) v.fail(kDirectory, "no channel data section in the directory");
  const std::size_t first_count = channels + 0x200;
  if (first_count > data.size() || (data.size() - first_count) / 4 < n) {
    v.fail(block + 0x8A,
           "parameters claim " + std::to_string(n) + " channels but the data section holds " +
               std::to_string(first_count > data.size() ? 0 : (data.size() - first_count) / 4));
  }

  Imported spectrum;
  spectrum.name = file_stem(file);
  // The acquisition software numbers the first stored word channel 1, and its
  // energy calibration is a polynomial of that number.
  spectrum.base = 1;
  spectrum.size = static_cast<int>(n);
  spectrum.rows = 0;
  spectrum.counts.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t at = first_count + 4 * k;
    const std::uint32_t count = v.u32(at, "count");
    if (count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
      v.fail(at, "count " + std::to_string(count) + " exceeds the store's 32-bit signed range");
    }
    spectrum.counts[k] = static_cast<std::int32_t>(count);
  }

  const std::size_t times = block + v.u16(params + 0x24, "time block offset");
  spectrum.real_time = duration(v, times + 0x09, "real time");
  spectrum.live_time = duration(v, times + 0x11, "live time");

  const std::size_t cal = block + v.u16(params + 0x22, "calibration block offset");
  std::vector<double> coeffs;
  for (std::size_t k = 0; k < 4; ++k) {
    coeffs.push_back(pdp11_float(v, cal + 0x44 + 4 * k, "energy calibration"));
  }
  while (!coeffs.empty() && coeffs.back() == 0.0) coeffs.pop_back();
  // The FWHM calibration only when the block holds it: a file cut short
  // there still has its counts.
  auto unit = [&]() {
    std::string u = v.text(cal + 0x5C, 16, "calibration unit");
    u = u.substr(0, u.find(' '));
    return u.empty() ? std::string("keV") : u;
  };
  if (!coeffs.empty()) spectrum.calibration = calibration_text(coeffs, unit());
  if (cal + 0xEC <= data.size()) {
    std::vector<double> fwhm;
    for (std::size_t k = 0; k < 4; ++k) {
      fwhm.push_back(pdp11_float(v, cal + 0xDC + 4 * k, "FWHM calibration"));
    }
    if (fwhm[2] == 0.0 && fwhm[3] == 0.0) {
      spectrum.fwhm_calibration = fwhm_text({fwhm[0], fwhm[1]}, unit(), true);
    }
  }

  std::string title;
  if (const std::size_t strings = find_section(v, kStrings); strings != 0) {
    title = v.text(strings + 0x30, 64, "sample title");
  }
  spectrum.title = title_with_times(title, spectrum.live_time, spectrum.real_time);
  std::vector<Imported> out;
  out.push_back(std::move(spectrum));
  return out;
}

}  // namespace tavrick::tools
