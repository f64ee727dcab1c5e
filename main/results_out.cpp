// The -results option of the commands.
#include "main/results_out.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "results/version.h"

namespace tavrick {

void ResultsOut::option(Args& args, std::FILE* msg) {
  std::array<char, kArgLen> text;
  int len = 0;
  if (args.txtin("results", text, len) != 0) return;
  path_.assign(text.data(), static_cast<std::size_t>(std::min(len, kArgLen)));
  if (!results::format_of(path_)) crash("bad RESULTS argument (.json|.csv): " + path_, msg);
  // A trial file shows now that the folder takes the file; it is removed at
  // once, so a run that stops later with an error leaves nothing behind.
  results::ResultsFile trial;
  const std::string err = trial.open(path_);
  if (!err.empty()) crash(err, msg);
  wanted_ = true;
}

void ResultsOut::before_fit(const Settings& s) {
  if (!wanted()) return;
  results::FitRequest& q = request_;
  q.spectrum.assign(s.name.data(), static_cast<std::size_t>(s.namelen));
  q.lo = s.lim1;
  q.hi = s.lim2;
  const auto n = static_cast<std::ptrdiff_t>(s.npeaks);
  q.peaks.assign(s.pos.begin(), s.pos.begin() + n);
  q.widths.assign(s.fwhmin.begin(), s.fwhmin.begin() + n);
  // Skews given equal to the widths fit as no skews at all.
  const bool skews = s.iskew == 1 ||
                     !std::equal(s.fwloin.begin(), s.fwloin.begin() + n, s.fwhmin.begin()) ||
                     s.widlo != s.width;
  if (skews) q.skews.assign(s.fwloin.begin(), s.fwloin.begin() + n);
  q.shape = s.ihpge != 0   ? "hpge"
            : s.ilor != 0  ? "lorentz"
            : s.iskew == 1 ? "skew"
            : s.iskew == 2 ? "skewtail"
                           : "gauss";
  if (s.ihpge != 0) q.hpge = hpge_config(s);
  q.widthopt = s.ifixwd != 0 ? "given" : s.idiffwd == 0 ? "same" : "different";
  q.peakopt = s.ifixcn != 0 ? "given" : "different";
  q.order = s.nbak - 1;
  q.search = s.ipksch;
  q.weights = s.weights == Weighting::fit       ? "fit"
              : s.weights == Weighting::poisson ? "poisson"
                                                : "data";
}

void ResultsOut::after_fit(spectrum::Host& host, const Run& run, std::FILE* msg) {
  if (!wanted()) return;
  // The energy calibration is calibration 1; a spectrum without one, or with
  // one of another kind, gets no energies.
  spectrum::Ident id{};
  int status = 0;
  host.sname(id, request_.spectrum.data(), static_cast<int>(request_.spectrum.size()), status);
  if (status == 0) {
    std::array<char, spectrum::kCalLen> text;
    int len = spectrum::kCalLen;
    host.srcal(id, text.data(), len, status);
    if (status == 0) {
      request_.calibration = results::parse_calibration(std::string_view(
          text.data(), static_cast<std::size_t>(std::clamp(len, 0, spectrum::kCalLen))));
    }
  }
  const results::Record rec = results::build_record(request_, run.k, run.res);
  const std::string err = results::write_results(path_, rec);
  if (!err.empty()) crash(err, msg);
}

bool help_or_version(int argc, char** argv, const char* program, const char* usage) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(usage, stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", program, kVersion);
  } else {
    return false;
  }
  std::fflush(stdout);
  return true;
}

}  // namespace tavrick
