// ORTEC .Chn (binary, little-endian): a 32-byte header, N uint32 counts and a
// trailer of up to 512 bytes holding the calibration and the descriptions.
//   header: int16 -1, uint16 MCA number, uint16 segment, char[2] start seconds,
//           uint32 real and live time in 20 ms ticks, char[8] start date
//           (DDMMMYY + century flag), char[4] start time hhmm,
//           uint16 first channel, uint16 channels
//   trailer: int16 -101 (linear) or -102 (quadratic), int16 reserved,
//            float32 x3 energy calibration (keV), float32 x3 FWHM calibration
//            (FWHM in channels = f0 + f1*ch + f2*ch^2),
//            228 reserved bytes, then at 256 and 320 a length byte and up to 63
//            characters of detector and sample description.
// Some writers leave the trailer short; only the fields present are read.
#include <algorithm>
#include <limits>

#include "tools/reader.h"

namespace tavrick::tools {

namespace {

constexpr std::size_t kHeader = 32;
constexpr double kTicksPerSecond = 50.0;  // header times count 20 ms ticks

// A description (length byte, then text) when the trailer holds all of it.
std::string description(const ByteView& v, std::size_t at) {
  if (at + 1 > v.size()) return {};
  const std::size_t length = v.u8(at, "description length");
  if (length > 63) v.fail(at, "description length " + std::to_string(length) + " exceeds 63");
  if (at + 1 + length > v.size()) return {};
  return v.text(at + 1, length, "description");
}

}  // namespace

std::vector<Imported> read_chn(Bytes data, const std::string& file) {
  const ByteView v(data, file, false);
  if (v.i16(0, "format tag") != -1) {
    v.fail(0, "not an ORTEC CHN file: format tag " + std::to_string(v.i16(0, "format tag")) +
                  " is not -1");
  }
  const std::uint32_t real_ticks = v.u32(8, "real time");
  const std::uint32_t live_ticks = v.u32(12, "live time");
  const std::uint16_t first = v.u16(28, "first channel");
  const std::uint16_t channels = v.u16(30, "channel count");
  if (channels == 0) v.fail(30, "channel count is 0");
  const std::size_t n = channels;
  if (data.size() < kHeader + 4 * n) {
    v.fail(30, "header claims " + std::to_string(n) + " channels but the file holds " +
                   std::to_string((data.size() - kHeader) / 4));
  }

  Imported spectrum;
  spectrum.name = file_stem(file);
  spectrum.base = first;
  spectrum.size = channels;
  spectrum.rows = 0;
  spectrum.counts.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t at = kHeader + 4 * k;
    const std::uint32_t count = v.u32(at, "count");
    if (count > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
      v.fail(at, "count " + std::to_string(count) + " of channel " + std::to_string(first + k) +
                     " exceeds the store's 32-bit signed range");
    }
    spectrum.counts[k] = static_cast<std::int32_t>(count);
  }
  spectrum.real_time = static_cast<double>(real_ticks) / kTicksPerSecond;
  spectrum.live_time = static_cast<double>(live_ticks) / kTicksPerSecond;

  // The trailer, when there is one, must begin with a calibration tag: any
  // other value means the channel count does not match the data.
  const std::size_t trailer = kHeader + 4 * n;
  std::string text;
  if (data.size() - trailer >= 2) {
    const std::int16_t tag = v.i16(trailer, "trailer tag");
    if (tag != -101 && tag != -102) {
      v.fail(trailer, "trailer tag " + std::to_string(tag) +
                          " is not -101 or -102 (channel count does not match the data)");
    }
    if (data.size() - trailer >= 16) {
      std::vector<double> coeffs = {static_cast<double>(v.f32(trailer + 4, "energy zero")),
                                    static_cast<double>(v.f32(trailer + 8, "energy slope"))};
      if (tag == -102) {
        coeffs.push_back(static_cast<double>(v.f32(trailer + 12, "energy quadratic term")));
      }
      const bool any = std::any_of(coeffs.begin(), coeffs.end(), [](double c) { return c != 0.0; });
      if (any) spectrum.calibration = calibration_text(coeffs, "keV");
    }
    if (data.size() - trailer >= 28) {
      spectrum.fwhm_calibration =
          fwhm_text({static_cast<double>(v.f32(trailer + 16, "FWHM zero")),
                     static_cast<double>(v.f32(trailer + 20, "FWHM slope")),
                     static_cast<double>(v.f32(trailer + 24, "FWHM quadratic term"))},
                    "ch", false);
    }
    const std::string sample = description(v, trailer + 320);
    const std::string detector = description(v, trailer + 256);
    text = sample;
    if (!detector.empty()) {
      // Appended piece by piece: g++ 12 warns (-Wrestrict, falsely) about a
      // literal + temporary string at -O3.
      if (!text.empty()) text += ' ';
      text += "detector ";
      text += detector;
    }
  }
  spectrum.title = title_with_times(text, spectrum.live_time, spectrum.real_time);
  std::vector<Imported> out;
  out.push_back(std::move(spectrum));
  return out;
}

}  // namespace tavrick::tools
