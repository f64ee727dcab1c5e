// Results files: JSON and CSV text, written whole or not at all.
#include "results/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tavrick::results {

namespace {

using Json = nlohmann::ordered_json;

// Not finite: null (JSON has no NaN or infinity).
Json num(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

Json nums(const std::vector<double>& v) {
  Json a = Json::array();
  for (double x : v) a.push_back(num(x));
  return a;
}

// name, name_error and name_error_scaled, in that order.
void measured(Json& j, const std::string& name, double v, double e, double es) {
  j[name] = num(v);
  j[name + "_error"] = num(e);
  j[name + "_error_scaled"] = num(es);
}

Json param_json(const ShapeParam& p) {
  return {{"value", num(p.value)},
          {"error", num(p.error)},
          {"error_scaled", num(p.error_scaled)},
          {"held", p.held}};
}

Json peak_json(const PeakRecord& p, bool skew, bool hpge) {
  Json j;
  j["start"] = num(p.start);
  j["start_fwhm"] = num(p.start_fwhm);
  if (skew) j["start_fwhm_low"] = num(p.start_fwhm_low);
  measured(j, "centroid", p.centroid, p.centroid_error, p.centroid_error_scaled);
  if (hpge) {
    measured(j, "position", p.position, p.position_error, p.position_error_scaled);
  }
  measured(j, "area", p.area, p.area_error, p.area_error_scaled);
  measured(j, "fwhm", p.fwhm, p.fwhm_error, p.fwhm_error_scaled);
  if (skew) {
    measured(j, "fwhm_high", p.fwhm_high, p.fwhm_high_error, p.fwhm_high_error_scaled);
    measured(j, "fwhm_low", p.fwhm_low, p.fwhm_low_error, p.fwhm_low_error_scaled);
  }
  measured(j, "height", p.height, p.height_error, p.height_error_scaled);
  j["energy"] = num(p.energy);
  j["energy_error"] = num(p.energy_error);
  j["fwhm_energy"] = num(p.fwhm_energy);
  j["fwhm_energy_error"] = num(p.fwhm_energy_error);
  return j;
}

bool is_skew(const Record& r) { return r.shape == "skew" || r.shape == "skewtail"; }

// The CSV text of a number: shortest round-trip form, empty when not finite.
std::string csv_num(double v) {
  if (!std::isfinite(v)) return {};
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  static_cast<void>(ec);
  return std::string(buf, end);
}

// A text field, quoted when it holds a separator, a quote or a line break.
std::string csv_text(std::string_view s) {
  if (s.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(s);
  std::string q = "\"";
  for (char c : s) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string errno_text(int err) { return std::strerror(err); }

}  // namespace

std::optional<Format> format_of(std::string_view path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return std::nullopt;
  }
  std::string ext(path.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "json") return Format::json;
  if (ext == "csv") return Format::csv;
  return std::nullopt;
}

std::string to_json(const Record& rec) {
  const bool skew = is_skew(rec);
  Json j;
  j["program"] = rec.program;
  j["version"] = rec.version;
  j["spectrum"] = rec.spectrum;
  j["arguments"] = rec.arguments;
  j["window"] = {{"first", rec.first}, {"last", rec.last}};
  j["channels"] = rec.channels;
  j["total"] = num(rec.total);
  j["shape"] = rec.shape;
  j["widthopt"] = rec.widthopt;
  j["peakopt"] = rec.peakopt;
  j["variant"] = rec.variant;
  j["status"] = status_name(rec.status);
  j["iterations"] = rec.iterations;
  j["chisq"] = num(rec.chisq);
  j["chisq_per_point"] = num(rec.chisq_per_point);
  j["chisq_per_dof"] = num(rec.chisq_per_dof);
  j["dof"] = rec.dof;
  j["free_parameters"] = rec.free_parameters;
  j["check"] = num(rec.check);
  if (rec.weights == "fit") {
    j["weights"] = "sqrt(fit), 1 for fits below 1";
  } else if (rec.weights == "poisson") {
    j["weights"] = "Poisson likelihood: chisq = 2 * sum(fit - count + count * ln(count / fit))";
  } else {
    j["weights"] = "sqrt(count), 1 for counts below 1";
  }
  j["search"] = rec.search;
  j["errors"] =
      "*_error from the covariance matrix with these weights; "
      "*_error_scaled = *_error * sqrt(chisq_per_dof)";
  if (rec.calibration) {
    j["calibration"] = {
        {"unit", rec.calibration->unit.empty() ? Json(nullptr) : Json(rec.calibration->unit)},
        {"coefficients", nums(rec.calibration->coefficients)}};
  } else {
    j["calibration"] = nullptr;
  }
  const BackgroundRecord& b = rec.background;
  j["background"] = {{"order", b.order},
                     {"origin", rec.first},
                     {"coefficients", nums(b.coefficients)},
                     {"errors", nums(b.errors)},
                     {"area", num(b.area)},
                     {"area_error", num(b.area_error)},
                     {"area_error_scaled", num(b.area_error_scaled)}};
  Json peaks = Json::array();
  for (const PeakRecord& p : rec.peaks) peaks.push_back(peak_json(p, skew, rec.hpge.has_value()));
  j["peaks"] = std::move(peaks);
  if (rec.hpge) {
    const HpgeRecord& h = *rec.hpge;
    Json t = {{"r", param_json(h.r)}, {"beta", param_json(h.beta)}, {"step", param_json(h.step)}};
    if (h.high) {
      t["rh"] = param_json(h.rh);
      t["betah"] = param_json(h.betah);
    }
    j["hpge"] = std::move(t);
  }
  return j.dump(2) + "\n";
}

std::string to_csv(const Record& rec) {
  std::vector<std::string> head{
      "program",       "version", "spectrum",        "first",    "last",
      "channels",      "total",   "shape",           "widthopt", "peakopt",
      "variant",       "status",  "iterations",      "chisq",    "chisq_per_point",
      "chisq_per_dof", "dof",     "free_parameters", "check",    "calibration_unit"};
  for (int i = 0; i <= 5; ++i) head.push_back("calibration_c" + std::to_string(i));
  head.insert(head.end(), {"background_order", "background_area", "background_area_error",
                           "background_area_error_scaled"});
  for (int i = 0; i <= 5; ++i) head.push_back("background_c" + std::to_string(i));
  for (int i = 0; i <= 5; ++i) head.push_back("background_c" + std::to_string(i) + "_error");
  head.insert(head.end(), {"peak",
                           "start",
                           "start_fwhm",
                           "start_fwhm_low",
                           "centroid",
                           "centroid_error",
                           "centroid_error_scaled",
                           "area",
                           "area_error",
                           "area_error_scaled",
                           "fwhm",
                           "fwhm_error",
                           "fwhm_error_scaled",
                           "fwhm_high",
                           "fwhm_high_error",
                           "fwhm_high_error_scaled",
                           "fwhm_low",
                           "fwhm_low_error",
                           "fwhm_low_error_scaled",
                           "height",
                           "height_error",
                           "height_error_scaled",
                           "energy",
                           "energy_error",
                           "fwhm_energy",
                           "fwhm_energy_error",
                           "arguments"});
  // The germanium shape's own values come after the arguments, so the
  // columns of the other shapes stay what they were: the Gaussian's centroid,
  // then each shape parameter (RH and BETAH empty without a high-side tail).
  static constexpr const char* kShapeParams[] = {"r", "beta", "step", "rh", "betah"};
  if (rec.hpge) {
    head.insert(head.end(), {"position", "position_error", "position_error_scaled"});
    for (const char* p : kShapeParams) {
      const std::string n = std::string("hpge_") + p;
      head.insert(head.end(), {n, n + "_error", n + "_error_scaled", n + "_held"});
    }
  }

  // The fit-wide fields every line repeats.
  std::vector<std::string> fit{rec.program,
                               rec.version,
                               rec.spectrum,
                               std::to_string(rec.first),
                               std::to_string(rec.last),
                               std::to_string(rec.channels),
                               csv_num(rec.total),
                               rec.shape,
                               rec.widthopt,
                               rec.peakopt,
                               rec.variant,
                               std::string(status_name(rec.status)),
                               std::to_string(rec.iterations),
                               csv_num(rec.chisq),
                               csv_num(rec.chisq_per_point),
                               csv_num(rec.chisq_per_dof),
                               std::to_string(rec.dof),
                               std::to_string(rec.free_parameters),
                               csv_num(rec.check),
                               rec.calibration ? rec.calibration->unit : std::string()};
  // Coefficients beyond the sixth do not fit the columns; the JSON form has all.
  for (std::size_t i = 0; i <= 5; ++i) {
    const bool has = rec.calibration && i < rec.calibration->coefficients.size();
    fit.push_back(has ? csv_num(rec.calibration->coefficients[i]) : std::string());
  }
  const BackgroundRecord& b = rec.background;
  fit.insert(fit.end(), {std::to_string(b.order), csv_num(b.area), csv_num(b.area_error),
                         csv_num(b.area_error_scaled)});
  for (std::size_t i = 0; i <= 5; ++i) {
    fit.push_back(i < b.coefficients.size() ? csv_num(b.coefficients[i]) : std::string());
  }
  for (std::size_t i = 0; i <= 5; ++i) {
    fit.push_back(i < b.errors.size() ? csv_num(b.errors[i]) : std::string());
  }
  std::string args;
  for (const auto& a : rec.arguments) args += (args.empty() ? "" : " ") + a;
  std::vector<std::string> shape;
  if (rec.hpge) {
    const HpgeRecord& h = *rec.hpge;
    for (const ShapeParam* p : {&h.r, &h.beta, &h.step, &h.rh, &h.betah}) {
      if ((p == &h.rh || p == &h.betah) && !h.high) {
        shape.insert(shape.end(), 4, std::string());
        continue;
      }
      shape.insert(shape.end(), {csv_num(p->value), csv_num(p->error), csv_num(p->error_scaled),
                                 p->held ? "true" : "false"});
    }
  }

  std::string out;
  const auto line = [&out](const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) out += ',';
      out += csv_text(fields[i]);
    }
    out += '\n';
  };
  line(head);
  int n = 0;
  for (const PeakRecord& p : rec.peaks) {
    std::vector<std::string> row = fit;
    const std::vector<double> v{p.start,
                                p.start_fwhm,
                                p.start_fwhm_low,
                                p.centroid,
                                p.centroid_error,
                                p.centroid_error_scaled,
                                p.area,
                                p.area_error,
                                p.area_error_scaled,
                                p.fwhm,
                                p.fwhm_error,
                                p.fwhm_error_scaled,
                                p.fwhm_high,
                                p.fwhm_high_error,
                                p.fwhm_high_error_scaled,
                                p.fwhm_low,
                                p.fwhm_low_error,
                                p.fwhm_low_error_scaled,
                                p.height,
                                p.height_error,
                                p.height_error_scaled,
                                p.energy,
                                p.energy_error,
                                p.fwhm_energy,
                                p.fwhm_energy_error};
    row.push_back(std::to_string(++n));
    for (double x : v) row.push_back(csv_num(x));
    row.push_back(args);
    if (rec.hpge) {
      for (double x : {p.position, p.position_error, p.position_error_scaled}) {
        row.push_back(csv_num(x));
      }
      row.insert(row.end(), shape.begin(), shape.end());
    }
    line(row);
  }
  return out;
}

std::string render(const Record& rec, Format f) {
  return f == Format::json ? to_json(rec) : to_csv(rec);
}

ResultsFile::~ResultsFile() { discard(); }

void ResultsFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
  }
}

std::string ResultsFile::fail(const std::string& what, int err) {
  discard();
  return "can't write RESULTS file: " + what + ": " + errno_text(err);
}

std::string ResultsFile::open(const std::string& path) {
  discard();
  path_ = path;
  // The temporary lies in the same folder, so the rename cannot cross file
  // systems and is atomic.
  temp_ = path + ".tmp-XXXXXX";
  std::vector<char> name(temp_.begin(), temp_.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return "can't write RESULTS file: " + path + ": " + errno_text(errno);
  temp_.assign(name.data());
  fd_ = fd;
  // mkstemp makes the file private; a results file is an ordinary one.
  if (::fchmod(fd_, 0644) != 0) return fail(path, errno);
  return {};
}

std::string ResultsFile::commit(std::string_view text) {
  if (fd_ < 0) return "can't write RESULTS file: " + path_ + ": not opened";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(path_, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  // On disk before it takes the name: after a crash the name holds the old
  // file or the whole new one.
  if (::fsync(fd_) != 0) return fail(path_, errno);
  if (::close(fd_) != 0) {
    fd_ = -1;
    const int err = errno;
    ::unlink(temp_.c_str());
    return "can't write RESULTS file: " + path_ + ": " + errno_text(err);
  }
  fd_ = -1;
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp_.c_str());
    return "can't write RESULTS file: " + path_ + ": " + errno_text(err);
  }
  // The rename itself lasts once the folder is synced.
  const auto slash = path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "."
                          : slash == 0               ? "/"
                                                     : path_.substr(0, slash);
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

std::string write_results(const std::string& path, const Record& rec) {
  const auto f = format_of(path);
  if (!f) return "bad RESULTS argument (.json|.csv): " + path;
  ResultsFile file;
  std::string err = file.open(path);
  if (!err.empty()) return err;
  return file.commit(render(rec, *f));
}

}  // namespace tavrick::results
