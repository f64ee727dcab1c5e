// tavrick: fits peaks in a spectrum of the current experiment.
//
// The command reads and checks its options, then fetches the window from the
// experiment's store, fits it and lists the result. Every failure ends the
// process with a one-line message on standard output and status 8.
#include <csignal>
#include <cstdio>

#include "main/args.h"
#include "main/fetch.h"
#include "main/options.h"
#include "main/results_out.h"
#include "main/settings.h"
#include "spectrum/host.h"

namespace {

constexpr const char* kUsage =
    "usage: tavrick -spectrum NAME -limit LIM1 LIM2 -peaks P1 [P2 ...] -widths W1 [W2 ...]\n"
    "               [-shape gauss|skew|skewtail|lorentz] [-widthopt different|same|given]\n"
    "               [-peakopt different|given] [-order N] [-skews S1 [S2 ...]]\n"
    "               [-results FILE.json|FILE.csv]\n"
    "       tavrick --help | --version\n"
    "\n"
    "Fits up to 30 peaks on a polynomial background in channels LIM1..LIM2 of\n"
    "spectrum NAME of the experiment store ($TAVRICK_EXPERIMENT, else\n"
    "experiment.db) and prints the fit's report, background and curve.\n"
    "\n"
    "  -spectrum NAME      spectrum of the experiment\n"
    "  -limit LIM1 LIM2    first and last channel of the fit window\n"
    "  -peaks P...         peak position guesses in channels (1 to 30)\n"
    "  -widths W...        FWHM of the peaks in channels; the last repeats\n"
    "  -shape WORD         gauss (default), skew, skewtail or lorentz\n"
    "  -widthopt WORD      different (default), same or given\n"
    "  -peakopt WORD       different (default) or given\n"
    "  -order N            background polynomial order 0..5 (default 2)\n"
    "  -skews S...         low-side FWHM of the skew shapes\n"
    "  -results FILE       also write the results to FILE (.json or .csv)\n"
    "\n"
    "Exit status 0 after a complete listing, 8 after an error (one line on\n"
    "standard output).\n";

int command(int argc, char** argv) {
  tavrick::Args args(argc, argv);
  if (args.too_many()) tavrick::crash(tavrick::kTooManyArgs);
  tavrick::Settings settings;
  tavrick::options(args, settings, stdout);
  tavrick::ResultsOut results;
  results.option(args, stdout);
  spectrum::Host host;
  return tavrick::fetch_and_fit(settings, host, stdout, &results);
}

}  // namespace

int main(int argc, char** argv) {
  if (tavrick::help_or_version(argc, argv, "tavrick", kUsage)) return 0;
  // A reader that closes the pipe early makes the write fail (EPIPE) instead
  // of killing the process, so the cut listing ends with its message and 8.
  std::signal(SIGPIPE, SIG_IGN);
  return tavrick::guarded(command, argc, argv);
}
