// The SVG writer. Everything is drawn in pixels of a fixed-width canvas with
// a viewBox, so the picture scales to any size; data are clipped to their
// panels.
#include "plot/svg.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/fitdefs.h"

namespace tavrick {

namespace {

// Colours of the Okabe-Ito palette, told apart by colour-blind readers.
constexpr const char* kCounts = "#0072B2";      // blue
constexpr const char* kFit = "#D55E00";         // vermillion
constexpr const char* kBackground = "#009E73";  // bluish green
constexpr const char* kPeak = "#CC79A7";        // reddish purple
constexpr const char* kMarker = "#E69F00";      // orange
constexpr const char* kResidual = "#000000";
constexpr const char* kGrid = "#999999";

// Canvas geometry in pixels.
constexpr double kWidth = 960.0;
constexpr double kLeft = 78.0;
constexpr double kRight = 24.0;
constexpr double kPlotHeight = 360.0;
constexpr double kResidHeight = 100.0;
constexpr double kLabelRow = 13.0;  // one row of peak labels
constexpr double kTextLine = 14.0;  // one line of the text block
constexpr double kCharWidth = 7.0;  // of an 11 px sans-serif digit, generously

// A peak's curve is drawn where its term exceeds this share of its apex:
// elsewhere it would only retrace the background.
constexpr double kPeakShare = 1e-3;

std::string num(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

std::string label(double v) {
  if (v == 0.0) return "0";  // also for -0
  char b[32];
  std::snprintf(b, sizeof b, "%.6g", v);
  return b;
}

// Linear map of a to b onto c to d.
struct Map {
  double a, b, c, d;
  double operator()(double v) const { return c + (v - a) * (d - c) / (b - a); }
};

// The count axis: linear, or logarithmic with values at or below the lower
// end drawn at it.
struct CountAxis {
  double lower, upper, top, bottom;
  bool log;
  double operator()(double v) const {
    if (log) {
      const double lv = std::log10(std::max(v, lower));
      return Map{std::log10(lower), std::log10(upper), bottom, top}(lv);
    }
    return Map{lower, upper, bottom, top}(v);
  }
};

class Writer {
 public:
  explicit Writer(std::FILE* out) : out_(out) {}
  void put(std::string_view s) {
    if (!s.empty()) std::fwrite(s.data(), 1, s.size(), out_);
  }
  template <class... T>
  void line(const T&... parts) {
    (put(std::string_view(parts)), ...);
    put("\n");
  }
  void text(double x, double y, std::string_view s, std::string_view attrs = {}) {
    line("<text x=\"", num(x), "\" y=\"", num(y), "\"", attrs.empty() ? "" : " ", attrs, ">",
         xml_text(s), "</text>");
  }
  void segment(double x1, double y1, double x2, double y2, std::string_view attrs) {
    line("<line x1=\"", num(x1), "\" y1=\"", num(y1), "\" x2=\"", num(x2), "\" y2=\"", num(y2),
         "\" ", attrs, "/>");
  }

 private:
  std::FILE* out_;
};

// A polyline through (ch, v(ch)) for channels ilo..ihi; a value that is not
// a number breaks the line.
template <class V>
std::string curve(int ilo, int ihi, const Map& x, const CountAxis& y, V v) {
  std::string d;
  bool pen = false;
  for (int i = ilo; i <= ihi; ++i) {
    const double val = v(i);
    if (std::isnan(val)) {
      pen = false;
      continue;
    }
    d += pen ? " L" : " M";
    d += num(x(i)) + " " + num(y(val));
    pen = true;
  }
  return d;
}

// Whether E(ch) rises or falls strictly across the channels shown.
bool monotonic(const std::vector<double>& c, double lo, double hi) {
  auto e = [&](double ch) {
    double v = 0.0;
    for (std::size_t j = c.size(); j-- > 0;) v = v * ch + c[j];
    return v;
  };
  constexpr int kSteps = 256;
  double prev = e(lo);
  const double first = e(hi) - prev;
  if (!(std::abs(first) > 0.0) || !std::isfinite(first)) return false;
  for (int s = 1; s <= kSteps; ++s) {
    const double v = e(lo + (hi - lo) * s / kSteps);
    if (!std::isfinite(v) || (v - prev) * first <= 0.0) return false;
    prev = v;
  }
  return true;
}

double energy_at(const std::vector<double>& c, double ch) {
  double v = 0.0;
  for (std::size_t j = c.size(); j-- > 0;) v = v * ch + c[j];
  return v;
}

// The channel of energy e in lo..hi, E monotonic there.
double channel_at(const std::vector<double>& c, double e, double lo, double hi) {
  const bool rising = energy_at(c, hi) > energy_at(c, lo);
  for (int it = 0; it < 60; ++it) {
    const double mid = 0.5 * (lo + hi);
    if ((energy_at(c, mid) < e) == rising) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

// Length in bytes of the UTF-8 sequence at s[i], 0 when it is not one.
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto u = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned c = u(i);
  std::size_t n = 0;
  unsigned min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  unsigned cp = c & (0x7Fu >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((u(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (u(i + k) & 0x3Fu);
  }
  // Overlong forms, surrogates, code points past U+10FFFF and the two
  // non-characters XML refuses.
  if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF || cp == 0xFFFE || cp == 0xFFFF) {
    return 0;
  }
  return n;
}

}  // namespace

std::string xml_text(std::string_view s) {
  std::string o;
  o.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      if (n == 0) {
        o += '?';
        ++i;
      } else {
        o.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '&':
        o += "&amp;";
        break;
      case '<':
        o += "&lt;";
        break;
      case '>':
        o += "&gt;";
        break;
      case '"':
        o += "&quot;";
        break;
      case '\'':
        o += "&apos;";
        break;
      default:
        o += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    ++i;
  }
  return o;
}

std::vector<double> nice_ticks(double lo, double hi, int max_ticks) {
  std::vector<double> t;
  if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi) || max_ticks < 1) return t;
  const double raw = (hi - lo) / max_ticks;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10.0 * mag;
  for (const double m : {1.0, 2.0, 5.0}) {
    if (m * mag >= raw) {
      step = m * mag;
      break;
    }
  }
  for (double k = std::ceil(lo / step); k * step <= hi * (1 + 1e-12) + 1e-300; k += 1.0) {
    const double v = k * step;
    t.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
  }
  return t;
}

std::vector<int> label_rows(std::span<const double> x, double width, double gap) {
  std::vector<std::size_t> order(x.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  // Right end of the last label in each row so far; labels come in
  // increasing x, so that is the only one a new label can touch.
  std::vector<double> end;
  std::vector<int> row(x.size(), 0);
  for (const std::size_t i : order) {
    const double left = x[i] - width / 2.0;
    std::size_t r = 0;
    while (r < end.size() && end[r] + gap > left) ++r;
    if (r == end.size()) end.push_back(0.0);
    end[r] = x[i] + width / 2.0;
    row[i] = static_cast<int>(r);
  }
  return row;
}

bool parse_poly(std::string_view text, std::vector<double>& c, std::string& unit) {
  std::vector<std::string_view> w;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= 32) ++i;
    std::size_t j = i;
    while (j < text.size() && static_cast<unsigned char>(text[j]) > 32) ++j;
    if (j > i) w.push_back(text.substr(i, j - i));
    i = j;
  }
  if (w.size() < 4 || w[0] != "POLY") return false;
  std::vector<double> v;
  bool scale = false;
  for (std::size_t k = 2; k < w.size(); ++k) {
    double d = 0.0;
    const char* end = w[k].data() + w[k].size();
    const auto [p, ec] = std::from_chars(w[k].data(), end, d);
    if (ec != std::errc() || p != end || !std::isfinite(d)) return false;
    if (k > 2 && d != 0.0) scale = true;
    v.push_back(d);
  }
  if (!scale) return false;
  c = std::move(v);
  unit = w[1] == "-" ? std::string() : std::string(w[1]);
  return true;
}

std::vector<std::string> text_block(const SketchArgs& s) {
  std::vector<std::string> lines;
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* mem = open_memstream(&buf, &size);
  if (mem == nullptr) return lines;
  sketch(s, mem);
  std::fclose(mem);
  const std::string_view all(buf, size);
  constexpr std::string_view kBlock = "XTEXT 3.0 ";
  constexpr std::string_view kSmall = "\\C8";
  std::size_t at = 0;
  while (at < all.size()) {
    std::size_t nl = all.find('\n', at);
    if (nl == std::string_view::npos) nl = all.size();
    const std::string_view l = all.substr(at, nl - at);
    at = nl + 1;
    const std::size_t k = l.find(kSmall);
    if (l.substr(0, kBlock.size()) != kBlock || k == std::string_view::npos) continue;
    std::string_view t = l.substr(k + kSmall.size());
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    lines.emplace_back(t);
  }
  std::free(buf);
  return lines;
}

void svg(const SvgPlot& p, std::FILE* out) {
  const SketchArgs& s = p.sketch;
  const bool fitted = s.fitflag != 0 && s.dotdash != nullptr && s.dotted != nullptr;
  const int ilo = s.ilo;
  const int ihi = std::max(s.ihi, s.ilo);
  const int npk = fitted ? static_cast<int>(p.peaks.size()) : 0;

  // Count range as the script takes it: counts and, with a fit, the curves.
  double low = sp(1.0E10f);
  double high = sp(-1.0E6f);
  auto take = [&](double v) {
    if (std::isnan(v)) return;
    high = std::max(high, v);
    low = std::min(low, v);
  };
  for (int i = ilo; i <= ihi; ++i) {
    take(s.spec[i]);
    if (fitted) {
      take(s.dotted[i]);
      take(s.dotdash[i]);
    }
  }
  const SketchScale sc = sketch_scale(low, high, s.logflag);

  // Peak labels: the peak's number above its centroid, in as many rows as
  // keep them apart.
  const double x0 = kLeft;
  const double x1 = kWidth - kRight;
  const Map xmap{static_cast<double>(ilo) - 0.5, static_cast<double>(ihi) + 0.5, x0, x1};
  std::vector<double> lx;
  std::vector<int> peak_of;
  for (int k = 0; k < npk; ++k) {
    const double c = s.res->cenfit[static_cast<std::size_t>(k)];
    const double px = xmap(c);
    if (!std::isfinite(c) || px < x0 || px > x1) continue;
    lx.push_back(px);
    peak_of.push_back(k);
  }
  const std::vector<int> rows = label_rows(lx, 2.0 * kCharWidth, 3.0);
  const int nrows = rows.empty() ? 0 : *std::max_element(rows.begin(), rows.end()) + 1;

  const double plot_top = 52.0 + nrows * kLabelRow + (nrows > 0 ? 6.0 : 0.0);
  const double plot_bot = plot_top + kPlotHeight;
  const double res_top = plot_bot + 14.0;
  const double res_bot = fitted ? res_top + kResidHeight : plot_bot;
  const double chan_axis = res_bot;
  const bool has_energy =
      p.energy.size() >= 2 && monotonic(p.energy, ilo - 0.5, static_cast<double>(ihi) + 0.5);
  const double energy_axis = chan_axis + 46.0;
  const double legend_top = (has_energy ? energy_axis + 44.0 : chan_axis + 44.0);
  const double legend_h = 18.0;
  const std::vector<std::string> block = fitted ? text_block(s) : std::vector<std::string>();
  const double block_top = legend_top + legend_h + 16.0;
  const double height = block_top + static_cast<double>(block.size()) * kTextLine + 10.0;

  const CountAxis y{sc.lower, sc.upper, plot_top, plot_bot, s.logflag != 0};

  Writer w(out);
  w.line("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  w.line("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"", num(kWidth), "\" height=\"",
         num(height), "\" viewBox=\"0 0 ", num(kWidth), " ", num(height), "\"");
  // Where the panels and axes lie, for programs that read the picture back.
  w.line(" data-plot=\"", num(x0), " ", num(plot_top), " ", num(x1 - x0), " ", num(kPlotHeight),
         "\"");
  if (fitted) {
    w.line(" data-residuals=\"", num(x0), " ", num(res_top), " ", num(x1 - x0), " ",
           num(kResidHeight), "\"");
  }
  w.line(" data-legend=\"", num(x0), " ", num(legend_top), " ", num(x1 - x0), " ", num(legend_h),
         "\"");
  w.line(" data-channels=\"", num(xmap.a), " ", num(x0), " ", num(xmap.b), " ", num(x1), "\"");
  w.line(" data-counts=\"", label(sc.lower), " ", label(sc.upper), " ", num(plot_bot), " ",
         num(plot_top), s.logflag != 0 ? " log" : " linear", "\"",
         " font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"11\">");
  w.line("<title>", xml_text(s.title1), " ", xml_text(s.title2), "</title>");
  w.line("<rect x=\"0\" y=\"0\" width=\"", num(kWidth), "\" height=\"", num(height),
         "\" fill=\"#ffffff\"/>");
  w.line("<defs>");
  w.line("<clipPath id=\"plot-area\"><rect x=\"", num(x0), "\" y=\"", num(plot_top), "\" width=\"",
         num(x1 - x0), "\" height=\"", num(kPlotHeight), "\"/></clipPath>");
  w.line("<clipPath id=\"residual-area\"><rect x=\"", num(x0), "\" y=\"", num(res_top),
         "\" width=\"", num(x1 - x0), "\" height=\"", num(kResidHeight), "\"/></clipPath>");
  w.line("</defs>");

  // Titles.
  w.text(x0, 22.0, s.title1, "font-size=\"15\" font-weight=\"bold\"");
  w.text(x0, 40.0, s.title2, "font-size=\"12\"");

  // Count axis: ticks and labels at the left, a light grid across.
  w.line("<g stroke=\"#dddddd\" stroke-width=\"1\">");
  std::vector<double> yt;
  if (s.logflag != 0) {
    for (double v = sc.lower; v <= sc.upper * (1 + 1e-9); v *= 10.0) yt.push_back(v);
  } else if (sc.step > 0.0) {
    for (double v = sc.lower; v <= sc.upper + sc.step * 1e-9; v += sc.step) yt.push_back(v);
  }
  if (yt.size() > 12) {
    // Too many for the height: every n-th one.
    const std::size_t n = (yt.size() + 11) / 12;
    std::vector<double> thin;
    for (std::size_t i = 0; i < yt.size(); i += n) thin.push_back(yt[i]);
    yt = thin;
  }
  for (const double v : yt) w.segment(x0, y(v), x1, y(v), "");
  w.line("</g>");
  for (const double v : yt) {
    w.segment(x0 - 5.0, y(v), x0, y(v), "stroke=\"#000000\"");
    w.text(x0 - 8.0, y(v) + 4.0, label(v), "text-anchor=\"end\"");
  }
  w.text(18.0, (plot_top + plot_bot) / 2.0, "Counts per channel",
         "text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 18 " +
             num((plot_top + plot_bot) / 2.0) + ")\"");

  // Data, clipped to the plot area: each peak as a shaded area on the
  // background, the background, the counts, the markers and on top the total
  // fit.
  w.line("<g clip-path=\"url(#plot-area)\" fill=\"none\" stroke-linejoin=\"round\">");
  if (fitted) {
    for (int k = 0; k < npk; ++k) {
      const auto& t = p.peaks[static_cast<std::size_t>(k)];
      if (t.size() < static_cast<std::size_t>(ihi - ilo + 1)) continue;
      double apex = 0.0;
      for (const double v : t) apex = std::max(apex, std::abs(v));
      if (!(apex > 0.0) || !std::isfinite(apex)) continue;
      // Channels where the peak shows: its term above a small share of the
      // apex, with one channel either side.
      int first = ihi + 1;
      int last = ilo - 1;
      for (int i = ilo; i <= ihi; ++i) {
        if (std::abs(t[static_cast<std::size_t>(i - ilo)]) > kPeakShare * apex) {
          first = std::min(first, std::max(i - 1, ilo));
          last = std::max(last, std::min(i + 1, ihi));
        }
      }
      if (first > last) continue;
      const auto on = [&](int i) { return s.dotted[i] + t[static_cast<std::size_t>(i - ilo)]; };
      std::string d = curve(first, last, xmap, y, on);
      std::string area = d;
      for (int i = last; i >= first; --i) {
        if (std::isnan(s.dotted[i]) || std::isnan(on(i))) continue;
        area += " L" + num(xmap(i)) + " " + num(y(s.dotted[i]));
      }
      w.line("<path class=\"peak-area\" d=\"", area, " Z\" fill=\"", kPeak,
             "\" fill-opacity=\"0.18\" stroke=\"none\"/>");
      w.line("<path class=\"peak\" d=\"", d, "\" stroke=\"", kPeak, "\" stroke-width=\"1.3\"/>");
    }
    w.line("<path id=\"background\" d=\"",
           curve(ilo, ihi, xmap, y, [&](int i) { return s.dotted[i]; }), "\" stroke=\"",
           kBackground, "\" stroke-width=\"1.8\" stroke-dasharray=\"6 3\"/>");
  }
  {
    std::string d;
    for (int i = ilo; i <= ihi; ++i) {
      const double v = y(s.spec[i]);
      if (i == ilo) {
        d += 'M';
        d += num(xmap(i - 0.5));
        d += ' ';
      } else {
        d += " V";
      }
      d += num(v);
      d += " H" + num(xmap(i + 0.5));
    }
    w.line("<path id=\"counts\" d=\"", d, "\" stroke=\"", kCounts, "\" stroke-width=\"2\"/>");
  }
  if (fitted) {
    for (const double m : s.markers) {
      w.segment(xmap(m), plot_top, xmap(m), plot_bot,
                std::string("stroke=\"") + kMarker + "\" stroke-width=\"1.5\" " +
                    "stroke-dasharray=\"2 3\"");
    }
    w.line("<path id=\"fit\" d=\"", curve(ilo, ihi, xmap, y, [&](int i) { return s.dotdash[i]; }),
           "\" stroke=\"", kFit, "\" stroke-width=\"2\"/>");
  }
  w.line("</g>");
  w.line("<rect x=\"", num(x0), "\" y=\"", num(plot_top), "\" width=\"", num(x1 - x0),
         "\" height=\"", num(kPlotHeight), "\" fill=\"none\" stroke=\"#000000\"/>");

  // Peak labels and a short tick at each centroid on the frame.
  for (std::size_t j = 0; j < lx.size(); ++j) {
    const double ly = plot_top - 6.0 - rows[j] * kLabelRow;
    w.text(lx[j], ly, std::to_string(peak_of[j] + 1), "text-anchor=\"middle\" font-size=\"10\"");
    w.segment(lx[j], plot_top, lx[j], plot_top + 5.0, "stroke=\"#000000\"");
  }

  // Residuals panel: (n - f) / sqrt(max(n, 1)), the zero line, the +/-2 band.
  if (fitted) {
    double rmax = 3.0;
    for (int i = ilo; i <= ihi; ++i) {
      const double r = (s.spec[i] - s.dotdash[i]) / std::sqrt(std::max(s.spec[i], 1.0));
      if (std::isfinite(r)) rmax = std::max(rmax, std::abs(r));
    }
    const double range = std::min(std::ceil(rmax), 10.0);
    const Map ry{-range, range, res_bot, res_top};
    w.line("<rect x=\"", num(x0), "\" y=\"", num(ry(2.0)), "\" width=\"", num(x1 - x0),
           "\" height=\"", num(ry(-2.0) - ry(2.0)), "\" fill=\"#ececec\"/>");
    w.segment(x0, ry(0.0), x1, ry(0.0), std::string("stroke=\"") + kGrid + "\"");
    for (const double v : {-2.0, 2.0}) {
      w.segment(x0, ry(v), x1, ry(v),
                std::string("stroke=\"") + kGrid + "\" stroke-dasharray=\"4 3\"");
    }
    std::string d;
    for (int i = ilo; i <= ihi; ++i) {
      const double r = (s.spec[i] - s.dotdash[i]) / std::sqrt(std::max(s.spec[i], 1.0));
      if (!std::isfinite(r)) continue;
      const double ry_ = ry(std::clamp(r, -range, range));
      // At least 2 px long, so a many-channel window still shows every value.
      const double half = std::max(xmap(i + 0.4) - xmap(i), 1.0);
      d += " M" + num(xmap(i) - half) + " " + num(ry_) + " H" + num(xmap(i) + half);
    }
    w.line("<g clip-path=\"url(#residual-area)\"><path id=\"residuals\" d=\"", d,
           "\" fill=\"none\" stroke=\"", kResidual, "\" stroke-width=\"2\"/></g>");
    w.line("<rect x=\"", num(x0), "\" y=\"", num(res_top), "\" width=\"", num(x1 - x0),
           "\" height=\"", num(kResidHeight), "\" fill=\"none\" stroke=\"#000000\"/>");
    for (const double v : {-range, -2.0, 0.0, 2.0, range}) {
      if (v != 0.0 && std::abs(v) != 2.0 && range < 4.0) continue;
      w.segment(x0 - 5.0, ry(v), x0, ry(v), "stroke=\"#000000\"");
      w.text(x0 - 8.0, ry(v) + 4.0, v < 0 ? "\u2212" + label(-v) : label(v), "text-anchor=\"end\"");
    }
    const double mid = (res_top + res_bot) / 2.0;
    w.text(18.0, mid, "(n \u2212 fit)/\u221An",
           "text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 18 " + num(mid) + ")\"");
  }

  // Channel axis below the lowest panel; tick labels spaced by their width.
  {
    const int digits = static_cast<int>(label(static_cast<double>(ihi)).size()) + 1;
    const int max_ticks = std::max(2, static_cast<int>((x1 - x0) / (digits * kCharWidth + 24.0)));
    for (const double v : nice_ticks(ilo - 0.5, ihi + 0.5, max_ticks)) {
      w.segment(xmap(v), chan_axis, xmap(v), chan_axis + 5.0, "stroke=\"#000000\"");
      w.text(xmap(v), chan_axis + 17.0, label(v), "text-anchor=\"middle\"");
    }
    w.text((x0 + x1) / 2.0, chan_axis + 33.0, "Channel", "text-anchor=\"middle\" font-size=\"12\"");
  }

  // Energy axis of the calibration, as a second scale under the channels.
  if (has_energy) {
    const double clo = ilo - 0.5;
    const double chi = ihi + 0.5;
    const double e0 = energy_at(p.energy, clo);
    const double e1 = energy_at(p.energy, chi);
    const int digits = static_cast<int>(label(std::max(std::abs(e0), std::abs(e1))).size()) + 3;
    const int max_ticks = std::max(2, static_cast<int>((x1 - x0) / (digits * kCharWidth + 24.0)));
    w.segment(x0, energy_axis, x1, energy_axis, "stroke=\"#000000\"");
    for (const double e : nice_ticks(std::min(e0, e1), std::max(e0, e1), max_ticks)) {
      const double x = xmap(channel_at(p.energy, e, clo, chi));
      w.segment(x, energy_axis, x, energy_axis + 5.0, "stroke=\"#000000\"");
      w.text(x, energy_axis + 17.0, label(e), "text-anchor=\"middle\"");
    }
    const std::string title = p.unit.empty() ? "Energy" : "Energy (" + p.unit + ")";
    w.text((x0 + x1) / 2.0, energy_axis + 33.0, title, "text-anchor=\"middle\" font-size=\"12\"");
  }

  // Legend: a sample of each line with its name.
  {
    struct Item {
      const char* name;
      const char* colour;
      const char* dash;
      bool shown;
    };
    const Item items[] = {
        {"counts", kCounts, "", true},
        {"total fit", kFit, "", fitted},
        {"background", kBackground, "6 3", fitted},
        {"peaks (on background)", kPeak, "", npk > 0},
        {"markers", kMarker, "2 3", fitted && !s.markers.empty()},
        {"residuals", kResidual, "", fitted},
    };
    double x = x0;
    const double yl = legend_top + legend_h / 2.0;
    for (const Item& it : items) {
      if (!it.shown) continue;
      std::string a = std::string("stroke=\"") + it.colour + "\" stroke-width=\"2\"";
      if (*it.dash != '\0') a += std::string(" stroke-dasharray=\"") + it.dash + "\"";
      w.segment(x, yl, x + 24.0, yl, a);
      w.text(x + 30.0, yl + 4.0, it.name);
      x += 30.0 + static_cast<double>(std::strlen(it.name)) * 6.5 + 22.0;
    }
  }

  // The text block of fit values, in a fixed-width font so columns align.
  if (!block.empty()) {
    w.line("<g font-family=\"DejaVu Sans Mono, Courier New, monospace\" font-size=\"11\">");
    double ty = block_top;
    for (const std::string& l : block) {
      // Blanks as no-break spaces: renderers collapse runs of plain ones.
      std::string t;
      for (const char c : l) t += c == ' ' ? "\u00A0" : std::string(1, c);
      w.text(x0, ty, t);
      ty += kTextLine;
    }
    w.line("</g>");
  }
  w.line("</svg>");
}

}  // namespace tavrick
