#include "batch/lines.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace batch {

namespace {

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> split(std::string_view row) {
  std::vector<std::string_view> cells;
  for (;;) {
    const auto comma = row.find(',');
    cells.push_back(trim(row.substr(0, comma)));
    if (comma == std::string_view::npos) return cells;
    row.remove_prefix(comma + 1);
  }
}

// A finite decimal number and nothing else.
bool to_real(std::string_view s, double& v) {
  if (s.empty() || s.front() == '+') return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

bool to_int(std::string_view s, int& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size();
}

enum Column { kEnergy, kShape, kWidthFwhm, kFwhm, kOrder, kGroup, kColumns };
constexpr std::array<std::string_view, kColumns> kNames{"energy", "shape", "width_fwhm",
                                                        "fwhm",   "order", "group"};

}  // namespace

bool parse_lines(std::string_view text, std::vector<Line>& lines, std::string& error) {
  lines.clear();
  std::array<int, kColumns> where{};
  where.fill(-1);
  std::size_t ncols = 0;
  bool have_header = false;
  int lineno = 0;
  const auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineno) + ": " + why;
    lines.clear();
    return false;
  };
  while (!text.empty()) {
    ++lineno;
    const auto nl = text.find('\n');
    std::string_view row = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    row = trim(row.substr(0, row.find('#')));
    if (row.empty()) continue;
    const auto cells = split(row);
    if (!have_header) {
      for (std::size_t c = 0; c < cells.size(); ++c) {
        int k = 0;
        while (k < kColumns && kNames[static_cast<std::size_t>(k)] != cells[c]) ++k;
        if (k == kColumns) return fail("unknown column '" + std::string(cells[c]) + "'");
        if (where[static_cast<std::size_t>(k)] >= 0)
          return fail("column '" + std::string(cells[c]) + "' given twice");
        where[static_cast<std::size_t>(k)] = static_cast<int>(c);
      }
      if (where[kEnergy] < 0) return fail("no 'energy' column in the header");
      ncols = cells.size();
      have_header = true;
      continue;
    }
    if (cells.size() != ncols)
      return fail(std::to_string(cells.size()) + " cells, the header has " + std::to_string(ncols));
    const auto cell = [&](Column k) {
      const int c = where[static_cast<std::size_t>(k)];
      return c < 0 ? std::string_view{} : cells[static_cast<std::size_t>(c)];
    };
    Line l;
    l.index = static_cast<int>(lines.size()) + 1;
    l.energy_text = std::string(cell(kEnergy));
    if (!to_real(cell(kEnergy), l.energy) || l.energy <= 0.0)
      return fail("energy '" + l.energy_text + "' is not a number above 0");
    if (!cell(kShape).empty()) {
      l.shape = std::string(cell(kShape));
      if (l.shape != "gauss" && l.shape != "skew" && l.shape != "skewtail" && l.shape != "lorentz")
        return fail("shape '" + l.shape + "' is not gauss, skew, skewtail or lorentz");
    }
    if (!cell(kWidthFwhm).empty() &&
        (!to_real(cell(kWidthFwhm), l.width_fwhm) || l.width_fwhm <= 0.0))
      return fail("width_fwhm '" + std::string(cell(kWidthFwhm)) + "' is not a number above 0");
    if (!cell(kFwhm).empty()) {
      double f = 0.0;
      if (!to_real(cell(kFwhm), f) || f <= 0.0)
        return fail("fwhm '" + std::string(cell(kFwhm)) + "' is not a number above 0");
      l.fwhm = f;
    }
    if (!cell(kOrder).empty() && (!to_int(cell(kOrder), l.order) || l.order < 0 || l.order > 5))
      return fail("order '" + std::string(cell(kOrder)) + "' is not an integer 0 to 5");
    l.group = std::string(cell(kGroup));
    lines.push_back(std::move(l));
  }
  if (!have_header) {
    error = "no header line";
    return false;
  }
  if (lines.empty()) {
    error = "no lines below the header";
    return false;
  }
  return true;
}

bool read_lines(const std::string& path, std::vector<Line>& lines, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read '" + path + "'";
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!parse_lines(text.str(), lines, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace batch
