// IAEA / Maestro ASCII .spe: "$KEYWORD:" lines, each followed by its value
// lines up to the next line that starts with '$'. Read here:
//   $SPEC_ID:  free text (the title)
//   $MEAS_TIM: "live real" in seconds
//   $DATA:     "first last" channel numbers, then the counts (any number per
//              line, separated by blanks or tabs)
//   $MCA_CAL:  number of coefficients, then the coefficients (and a unit)
//   $ENER_FIT: "a0 a1" (used when $MCA_CAL is absent or all zero)
//   $SHAPE_CAL: number of coefficients, then the FWHM calibration in
//              channels, FWHM = f0 + f1*ch + f2*ch^2 (all zero: none)
// Lines end in LF or CRLF; a UTF-8 byte-order mark before the first '$' is
// skipped, and UTF-16 text (with its byte-order mark) is read as well.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <string_view>

#include "tools/reader.h"

namespace tavrick::tools {

namespace {

struct Line {
  std::string_view text;
  std::size_t number;  // from 1
};

struct Section {
  std::size_t line;  // line of the keyword
  std::vector<Line> values;
};

std::vector<std::string_view> fields(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t k = 0;
  while (k < s.size()) {
    while (k < s.size() && (s[k] == ' ' || s[k] == '\t')) ++k;
    const std::size_t start = k;
    while (k < s.size() && s[k] != ' ' && s[k] != '\t') ++k;
    if (k > start) out.push_back(s.substr(start, k - start));
  }
  return out;
}

std::optional<double> to_double(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<long long> to_integer(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  long long value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// A count: an integer, or a number written with decimals rounded to the
// nearest integer (some writers store corrected counts that way).
std::optional<std::int32_t> to_count(std::string_view s) {
  double value = 0.0;
  if (const auto i = to_integer(s)) {
    value = static_cast<double>(*i);
  } else if (const auto d = to_double(s)) {
    value = std::round(*d);
  } else {
    return std::nullopt;
  }
  if (value < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      value > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

// A text for a message: quoted, at most 24 characters, bytes outside
// printable ASCII shown as '?' so binary junk cannot garble a terminal.
std::string quoted(std::string_view w) {
  std::string s = "'";
  for (char c : w.substr(0, 24)) {
    const auto u = static_cast<unsigned char>(c);
    s += (u >= 32 && u < 127) ? c : '?';
  }
  return s + (w.size() > 24 ? "...'" : "'");
}

std::map<std::string, Section> split_sections(std::string_view text,
                                              const std::string& file,
                                              std::size_t& last_line) {
  std::map<std::string, Section> sections;
  Section* current = nullptr;
  std::size_t number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() == '$') {
      const std::size_t colon = line.find(':');
      if (colon == std::string_view::npos) fail_at_line(file, number, "keyword without ':'");
      const std::string keyword(line.substr(1, colon - 1));
      // Only the first occurrence of a keyword is read.
      auto [it, fresh] = sections.try_emplace(keyword, Section{number, {}});
      current = fresh ? &it->second : nullptr;
      continue;
    }
    if (current == nullptr) {
      if (sections.empty() && fields(line).empty()) continue;
      if (sections.empty()) {
        fail_at_line(file, number, "not an IAEA spectrum: expected a $KEYWORD: line");
      }
      continue;
    }
    current->values.push_back({line, number});
  }
  last_line = number;
  return sections;
}

// The numbers of one value line, each checked.
std::vector<double> numbers(const Line& line, const std::string& file, const char* what) {
  std::vector<double> out;
  for (std::string_view f : fields(line.text)) {
    const auto value = to_double(f);
    if (!value)
      fail_at_line(file, line.number, std::string(what) + " " + quoted(f) + " is not a number");
    out.push_back(*value);
  }
  return out;
}

bool all_zero(const std::vector<double>& v) {
  return std::all_of(v.begin(), v.end(), [](double c) { return c == 0.0; });
}

void read_data(const Section& data,
               Imported& spectrum,
               const std::string& file,
               std::size_t last_line) {
  if (data.values.empty()) fail_at_line(file, data.line + 1, "$DATA has no channel range");
  const Line& range = data.values.front();
  const auto limits = fields(range.text);
  std::optional<long long> first;
  std::optional<long long> last;
  if (limits.size() == 2) {
    first = to_integer(limits[0]);
    last = to_integer(limits[1]);
  }
  if (!first || !last) {
    fail_at_line(file, range.number,
                 "$DATA range " + quoted(range.text) + " is not two channel numbers");
  }
  if (*first < 0 || *last < *first || *first > std::numeric_limits<int>::max() ||
      static_cast<unsigned long long>(*last - *first) >= kMaxImportChannels) {
    fail_at_line(file, range.number, "$DATA range " + quoted(range.text) + " is out of range");
  }
  const auto n = static_cast<std::size_t>(*last - *first + 1);
  spectrum.base = static_cast<int>(*first);
  spectrum.size = static_cast<int>(n);
  spectrum.counts.reserve(n);
  for (std::size_t k = 1; k < data.values.size(); ++k) {
    const Line& line = data.values[k];
    for (std::string_view f : fields(line.text)) {
      const auto count = to_count(f);
      if (!count) fail_at_line(file, line.number, "count " + quoted(f) + " is not a number");
      if (spectrum.counts.size() == n) {
        fail_at_line(file, line.number,
                     "more counts than the $DATA range " + quoted(range.text) + " holds");
      }
      spectrum.counts.push_back(*count);
    }
  }
  if (spectrum.counts.size() < n) {
    const std::size_t where = data.values.back().number + 1;
    fail_at_line(file, std::min(where, last_line),
                 "$DATA range " + quoted(range.text) + " claims " + std::to_string(n) +
                     " channels but only " + std::to_string(spectrum.counts.size()) +
                     " counts are present");
  }
}

// The coefficients of a "$KEY:" section of a count line and a coefficient
// line ($MCA_CAL, $SHAPE_CAL); words after them (a unit) go to rest.
std::vector<double> counted_coefficients(const Section& s,
                                         const char* key,
                                         const std::string& file,
                                         std::string& rest) {
  const auto count = to_integer(fields(s.values[0].text).empty() ? std::string_view()
                                                                 : fields(s.values[0].text)[0]);
  if (!count || *count < 1 || *count > 10) {
    fail_at_line(file, s.values[0].number,
                 std::string("$").append(key) + " coefficient count " + quoted(s.values[0].text) +
                     " is not 1 to 10");
  }
  const auto words = fields(s.values[1].text);
  if (words.size() < static_cast<std::size_t>(*count)) {
    fail_at_line(file, s.values[1].number,
                 std::string("$").append(key) + " has fewer than " + std::to_string(*count) +
                     " coefficients");
  }
  std::vector<double> coeffs;
  for (std::size_t k = 0; k < static_cast<std::size_t>(*count); ++k) {
    const auto c = to_double(words[k]);
    if (!c) {
      fail_at_line(file, s.values[1].number,
                   "calibration coefficient " + quoted(words[k]) + " is not a number");
    }
    coeffs.push_back(*c);
  }
  if (words.size() > static_cast<std::size_t>(*count))
    rest = std::string(words[static_cast<std::size_t>(*count)]);
  return coeffs;
}

std::string fwhm_calibration(const std::map<std::string, Section>& sections,
                             const std::string& file) {
  const auto it = sections.find("SHAPE_CAL");
  if (it == sections.end() || it->second.values.size() < 2) return {};
  // Files that were read before the FWHM calibration was kept still are: a
  // malformed one is left out rather than refusing the spectrum.
  try {
    std::string rest;
    return fwhm_text(counted_coefficients(it->second, "SHAPE_CAL", file, rest), "ch", false);
  } catch (const ReadError&) {
    return {};
  }
}

std::string calibration(const std::map<std::string, Section>& sections, const std::string& file) {
  if (const auto it = sections.find("MCA_CAL");
      it != sections.end() && it->second.values.size() >= 2) {
    std::string unit = "keV";
    const std::vector<double> coeffs = counted_coefficients(it->second, "MCA_CAL", file, unit);
    if (!all_zero(coeffs)) return calibration_text(coeffs, unit);
  }
  if (const auto it = sections.find("ENER_FIT");
      it != sections.end() && !it->second.values.empty()) {
    const std::vector<double> coeffs =
        numbers(it->second.values[0], file, "calibration coefficient");
    if (!coeffs.empty() && !all_zero(coeffs)) return calibration_text(coeffs, "keV");
  }
  return {};
}

}  // namespace

std::vector<Imported> read_iaea_spe(Bytes data, const std::string& file) {
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Some writers use UTF-16 with a byte-order mark; the keywords and numbers
  // are ASCII, so each code unit becomes one character ('?' beyond ASCII).
  std::string narrow;
  if (text.size() >= 2 && (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")) {
    const bool big = text[0] == '\xFE';
    if (text.size() % 2 != 0) fail_at_byte(file, text.size() - 1, "odd byte count in UTF-16 text");
    for (std::size_t k = 2; k < text.size(); k += 2) {
      const auto hi = static_cast<unsigned char>(text[big ? k : k + 1]);
      const auto lo = static_cast<unsigned char>(text[big ? k + 1 : k]);
      narrow += (hi == 0 && lo < 128) ? static_cast<char>(lo) : '?';
    }
    text = narrow;
  }
  std::size_t last_line = 0;
  const auto sections = split_sections(text, file, last_line);
  const auto data_it = sections.find("DATA");
  if (data_it == sections.end()) {
    fail_at_line(file, std::max<std::size_t>(last_line, 1), "no $DATA section in the file");
  }

  Imported spectrum;
  spectrum.name = file_stem(file);
  spectrum.rows = 0;
  read_data(data_it->second, spectrum, file, last_line);

  if (const auto it = sections.find("MEAS_TIM");
      it != sections.end() && !it->second.values.empty()) {
    const std::vector<double> t = numbers(it->second.values[0], file, "time");
    if (t.size() != 2 || t[0] < 0.0 || t[1] < 0.0) {
      fail_at_line(file, it->second.values[0].number, "$MEAS_TIM is not 'live real' in seconds");
    }
    spectrum.live_time = t[0];
    spectrum.real_time = t[1];
  }
  spectrum.calibration = calibration(sections, file);
  spectrum.fwhm_calibration = fwhm_calibration(sections, file);

  std::string title;
  if (const auto it = sections.find("SPEC_ID"); it != sections.end()) {
    for (const Line& line : it->second.values) {
      for (std::string_view f : fields(line.text)) {
        if (!title.empty()) title += ' ';
        title += f;
      }
    }
  }
  spectrum.title = title_with_times(title, spectrum.live_time, spectrum.real_time);
  std::vector<Imported> out;
  out.push_back(std::move(spectrum));
  return out;
}

}  // namespace tavrick::tools
