// Text readers: plain counts, "channel count" pairs, CSV and 2-D matrices.
//
// Common rules: LF or CRLF line endings; blank lines and '#' comments (whole
// lines or the rest of a line) are skipped; a count is a whole number within
// 32 bits ("120", "-3", "1.2e3" and "120.0" are whole, "12.5" is not). A
// failure names the file and the line.
//
// Plain text: either one count per line (channels from 0) or "channel count"
// pairs on every line. With pairs the first channel is the spectrum's base and
// every later channel must be the one after its predecessor: a gap or a
// repeated channel is refused rather than filled, because it means a damaged or
// mislabelled file more often than a sparse spectrum.
//
// CSV: one or two columns separated by commas, an optional header line first.
// With two columns the first is taken as channel numbers when all of its
// values are whole numbers (they must then rise by one, as above); values
// with fractions are energies and the channels count from 0.
//
// Matrix: one row of a 2-D spectrum per line, counts separated by blanks or
// commas, every row of the same length.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>

#include "spectrum/host.h"
#include "tools/reader.h"

namespace tavrick::tools {

namespace {

[[noreturn]] void fail_line(const std::string& file, std::size_t line, const std::string& what) {
  throw ReadError(file + ": line " + std::to_string(line) + ": " + what);
}

std::string stem_of(const std::string& file) { return std::filesystem::path(file).stem().string(); }

// A token for a message: at most 24 characters, bytes outside printable ASCII
// shown as '?', so binary junk cannot garble the terminal.
std::string shown(std::string_view w) {
  std::string s;
  for (char c : w.substr(0, 24)) {
    const auto u = static_cast<unsigned char>(c);
    s += (u >= 32 && u < 127) ? c : '?';
  }
  if (w.size() > 24) s += "...";
  return s;
}

struct Line {
  std::size_t number = 0;  // from 1
  std::string_view text;   // comment and line end removed, blanks trimmed
  std::string_view comment;
};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The file's lines one at a time, so that reading takes no memory per line;
// refuses NUL bytes (a binary file given as text).
class Lines {
 public:
  Lines(Bytes data, const std::string& file)
      : all_(reinterpret_cast<const char*>(data.data()), data.size()), file_(file) {}

  bool next(Line& l) {
    if (start_ >= all_.size()) return false;
    std::size_t end = all_.find('\n', start_);
    if (end == std::string_view::npos) end = all_.size();
    ++number_;
    std::string_view text = all_.substr(start_, end - start_);
    if (text.find('\0') != std::string_view::npos)
      fail_line(file_, number_, "binary data (NUL byte) in a text file");
    l = Line{};
    l.number = number_;
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos) {
      l.comment = trim(text.substr(hash + 1));
      text = text.substr(0, hash);
    }
    l.text = trim(text);
    start_ = end + 1;
    return true;
  }
  // Lines read so far.
  std::size_t count() const { return number_; }

 private:
  std::string_view all_;
  const std::string& file_;
  std::size_t start_ = 0;
  std::size_t number_ = 0;
};

std::vector<std::string_view> split(std::string_view s, bool commas) {
  std::vector<std::string_view> out;
  if (commas) {
    std::size_t start = 0;
    while (true) {
      const std::size_t end = s.find(',', start);
      out.push_back(trim(s.substr(start, end == std::string_view::npos ? end : end - start)));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    return out;
  }
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

bool parse_double(std::string_view w, double& v) {
  if (!w.empty() && w.front() == '+') w.remove_prefix(1);
  const char* end = w.data() + w.size();
  const auto [p, ec] = std::from_chars(w.data(), end, v);
  return !w.empty() && ec == std::errc() && p == end && std::isfinite(v);
}

// A whole number within 32 bits, or nothing.
bool parse_whole(std::string_view w, std::int32_t& v) {
  std::string_view d = w;
  if (!d.empty() && d.front() == '+') d.remove_prefix(1);
  const char* end = d.data() + d.size();
  std::int64_t i = 0;
  auto [p, ec] = std::from_chars(d.data(), end, i);
  if (!d.empty() && ec == std::errc() && p == end) {
    if (i < std::numeric_limits<std::int32_t>::min() ||
        i > std::numeric_limits<std::int32_t>::max())
      return false;
    v = static_cast<std::int32_t>(i);
    return true;
  }
  double x = 0.0;
  if (!parse_double(w, x) || x != std::floor(x) || x < -2147483648.0 || x > 2147483647.0)
    return false;
  v = static_cast<std::int32_t>(x);
  return true;
}

std::int32_t whole(std::string_view w,
                   const std::string& file,
                   std::size_t line,
                   const char* what) {
  std::int32_t v = 0;
  if (!parse_whole(w, v)) {
    double x = 0.0;
    if (parse_double(w, x))
      fail_line(file, line,
                std::string(what) + " '" + shown(w) + "' is not a whole number within 32 bits");
    fail_line(file, line, std::string(what) + " '" + shown(w) + "' is not a number");
  }
  return v;
}

void check_capacity(std::size_t n, const std::string& file, std::size_t line) {
  if (static_cast<std::int64_t>(n) > spectrum::kMaxValues)
    fail_line(file, line, "more than " + std::to_string(spectrum::kMaxValues) + " counts");
}

// Next channel after `prev` in a channel column; refuses gaps and disorder.
void check_next(std::int64_t prev,
                std::int64_t channel,
                const std::string& file,
                std::size_t line) {
  if (channel != prev + 1)
    fail_line(file, line,
              "channel " + std::to_string(channel) + " follows channel " + std::to_string(prev) +
                  " (channels must rise by one, without gaps)");
}

Imported finish(const std::string& file,
                std::vector<std::int32_t> counts,
                std::int64_t base,
                std::string title,
                std::size_t lines) {
  if (counts.empty())
    throw ReadError(file + ": no counts in the file (" + std::to_string(lines) + " lines)");
  if (base + static_cast<std::int64_t>(counts.size()) - 1 >
      std::numeric_limits<std::int32_t>::max())
    throw ReadError(file + ": channel numbers pass the largest channel number");
  Imported im;
  im.name = stem_of(file);
  im.title = std::move(title);
  im.base = static_cast<int>(base);
  im.size = static_cast<int>(counts.size());
  im.rows = 0;
  im.counts = std::move(counts);
  return im;
}

}  // namespace

std::vector<Imported> read_text(Bytes data, const std::string& file) {
  Lines lines(data, file);
  std::vector<std::int32_t> counts;
  std::string title;
  std::size_t columns = 0;  // 1 or 2, set by the first data line
  std::int64_t base = 0;
  std::int64_t prev = 0;
  for (Line l; lines.next(l);) {
    if (l.text.empty()) {
      if (title.empty() && counts.empty()) title = std::string(l.comment);
      continue;
    }
    const auto w = split(l.text, false);
    if (w.size() > 2)
      fail_line(file, l.number,
                std::to_string(w.size()) +
                    " values on a line: expected a count or a channel and a count");
    if (columns == 0) columns = w.size();
    if (w.size() != columns)
      fail_line(file, l.number,
                columns == 1 ? "a channel and a count where the file so far had one count per line"
                             : "one value where the file so far had channel and count pairs");
    if (columns == 2) {
      const std::int32_t channel = whole(w[0], file, l.number, "channel");
      if (counts.empty())
        base = channel;
      else
        check_next(prev, channel, file, l.number);
      prev = channel;
    }
    counts.push_back(whole(w.back(), file, l.number, "count"));
    check_capacity(counts.size(), file, l.number);
  }
  std::vector<Imported> out;
  out.push_back(finish(file, std::move(counts), base, title, lines.count()));
  return out;
}

std::vector<Imported> read_csv(Bytes data, const std::string& file) {
  Lines lines(data, file);
  std::vector<std::int32_t> counts;
  // The first column, when there are two, is followed as it goes: whether
  // every value is a whole channel number, its first value, and the first
  // place where it does not rise by one (refused if it is a channel column).
  bool whole_channels = true;
  std::int64_t base = 0;
  double prev_channel = 0.0;
  std::size_t values = 0;
  struct Break {
    std::size_t line = 0;
    std::int64_t prev = 0, channel = 0;
  };
  std::optional<Break> first_break;
  std::string title;
  std::size_t columns = 0;
  bool seen_data = false;
  for (Line l; lines.next(l);) {
    if (l.text.empty()) {
      if (title.empty() && !seen_data) title = std::string(l.comment);
      continue;
    }
    const auto w = split(l.text, true);
    double probe = 0.0;
    if (!seen_data && !parse_double(w[0], probe)) {
      // A header ("channel,counts", "Energy, Data"): only as the first line of data.
      seen_data = true;
      if (w.size() > 2)
        fail_line(file, l.number,
                  "header of " + std::to_string(w.size()) + " columns: expected 1 or 2");
      columns = w.size();
      continue;
    }
    seen_data = true;
    if (w.size() > 2)
      fail_line(file, l.number,
                std::to_string(w.size()) + " columns: expected a count or a channel and a count");
    if (columns == 0) columns = w.size();
    if (w.size() != columns)
      fail_line(
          file, l.number,
          std::to_string(w.size()) + " columns where the file has " + std::to_string(columns));
    if (columns == 2) {
      double x = 0.0;
      if (!parse_double(w[0], x)) {
        // Appended to a string, not prepended: g++ 12 warns (-Wrestrict, falsely)
        // about a literal + temporary string at -O3.
        std::string why(1, '\'');
        why += shown(w[0]);
        why += "' is not a number";
        fail_line(file, l.number, why);
      }
      whole_channels = whole_channels && x == std::floor(x) && std::fabs(x) < 2147483648.0;
      if (whole_channels) {
        const auto channel = static_cast<std::int64_t>(x);
        if (values == 0)
          base = channel;
        else if (!first_break && channel != static_cast<std::int64_t>(prev_channel) + 1)
          first_break = Break{l.number, static_cast<std::int64_t>(prev_channel), channel};
      }
      prev_channel = x;
      ++values;
    }
    counts.push_back(whole(w.back(), file, l.number, "count"));
    check_capacity(counts.size(), file, l.number);
  }
  const bool channels = values > 0 && whole_channels;
  if (!channels) base = 0;
  if (channels && first_break)
    check_next(first_break->prev, first_break->channel, file, first_break->line);
  std::vector<Imported> out;
  out.push_back(finish(file, std::move(counts), base, title, lines.count()));
  return out;
}

std::vector<Imported> read_matrix(Bytes data, const std::string& file) {
  Lines lines(data, file);
  std::vector<std::int32_t> counts;
  std::string title;
  std::size_t width = 0;
  int rows = 0;
  for (Line l; lines.next(l);) {
    if (l.text.empty()) {
      if (title.empty() && rows == 0) title = std::string(l.comment);
      continue;
    }
    const bool commas = l.text.find(',') != std::string_view::npos;
    const auto w = split(l.text, commas);
    if (width == 0) width = w.size();
    if (w.size() != width)
      fail_line(file, l.number,
                "row of " + std::to_string(w.size()) + " counts where the rows before have " +
                    std::to_string(width));
    for (auto v : w) counts.push_back(whole(v, file, l.number, "count"));
    check_capacity(counts.size(), file, l.number);
    ++rows;
  }
  if (counts.empty())
    throw ReadError(file + ": no counts in the file (" + std::to_string(lines.count()) + " lines)");
  Imported im;
  im.name = stem_of(file);
  im.title = std::move(title);
  im.base = 0;
  im.size = static_cast<int>(width);
  im.rows = rows;
  im.counts = std::move(counts);
  std::vector<Imported> out;
  out.push_back(std::move(im));
  return out;
}

}  // namespace tavrick::tools
