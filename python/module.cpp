// The native part of the Python module: fits of counts a caller holds, and
// the spectrum store, on the engine the tavrick command uses. The package's
// __init__.py checks and converts the arguments and wraps the results.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "results/file.h"
#include "results/fit.h"
#include "results/record.h"
#include "spectrum/host.h"

namespace py = pybind11;
namespace res = tavrick::results;

namespace {

using Counts = py::array_t<double, py::array::c_style>;

// One workspace per thread, made on the thread's first fit: fits on
// different threads never share one.
res::FitWorkspace& workspace() {
  thread_local res::FitWorkspace ws;
  return ws;
}

py::array_t<double> copy(std::span<const double> v) {
  py::array_t<double> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

// The engine's report, collected in memory when asked for.
class Report {
 public:
  explicit Report(bool wanted) {
    if (wanted) {
      file_ = open_memstream(&buf_, &len_);
      if (file_ == nullptr) throw std::bad_alloc();
    }
  }
  ~Report() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(buf_);
  }
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;
  std::FILE* file() const { return file_; }
  py::object text() {
    if (file_ == nullptr) return py::none();
    std::fclose(file_);
    file_ = nullptr;
    return py::str(buf_ != nullptr ? buf_ : "", len_);
  }

 private:
  std::FILE* file_ = nullptr;
  char* buf_ = nullptr;
  std::size_t len_ = 0;
};

// Runs req with the interpreter released; a refused request raises
// ValueError with the command's message. Returns (json, channels, counts,
// background, fit curve, report).
py::tuple run(const res::FitRequest& req, bool report) {
  Report rep(report);
  res::Record rec;
  std::string err;
  res::FitWorkspace& ws = workspace();
  {
    py::gil_scoped_release unlocked;
    err = res::fit(req, ws, rec, rep.file());
  }
  if (!err.empty()) throw py::value_error(err);
  py::array_t<double> channels(static_cast<py::ssize_t>(ws.curve().size()));
  for (py::ssize_t i = 0; i < channels.size(); ++i) {
    channels.mutable_data()[i] = static_cast<double>(ws.first() + i);
  }
  return py::make_tuple(res::to_json(rec), channels, copy(ws.counts()), copy(ws.background()),
                        copy(ws.curve()), rep.text());
}

std::optional<res::Calibration> calibration_of(const py::object& cal) {
  if (cal.is_none()) return std::nullopt;
  if (py::isinstance<py::str>(cal)) {
    auto c = res::parse_calibration(cal.cast<std::string>());
    if (!c)
      throw py::value_error("bad CALIBRATION argument (POLY unit c0 c1 ...): " +
                            cal.cast<std::string>());
    return c;
  }
  res::Calibration c;
  c.coefficients = cal.cast<std::vector<double>>();
  return c;
}

struct Options {
  std::string spectrum;
  int first = 0, last = 0;
  std::vector<double> peaks, widths, skews;
  std::string shape, widthopt, peakopt;
  int order = 2;
  int search = 10;
  std::string weights = "data";
  // The germanium shape's -tail, -step, -hightail and -hold; unset: not given.
  std::optional<std::array<double, 2>> tail, hightail;
  std::optional<double> step;
  std::vector<std::string> hold;
};

// The germanium shape's settings as the command reads them: R 10, BETA half
// the first width and STEP 0.25 unless given, each value through single
// precision; a hold word that is none of the parameters is refused with the
// command's message.
std::optional<tavrick::hpge::Config> germanium(const Options& o) {
  if (!o.tail && !o.hightail && !o.step && o.hold.empty()) return std::nullopt;
  if (o.shape != "hpge") throw py::value_error("TAIL, STEP, HIGHTAIL and HOLD need SHAPE=hpge");
  tavrick::hpge::Config c;
  const auto single = [](double v) { return static_cast<double>(static_cast<float>(v)); };
  const double width = o.widths.empty() ? 0.0 : single(o.widths[0]);
  c.start = {10.0, 0.5 * width, 0.25, 0.0, 0.0};
  if (o.tail) c.start.r = (*o.tail)[0], c.start.beta = (*o.tail)[1];
  if (o.step) c.start.step = *o.step;
  if (o.hightail) c.start.rh = (*o.hightail)[0], c.start.betah = (*o.hightail)[1], c.high = true;
  for (const std::string& w : o.hold) {
    if (w == "r")
      c.holdr = true;
    else if (w == "beta")
      c.holdbeta = true;
    else if (w == "step")
      c.holdstep = true;
    else if (w == "rh")
      c.holdrh = true;
    else if (w == "betah")
      c.holdbetah = true;
    else
      throw py::value_error("bad HOLD argument (r|beta|step|rh|betah)" + w);
  }
  return c;
}

res::FitRequest request(const Options& o) {
  res::FitRequest r;
  r.spectrum = o.spectrum;
  r.lo = o.first;
  r.hi = o.last;
  r.peaks = o.peaks;
  r.widths = o.widths;
  r.skews = o.skews;
  r.shape = o.shape;
  r.widthopt = o.widthopt;
  r.peakopt = o.peakopt;
  r.order = o.order;
  r.search = o.search;
  r.weights = o.weights;
  r.hpge = germanium(o);
  return r;
}

py::tuple fit_counts(
    const Counts& counts, int base, const Options& o, const py::object& cal, bool report) {
  if (counts.ndim() != 1) throw py::value_error("COUNTS must be a 1-D array");
  res::FitRequest r = request(o);
  r.counts = std::span<const double>(counts.data(), static_cast<std::size_t>(counts.size()));
  r.first_channel = base;
  r.calibration = calibration_of(cal);
  return run(r, report);
}

// A store file, read the way the tavrick command reads it.
class Store {
 public:
  explicit Store(const std::string& path) : host_(path) {
    int status = 0;
    host_.sexpt(status);
    if (status != 0) fail();
  }

  py::list spectra() {
    std::vector<spectrum::Summary> all;
    int status = 0;
    host_.list(all, status);
    if (status != 0) fail();
    py::list out;
    for (const auto& s : all) out.append(info(s));
    return out;
  }

  // What the store holds about the named spectrum.
  py::dict inquire(const std::string& name) {
    spectrum::Summary s;
    int status = 0;
    host_.inquire(ident(name), s, status);
    if (status != 0) fail();
    return info(s);
  }

  // Channel of the first count and the counts of a 1-D spectrum.
  py::tuple counts(const std::string& name) {
    int status = 0;
    host_.snapshot(status);
    if (status != 0) fail();
    struct Release {
      spectrum::Host& h;
      ~Release() { h.release(); }
    } release{host_};
    const spectrum::Ident id = ident(name);
    int base = 0, size = 0, rowbase = 0, rows = 0, kind = 0;
    host_.sinq(id, base, size, rowbase, rows, kind, status);
    if (status != 0) fail();
    if (rows != 0) throw py::value_error("spectrum not 1d: " + name);
    py::array_t<std::int32_t> a(size);
    if (size > 0) {
      host_.sread(id, base, size, 0, 0, a.mutable_data(), 4, status);
      if (status != 0) fail();
    }
    return py::make_tuple(base, a);
  }

  // Calibration 1 as its text; None when there is none.
  py::object calibration(const std::string& name) {
    const spectrum::Ident id = ident(name);
    std::array<char, spectrum::kCalLen> text;
    int len = spectrum::kCalLen;
    int status = 0;
    host_.srcal(id, text.data(), len, status);
    if (status == spectrum::kNoCalibration) return py::none();
    if (status != 0) fail();
    return py::str(text.data(), static_cast<std::size_t>(std::clamp(len, 0, spectrum::kCalLen)));
  }

  // The fit the tavrick command makes of the named spectrum.
  py::tuple fit(const Options& o, bool report) {
    res::FitRequest r = request(o);
    const std::string err = res::check_options(r);
    if (!err.empty()) throw py::value_error(err);
    const py::tuple bc = counts(o.spectrum);
    const auto ints = bc[1].cast<py::array_t<std::int32_t>>();
    std::vector<double> values(ints.data(), ints.data() + ints.size());
    r.counts = values;
    r.first_channel = bc[0].cast<int>();
    // Energies come from calibration 1 when it is a polynomial.
    const py::object cal = calibration(o.spectrum);
    if (!cal.is_none()) r.calibration = res::parse_calibration(cal.cast<std::string>());
    return run(r, report);
  }

 private:
  // A spectrum's fields; the times in seconds, None when the store has none.
  static py::dict info(const spectrum::Summary& s) {
    const auto seconds = [](const std::optional<double>& t) -> py::object {
      return t ? py::object(py::float_(*t)) : py::object(py::none());
    };
    py::dict d;
    d["name"] = s.name;
    d["title"] = s.title;
    d["label"] = s.label;
    d["base"] = s.base;
    d["size"] = s.size;
    d["rows"] = s.rows;
    d["total"] = s.total;
    d["live_time"] = seconds(s.live_time);
    d["real_time"] = seconds(s.real_time);
    return d;
  }

  spectrum::Ident ident(const std::string& name) {
    spectrum::Ident id{};
    int status = 0;
    host_.sname(id, name.data(), static_cast<int>(name.size()), status);
    if (status == spectrum::kNoSuchName) throw py::key_error("spectrum not found: " + name);
    if (status != 0) fail();
    return id;
  }
  [[noreturn]] void fail() { throw std::runtime_error(host_.error()); }

  spectrum::Host host_;
};

}  // namespace

PYBIND11_MODULE(_tavrick, m) {
  m.doc() = "native part of the tavrick module";
  py::class_<Options>(m, "Options")
      .def(py::init<>())
      .def_readwrite("spectrum", &Options::spectrum)
      .def_readwrite("first", &Options::first)
      .def_readwrite("last", &Options::last)
      .def_readwrite("peaks", &Options::peaks)
      .def_readwrite("widths", &Options::widths)
      .def_readwrite("skews", &Options::skews)
      .def_readwrite("shape", &Options::shape)
      .def_readwrite("widthopt", &Options::widthopt)
      .def_readwrite("peakopt", &Options::peakopt)
      .def_readwrite("order", &Options::order)
      .def_readwrite("search", &Options::search)
      .def_readwrite("weights", &Options::weights)
      .def_readwrite("tail", &Options::tail)
      .def_readwrite("hightail", &Options::hightail)
      .def_readwrite("step", &Options::step)
      .def_readwrite("hold", &Options::hold);
  m.def("fit", &fit_counts, py::arg("counts"), py::arg("base"), py::arg("options"),
        py::arg("calibration"), py::arg("report"));
  py::class_<Store>(m, "Store")
      .def(py::init<const std::string&>())
      .def("spectra", &Store::spectra)
      .def("inquire", &Store::inquire)
      .def("counts", &Store::counts)
      .def("calibration", &Store::calibration)
      .def("fit", &Store::fit);
}
