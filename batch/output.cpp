#include "batch/output.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <tuple>

#include "results/file.h"

namespace batch {

namespace {

// The row's own columns, then every column of a results file but its
// spectrum (the row's first column already).
constexpr const char* kOwn = "spectrum,line_energy,line,row_status,reason";
constexpr std::size_t kSpectrumColumn = 2;  // of a results file's columns

// Splits one CSV line into cells (quoted cells may hold commas and quotes).
std::vector<std::string> csv_cells(const std::string& line);

const std::string& header() {
  static const std::string h = [] {
    const std::string rec = tavrick::results::to_csv(tavrick::results::Record{});
    auto cells = csv_cells(rec.substr(0, rec.find('\n')));
    cells.erase(cells.begin() + kSpectrumColumn);
    std::string out = kOwn;
    for (const auto& c : cells) out += ',' + c;
    return out;
  }();
  return h;
}

std::string csv_cell(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (const char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + '"';
}

double energy_value(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

// What orders the rows and tells one from another.
using Key = std::tuple<std::string, double, int, std::string>;
bool key_less(const Key& a, const Key& b) {
  if (std::get<0>(a) != std::get<0>(b)) return std::get<0>(a) < std::get<0>(b);
  if (std::get<1>(a) != std::get<1>(b)) return std::get<1>(a) < std::get<1>(b);
  return std::get<2>(a) < std::get<2>(b);
}

// Splits CSV text into records of cells (quoted cells may hold commas,
// quotes and line breaks). False on an unclosed quote.
bool csv_records(const std::string& text,
                 std::vector<std::vector<std::string>>& recs,
                 std::vector<std::string>& raw) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (quoted) {
        if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
          cells.back() += '"';
          ++i;
        } else if (c == '"') {
          quoted = false;
        } else {
          cells.back() += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        cells.emplace_back();
      } else if (c == '\n') {
        break;
      } else {
        cells.back() += c;
      }
    }
    if (quoted) return false;
    raw.push_back(text.substr(start, i - start));
    recs.push_back(std::move(cells));
    ++i;
  }
  return true;
}

std::vector<std::string> csv_cells(const std::string& line) {
  std::vector<std::vector<std::string>> recs;
  std::vector<std::string> raw;
  csv_records(line, recs, raw);
  return recs.empty() ? std::vector<std::string>{} : recs.front();
}

}  // namespace

Format format_of(const std::string& path) {
  return path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0 ? Format::Json
                                                                            : Format::Csv;
}

bool row_less(const Row& a, const Row& b) {
  return key_less({a.spectrum, energy_value(a.energy), a.line, {}},
                  {b.spectrum, energy_value(b.energy), b.line, {}});
}

std::string row_json(const Row& r) {
  nlohmann::ordered_json j;
  j["spectrum"] = r.spectrum;
  j["line_energy"] = r.energy;
  j["line"] = r.line;
  j["row_status"] = r.status;
  j["reason"] = r.reason;
  j["peak"] = r.peak > 0 ? nlohmann::ordered_json(r.peak) : nlohmann::ordered_json();
  j["record"] = r.record ? nlohmann::ordered_json::parse(tavrick::results::to_json(*r.record))
                         : nlohmann::ordered_json();
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string write_rows(const std::vector<Row>& rows, Format f) {
  std::string out;
  if (f == Format::Csv) {
    out = header() + '\n';
    const std::size_t width = csv_cells(header()).size() - 5;
    for (const Row& r : rows) {
      out += csv_cell(r.spectrum) + ',' + csv_cell(r.energy) + ',' + std::to_string(r.line) + ',' +
             r.status + ',' + csv_cell(r.reason);
      if (r.record) {
        // The record's line of this row's peak, without its spectrum.
        const std::string text = tavrick::results::to_csv(*r.record);
        std::size_t at = 0;
        for (int k = 0; k < r.peak; ++k) at = text.find('\n', at) + 1;
        auto cells = csv_cells(text.substr(at, text.find('\n', at) - at));
        cells.erase(cells.begin() + kSpectrumColumn);
        for (const auto& c : cells) out += ',' + csv_cell(c);
      } else {
        out += std::string(width, ',');
      }
      out += '\n';
    }
    return out;
  }
  out = "[\n";
  for (std::size_t k = 0; k < rows.size(); ++k)
    out += row_json(rows[k]) + (k + 1 < rows.size() ? ",\n" : "\n");
  return out + "]\n";
}

bool merge(const std::vector<std::string>& files, Format f, std::string& text, std::string& error) {
  std::vector<std::pair<Key, std::string>> rows;
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot read '" + path + "'";
      return false;
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    const std::string body = buf.str();
    const auto bad = [&](const std::string& why) {
      error = path + ": " + why;
      return false;
    };
    if (f == Format::Csv) {
      std::vector<std::vector<std::string>> recs;
      std::vector<std::string> raw;
      if (!csv_records(body, recs, raw) || raw.empty() || raw.front() != header())
        return bad("not a CSV output of tavrick-batch");
      for (std::size_t k = 1; k < recs.size(); ++k) {
        if (recs[k].size() < 3) return bad("row " + std::to_string(k) + " is incomplete");
        const auto& c = recs[k];
        rows.push_back({{c[0], energy_value(c[1]), std::atoi(c[2].c_str()), c[1]}, raw[k]});
      }
    } else {
      // One row object per line between "[" and "]".
      std::istringstream lines(body);
      std::string line;
      if (!std::getline(lines, line) || line != "[")
        return bad("not a JSON output of tavrick-batch");
      bool closed = false;
      while (std::getline(lines, line)) {
        if (line == "]") {
          closed = true;
          break;
        }
        if (!line.empty() && line.back() == ',') line.pop_back();
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("spectrum") ||
            !j["spectrum"].is_string() || !j.contains("line_energy") ||
            !j["line_energy"].is_string() || !j.contains("line") || !j["line"].is_number_integer())
          return bad("not a JSON output of tavrick-batch");
        const std::string e = j["line_energy"].get<std::string>();
        rows.push_back(
            {{j["spectrum"].get<std::string>(), energy_value(e), j["line"].get<int>(), e}, line});
      }
      if (!closed) return bad("not a complete JSON output of tavrick-batch");
    }
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return key_less(a.first, b.first); });
  for (std::size_t k = 1; k < rows.size(); ++k) {
    const Key& a = rows[k - 1].first;
    const Key& b = rows[k].first;
    if (std::get<0>(a) == std::get<0>(b) && std::get<2>(a) == std::get<2>(b) &&
        std::get<3>(a) == std::get<3>(b)) {
      error = "the row of spectrum '" + std::get<0>(a) + "', line " + std::get<3>(a) +
              " is in more than one file";
      return false;
    }
  }
  if (f == Format::Csv) {
    text = header() + '\n';
    for (const auto& r : rows) text += r.second + '\n';
  } else {
    text = "[\n";
    for (std::size_t k = 0; k < rows.size(); ++k)
      text += rows[k].second + (k + 1 < rows.size() ? ",\n" : "\n");
    text += "]\n";
  }
  return true;
}

bool write_file(const std::string& path, const std::string& text, std::string& error) {
  if (path.empty() || path == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      error = "error writing standard output";
      return false;
    }
    return true;
  }
  const std::string tmp = path + ".tmp" + std::to_string(getpid());
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    error = "cannot write '" + path + "'";
    return false;
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace batch
