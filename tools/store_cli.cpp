// tavrick-store: subcommands over the host spectrum library.
//
// Every failure ends the command with one line "tavrick-store: <what>" on
// standard error and exit status 1; results go to standard output.
#include "tools/store_cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "spectrum/calibration.h"
#include "spectrum/host.h"
#include "tools/reader.h"

namespace tavrick::tools {

namespace {

// A failure the user can act on; its text is the whole message.
class UserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr const char* kUsage =
    "Usage: tavrick-store [--experiment PATH] COMMAND [ARGS]\n"
    "\n"
    "Fills and inspects a spectrum store (one experiment) for tavrick.\n"
    "\n"
    "Commands:\n"
    "  init                 create an empty store\n"
    "  import FILE...       import spectra from files\n"
    "  list                 one line per spectrum: name, id, channels, rows, total, title\n"
    "  show NAME            header, times and calibrations of a spectrum\n"
    "  export NAME          counts of a spectrum to standard output\n"
    "  calibrate NAME C...  set the energy (or FWHM) calibration of a spectrum\n"
    "  remove NAME          delete a spectrum\n"
    "  check                verify the store and the checksums of every spectrum\n"
    "  demo                 create or refresh a demo store from the bundled spectra\n"
    "  fits [NAME]          fit results stored by 'tavrick-batch --record'\n"
    "\n"
    "Options:\n"
    "  --experiment PATH    the store file (default: $TAVRICK_EXPERIMENT, else experiment.db)\n"
    "  -h, --help           this text; 'tavrick-store COMMAND --help' describes one command\n"
    "  --version            the version of tavrick-store (as the only argument)\n";

// What `tavrick-store COMMAND --help` prints.
constexpr const char* kInitHelp =
    "Usage: tavrick-store [--experiment PATH] init\n"
    "\n"
    "Creates an empty store at the experiment path. An existing file is never\n"
    "overwritten.\n";

constexpr const char* kImportHelp =
    "Usage: tavrick-store [--experiment PATH] import FILE... [--name N] [--format F]\n"
    "                     [--title T] [--detector D] [--replace]\n"
    "\n"
    "Imports the spectra of the files into an existing store, all or none: every\n"
    "file is read and checked before one transaction writes them.\n"
    "\n"
    "  --name N       name of the spectrum (only when the files hold exactly one);\n"
    "                 default: the file name without folders and extension, with a\n"
    "                 suffix per detector for multi-detector files\n"
    "  --format F     text, csv, matrix, spe (IAEA ASCII), chn, radware, cnf or n42;\n"
    "                 default: detected from the content, then the extension\n"
    "  --title T      title of every imported spectrum (default: from the file)\n"
    "  --detector D   N42 files: import only this detector\n"
    "  --replace      overwrite spectra of the same name (they keep their ids);\n"
    "                 without it an existing name is refused\n";

constexpr const char* kListHelp =
    "Usage: tavrick-store [--experiment PATH] list\n"
    "\n"
    "Lists the spectra, one line each: name, id, channels, rows, total counts, title.\n";

constexpr const char* kShowHelp =
    "Usage: tavrick-store [--experiment PATH] show NAME [--counts]\n"
    "\n"
    "Shows the header of a spectrum, its live and real time, its energy and FWHM\n"
    "calibrations decoded, and every calibration text.\n"
    "\n"
    "  --counts       also list the counts, as 'export --format text' does\n";

constexpr const char* kExportHelp =
    "Usage: tavrick-store [--experiment PATH] export NAME [--format text|csv] [--energy]\n"
    "\n"
    "Writes the counts of a spectrum to standard output.\n"
    "\n"
    "  --format text  'channel count' per line (default); a 2-D spectrum as one\n"
    "                 row per line (import it again with --format matrix)\n"
    "  --format csv   a header 'channel,count' and one 'channel,count' per line;\n"
    "                 a 2-D spectrum as 'row,channel,count'\n"
    "  --energy       add the energy of every channel by the spectrum's energy\n"
    "                 calibration: 'channel count energy' (text) or a column\n"
    "                 'energy' (csv); 2-D spectra only as csv\n";

constexpr const char* kCalibrateHelp =
    "Usage: tavrick-store [--experiment PATH] calibrate NAME [--fwhm] [--unit U] C0 C1 [C2 ...]\n"
    "\n"
    "Sets the energy calibration of a spectrum, E(ch) = C0 + C1*ch + C2*ch^2 + ...\n"
    "of the channel number ch, replacing the one it has (calibration 1, stored as\n"
    "'POLY <unit> C0 C1 ...').\n"
    "\n"
    "  --fwhm         set the FWHM calibration instead (calibration 2, stored as\n"
    "                 'FWHM <unit> CH C0 C1 ...'): the full width at half maximum\n"
    "                 of a peak at channel ch, FWHM(ch) = C0 + C1*ch + C2*ch^2 + ...\n"
    "  --unit U       the unit of E, or of the FWHM: one word; default keV for the\n"
    "                 energy, ch (channels) for the FWHM\n"
    "\n"
    "Coefficients are decimal numbers (negative ones too: -0.5); at least two, at\n"
    "most as many as fit the 256-character calibration text. The energy must depend\n"
    "on the channel (some coefficient after C0 not 0). Nothing is changed when any\n"
    "argument is refused.\n";

constexpr const char* kRemoveHelp =
    "Usage: tavrick-store [--experiment PATH] remove NAME\n"
    "\n"
    "Deletes a spectrum and its calibrations.\n";

constexpr const char* kCheckHelp =
    "Usage: tavrick-store [--experiment PATH] check\n"
    "\n"
    "Verifies the store: SQLite's integrity check and the checksum of every\n"
    "spectrum's counts and calibrations. Prints 'ok', or one line per problem and\n"
    "per damaged spectrum ('damaged: NAME'), and then fails.\n";

constexpr const char* kDemoHelp =
    "Usage: tavrick-store [--experiment PATH] demo\n"
    "\n"
    "Creates the store (or refreshes the spectra of an existing one) with the real\n"
    "spectra shipped in the repository's data folder.\n";

constexpr const char* kFitsHelp =
    "Usage: tavrick-store [--experiment PATH] fits [NAME] [--format csv|json]\n"
    "\n"
    "Lists the fit results 'tavrick-batch --record' stored, of spectrum NAME or of\n"
    "all spectra, in the order they were recorded: the record's id, time, program\n"
    "version and command, then every column of the tavrick-batch row.\n"
    "\n"
    "  --format csv   a header line and one line per result (default)\n"
    "  --format json  an array with one object per result, one per line\n";

// The files the demo imports, with their formats; every one must be there.
// data/ also holds radware_eu152_gf3.sto, a table of fit results that comes
// with radware_eu152_be.spe: not a spectrum, so not imported.
struct DemoFile {
  const char* file;
  Format format;
};

constexpr DemoFile kDemoFiles[] = {
    {"radware_eu152_be.spe", Format::RadwareSpe}, {"radware_demo_le.spe", Format::RadwareSpe},
    {"ortec_eu152_hpge.Chn", Format::Chn},        {"iaea_co60_lowres.spe", Format::IaeaSpe},
    {"iaea_cs137_lowres.spe", Format::IaeaSpe},   {"n42_2006_ba133_hpge_8det.n42", Format::N42},
    {"canberra_hpge_beach_bkg.cnf", Format::Cnf}, {"csv_csi_d3s_ba133_cs137.csv", Format::Csv},
};

// Arguments of one subcommand: words and options with values.
struct Args {
  std::vector<std::string> words;
  std::optional<std::string> name, format, title, detector;
  std::optional<std::string> unit;
  bool replace = false;
  bool counts = false;
  bool energy = false;
  bool fwhm = false;
  bool help = false;
};

// A number as calibrate takes it: decimal, finite, the whole word.
std::optional<double> number_of(const std::string& w) {
  const char* first = w.data();
  if (!w.empty() && w[0] == '+') ++first;
  double v = 0.0;
  const auto [p, ec] = std::from_chars(first, w.data() + w.size(), v);
  if (ec != std::errc() || p != w.data() + w.size() || first == w.data() + w.size() ||
      !std::isfinite(v))
    return std::nullopt;
  return v;
}

// A word that starts like a negative number ("-0.5", "-.5", "-1e3") is a
// value of calibrate, not an option.
bool looks_negative(const std::string& w) {
  return w.size() >= 2 && w[0] == '-' &&
         (std::isdigit(static_cast<unsigned char>(w[1])) != 0 || w[1] == '.');
}

// Parses the arguments after the subcommand; only the options it takes.
Args parse_args(const std::string& cmd,
                const std::vector<std::string>& in,
                std::span<const std::string_view> allowed) {
  Args a;
  auto allowed_option = [&](std::string_view o) {
    return std::find(allowed.begin(), allowed.end(), o) != allowed.end();
  };
  bool options = true;
  for (std::size_t i = 0; i < in.size(); ++i) {
    std::string arg = in[i];
    if (!options || arg.size() < 2 || arg[0] != '-' ||
        (cmd == "calibrate" && looks_negative(arg))) {
      a.words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options = false;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      a.help = true;
      continue;
    }
    std::optional<std::string> inline_value;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      inline_value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (!allowed_option(arg))
      throw UserError("unknown option '" + arg + "' for " + cmd + " (see 'tavrick-store " + cmd +
                      " --help')");
    if (arg == "--replace" || arg == "--counts" || arg == "--energy" || arg == "--fwhm") {
      if (inline_value) throw UserError("option " + arg + " takes no value");
      (arg == "--replace"  ? a.replace
       : arg == "--counts" ? a.counts
       : arg == "--energy" ? a.energy
                           : a.fwhm) = true;
      continue;
    }
    std::string value;
    if (inline_value) {
      value = *inline_value;
    } else {
      if (i + 1 >= in.size()) throw UserError("option " + arg + " needs a value");
      value = in[++i];
    }
    std::optional<std::string>* slot = arg == "--name"     ? &a.name
                                       : arg == "--format" ? &a.format
                                       : arg == "--title"  ? &a.title
                                       : arg == "--unit"   ? &a.unit
                                                           : &a.detector;
    if (*slot) throw UserError("option " + arg + " given twice");
    *slot = value;
  }
  return a;
}

void want_words(const std::string& cmd, const Args& a, std::size_t n, const char* what) {
  if (a.words.size() < n)
    throw UserError(cmd + " needs " + what + " (see 'tavrick-store " + cmd + " --help')");
  if (a.words.size() > n) throw UserError("unexpected argument '" + a.words[n] + "' for " + cmd);
}

std::string host_error(const spectrum::Host& host) { return host.error(); }

void connect(spectrum::Host& host) {
  int status = 0;
  host.sexpt(status);
  struct stat sb {};
  // Only a path with nothing there can be made a store by init.
  if (status == spectrum::kNoExperiment && ::stat(host.path().c_str(), &sb) != 0 && errno == ENOENT)
    throw UserError(host_error(host) + " (create it with 'tavrick-store init')");
  if (status == spectrum::kBusy)
    throw UserError("experiment '" + host.path() +
                    "' is locked by another program (gave up after waiting 5 s)");
  if (status != 0) throw UserError(host_error(host));
}

spectrum::Ident lookup(spectrum::Host& host, const std::string& name) {
  spectrum::Ident id;
  int status = 0;
  host.sname(id, name.data(), static_cast<int>(name.size()), status);
  if (status != 0) throw UserError(host_error(host));
  return id;
}

spectrum::Summary summary_of(spectrum::Host& host, const spectrum::Ident& id) {
  spectrum::Summary s;
  int status = 0;
  host.inquire(id, s, status);
  if (status != 0) throw UserError(host_error(host));
  return s;
}

std::vector<std::int32_t> counts_of(spectrum::Host& host, const spectrum::Summary& s) {
  std::vector<std::int32_t> v(static_cast<std::size_t>(s.size) *
                              static_cast<std::size_t>(std::max(s.rows, 1)));
  if (v.empty()) return v;
  int status = 0;
  host.sread(s.id, s.base, s.size, s.rowbase, s.rows, v.data(), 4, status);
  if (status != 0) throw UserError(host_error(host));
  return v;
}

// A text for one line of output or a title field: controls become blanks.
std::string one_line(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
  return s;
}

// A message for standard error: controls (a newline in a file or spectrum
// name) as \n, \t or \xHH, so that the message stays one line.
std::string escaped(std::string_view s) {
  std::string out;
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (u < 32 || u == 127) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// Cuts a title to the store's field, at a character boundary of UTF-8 text.
std::string fit_title(std::string t) {
  t = one_line(std::move(t));
  if (static_cast<int>(t.size()) <= spectrum::kTitleLen) return t;
  std::size_t n = static_cast<std::size_t>(spectrum::kTitleLen);
  while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xC0) == 0x80) --n;
  return t.substr(0, n);
}

std::vector<spectrum::NewSpectrum> to_store(std::vector<Imported>& read, const Args& a) {
  if (a.name && read.size() != 1)
    throw UserError("--name needs exactly one spectrum, but the files hold " +
                    std::to_string(read.size()));
  std::vector<spectrum::NewSpectrum> out;
  std::unordered_set<std::string_view> seen;
  for (const Imported& im : read)
    if (!a.name && !seen.insert(im.name).second)
      throw UserError("two spectra named '" + im.name + "' in one import");
  for (Imported& im : read) {
    spectrum::NewSpectrum s;
    s.name = a.name ? *a.name : im.name;
    s.title = fit_title(a.title ? *a.title : im.title);
    s.base = im.base;
    s.size = im.size;
    s.rows = im.rows;
    s.counts = std::move(im.counts);
    // Calibration 1 the energy, 2 the FWHM; an empty text stores nothing.
    if (!im.calibration.empty() || !im.fwhm_calibration.empty())
      s.calibrations.push_back(im.calibration);
    if (!im.fwhm_calibration.empty()) s.calibrations.push_back(im.fwhm_calibration);
    if (im.live_time >= 0.0) s.live_time = im.live_time;
    if (im.real_time >= 0.0) s.real_time = im.real_time;
    out.push_back(std::move(s));
  }
  return out;
}

void report_stored(const std::vector<spectrum::NewSpectrum>& spectra,
                   const std::vector<spectrum::Ident>& ids) {
  for (std::size_t i = 0; i < spectra.size() && i < ids.size(); ++i) {
    const auto& s = spectra[i];
    std::int64_t total = 0;
    for (auto c : s.counts) total += c;
    std::printf("imported '%s' (id %" PRId32 ", channels %d..%lld%s, total %lld)\n",
                one_line(s.name).c_str(), spectrum::ident_number(ids[i]), s.base,
                static_cast<long long>(s.base) + s.size - 1,
                s.rows > 0 ? (", " + std::to_string(s.rows) + " rows").c_str() : "",
                static_cast<long long>(total));
  }
}

void store_all(spectrum::Host& host,
               const std::vector<spectrum::NewSpectrum>& spectra,
               bool replace) {
  std::vector<spectrum::Ident> ids;
  int status = 0;
  host.store(spectra, replace, ids, status);
  if (status == spectrum::kNameInUse && !replace)
    throw UserError(host_error(host) + " (use --replace to overwrite it)");
  if (status != 0) throw UserError(host_error(host));
  report_stored(spectra, ids);
}

int cmd_init(spectrum::Host& host, const Args& a) {
  want_words("init", a, 0, "no arguments");
  int status = 0;
  host.create(status);
  if (status != 0) throw UserError(host_error(host));
  std::printf("created empty store '%s'\n", host.path().c_str());
  return 0;
}

int cmd_import(spectrum::Host& host, const Args& a) {
  if (a.words.empty())
    throw UserError("import needs at least one FILE (see 'tavrick-store import --help')");
  std::optional<Format> format;
  if (a.format) {
    format = parse_format(*a.format);
    if (!format)
      throw UserError("unknown format '" + *a.format +
                      "' (text, csv, matrix, spe, chn, radware, cnf, n42)");
  }
  ReadOptions opt;
  opt.detector = a.detector;
  // Read and check everything before the store is touched.
  std::vector<Imported> read;
  for (const std::string& file : a.words) {
    try {
      auto got = read_file(file, format, opt);
      // Every file draws on one allowance of channels for the whole import.
      for (auto& im : got) {
        if (im.counts.size() > opt.max_channels)
          throw UserError(file + ": the import would hold more than " +
                          std::to_string(kMaxImportTotal) + " channels in all");
        opt.max_channels -= im.counts.size();
        read.push_back(std::move(im));
      }
    } catch (const ReadError& e) {
      throw UserError(e.what());
    }
  }
  const auto spectra = to_store(read, a);
  connect(host);
  store_all(host, spectra, a.replace);
  return 0;
}

int cmd_list(spectrum::Host& host, const Args& a) {
  want_words("list", a, 0, "no arguments");
  connect(host);
  std::vector<spectrum::Summary> all;
  int status = 0;
  host.list(all, status);
  if (status != 0) throw UserError(host_error(host));
  std::size_t width = 4;
  for (const auto& s : all) width = std::max(width, s.name.size());
  std::printf("%-*s %10s %9s %6s %14s  %s\n", static_cast<int>(width), "NAME", "ID", "CHANNELS",
              "ROWS", "TOTAL", "TITLE");
  for (const auto& s : all) {
    // A damaged spectrum's total means nothing: it is marked instead.
    const std::string total = s.damaged ? "damaged" : std::to_string(s.total);
    std::printf("%-*s %10" PRId32 " %9d %6d %14s  %s\n", static_cast<int>(width),
                one_line(s.name.empty() ? "-" : s.name).c_str(), spectrum::ident_number(s.id),
                s.size, s.rows, total.c_str(), one_line(s.title).c_str());
  }
  return 0;
}

// Counts, with the energy of each channel when energy is given.
void write_counts(const spectrum::Summary& s,
                  const std::vector<std::int32_t>& v,
                  bool csv,
                  const spectrum::EnergyCalibration* energy = nullptr) {
  const std::string e_col = energy != nullptr ? ",energy" : "";
  if (csv) std::printf("%s%s\n", s.rows > 0 ? "row,channel,count" : "channel,count", e_col.c_str());
  const char sep = csv ? ',' : ' ';
  auto energy_of = [&](long long ch) {
    return energy != nullptr ? sep + number_text(energy->energy(static_cast<double>(ch)))
                             : std::string();
  };
  const std::size_t size = static_cast<std::size_t>(s.size);
  if (s.rows == 0) {
    for (std::size_t i = 0; i < size; ++i) {
      const long long ch = static_cast<long long>(s.base) + static_cast<long long>(i);
      std::printf(csv ? "%lld,%" PRId32 "%s\n" : "%lld %" PRId32 "%s\n", ch, v[i],
                  energy_of(ch).c_str());
    }
    return;
  }
  for (std::size_t r = 0; r < static_cast<std::size_t>(s.rows); ++r) {
    for (std::size_t i = 0; i < size; ++i) {
      const long long ch = static_cast<long long>(s.base) + static_cast<long long>(i);
      if (csv)
        std::printf("%lld,%lld,%" PRId32 "%s\n",
                    static_cast<long long>(s.rowbase) + static_cast<long long>(r), ch,
                    v[r * size + i], energy_of(ch).c_str());
      else
        std::printf(i == 0 ? "%" PRId32 : " %" PRId32, v[r * size + i]);
    }
    if (!csv) std::fputc('\n', stdout);
  }
}

// "c0 + c1*x + c2*x^2 ..." with every coefficient in its shortest exact form.
std::string polynomial(const std::vector<double>& c, const std::string& x) {
  std::string out;
  for (std::size_t k = 0; k < c.size(); ++k) {
    const bool minus = k > 0 && std::signbit(c[k]);
    if (k > 0) out += minus ? " - " : " + ";
    out += number_text(minus ? -c[k] : c[k]);
    if (k >= 1) out += "*" + x;
    if (k >= 2) out += "^" + std::to_string(k);
  }
  return out;
}

std::string seconds_text(const std::optional<double>& t) {
  return t ? number_text(*t) + " s" : std::string("unknown");
}

// The decoded energy and FWHM calibrations for show.
void show_calibrations(spectrum::Host& host, const spectrum::Ident& id) {
  spectrum::EnergyCalibration e;
  int status = spectrum::read_energy_calibration(host, id, e);
  const bool have_energy = status == 0;
  if (status == 0)
    std::printf("energy:    E(ch) = %s%s%s\n", polynomial(e.coefficients, "ch").c_str(),
                e.unit.empty() ? "" : " ", one_line(e.unit).c_str());
  else if (status == spectrum::kNoCalibration)
    std::printf("energy:    none\n");
  else if (status == spectrum::kBadCalibration)
    std::printf("energy:    calibration 1 is not 'POLY <unit> c0 c1 ...'\n");
  else
    throw UserError(host_error(host));
  spectrum::FwhmCalibration f;
  status = spectrum::read_fwhm_calibration(host, id, f);
  if (status == 0) {
    const bool by_channel = f.variable == spectrum::FwhmCalibration::Variable::Channel;
    std::printf("fwhm:      FWHM(ch) = %s %s",
                polynomial(f.coefficients, by_channel ? "ch" : "sqrt(E)").c_str(),
                f.in_channels() ? "channels" : one_line(f.unit).c_str());
    if (!by_channel) std::printf(", E = E(ch)%s", have_energy ? "" : " (no energy calibration)");
    std::fputc('\n', stdout);
  } else if (status == spectrum::kNoCalibration) {
    std::printf("fwhm:      none\n");
  } else if (status == spectrum::kBadCalibration) {
    std::printf("fwhm:      calibration 2 is not 'FWHM <unit> CH|SQRTE c0 c1 ...'\n");
  } else {
    throw UserError(host_error(host));
  }
}

int cmd_show(spectrum::Host& host, const Args& a) {
  want_words("show", a, 1, "a spectrum NAME");
  connect(host);
  const auto id = lookup(host, a.words[0]);
  const auto s = summary_of(host, id);
  std::vector<std::pair<int, std::string>> cals;
  int status = 0;
  host.calibrations(id, cals, status);
  if (status != 0) throw UserError(host_error(host));
  std::printf("name:      %s\n", one_line(s.name).c_str());
  std::printf("id:        %" PRId32 " (id1 %d, id2 %d)\n", spectrum::ident_number(id), s.id.id1,
              s.id.id2);
  std::printf("title:     %s\n", one_line(s.title).c_str());
  std::printf("label:     %s\n", one_line(s.label).c_str());
  std::printf("channels:  %d..%lld (%d)\n", s.base, static_cast<long long>(s.base) + s.size - 1,
              s.size);
  if (s.rows > 0)
    std::printf("rows:      %d..%lld (%d)\n", s.rowbase,
                static_cast<long long>(s.rowbase) + s.rows - 1, s.rows);
  else
    std::printf("rows:      0 (one-dimensional)\n");
  std::printf("kind:      %d\n", s.kind);
  std::printf("smallest:  %d\n", s.smallest);
  std::printf("largest:   %d\n", s.largest);
  std::printf("total:     %lld\n", static_cast<long long>(s.total));
  std::printf("live time: %s\n", seconds_text(s.live_time).c_str());
  std::printf("real time: %s\n", seconds_text(s.real_time).c_str());
  show_calibrations(host, id);
  if (cals.empty()) std::printf("calibration: none\n");
  for (const auto& [number, text] : cals) {
    std::printf("calibration %d: %s", number, one_line(text).c_str());
    double offset = 0.0;
    double gain = 0.0;
    std::string unit;
    std::string kind;
    spectrum::sdcal(text.data(), static_cast<int>(text.size()), offset, gain, unit, kind, status);
    if (status == 0)
      std::printf("  (offset %.6g, gain %.6g%s%s per channel)", offset, gain,
                  unit.empty() ? "" : " ", unit.c_str());
    std::fputc('\n', stdout);
  }
  if (a.counts) {
    std::fputc('\n', stdout);
    write_counts(s, counts_of(host, s), false);
  }
  return 0;
}

int cmd_export(spectrum::Host& host, const Args& a) {
  want_words("export", a, 1, "a spectrum NAME");
  const std::string format = a.format ? *a.format : "text";
  if (format != "text" && format != "csv")
    throw UserError("unknown export format '" + format + "' (text or csv)");
  connect(host);
  const auto id = lookup(host, a.words[0]);
  const auto s = summary_of(host, id);
  if (!a.energy) {
    write_counts(s, counts_of(host, s), format == "csv");
    return 0;
  }
  if (s.rows > 0 && format != "csv")
    throw UserError("export --energy of the 2-D spectrum '" + a.words[0] + "' needs --format csv");
  spectrum::EnergyCalibration e;
  const int status = spectrum::read_energy_calibration(host, id, e);
  if (status == spectrum::kNoCalibration)
    throw UserError("spectrum '" + a.words[0] +
                    "' has no energy calibration (set one with 'tavrick-store calibrate')");
  if (status == spectrum::kBadCalibration)
    throw UserError("energy calibration of spectrum '" + a.words[0] +
                    "' is not 'POLY <unit> c0 c1 ...'");
  if (status != 0) throw UserError(host_error(host));
  write_counts(s, counts_of(host, s), format == "csv", &e);
  return 0;
}

int cmd_calibrate(spectrum::Host& host, const Args& a) {
  if (a.words.size() < 3)
    throw UserError(
        "calibrate needs a spectrum NAME and at least two coefficients C0 C1 "
        "(see 'tavrick-store calibrate --help')");
  const std::string what = a.fwhm ? "FWHM" : "energy";
  std::vector<double> coeffs;
  for (std::size_t i = 1; i < a.words.size(); ++i) {
    const auto v = number_of(a.words[i]);
    if (!v)
      throw UserError("coefficient '" + one_line(a.words[i]) + "' of the " + what +
                      " calibration is not a finite decimal number");
    coeffs.push_back(*v);
  }
  const std::string unit = a.unit ? *a.unit : a.fwhm ? "ch" : "keV";
  if (unit.empty() || unit == "-" || std::any_of(unit.begin(), unit.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 32 || c == 127;
      }))
    throw UserError("unit '" + one_line(unit) + "' is not one word");
  if (!a.fwhm && std::all_of(coeffs.begin() + 1, coeffs.end(), [](double c) { return c == 0.0; }))
    throw UserError("energy calibration does not depend on the channel (C1, C2, ... all 0)");
  std::string text;
  int status = 0;
  if (a.fwhm) {
    spectrum::FwhmCalibration f;
    f.unit = unit;
    f.coefficients = coeffs;
    status = spectrum::format_fwhm_calibration(f, text);
  } else {
    spectrum::EnergyCalibration e;
    e.unit = unit;
    e.coefficients = coeffs;
    status = spectrum::format_energy_calibration(e, text);
  }
  if (status == spectrum::kTooLong)
    throw UserError(std::to_string(coeffs.size()) + " coefficients do not fit the " +
                    std::to_string(spectrum::kCalLen) + "-character calibration text");
  if (status != 0) throw UserError("the " + what + " calibration cannot be written as a text");
  connect(host);
  const auto id = lookup(host, a.words[0]);
  const int number = a.fwhm ? spectrum::kFwhmCalNumber : spectrum::kEnergyCalNumber;
  host.swcaln(id, number, text.data(), static_cast<int>(text.size()), status);
  if (status != 0) throw UserError(host_error(host));
  std::printf("calibration %d of '%s': %s\n", number, one_line(a.words[0]).c_str(), text.c_str());
  return 0;
}

int cmd_remove(spectrum::Host& host, const Args& a) {
  want_words("remove", a, 1, "a spectrum NAME");
  connect(host);
  const auto id = lookup(host, a.words[0]);
  int status = 0;
  host.remove(id, status);
  if (status != 0) throw UserError(host_error(host));
  std::printf("removed '%s'\n", a.words[0].c_str());
  return 0;
}

int cmd_check(spectrum::Host& host, const Args& a) {
  want_words("check", a, 0, "no arguments");
  connect(host);
  std::vector<std::string> damaged;
  std::vector<std::string> problems;
  int status = 0;
  host.check(damaged, problems, status);
  if (status != 0) throw UserError(host_error(host));
  for (const auto& p : problems) std::printf("problem: %s\n", one_line(p).c_str());
  for (const auto& d : damaged) std::printf("damaged: %s\n", one_line(d).c_str());
  if (problems.empty() && damaged.empty()) {
    std::printf("ok\n");
    return 0;
  }
  throw UserError("experiment '" + host.path() + "' is damaged: " + std::to_string(damaged.size()) +
                  " spectra, " + std::to_string(problems.size()) + " other problems");
}

// Where the demo's spectra are: beside the installed program
// (bin/../share/tavrick/data), else in the source tree the program was built
// from. The first folder that holds the first demo file wins; when none does,
// the source tree is named in the error.
std::string demo_data_dir() {
#ifdef TAVRICK_DATA_FROM_BIN
  std::string exe(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
  if (n > 0 && static_cast<std::size_t>(n) < exe.size()) {
    exe.resize(static_cast<std::size_t>(n));
    const std::string dir = exe.substr(0, exe.rfind('/') + 1) + TAVRICK_DATA_FROM_BIN;
    struct stat sb {};
    if (::stat((dir + "/" + kDemoFiles[0].file).c_str(), &sb) == 0) {
      // Named without the "bin/.." detour in the demo's report.
      char* real = ::realpath(dir.c_str(), nullptr);
      if (real == nullptr) return dir;
      std::string canonical(real);
      std::free(real);
      return canonical;
    }
  }
#endif
  return TAVRICK_DATA_DIR;
}

std::string csv_cell(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string q = "\"";
  for (const char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + '"';
}

int cmd_fits(spectrum::Host& host, const Args& a) {
  if (a.words.size() > 1) throw UserError("unexpected argument '" + a.words[1] + "' for fits");
  const std::string format = a.format ? *a.format : "csv";
  if (format != "csv" && format != "json")
    throw UserError("unknown fits format '" + format + "' (csv or json)");
  connect(host);
  const std::string name = a.words.empty() ? std::string() : a.words[0];
  std::vector<spectrum::FitRecord> fits;
  int status = 0;
  host.fits(name, fits, status);
  if (status != 0) throw UserError(host_error(host));
  if (!name.empty() && fits.empty()) throw UserError("no fits recorded for '" + name + "'");
  using Json = nlohmann::ordered_json;
  std::vector<Json> rows;
  for (const auto& f : fits) {
    Json j;
    j["id"] = f.id;
    j["time"] = f.time;
    j["version"] = f.version;
    j["command"] = f.command;
    const Json result = Json::parse(f.result, nullptr, false);
    if (!result.is_object()) throw UserError("fit record " + std::to_string(f.id) + " is damaged");
    for (const auto& [k, v] : result.items()) j[k] = v;
    rows.push_back(std::move(j));
  }
  const auto dump = [](const Json& v) {
    return v.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  if (format == "json") {
    std::fputs("[\n", stdout);
    for (std::size_t k = 0; k < rows.size(); ++k)
      std::printf("%s%s\n", dump(rows[k]).c_str(), k + 1 < rows.size() ? "," : "");
    std::fputs("]\n", stdout);
    return 0;
  }
  std::string head = "id,time,version,command";
  if (!rows.empty()) {
    head.clear();
    for (const auto& [k, v] : rows.front().items()) head += (head.empty() ? "" : ",") + k;
  }
  std::printf("%s\n", head.c_str());
  for (const auto& j : rows) {
    std::string line;
    for (const auto& [k, v] : j.items()) {
      if (!line.empty()) line += ',';
      if (v.is_string())
        line += csv_cell(v.get<std::string>());
      else if (!v.is_null())
        line += dump(v);
    }
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int cmd_demo(spectrum::Host& host, const Args& a) {
  want_words("demo", a, 0, "no arguments");
  const std::string dir = demo_data_dir();
  std::vector<Imported> read;
  for (const DemoFile& d : kDemoFiles) {
    const std::string path = dir + "/" + d.file;
    struct stat sb {};
    if (::stat(path.c_str(), &sb) != 0) throw UserError("demo file " + path + " is missing");
    try {
      auto got = read_file(path, d.format, ReadOptions{});
      for (auto& im : got) read.push_back(std::move(im));
    } catch (const ReadError& e) {
      throw UserError(e.what());
    }
  }
  const auto spectra = to_store(read, Args{});
  struct stat sb {};
  int status = 0;
  if (::stat(host.path().c_str(), &sb) != 0) {
    host.create(status);
    if (status != 0) throw UserError(host_error(host));
  } else {
    connect(host);
  }
  store_all(host, spectra, true);
  std::printf("demo store '%s' holds %zu spectra from %s\n", host.path().c_str(), spectra.size(),
              dir.c_str());
  return 0;
}

// A subcommand: its name, help, the options it takes and what runs it.
struct Command {
  std::string_view name;
  const char* help;
  std::span<const std::string_view> options;
  int (*handler)(spectrum::Host&, const Args&);
};

constexpr std::string_view kImportOptions[] = {"--name", "--format", "--title", "--detector",
                                               "--replace"};
constexpr std::string_view kShowOptions[] = {"--counts"};
constexpr std::string_view kExportOptions[] = {"--format", "--energy"};
constexpr std::string_view kCalibrateOptions[] = {"--fwhm", "--unit"};
constexpr std::string_view kFitsOptions[] = {"--format"};

constexpr Command kCommands[] = {
    {"init", kInitHelp, {}, cmd_init},
    {"import", kImportHelp, kImportOptions, cmd_import},
    {"list", kListHelp, {}, cmd_list},
    {"show", kShowHelp, kShowOptions, cmd_show},
    {"export", kExportHelp, kExportOptions, cmd_export},
    {"calibrate", kCalibrateHelp, kCalibrateOptions, cmd_calibrate},
    {"remove", kRemoveHelp, {}, cmd_remove},
    {"check", kCheckHelp, {}, cmd_check},
    {"demo", kDemoHelp, {}, cmd_demo},
    {"fits", kFitsHelp, kFitsOptions, cmd_fits},
};

int dispatch(const std::string& cmd, const std::vector<std::string>& rest, spectrum::Host& host) {
  const auto c = std::find_if(std::begin(kCommands), std::end(kCommands),
                              [&](const Command& k) { return k.name == cmd; });
  if (c == std::end(kCommands))
    throw UserError("unknown command '" + cmd + "' (see 'tavrick-store --help')");
  const Args a = parse_args(cmd, rest, c->options);
  if (a.help) {
    std::fputs(c->help, stdout);
    return 0;
  }
  return c->handler(host, a);
}

int run(int argc, char** argv) {
  // The version only on its own, like every program of the suite.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("tavrick-store %s\n", TAVRICK_VERSION);
    return 0;
  }
  // Global options may stand before or after the command word.
  std::optional<std::string> experiment;
  std::optional<std::string> cmd;
  std::vector<std::string> rest;
  bool help = false;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      rest.push_back(arg);
      continue;
    }
    if (options && (arg == "--experiment" || arg.rfind("--experiment=", 0) == 0)) {
      if (experiment) throw UserError("option --experiment given twice");
      if (arg == "--experiment") {
        if (i + 1 >= argc) throw UserError("option --experiment needs a value");
        experiment = argv[++i];
      } else {
        experiment = arg.substr(std::string("--experiment=").size());
      }
      if (experiment->empty()) throw UserError("option --experiment needs a non-empty path");
      continue;
    }
    if (!cmd) {
      if (arg == "-h" || arg == "--help") {
        help = true;
        continue;
      }
      if (arg == "help") {
        // "help COMMAND" is "COMMAND --help".
        if (i + 1 < argc) {
          cmd = argv[++i];
          rest.push_back("--help");
          continue;
        }
        help = true;
        continue;
      }
      if (!arg.empty() && arg[0] == '-')
        throw UserError("unknown option '" + arg + "' (see 'tavrick-store --help')");
      cmd = arg;
      continue;
    }
    rest.push_back(arg);
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!cmd) throw UserError("no command given (see 'tavrick-store --help')");
  spectrum::Host host = experiment ? spectrum::Host(*experiment) : spectrum::Host();
  return dispatch(*cmd, rest, host);
}

}  // namespace

int store_main(int argc, char** argv) {
  try {
    const int rc = run(argc, argv);
    if (std::fflush(stdout) != 0) {
      std::fputs("tavrick-store: write to standard output failed\n", stderr);
      return 1;
    }
    return rc;
  } catch (const UserError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrick-store: %s\n", escaped(e.what()).c_str());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fputs("tavrick-store: out of memory\n", stderr);
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrick-store: %s\n", escaped(e.what()).c_str());
    return 1;
  }
}

}  // namespace tavrick::tools
