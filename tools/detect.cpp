// Format detection for tavrick-store imports, and the small helpers every
// reader shares (failure messages, bounds-checked binary reads, titles).
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "tools/reader.h"

namespace tavrick::tools {

void fail_at_byte(const std::string& file, std::size_t offset, const std::string& what) {
  throw ReadError(file + ": byte " + std::to_string(offset) + ": " + what);
}

void fail_at_line(const std::string& file, std::size_t line, const std::string& what) {
  throw ReadError(file + ": line " + std::to_string(line) + ": " + what);
}

std::string file_stem(const std::string& file) {
  return std::filesystem::path(file).stem().string();
}

std::string number_text(double value) {
  std::array<char, 32> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  if (ec != std::errc()) return "?";
  return std::string(buf.data(), end);
}

std::string title_with_times(const std::string& text, double live_time, double real_time) {
  std::string title = text;
  auto append = [&title](const char* word, double seconds) {
    if (seconds < 0.0) return;
    if (!title.empty()) title += ' ';
    title += word;
    title += ' ';
    // Shown to the millisecond: times kept in 100 ns ticks would print as 841.4199999.
    title += number_text(std::round(seconds * 1000.0) / 1000.0);
    title += " s";
  };
  append("live", live_time);
  append("real", real_time);
  return title;
}

// ---- ByteView ----

void ByteView::need(std::size_t offset, std::size_t length, const char* field) const {
  if (offset > data_.size() || length > data_.size() - offset) {
    fail(std::min(offset, data_.size()), std::string("file ends before the ") + field + " (needs " +
                                             std::to_string(length) + " bytes at byte " +
                                             std::to_string(offset) + ", file has " +
                                             std::to_string(data_.size()) + ")");
  }
}

std::uint64_t ByteView::unsigned_at(std::size_t offset,
                                    std::size_t length,
                                    const char* field) const {
  need(offset, length, field);
  std::uint64_t value = 0;
  for (std::size_t k = 0; k < length; ++k) {
    const std::size_t at = big_endian_ ? offset + k : offset + length - 1 - k;
    value = (value << 8) | data_[at];
  }
  return value;
}

std::uint8_t ByteView::u8(std::size_t offset, const char* field) const {
  return static_cast<std::uint8_t>(unsigned_at(offset, 1, field));
}
std::uint16_t ByteView::u16(std::size_t offset, const char* field) const {
  return static_cast<std::uint16_t>(unsigned_at(offset, 2, field));
}
std::int16_t ByteView::i16(std::size_t offset, const char* field) const {
  return static_cast<std::int16_t>(u16(offset, field));
}
std::uint32_t ByteView::u32(std::size_t offset, const char* field) const {
  return static_cast<std::uint32_t>(unsigned_at(offset, 4, field));
}
std::int32_t ByteView::i32(std::size_t offset, const char* field) const {
  return static_cast<std::int32_t>(u32(offset, field));
}
std::uint64_t ByteView::u64(std::size_t offset, const char* field) const {
  return unsigned_at(offset, 8, field);
}
float ByteView::f32(std::size_t offset, const char* field) const {
  const std::uint32_t bits = u32(offset, field);
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string ByteView::text(std::size_t offset, std::size_t length, const char* field) const {
  need(offset, length, field);
  std::string out;
  for (std::size_t k = 0; k < length; ++k) {
    const auto c = static_cast<char>(data_[offset + k]);
    if (c == '\0') break;
    out += c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
  return out;
}

// ---- detection ----

namespace {

std::string_view as_text(Bytes data, std::size_t limit) {
  return {reinterpret_cast<const char*>(data.data()), std::min(data.size(), limit)};
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The first int32 is the Fortran record length 24 of the header record, in
// the byte order of the machine that wrote the file; the header ends with the
// same marker.
bool looks_radware(Bytes data) {
  if (data.size() < 32) return false;
  for (const bool big : {false, true}) {
    const ByteView v(data, "", big);
    if (v.i32(0, "record length") == 24 && v.i32(28, "record length") == 24) return true;
  }
  return false;
}

// Format tag -1 in the first two bytes, and the start date's month as letters.
bool looks_chn(Bytes data) {
  if (data.size() < 32 || data[0] != 0xFF || data[1] != 0xFF) return false;
  return std::isalpha(data[18]) != 0 && std::isalpha(data[19]) != 0 && std::isalpha(data[20]) != 0;
}

// A section directory at byte 0x70 whose first entry is a parameter section.
bool looks_cnf(Bytes data) {
  if (data.size() < 0x100) return false;
  const ByteView v(data, "", false);
  const std::uint32_t id = v.u32(0x70, "section id");
  return (id & 0xFFFFFF00u) == 0x00012000u;
}

// Text start after a UTF-8 byte-order mark and leading blanks.
std::string_view text_start(Bytes data) {
  std::string_view s = as_text(data, 4096);
  if (s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) s.remove_prefix(1);
  return s;
}

bool looks_iaea(std::string_view s) {
  if (s.empty() || s.front() != '$') return false;
  std::size_t k = 1;
  while (k < s.size() && (std::isupper(static_cast<unsigned char>(s[k])) != 0 || s[k] == '_')) ++k;
  return k > 1 && k < s.size() && s[k] == ':';
}

bool looks_n42(std::string_view s) {
  return !s.empty() && s.front() == '<' &&
         (s.find("N42InstrumentData") != std::string_view::npos ||
          s.find("RadInstrumentData") != std::string_view::npos);
}

// Counts numbers in the first line that holds any; commas mark CSV. Control
// characters mean binary content (bytes above 127 may be UTF-8 text).
std::optional<Format> text_layout(std::string_view s) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c != '\t' && c != '\r' && c != '\n' && (c < 32 || c == 127)) return std::nullopt;
  }
  std::size_t pos = 0;
  while (pos < s.size()) {
    std::size_t end = s.find('\n', pos);
    if (end == std::string_view::npos) end = s.size();
    const std::string_view line = s.substr(pos, end - pos);
    pos = end + 1;
    if (line.find(',') != std::string_view::npos) return Format::Csv;
    int fields = 0;
    bool in_field = false;
    bool numeric = true;
    for (char c : line) {
      const bool blank = c == ' ' || c == '\t' || c == '\r';
      if (!blank && !in_field) ++fields;
      in_field = !blank;
      if (!blank && std::isdigit(static_cast<unsigned char>(c)) == 0 &&
          std::strchr("+-.eE", c) == nullptr) {
        numeric = false;
      }
    }
    if (fields == 0 || !numeric) continue;
    return fields <= 2 ? Format::Text : Format::Matrix;
  }
  return std::nullopt;
}

std::optional<Format> from_extension(const std::string& file) {
  const std::string ext = lower(std::filesystem::path(file).extension().string());
  if (ext == ".chn") return Format::Chn;
  if (ext == ".cnf") return Format::Cnf;
  if (ext == ".n42" || ext == ".xml") return Format::N42;
  if (ext == ".csv") return Format::Csv;
  if (ext == ".txt" || ext == ".dat") return Format::Text;
  return std::nullopt;
}

}  // namespace

Format detect_format(Bytes data, const std::string& file) {
  // Binary layouts have fixed markers; a text ".spe" begins with '$', a binary
  // one with the record length 24, so content decides before the extension.
  if (looks_radware(data)) return Format::RadwareSpe;
  if (looks_chn(data)) return Format::Chn;
  if (looks_cnf(data)) return Format::Cnf;
  const std::string_view start = text_start(data);
  if (looks_iaea(start)) return Format::IaeaSpe;
  // UTF-16 IAEA text: byte-order mark, then '$' as one code unit.
  if (data.size() >= 4 &&
      ((data[0] == 0xFF && data[1] == 0xFE && data[2] == '$' && data[3] == 0) ||
       (data[0] == 0xFE && data[1] == 0xFF && data[2] == 0 && data[3] == '$'))) {
    return Format::IaeaSpe;
  }
  if (looks_n42(start)) return Format::N42;
  // A peak-fit results table (centroids and areas per peak) holds numbers
  // that a text reader would take for counts: refuse it by name instead.
  if (start.substr(0, 13) == "No.  Centroid") {
    fail_at_line(file, 1, "a table of peak-fit results (centroids and areas), not a spectrum");
  }
  if (auto ext = from_extension(file)) return *ext;
  if (auto layout = text_layout(as_text(data, 65536))) return *layout;
  fail_at_byte(file, 0,
               "format not recognised from content or extension (choose one with --format)");
}

std::optional<Format> parse_format(const std::string& word) {
  const std::string w = lower(word);
  if (w == "text") return Format::Text;
  if (w == "csv") return Format::Csv;
  if (w == "spe" || w == "iaea") return Format::IaeaSpe;
  if (w == "chn") return Format::Chn;
  if (w == "radware") return Format::RadwareSpe;
  if (w == "cnf") return Format::Cnf;
  if (w == "n42") return Format::N42;
  if (w == "matrix") return Format::Matrix;
  return std::nullopt;
}

}  // namespace tavrick::tools
