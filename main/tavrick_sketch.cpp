// tavrick-sketch: fits a spectrum as tavrick does and writes a plot script of
// the fit on standard output.
//
// It takes every option of tavrick, read and checked the same way, and:
//   -sketchfit N       0: draw the spectrum only; otherwise (the default, 1)
//                      the fitted curves, the markers and the result text too
//   -sketchlog N       not 0: logarithmic count axis (default 0)
//   -sketchmarks X...  channels marked by vertical lines (up to 30)
//   -sketchlist FILE   where the fit's own listing goes (default standard error)
//   -sketchformat W    script (the default): the plot script; svg: a
//                      standalone SVG picture of the same fit
//   -results FILE      also write the results of the fit to FILE (.json or .csv)
// Every error writes its one-line message where the listing goes and ends the
// process with status 8.
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "main/args.h"
#include "main/fetch.h"
#include "main/options.h"
#include "main/results_out.h"
#include "main/settings.h"
#include "plot/peaks.h"
#include "plot/sketch.h"
#include "plot/svg.h"
#include "spectrum/host.h"

namespace {

constexpr const char* kUsage =
    "usage: tavrick-sketch TAVRICK-OPTIONS [-sketchfit N] [-sketchlog N] [-sketchmarks X...]\n"
    "                      [-sketchlist FILE] [-sketchformat script|svg]\n"
    "                      [-results FILE.json|FILE.csv]\n"
    "       tavrick-sketch --help | --version\n"
    "\n"
    "Fits as tavrick does (see tavrick --help for its options) and writes a plot\n"
    "script of the fit on standard output.\n"
    "\n"
    "  -sketchfit N        0: draw the spectrum only (default 1)\n"
    "  -sketchlog N        not 0: logarithmic count axis (default 0)\n"
    "  -sketchmarks X...   channels marked by vertical lines (up to 30)\n"
    "  -sketchlist FILE    where the fit's listing goes (default standard error)\n"
    "  -sketchformat W     script (default): the plot script; svg: an SVG picture\n"
    "  -results FILE       also write the results to FILE (.json or .csv)\n"
    "\n"
    "Exit status 0 on success, 8 after an error (one line where the listing goes).\n";

using tavrick::Args;
using tavrick::crash;

// The sketch's own options, after tavrick's.
struct SketchOptions {
  int fitflag = 1;
  int logflag = 0;
  std::array<double, tavrick::kMaxPeaks> marks{};
  int nmarks = 0;
  bool svg = false;
};

// An integer option: dflt when absent, the command stops when the value is
// no integer.
int int_option(Args& args, const char* name, int dflt, const std::string& bad, std::FILE* msg) {
  std::int32_t v = 0;
  const int st = args.intin(name, v);
  if (st == -1) return dflt;
  if (st != 0) crash(bad, msg);
  return v;
}

void sketch_options(Args& args, SketchOptions& o, std::FILE* msg) {
  o.fitflag = int_option(args, "sketchfit", 1, "bad SKETCHFIT argument", msg);
  o.logflag = int_option(args, "sketchlog", 0, "bad SKETCHLOG argument", msg);
  // Marker positions: numbers after the option name up to the first that is
  // not one, like the peak guesses.
  float v = 0.0f;
  while (args.rlin("sketchmarks", v) == 0) {
    if (o.nmarks == tavrick::kMaxPeaks) crash("too many SKETCHMARKS (max of 30)", msg);
    o.marks[static_cast<std::size_t>(o.nmarks++)] = static_cast<double>(v);
  }
  // The output's form, a word as the other word options take it: exact, no
  // abbreviation.
  std::array<char, tavrick::kWordLen> w{};
  int len = 0;
  if (args.txtin("sketchformat", w, len) == 0) {
    const std::string word(w.data(),
                           static_cast<std::size_t>(std::clamp(len, 0, tavrick::kWordLen)));
    if (word == "svg") {
      o.svg = true;
    } else if (word != "script") {
      crash("bad SKETCHFORMAT argument (script|svg)" + word, msg);
    }
  }
}

// The spectrum's energy calibration (number 1) when it is a polynomial with a
// scale; nothing otherwise, and then the picture has no energy axis.
void energy_scale(spectrum::Host& host, const tavrick::Settings& s, tavrick::SvgPlot& p) {
  spectrum::Ident id{};
  int status = 0;
  host.sname(id, s.name.data(), s.namelen, status);
  if (status != 0) return;
  std::array<char, spectrum::kCalLen> text{};
  int len = spectrum::kCalLen;
  host.srcal(id, text.data(), len, status);
  if (status != 0) return;
  tavrick::parse_poly(std::string_view(text.data(), static_cast<std::size_t>(
                                                        std::clamp(len, 0, spectrum::kCalLen))),
                      p.energy, p.unit);
}

// The listing stream: the file named by -sketchlist, else standard error.
std::FILE* open_listing(Args& args) {
  std::array<char, tavrick::kArgLen + 1> path{};
  int len = 0;
  if (args.txtin("sketchlist", std::span<char>(path.data(), tavrick::kArgLen), len) != 0) {
    return stderr;
  }
  path[static_cast<std::size_t>(len)] = '\0';
  std::FILE* f = std::fopen(path.data(), "w");
  if (f == nullptr) {
    crash("can't open SKETCHLIST file: " + std::string(path.data()) + ": " + std::strerror(errno),
          stderr);
  }
  return f;
}

int sketch_command(int argc, char** argv, std::FILE*& listing) {
  Args args(argc, argv);
  listing = open_listing(args);
  if (args.too_many()) crash(tavrick::kTooManyArgs, listing);
  tavrick::Settings settings;
  tavrick::options(args, settings, listing);
  SketchOptions opt;
  sketch_options(args, opt, listing);
  tavrick::ResultsOut results;
  results.option(args, listing);

  spectrum::Host host;
  const auto run = std::make_unique<tavrick::Run>();
  tavrick::fetch(settings, host, *run, listing);
  results.before_fit(settings);
  tavrick::fit(settings, *run, listing);
  tavrick::list(*run, listing);

  const tavrick::KorvelArgs& k = run->k;
  const std::string name(settings.name.data(), static_cast<std::size_t>(settings.namelen));
  const std::string window = "Channels " + std::to_string(k.ilo) + " to " + std::to_string(k.ihi);
  tavrick::SketchArgs a;
  a.spec = run->spec.data();
  a.title1 = name;
  a.title2 = window;
  a.ilo = k.ilo;
  a.ihi = k.ihi;
  a.npeaks = k.npeaks;
  a.nbak = k.nbak;
  a.dotted = run->bkgrd.data();
  a.dotdash = run->fit.data();
  a.res = &run->res;
  a.chisq = run->res.chisq;
  a.markers = std::span<const double>(opt.marks.data(), static_cast<std::size_t>(opt.nmarks));
  a.iskew = k.iskew;
  a.ilor = k.ilor;
  a.germanium = k.hpge != nullptr;
  a.high = k.hpge != nullptr && k.hpge->high;
  a.logflag = opt.logflag;
  a.fitflag = opt.fitflag;
  if (opt.svg) {
    tavrick::SvgPlot p;
    p.sketch = a;
    p.peaks =
        tavrick::peak_terms(run->res, k.npeaks, k.ilo, k.ihi, k.iskew, k.ilor, k.hpge != nullptr);
    energy_scale(host, settings, p);
    tavrick::svg(p, stdout);
  } else {
    tavrick::sketch(a, stdout);
  }
  // A results file that cannot be written is an error like any other: its
  // line goes where the listing goes.
  results.after_fit(host, *run, listing);

  // A script or listing cut short (a full disk, a closed pipe) must not pass
  // for a complete one. The message goes where the listing goes while that
  // still works.
  const bool script_ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  bool list_ok = std::fflush(listing) == 0 && std::ferror(listing) == 0;
  if (!script_ok && list_ok) {
    std::fputs("tavrick-sketch: error writing standard output\n", listing);
    list_ok = std::fflush(listing) == 0;
  }
  if (listing != stderr && std::fclose(listing) != 0) list_ok = false;
  if (!list_ok) std::fputs("tavrick-sketch: error writing the listing\n", stderr);
  if (!script_ok || !list_ok) return 8;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (tavrick::help_or_version(argc, argv, "tavrick-sketch", kUsage)) return 0;
  // Closed pipes show up as failed writes (EPIPE), not as a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE* listing = stderr;
  try {
    return sketch_command(argc, argv, listing);
  } catch (const std::bad_alloc&) {
    crash("out of memory", listing);
  }
}
