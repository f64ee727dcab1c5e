// ANSI N42.42 XML, in its 2006 and 2012 schemas. Each spectrum becomes one
// Imported, named "<stem>_<detector>".
//   2006: root N42InstrumentData; Spectrum (attribute Detector) holding
//         RealTime, LiveTime (ISO-8601 durations), Calibration Type="Energy" /
//         Equation / Coefficients, Calibration Type="FWHM" (FWHMUnits
//         "Channels" or an energy unit; a polynomial of the channel), ChannelData
//         (Compression="CountedZeroes" allowed). A Calibration may also sit elsewhere, named by the
//         spectrum's CalibrationIDs, or beside the spectrum.
//   2012: root RadInstrumentData; RadMeasurement holding RealTimeDuration and
//         Spectrum elements (attributes radDetectorInformationReference,
//         energyCalibrationReference) with LiveTimeDuration and ChannelData
//         (compressionCode="CountedZeroes" allowed); EnergyCalibration
//         elements (attribute id) hold CoefficientValues.
// Element names are matched without their namespace prefix.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "tools/reader.h"

namespace tavrick::tools {

namespace {

std::string_view local_name(const pugi::xml_node& node) {
  std::string_view name = node.name();
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
  for (pugi::xml_node c : node.children()) {
    if (c.type() == pugi::node_element && local_name(c) == name) return c;
  }
  return {};
}

// Elements named `name` below `root`, in document order. Iterative, so that a
// deeply nested file cannot exhaust the stack.
void descendants(const pugi::xml_node& root,
                 std::string_view name,
                 std::vector<pugi::xml_node>& out) {
  pugi::xml_node node = root.first_child();
  while (node && node != root) {
    if (node.type() == pugi::node_element && local_name(node) == name) out.push_back(node);
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != root && !node.next_sibling()) node = node.parent();
    if (node != root) node = node.next_sibling();
  }
}

// Byte offset of a node in the file: an element's '<', a text's first character.
std::size_t where(const pugi::xml_node& node) {
  const std::ptrdiff_t offset = node.offset_debug();
  if (offset < 0) return 0;
  return static_cast<std::size_t>(offset) - (node.type() == pugi::node_element ? 1 : 0);
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && std::strchr(" \t\r\n", s.front()) != nullptr) s.remove_prefix(1);
  while (!s.empty() && std::strchr(" \t\r\n", s.back()) != nullptr) s.remove_suffix(1);
  return std::string(s);
}

// A word for a message: at most 24 characters, bytes outside printable ASCII
// shown as '?'.
std::string shown(std::string_view w) {
  std::string s;
  for (char c : w.substr(0, 24)) {
    const auto u = static_cast<unsigned char>(c);
    s += (u >= 32 && u < 127) ? c : '?';
  }
  if (w.size() > 24) s += "...";
  return s;
}

std::optional<double> to_double(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Whitespace-separated numbers of an element's text; `what` names them in errors.
std::vector<double> number_list(const pugi::xml_node& node,
                                const std::string& file,
                                const char* what) {
  std::vector<double> out;
  // Offsets inside the text are exact unless an entity precedes them.
  const pugi::xml_node text_node = node.first_child();
  const std::string_view text = node.child_value();
  std::size_t k = 0;
  while (k < text.size()) {
    while (k < text.size() && std::strchr(" \t\r\n", text[k]) != nullptr) ++k;
    const std::size_t start = k;
    while (k < text.size() && std::strchr(" \t\r\n", text[k]) == nullptr) ++k;
    if (k == start) break;
    const std::string_view word = text.substr(start, k - start);
    const auto value = to_double(word);
    if (!value) {
      const std::size_t at =
          text_node.type() == pugi::node_pcdata ? where(text_node) + start : where(node);
      fail_at_byte(file, at, std::string(what) + " '" + shown(word) + "' is not a number");
    }
    out.push_back(*value);
  }
  return out;
}

// ISO-8601 duration "PT[nH][nM]n.nS" (or a plain number of seconds) in seconds.
double seconds(const pugi::xml_node& node, const std::string& file) {
  const std::string text = trimmed(node.child_value());
  std::string_view s = text;
  if (const auto plain = to_double(s)) return *plain;
  auto bad = [&]() {
    fail_at_byte(file, where(node), "duration '" + shown(text) + "' is not PTnS");
  };
  if (s.substr(0, 2) != "PT") bad();
  s.remove_prefix(2);
  double total = 0.0;
  while (!s.empty()) {
    const std::size_t unit = s.find_first_of("HMS");
    if (unit == std::string_view::npos || unit == 0) bad();
    const auto value = to_double(s.substr(0, unit));
    if (!value || *value < 0.0) bad();
    total += *value * (s[unit] == 'H' ? 3600.0 : s[unit] == 'M' ? 60.0 : 1.0);
    s.remove_prefix(unit + 1);
  }
  return total;
}

[[noreturn]] void over_budget(const pugi::xml_node& node, const std::string& file) {
  fail_at_byte(
      file, where(node),
      "the import would hold more than " + std::to_string(kMaxImportTotal) + " channels in all");
}

std::int32_t to_count(double value, const pugi::xml_node& node, const std::string& file) {
  const double rounded = std::round(value);
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    fail_at_byte(file, where(node), "count " + number_text(value) + " is out of range");
  }
  return static_cast<std::int32_t>(rounded);
}

// Counts of a ChannelData element. With counted-zeroes compression a 0 is
// followed by the number of zero channels it stands for. budget is what is
// left of the channels one import may hold; the counts are taken from it.
std::vector<std::int32_t> channel_data(const pugi::xml_node& node,
                                       const std::string& file,
                                       std::size_t& budget) {
  std::string compression = node.attribute("Compression").value();
  if (compression.empty()) compression = node.attribute("compressionCode").value();
  const std::vector<double> values = number_list(node, file, "count");
  std::vector<std::int32_t> counts;
  if (compression.empty() || compression == "None") {
    counts.reserve(values.size());
    for (double v : values) counts.push_back(to_count(v, node, file));
  } else if (compression == "CountedZeroes") {
    // Two passes: the first checks every value and sums the length, so that
    // the counts are allocated once at their size (growing them would hold
    // up to twice that).
    std::size_t n = 0;
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (values[k] != 0.0) {
        to_count(values[k], node, file);
        ++n;
        continue;
      }
      if (k + 1 == values.size()) {
        fail_at_byte(file, where(node), "counted zeroes: a 0 ends the list without its run length");
      }
      const double run = values[++k];
      if (run < 1.0 || run != std::floor(run) ||
          run > static_cast<double>(kMaxImportChannels - n)) {
        fail_at_byte(file, where(node),
                     "counted zeroes: run length " + number_text(run) + " is not valid");
      }
      if (run > static_cast<double>(budget - std::min(budget, n))) over_budget(node, file);
      n += static_cast<std::size_t>(run);
    }
    counts.reserve(n);
    for (std::size_t k = 0; k < values.size(); ++k) {
      if (values[k] != 0.0)
        counts.push_back(to_count(values[k], node, file));
      else
        counts.insert(counts.end(), static_cast<std::size_t>(values[++k]), 0);
    }
  } else {
    fail_at_byte(file, where(node), "unknown compression '" + compression + "'");
  }
  if (counts.empty()) fail_at_byte(file, where(node), "spectrum has no channels");
  if (counts.size() > kMaxImportChannels) {
    fail_at_byte(file, where(node), "spectrum has too many channels");
  }
  if (counts.size() > budget) over_budget(node, file);
  budget -= counts.size();
  return counts;
}

// Elements by the value of one of their attributes; the first of equal values wins.
class Index {
 public:
  Index(const std::vector<pugi::xml_node>& nodes, const char* key) {
    for (const pugi::xml_node& n : nodes) by_.emplace(n.attribute(key).value(), n);
  }
  pugi::xml_node find(std::string_view id) const {
    const auto it = by_.find(id);
    return it == by_.end() ? pugi::xml_node() : it->second;
  }

 private:
  std::unordered_map<std::string_view, pugi::xml_node> by_;
};

bool energy_calibration_node(const pugi::xml_node& c) {
  return local_name(c) == "Calibration" &&
         std::string_view(c.attribute("Type").value()) == "Energy";
}

std::string energy_calibration(const std::vector<double>& coeffs) {
  const bool any = std::any_of(coeffs.begin(), coeffs.end(), [](double c) { return c != 0.0; });
  return any ? calibration_text(coeffs, "keV") : std::string();
}

// The FWHM calibration of a 2006 spectrum: a child of the spectrum, one it
// names in CalibrationIDs, or the first one beside it (found once per parent).
pugi::xml_node fwhm_calibration_of(const pugi::xml_node& sp,
                                   const Index& by_id,
                                   std::unordered_map<const void*, pugi::xml_node>& beside) {
  auto is_fwhm = [](const pugi::xml_node& c) {
    return local_name(c) == "Calibration" &&
           std::string_view(c.attribute("Type").value()) == "FWHM";
  };
  pugi::xml_node found;
  for (pugi::xml_node c : sp.children()) {
    if (is_fwhm(c)) found = c;
  }
  const std::string ids = sp.attribute("CalibrationIDs").value();
  std::size_t k = 0;
  while (!found && k < ids.size()) {
    const std::size_t end = std::min(ids.find(' ', k), ids.size());
    const pugi::xml_node c = by_id.find(std::string_view(ids).substr(k, end - k));
    if (c && is_fwhm(c)) found = c;
    k = end + 1;
  }
  if (!found) {
    const pugi::xml_node parent = sp.parent();
    const auto [it, fresh] = beside.try_emplace(parent.internal_object());
    if (fresh) {
      for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
        if (is_fwhm(c)) {
          it->second = c;
          break;
        }
      }
    }
    found = it->second;
  }
  return found;
}

struct Found {
  Imported spectrum;
  std::string detector;
};

void read_2006(const pugi::xml_node& root,
               const std::string& file,
               std::vector<Found>& out,
               std::size_t& budget) {
  std::vector<pugi::xml_node> calibrations;
  descendants(root, "Calibration", calibrations);
  const Index by_id(calibrations, "ID");
  // The energy calibration beside the spectra of one parent, found once per parent.
  std::unordered_map<const void*, pugi::xml_node> beside;
  std::unordered_map<const void*, pugi::xml_node> beside_fwhm;
  std::vector<pugi::xml_node> spectra;
  descendants(root, "Spectrum", spectra);
  std::string start;
  if (std::vector<pugi::xml_node> s; descendants(root, "StartTime", s), !s.empty()) {
    start = trimmed(s.front().child_value());
  }
  for (const pugi::xml_node& sp : spectra) {
    const pugi::xml_node data = child(sp, "ChannelData");
    if (!data) continue;
    Found f;
    f.detector = sp.attribute("Detector").value();
    f.spectrum.counts = channel_data(data, file, budget);
    if (const pugi::xml_node t = child(sp, "RealTime")) f.spectrum.real_time = seconds(t, file);
    if (const pugi::xml_node t = child(sp, "LiveTime")) f.spectrum.live_time = seconds(t, file);
    // The energy calibration: a child of the spectrum, or one it names.
    pugi::xml_node energy;
    for (pugi::xml_node c : sp.children()) {
      if (energy_calibration_node(c)) energy = c;
    }
    if (!energy) {
      const std::string ids = sp.attribute("CalibrationIDs").value();
      std::size_t k = 0;
      while (!energy && k < ids.size()) {
        const std::size_t end = std::min(ids.find(' ', k), ids.size());
        const pugi::xml_node c = by_id.find(std::string_view(ids).substr(k, end - k));
        if (c && std::string_view(c.attribute("Type").value()) == "Energy") energy = c;
        k = end + 1;
      }
    }
    // Or one beside the spectrum, shared by the spectra of its measurement.
    if (!energy) {
      const pugi::xml_node parent = sp.parent();
      const auto [it, fresh] = beside.try_emplace(parent.internal_object());
      if (fresh) {
        for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
          if (energy_calibration_node(c)) {
            it->second = c;
            break;
          }
        }
      }
      energy = it->second;
    }
    if (energy) {
      if (const pugi::xml_node coeffs = child(child(energy, "Equation"), "Coefficients")) {
        f.spectrum.calibration = energy_calibration(number_list(coeffs, file, "coefficient"));
      }
    }
    if (const pugi::xml_node fwhm = fwhm_calibration_of(sp, by_id, beside_fwhm)) {
      const pugi::xml_node equation = child(fwhm, "Equation");
      const std::string_view model = equation.attribute("Model").value();
      const pugi::xml_node coeffs = child(equation, "Coefficients");
      if (coeffs && (model.empty() || model == "Polynomial")) {
        std::string unit = fwhm.attribute("FWHMUnits").value();
        if (unit.empty() || unit == "Channels" || unit == "Channel") unit = "ch";
        // Files read before FWHM calibrations were kept still are: a malformed
        // one is left out rather than refusing the spectrum.
        try {
          f.spectrum.fwhm_calibration =
              fwhm_text(number_list(coeffs, file, "coefficient"), unit, false);
        } catch (const ReadError&) {
          f.spectrum.fwhm_calibration.clear();
        }
      }
    }
    std::string text = f.detector;
    if (const pugi::xml_node type = child(sp, "DetectorType")) {
      const std::string t = trimmed(type.child_value());
      if (!t.empty()) text += (text.empty() ? "" : " ") + t;
    }
    if (!start.empty()) text += (text.empty() ? "" : " ") + start;
    f.spectrum.title = text;
    out.push_back(std::move(f));
  }
}

void read_2012(const pugi::xml_node& root,
               const std::string& file,
               std::vector<Found>& out,
               std::size_t& budget) {
  std::vector<pugi::xml_node> calibrations;
  descendants(root, "EnergyCalibration", calibrations);
  const Index by_id(calibrations, "id");
  std::vector<pugi::xml_node> measurements;
  descendants(root, "RadMeasurement", measurements);
  for (const pugi::xml_node& m : measurements) {
    double real = -1.0;
    if (const pugi::xml_node t = child(m, "RealTimeDuration")) real = seconds(t, file);
    std::string start;
    if (const pugi::xml_node t = child(m, "StartDateTime")) start = trimmed(t.child_value());
    for (pugi::xml_node sp : m.children()) {
      if (local_name(sp) != "Spectrum") continue;
      const pugi::xml_node data = child(sp, "ChannelData");
      if (!data) continue;
      Found f;
      f.detector = sp.attribute("radDetectorInformationReference").value();
      f.spectrum.counts = channel_data(data, file, budget);
      f.spectrum.real_time = real;
      if (const pugi::xml_node t = child(sp, "LiveTimeDuration")) {
        f.spectrum.live_time = seconds(t, file);
      }
      const std::string_view ref = sp.attribute("energyCalibrationReference").value();
      if (const pugi::xml_node cal = by_id.find(ref); cal && !ref.empty()) {
        if (const pugi::xml_node coeffs = child(cal, "CoefficientValues")) {
          f.spectrum.calibration = energy_calibration(number_list(coeffs, file, "coefficient"));
        }
      }
      std::string text = f.detector;
      if (!start.empty()) text += (text.empty() ? "" : " ") + start;
      f.spectrum.title = text;
      out.push_back(std::move(f));
    }
  }
}

}  // namespace

std::vector<Imported> read_n42(Bytes data, const std::string& file, const ReadOptions& opt) {
  pugi::xml_document doc;
  // Line ends are kept as they are so that offsets inside texts stay exact.
  const pugi::xml_parse_result parsed =
      doc.load_buffer(data.data(), data.size(), pugi::parse_default & ~pugi::parse_eol);
  if (!parsed) {
    fail_at_byte(file, static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0)),
                 std::string("XML: ") + parsed.description());
  }
  const pugi::xml_node root = doc.document_element();
  std::vector<Found> found;
  std::size_t budget = opt.max_channels;
  if (local_name(root) == "N42InstrumentData") {
    read_2006(root, file, found, budget);
  } else if (local_name(root) == "RadInstrumentData") {
    read_2012(root, file, found, budget);
  } else {
    fail_at_byte(file, where(root),
                 "root element <" + std::string(root.name()) +
                     "> is not N42InstrumentData or RadInstrumentData");
  }
  if (found.empty()) fail_at_byte(file, where(root), "no spectrum with channel data");

  const std::string stem = file_stem(file);
  std::vector<Imported> out;
  std::unordered_set<std::string> names;
  // The next number to try after a name's base, so that many measurements of
  // one detector are numbered in one pass.
  std::unordered_map<std::string, int> next_number;
  std::vector<std::string> detectors;
  for (std::size_t k = 0; k < found.size(); ++k) {
    Found& f = found[k];
    detectors.push_back(f.detector);
    if (opt.detector && f.detector != *opt.detector) continue;
    // Detector names become part of a store name: keep letters, digits, '-' and '_'.
    std::string suffix = f.detector;
    for (char& c : suffix) {
      if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_') c = '_';
    }
    std::string name = suffix.empty() ? (found.size() == 1 ? stem : stem + "_" + std::to_string(k))
                                      : stem + "_" + suffix;
    // A detector measured more than once gets the measurement's number too:
    // the first free one from 2 (numbers once taken stay taken).
    if (names.count(name) != 0) {
      int& again = next_number.try_emplace(stem + "_" + suffix, 2).first->second;
      do {
        name = stem + "_" + suffix + "_" + std::to_string(again++);
      } while (names.count(name) != 0);
    }
    names.insert(name);
    Imported& s = f.spectrum;
    s.name = name;
    s.base = 0;
    s.size = static_cast<int>(s.counts.size());
    s.rows = 0;
    s.title = title_with_times(s.title, s.live_time, s.real_time);
    out.push_back(std::move(s));
  }
  if (out.empty()) {
    std::string list;
    for (const std::string& d : detectors) list += (list.empty() ? "" : ", ") + d;
    throw ReadError(file + ": no spectrum of detector '" + *opt.detector + "' (detectors: " + list +
                    ")");
  }
  return out;
}

}  // namespace tavrick::tools
