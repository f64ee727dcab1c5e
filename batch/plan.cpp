#include "batch/plan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>
#include <sstream>

namespace batch {

namespace {

bool to_real(std::string_view s, double& v) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(v);
}

std::string fixed2(double v) {
  std::array<char, 64> buf{};
  std::snprintf(buf.data(), buf.size(), "%.2f", v);
  return buf.data();
}

// The channel window of one line, before grouping.
struct Span {
  int line = 0;
  double ch = 0.0;
  double width = 0.0;  // FWHM in channels
  long long lo = 0;
  long long hi = 0;
};

// Start values and window of a fit over the spans of one group, as a tavrick
// command line; the option phase of tavrick itself turns it into settings,
// so a fit here and the printed command see the same numbers.
void build(const Spectrum& sp,
           const std::vector<Line>& lines,
           const std::vector<Span>& spans,
           Work& w) {
  const Line& first = lines[static_cast<std::size_t>(spans.front().line)];
  long long lo = spans.front().lo, hi = spans.front().hi;
  for (const auto& s : spans) {
    lo = std::min(lo, s.lo);
    hi = std::max(hi, s.hi);
  }
  if (spans.size() > 30) {
    w.status = "too_many_peaks";
    w.reason = std::to_string(spans.size()) + " lines in one window (30 at most)";
    return;
  }
  const long long first_ch = sp.base, last_ch = static_cast<long long>(sp.base) + sp.size - 1;
  lo = std::max({lo, first_ch, 0LL});
  hi = std::min({hi, last_ch, 65535LL});
  if (hi - lo < 2) {
    w.status = "outside";
    w.reason = "window too short within the spectrum";
    return;
  }
  // tavrick reads an argument as at most 128 characters without trailing
  // blanks or control characters: such a name cannot be passed to it.
  if (sp.name.empty() || sp.name.size() > 128 ||
      std::any_of(sp.name.begin(), sp.name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 32; }) ||
      sp.name.back() == ' ') {
    w.status = "bad_name";
    w.reason = "spectrum name cannot be given to tavrick";
    return;
  }
  auto& a = w.args;
  a = {"tavrick", "-spectrum", sp.name, "-limit", std::to_string(lo), std::to_string(hi), "-peaks"};
  for (const auto& s : spans) a.push_back(fixed2(s.ch));
  a.push_back("-widths");
  for (const auto& s : spans) {
    if (!(std::stod(fixed2(s.width)) > 0.0)) {
      w.status = "bad_width";
      w.reason = "FWHM below 0.01 channels";
      return;
    }
    a.push_back(fixed2(s.width));
  }
  if (first.shape == "skew") {
    a.push_back("-skews");
    for (const auto& s : spans) a.push_back(fixed2(s.width));
  }
  if (first.shape != "gauss") a.insert(a.end(), {"-shape", first.shape});
  if (first.shape == "skewtail") a.insert(a.end(), {"-widthopt", "given"});
  a.insert(a.end(), {"-order", std::to_string(first.order)});

  // The request holds the numbers of the texts above, so the fit and the
  // printed command line start from the same values.
  auto& r = w.request;
  r.spectrum = sp.name;
  r.first_channel = sp.base;
  r.lo = static_cast<int>(lo);
  r.hi = static_cast<int>(hi);
  for (const auto& s : spans) {
    r.peaks.push_back(std::stod(fixed2(s.ch)));
    r.widths.push_back(std::stod(fixed2(s.width)));
  }
  if (first.shape == "skew") r.skews = r.widths;
  r.shape = first.shape;
  if (first.shape == "skewtail") r.widthopt = "given";
  r.order = first.order;
  r.calibration = tavrick::results::Calibration{"keV", sp.poly};
}

}  // namespace

bool parse_calibration(std::string_view text, std::vector<double>& poly, std::string& why) {
  poly.clear();
  std::vector<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string s; in >> s;) words.push_back(s);
  if (words.size() < 4 || words[0] != "POLY") {
    why = "energy calibration is no polynomial with a gain";
    return false;
  }
  double scale = 0.0;
  if (words[1] == "keV" || words[1] == "-") scale = 1.0;
  if (words[1] == "MeV") scale = 1000.0;
  if (words[1] == "eV") scale = 0.001;
  if (scale == 0.0) {
    why = "energy calibration in unit '" + words[1] + "'";
    return false;
  }
  for (std::size_t i = 2; i < words.size(); ++i) {
    double c = 0.0;
    if (!to_real(words[i], c)) {
      why = "energy calibration coefficient '" + words[i] + "' is no number";
      poly.clear();
      return false;
    }
    poly.push_back(c * scale);
  }
  if (poly[1] == 0.0) {
    why = "energy calibration has gain 0";
    poly.clear();
    return false;
  }
  return true;
}

bool calibrated_fwhm(const Spectrum& sp, double ch, double& width, std::string& why) {
  spectrum::FwhmCalibration cal;
  const int read = spectrum::parse_fwhm_calibration(sp.fwhm_text, cal);
  // No text, or all coefficients 0 (what some files carry for none).
  if (sp.fwhm_text.find_first_not_of(" \t") == std::string::npos ||
      (read == 0 && std::all_of(cal.coefficients.begin(), cal.coefficients.end(),
                                [](double c) { return c == 0.0; }))) {
    why = "no fwhm given for the line and no FWHM calibration";
    return false;
  }
  if (read != 0) {
    why = "FWHM calibration is not 'FWHM <unit> CH|SQRTE c0 c1 ...'";
    return false;
  }
  double scale = 0.0;  // to keV
  if (cal.unit == "keV") scale = 1.0;
  if (cal.unit == "MeV") scale = 1000.0;
  if (cal.unit == "eV") scale = 0.001;
  if (!cal.in_channels() && scale == 0.0) {
    why = "FWHM calibration in unit '" + cal.unit + "'";
    return false;
  }
  const bool by_energy = cal.variable == spectrum::FwhmCalibration::Variable::SqrtEnergy;
  const double f = cal.fwhm(ch, by_energy ? &sp.energy_cal : nullptr);
  width = cal.in_channels() ? f : f * scale / slope_at(sp.poly, ch);
  if (!(width > 0.0) || !std::isfinite(width)) {
    why = "FWHM calibration gives no width above 0 at channel " + fixed2(ch);
    return false;
  }
  return true;
}

double energy_at(const std::vector<double>& poly, double ch) {
  double e = 0.0;
  for (auto c = poly.rbegin(); c != poly.rend(); ++c) e = e * ch + *c;
  return e;
}

double slope_at(const std::vector<double>& poly, double ch) {
  double d = 0.0;
  for (std::size_t i = poly.size(); i-- > 1;) d = d * ch + static_cast<double>(i) * poly[i];
  return d;
}

bool channel_of(const std::vector<double>& poly, double e, double& ch) {
  if (poly.size() < 2) return false;
  ch = (e - poly[0]) / poly[1];
  for (int it = 0; it < 100; ++it) {
    const double d = slope_at(poly, ch);
    if (!(d > 0.0)) return false;
    const double step = (energy_at(poly, ch) - e) / d;
    ch -= step;
    if (!std::isfinite(ch)) return false;
    if (std::abs(step) < 1e-9) return slope_at(poly, ch) > 0.0;
  }
  return false;
}

std::vector<Work> plan(const std::vector<Spectrum>& spectra, const std::vector<Line>& lines) {
  std::vector<int> by_energy(lines.size());
  std::iota(by_energy.begin(), by_energy.end(), 0);
  std::stable_sort(by_energy.begin(), by_energy.end(), [&](int a, int b) {
    return lines[static_cast<std::size_t>(a)].energy < lines[static_cast<std::size_t>(b)].energy;
  });
  std::vector<int> order(spectra.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return spectra[static_cast<std::size_t>(a)].name < spectra[static_cast<std::size_t>(b)].name;
  });

  std::vector<Work> out;
  for (int si : order) {
    const Spectrum& sp = spectra[static_cast<std::size_t>(si)];
    const auto fail_each = [&](const std::string& status, const std::string& reason) {
      for (int li : by_energy) {
        Work w;
        w.spectrum = si;
        w.lines = {li};
        w.key = sp.name + '\n' + lines[static_cast<std::size_t>(li)].energy_text;
        w.status = status;
        w.reason = reason;
        out.push_back(std::move(w));
      }
    };
    if (sp.rows != 0) {
      fail_each("not_1d", "spectrum is not one-dimensional");
      continue;
    }
    if (sp.poly.empty()) {
      fail_each("no_calibration", sp.no_cal.empty() ? "no energy calibration" : sp.no_cal);
      continue;
    }
    // Each line's channel and window; lines that cannot be placed are fits
    // of their own that fail.
    std::vector<Span> spans;
    std::vector<Work> single;
    for (int li : by_energy) {
      const Line& l = lines[static_cast<std::size_t>(li)];
      Work w;
      w.spectrum = si;
      w.lines = {li};
      w.key = sp.name + '\n' + l.energy_text;
      Span s;
      s.line = li;
      const double last = static_cast<double>(sp.base) + sp.size - 1;
      if (!channel_of(sp.poly, l.energy, s.ch)) {
        w.status = "bad_calibration";
        w.reason = "energy calibration does not reach " + l.energy_text + " keV";
      } else if (s.ch < sp.base || s.ch > last) {
        w.status = "outside";
        w.reason = "channel " + fixed2(s.ch) + " lies outside the spectrum (" +
                   std::to_string(sp.base) + ".." + std::to_string(sp.base + sp.size - 1) + ")";
      } else if (!l.fwhm && !calibrated_fwhm(sp, s.ch, s.width, w.reason)) {
        w.status = "no_fwhm";
      } else {
        if (l.fwhm) s.width = *l.fwhm / slope_at(sp.poly, s.ch);
        const double half = l.width_fwhm * s.width;
        s.lo = static_cast<long long>(std::floor(std::max(s.ch - half, -1e15)));
        s.hi = static_cast<long long>(std::ceil(std::min(s.ch + half, 1e15)));
        spans.push_back(s);
        continue;
      }
      single.push_back(std::move(w));
    }
    // Groups: overlapping windows (spans are by energy, so by channel) and
    // shared group names, joined by union-find.
    std::vector<std::size_t> parent(spans.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto find = [&](std::size_t i) {
      while (parent[i] != i) i = parent[i] = parent[parent[i]];
      return i;
    };
    std::map<std::string, std::size_t> named;
    long long reach = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      if (i > 0 && spans[i].lo <= reach) parent[find(i)] = find(i - 1);
      reach = i == 0 ? spans[i].hi : std::max(reach, spans[i].hi);
      const std::string& g = lines[static_cast<std::size_t>(spans[i].line)].group;
      if (g.empty()) continue;
      const auto [it, fresh] = named.emplace(g, i);
      if (!fresh) parent[find(i)] = find(it->second);
    }
    std::map<std::size_t, std::vector<Span>> groups;
    for (std::size_t i = 0; i < spans.size(); ++i) groups[find(i)].push_back(spans[i]);
    for (auto& [root, members] : groups) {
      Work w;
      w.spectrum = si;
      for (const auto& m : members) w.lines.push_back(m.line);
      w.key = sp.name + '\n' + lines[static_cast<std::size_t>(members.front().line)].energy_text;
      build(sp, lines, members, w);
      single.push_back(std::move(w));
    }
    // By the first line's place in energy order.
    std::vector<int> rank(lines.size());
    for (std::size_t i = 0; i < by_energy.size(); ++i)
      rank[static_cast<std::size_t>(by_energy[i])] = static_cast<int>(i);
    std::sort(single.begin(), single.end(), [&](const Work& a, const Work& b) {
      return rank[static_cast<std::size_t>(a.lines.front())] <
             rank[static_cast<std::size_t>(b.lines.front())];
    });
    for (auto& w : single) out.push_back(std::move(w));
  }
  return out;
}

std::uint64_t fnv1a(std::string_view s) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

bool in_shard(const Work& w, int k, int n) {
  return fnv1a(w.key) % static_cast<std::uint64_t>(n) == static_cast<std::uint64_t>(k - 1);
}

bool parse_shard(std::string_view text, int& k, int& n, std::string& why) {
  const auto slash = text.find('/');
  const auto num = [](std::string_view s, int& v) {
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && s.front() != '-' && r.ec == std::errc() && r.ptr == s.data() + s.size();
  };
  if (slash == std::string_view::npos || !num(text.substr(0, slash), k) ||
      !num(text.substr(slash + 1), n)) {
    why = "--shard: '" + std::string(text) + "' is not K/N";
    return false;
  }
  if (n < 1 || k < 1 || k > n) {
    why = "--shard: '" + std::string(text) + "' needs 1 <= K <= N";
    return false;
  }
  return true;
}

std::string command_line(const std::vector<std::string>& args) {
  std::string out;
  for (const auto& a : args) {
    if (!out.empty()) out += ' ';
    const bool plain = !a.empty() && a.find_first_not_of(
                                         "abcdefghijklmnopqrstuvwxyz"
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789_-+./:=,@%") == std::string::npos;
    if (plain) {
      out += a;
      continue;
    }
    out += '\'';
    for (const char c : a) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += '\'';
  }
  return out;
}

}  // namespace batch
