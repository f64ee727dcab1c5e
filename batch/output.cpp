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

namespace batch {

namespace {

constexpr const char* kHeader =
    "spectrum,energy,line,status,reason,peak,npeaks,lo,hi,centroid,centroid_err,area,area_err,"
    "fwhm,fwhm_err,energy_fit,energy_err,fwhm_kev,chisq,arguments";

// The shortest text that reads back as the same double.
std::string num(double v) {
  std::array<char, 32> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
  return std::string(buf.data(), r.ptr);
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
bool csv_records(const std::string& text, std::vector<std::vector<std::string>>& recs,
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
  j["energy"] = r.energy;
  j["line"] = r.line;
  j["status"] = r.status;
  j["reason"] = r.reason;
  const bool fit = r.peak > 0;
  // Numbers that are not finite have no JSON form: null, as for no fit.
  const auto n = [&](double v) {
    return fit && std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json();
  };
  const auto i = [&](int v) { return fit ? nlohmann::ordered_json(v) : nlohmann::ordered_json(); };
  j["peak"] = i(r.peak);
  j["npeaks"] = i(r.npeaks);
  j["lo"] = i(r.lo);
  j["hi"] = i(r.hi);
  j["centroid"] = n(r.centroid);
  j["centroid_err"] = n(r.centroid_err);
  j["area"] = n(r.area);
  j["area_err"] = n(r.area_err);
  j["fwhm"] = n(r.fwhm);
  j["fwhm_err"] = n(r.fwhm_err);
  j["energy_fit"] = n(r.energy_fit);
  j["energy_err"] = n(r.energy_err);
  j["fwhm_kev"] = n(r.fwhm_kev);
  j["chisq"] = n(r.chisq);
  j["arguments"] = r.arguments;
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string write_rows(const std::vector<Row>& rows, Format f) {
  std::string out;
  if (f == Format::Csv) {
    out = std::string(kHeader) + '\n';
    for (const Row& r : rows) {
      const bool fit = r.peak > 0;
      const auto n = [&](double v) { return fit ? num(v) : std::string(); };
      const auto i = [&](int v) { return fit ? std::to_string(v) : std::string(); };
      out += csv_cell(r.spectrum) + ',' + csv_cell(r.energy) + ',' + std::to_string(r.line) + ',' +
             r.status + ',' + csv_cell(r.reason) + ',' + i(r.peak) + ',' + i(r.npeaks) + ',' +
             i(r.lo) + ',' + i(r.hi) + ',' + n(r.centroid) + ',' + n(r.centroid_err) + ',' +
             n(r.area) + ',' + n(r.area_err) + ',' + n(r.fwhm) + ',' + n(r.fwhm_err) + ',' +
             n(r.energy_fit) + ',' + n(r.energy_err) + ',' + n(r.fwhm_kev) + ',' + n(r.chisq) +
             ',' + csv_cell(r.arguments) + '\n';
    }
    return out;
  }
  out = "[\n";
  for (std::size_t k = 0; k < rows.size(); ++k)
    out += row_json(rows[k]) + (k + 1 < rows.size() ? ",\n" : "\n");
  return out + "]\n";
}

bool merge(const std::vector<std::string>& files, Format f, std::string& text,
           std::string& error) {
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
      if (!csv_records(body, recs, raw) || raw.empty() || raw.front() != kHeader)
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
      if (!std::getline(lines, line) || line != "[") return bad("not a JSON output of tavrick-batch");
      bool closed = false;
      while (std::getline(lines, line)) {
        if (line == "]") {
          closed = true;
          break;
        }
        if (!line.empty() && line.back() == ',') line.pop_back();
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("spectrum") ||
            !j["spectrum"].is_string() || !j.contains("energy") || !j["energy"].is_string() ||
            !j.contains("line") || !j["line"].is_number_integer())
          return bad("not a JSON output of tavrick-batch");
        const std::string e = j["energy"].get<std::string>();
        rows.push_back({{j["spectrum"].get<std::string>(), energy_value(e), j["line"].get<int>(), e},
                        line});
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
    text = std::string(kHeader) + '\n';
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
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
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
