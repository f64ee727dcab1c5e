#include "batch/plots.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "batch/plan.h"
#include "engine/gauss/shape.h"
#include "plot/peaks.h"
#include "plot/svg.h"

namespace batch {

namespace {

std::string printed(const char* format, double v) {
  std::array<char, 64> buf{};
  std::snprintf(buf.data(), buf.size(), format, v);
  return buf.data();
}

// The engine's result lists as the record keeps them: what the text block
// prints and what the peak curves are drawn from.
tavrick::FitResults results_of(const tavrick::results::Record& rec, bool skew, bool lorentz) {
  tavrick::FitResults r;
  constexpr double kFwhm = tavrick::gauss::kFwhm;
  for (std::size_t i = 0; i < rec.peaks.size() && i < r.cenfit.size(); ++i) {
    const auto& p = rec.peaks[i];
    r.cenfit[i] = p.centroid;
    r.cenerr[i] = p.centroid_error;
    r.arefit[i] = p.area;
    r.areerr[i] = p.area_error;
    r.hgtfit[i] = p.height;
    r.hgterr[i] = p.height_error;
    if (skew) {
      r.fwhfit[i] = p.fwhm_high;
      r.fwherr[i] = p.fwhm_high_error;
      r.fwlfit[i] = p.fwhm_low;
      r.fwlerr[i] = p.fwhm_low_error;
      r.widfit[i] = p.fwhm_high / kFwhm;
      r.wlofit[i] = p.fwhm_low / kFwhm;
    } else {
      r.fwhfit[i] = p.fwhm;
      r.fwherr[i] = p.fwhm_error;
      r.widfit[i] = lorentz ? p.fwhm : p.fwhm / kFwhm;
    }
  }
  const auto& b = rec.background;
  for (std::size_t j = 0; j < b.coefficients.size() && j < r.bakfit.size(); ++j) {
    r.bakfit[j] = b.coefficients[j];
    r.bakerr[j] = j < b.errors.size() ? b.errors[j] : 0.0;
  }
  r.bakarea = b.area;
  r.bakaerr = b.area_error;
  r.chisq = rec.chisq_per_point;
  return r;
}

// One cell of the index: its text, and for a column of numbers the value it
// sorts by (empty: no value, sorted last).
struct Cell {
  std::string text;
  std::string value;
};

Cell number(double v, const char* format) {
  if (!std::isfinite(v)) return {};
  return {printed(format, v), printed("%.17g", v)};
}

struct Column {
  const char* head;
  const char* title;  // what the column holds, shown on hover
  bool numeric;
};

constexpr Column kColumns[] = {
    {"spectrum", "spectrum name", false},
    {"line", "the line's energy (keV) as in the lines file", true},
    {"#", "the line's place in the lines file", true},
    {"row", "row status", false},
    {"reason", "why the row is no result", false},
    {"peak", "the line's peak in its fit", true},
    {"energy", "fitted energy (keV)", true},
    {"energy err", "error of the energy (keV)", true},
    {"FWHM", "fitted FWHM (keV)", true},
    {"centroid", "fitted centroid (channel)", true},
    {"area", "fitted area (counts)", true},
    {"area err", "error of the area (counts)", true},
    {"\u03C7\u00B2/dof", "chi-square per degree of freedom of the fit", true},
    {"fit", "how the fit ended", false},
    {"picture", "the fit's SVG picture", false},
};

std::vector<Cell> cells(const Row& r) {
  std::vector<Cell> c;
  c.push_back({r.spectrum, {}});
  c.push_back({r.energy, printed("%.17g", std::strtod(r.energy.c_str(), nullptr))});
  c.push_back({std::to_string(r.line), std::to_string(r.line)});
  c.push_back({r.status, {}});
  c.push_back({r.reason, {}});
  if (r.record && r.peak > 0) {
    const auto& rec = *r.record;
    const auto& p = rec.peaks[static_cast<std::size_t>(r.peak - 1)];
    c.push_back({std::to_string(r.peak), std::to_string(r.peak)});
    c.push_back(number(p.energy, "%.3f"));
    c.push_back(number(p.energy_error, "%.3f"));
    c.push_back(number(p.fwhm_energy, "%.3f"));
    c.push_back(number(p.centroid, "%.2f"));
    c.push_back(number(p.area, "%.1f"));
    c.push_back(number(p.area_error, "%.1f"));
    c.push_back(number(rec.chisq_per_dof, "%.3f"));
    c.push_back({std::string(tavrick::results::status_name(rec.status)), {}});
  } else {
    c.resize(c.size() + 9);
  }
  c.push_back({r.plot, {}});
  return c;
}

constexpr const char* kHead = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>tavrick-batch: fits</title>
<style>
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; font-size: 13px; margin: 16px; color: #000; background: #fff; }
h1 { font-size: 18px; margin: 0 0 4px 0; }
p { margin: 0 0 10px 0; }
table { border-collapse: collapse; }
th, td { padding: 3px 8px; border-bottom: 1px solid #ddd; text-align: left; white-space: nowrap; }
th { position: sticky; top: 0; background: #e8eef4; cursor: pointer; user-select: none; }
th.num, td.num { text-align: right; }
th[aria-sort=ascending]::after { content: " \25B2"; }
th[aria-sort=descending]::after { content: " \25BC"; }
tbody tr:nth-child(even) { background: #f6f6f6; }
tr.failed td { background: #fbe3d6; }
td.reason { white-space: normal; max-width: 32em; }
</style>
</head>
<body>
<h1>tavrick-batch: fits</h1>
)";

// Sorts the rows by the column whose head is clicked (a second click
// reverses); "#sort=NAME" or "#sort=-NAME" in the address sorts on load.
// Cells without a value go last either way; equal ones keep their order.
constexpr const char* kScript = R"(<script>
(function () {
  var table = document.getElementById("rows");
  var heads = Array.prototype.slice.call(table.tHead.rows[0].cells);
  var body = table.tBodies[0];
  function key(row, c, num) {
    var cell = row.cells[c];
    if (!num) return cell.textContent;
    var v = cell.getAttribute("data-v");
    return v === null || v === "" ? null : parseFloat(v);
  }
  function sortBy(c, dir) {
    var num = heads[c].classList.contains("num");
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (a, b) {
      var x = key(a, c, num), y = key(b, c, num);
      if (x === y) return 0;
      if (x === null) return 1;
      if (y === null) return -1;
      return (x < y ? -1 : 1) * dir;
    });
    heads.forEach(function (h) { h.removeAttribute("aria-sort"); });
    heads[c].setAttribute("aria-sort", dir > 0 ? "ascending" : "descending");
    rows.forEach(function (r) { body.appendChild(r); });
  }
  heads.forEach(function (th, c) {
    th.addEventListener("click", function () {
      sortBy(c, th.getAttribute("aria-sort") === "ascending" ? -1 : 1);
    });
  });
  var m = /^#sort=(-?)(.+)$/.exec(decodeURIComponent(location.hash));
  if (m) {
    heads.forEach(function (th, c) {
      if (th.getAttribute("data-name") === m[2]) sortBy(c, m[1] ? -1 : 1);
    });
  }
})();
</script>
)";

// The column's name in "#sort=": its head in plain letters.
const char* sort_name(std::size_t c) {
  static constexpr const char* kNames[] = {"spectrum",      "line_energy", "line",   "row_status",
                                           "reason",        "peak",        "energy", "energy_error",
                                           "fwhm_energy",   "centroid",    "area",   "area_error",
                                           "chisq_per_dof", "status",      "picture"};
  return kNames[c];
}

}  // namespace

std::string plot_name(const std::string& spectrum, int line) {
  constexpr std::size_t kMax = 64;
  std::string safe;
  for (const char c : spectrum.substr(0, kMax)) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-' || c == '.';
    safe += ok ? c : '_';
  }
  if (safe.empty() || safe.front() == '.' || safe != spectrum) {
    if (safe.empty() || safe.front() == '.') safe.insert(safe.begin(), '_');
    std::array<char, 24> hash{};
    std::snprintf(hash.data(), hash.size(), "-%08llx",
                  static_cast<unsigned long long>(fnv1a(spectrum) & 0xffffffffULL));
    safe += hash.data();
  }
  safe += ".line";
  safe += std::to_string(line);
  safe += ".svg";
  return safe;
}

std::string fit_svg(const tavrick::results::Record& rec, const tavrick::results::FitWorkspace& ws) {
  const int ilo = ws.first();
  const int ihi = ws.last();
  if (ihi < ilo || ilo < 0) return {};
  // The drawing reads the curves by channel number.
  const auto by_channel = [&](std::span<const double> v) {
    std::vector<double> out(static_cast<std::size_t>(ihi) + 1, 0.0);
    for (std::size_t i = 0; i < v.size() && ilo + i < out.size(); ++i) out[ilo + i] = v[i];
    return out;
  };
  const std::vector<double> counts = by_channel(ws.counts());
  const std::vector<double> background = by_channel(ws.background());
  const std::vector<double> fit = by_channel(ws.curve());

  const bool lorentz = rec.shape == "lorentz";
  const int iskew = rec.shape == "skew" ? 1 : rec.shape == "skewtail" ? 2 : 0;
  const tavrick::FitResults res = results_of(rec, iskew != 0, lorentz);
  const std::string window = "Channels " + std::to_string(ilo) + " to " + std::to_string(ihi);

  tavrick::SvgPlot p;
  tavrick::SketchArgs& a = p.sketch;
  a.spec = counts.data();
  a.title1 = rec.spectrum;
  a.title2 = window;
  a.ilo = ilo;
  a.ihi = ihi;
  a.npeaks = static_cast<int>(rec.peaks.size());
  a.nbak = static_cast<int>(rec.background.coefficients.size());
  a.dotted = background.data();
  a.dotdash = fit.data();
  a.res = &res;
  a.chisq = rec.chisq_per_point;
  a.iskew = iskew;
  a.ilor = lorentz ? 1 : 0;
  a.fitflag = 1;
  p.peaks = tavrick::peak_terms(res, a.npeaks, ilo, ihi, a.iskew, a.ilor);
  if (rec.calibration) {
    p.energy = rec.calibration->coefficients;
    p.unit = rec.calibration->unit;
  }

  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* mem = open_memstream(&buf, &size);
  if (mem == nullptr) return {};
  tavrick::svg(p, mem);
  const bool ok = std::fclose(mem) == 0;
  std::string text = ok ? std::string(buf, size) : std::string();
  std::free(buf);
  return text;
}

std::string index_html(const std::vector<Row>& rows) {
  std::size_t fitted = 0;
  for (const Row& r : rows) fitted += failed(r) ? 0 : 1;
  std::string o = kHead;
  o += "<p>" + std::to_string(rows.size()) + " rows: " + std::to_string(fitted) + " fitted, " +
       std::to_string(rows.size() - fitted) +
       " without a result. A click on a column's head sorts by it.</p>\n";
  o += "<table id=\"rows\">\n<thead><tr>";
  for (std::size_t c = 0; c < std::size(kColumns); ++c) {
    const Column& col = kColumns[c];
    o += "<th data-name=\"";
    o += sort_name(c);
    o += "\" title=\"";
    o += tavrick::xml_text(col.title);
    o += col.numeric ? "\" class=\"num\">" : "\">";
    o += tavrick::xml_text(col.head);
    o += "</th>";
  }
  o += "</tr></thead>\n<tbody>\n";
  for (const Row& r : rows) {
    const std::vector<Cell> cs = cells(r);
    o += failed(r) ? "<tr class=\"failed\">" : "<tr>";
    for (std::size_t c = 0; c < cs.size(); ++c) {
      const Column& col = kColumns[c];
      if (c + 1 == cs.size()) {
        o += cs[c].text.empty()
                 ? std::string("<td></td>")
                 : "<td><a href=\"" + tavrick::xml_text(cs[c].text) + "\">svg</a></td>";
        continue;
      }
      if (col.numeric) {
        o += "<td class=\"num\" data-v=\"" + cs[c].value + "\">";
      } else {
        o += c == 4 ? "<td class=\"reason\">" : "<td>";
      }
      o += tavrick::xml_text(cs[c].text);
      o += "</td>";
    }
    o += "</tr>\n";
  }
  o += "</tbody>\n</table>\n";
  o += kScript;
  o += "</body>\n</html>\n";
  return o;
}

bool make_plot_dir(const std::string& dir, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) {
    error = "--plots: cannot create the folder '" + dir + "'";
    return false;
  }
  return true;
}

}  // namespace batch
