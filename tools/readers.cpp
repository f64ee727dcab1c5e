// Whole-file reading for tavrick-store: load the bytes, pick the reader, check
// what it made; and the calibration text every reader stores.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "spectrum/calibration.h"
#include "tools/reader.h"

namespace tavrick::tools {

namespace {

// Far above any spectrum file (a 4096 x 4096 matrix as text is about 100 MB),
// low enough that a wrong path to a huge file fails at once.
constexpr std::int64_t kMaxFileBytes = std::int64_t{256} << 20;

// Closes a file descriptor on every path.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

std::vector<unsigned char> load(const std::string& path) {
  // A FIFO or a device would block in open or never end: refuse anything but
  // a regular file before opening it, and open without blocking so that one
  // swapped in meanwhile is caught by the check after the open.
  struct stat sb {};
  if (::stat(path.c_str(), &sb) == 0 && !S_ISREG(sb.st_mode))
    throw ReadError(path + ": not a regular file");
  const int raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (raw < 0) throw ReadError(path + ": cannot open: " + std::strerror(errno));
  const Fd fd(raw);
  if (::fstat(raw, &sb) != 0) throw ReadError(path + ": " + std::strerror(errno));
  if (!S_ISREG(sb.st_mode)) throw ReadError(path + ": not a regular file");
  if (sb.st_size > kMaxFileBytes)
    throw ReadError(path + ": file of " + std::to_string(sb.st_size) + " bytes is larger than " +
                    std::to_string(kMaxFileBytes) + " bytes");
  std::vector<unsigned char> data(static_cast<std::size_t>(sb.st_size));
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t k = ::read(raw, data.data() + got, data.size() - got);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0)
      throw ReadError(path + ": read failed at byte " + std::to_string(got) + ": " +
                      std::strerror(errno));
    if (k == 0) break;
    got += static_cast<std::size_t>(k);
  }
  if (got != data.size()) throw ReadError(path + ": read failed at byte " + std::to_string(got));
  return data;
}

}  // namespace

std::vector<Imported> read_file(const std::string& path,
                                std::optional<Format> format,
                                const ReadOptions& opt) {
  const std::vector<unsigned char> bytes = load(path);
  const Bytes data(bytes.data(), bytes.size());
  const Format f = format ? *format : detect_format(data, path);
  std::vector<Imported> out;
  switch (f) {
    case Format::Text:
      out = read_text(data, path);
      break;
    case Format::Csv:
      out = read_csv(data, path);
      break;
    case Format::Matrix:
      out = read_matrix(data, path);
      break;
    case Format::IaeaSpe:
      out = read_iaea_spe(data, path);
      break;
    case Format::Chn:
      out = read_chn(data, path);
      break;
    case Format::RadwareSpe:
      out = read_radware_spe(data, path);
      break;
    case Format::Cnf:
      out = read_cnf(data, path);
      break;
    case Format::N42:
      out = read_n42(data, path, opt);
      break;
  }
  if (out.empty()) throw ReadError(path + ": no spectrum in the file");
  // Every spectrum must be whole before anything goes near the store.
  for (Imported& im : out) {
    if (im.name.empty()) im.name = std::filesystem::path(path).stem().string();
    const std::size_t want = static_cast<std::size_t>(std::max(im.size, 0)) *
                             static_cast<std::size_t>(std::max(im.rows, 1));
    if (im.size <= 0 || im.rows < 0 || im.counts.size() != want)
      throw ReadError(path + ": spectrum '" + im.name + "' has " +
                      std::to_string(im.counts.size()) + " counts for " + std::to_string(im.size) +
                      " channels and " + std::to_string(im.rows) + " rows");
  }
  return out;
}

std::string calibration_text(const std::vector<double>& coeffs, const std::string& unit) {
  // The unit is one word: blanks would split it, and "-" stands for none.
  std::string u = unit.empty() ? std::string("-") : unit;
  for (char& c : u)
    if (static_cast<unsigned char>(c) <= 32) c = '_';
  std::string text = "POLY " + u;
  for (double c : coeffs) {
    if (!std::isfinite(c)) return {};
    char buf[40];
    std::snprintf(buf, sizeof buf, " %.17g", c);
    text += buf;
  }
  return text;
}

std::string fwhm_text(std::vector<double> coeffs, const std::string& unit, bool of_sqrt_energy) {
  while (!coeffs.empty() && coeffs.back() == 0.0) coeffs.pop_back();
  spectrum::FwhmCalibration cal;
  cal.unit = unit;
  for (char& c : cal.unit)
    if (static_cast<unsigned char>(c) <= 32) c = '_';
  cal.variable = of_sqrt_energy ? spectrum::FwhmCalibration::Variable::SqrtEnergy
                                : spectrum::FwhmCalibration::Variable::Channel;
  cal.coefficients = std::move(coeffs);
  std::string text;
  return spectrum::format_fwhm_calibration(cal, text) == 0 ? text : std::string();
}

}  // namespace tavrick::tools
