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
#include "main/settings.h"
#include "spectrum/host.h"

namespace {

int command(int argc, char** argv) {
  tavrick::Args args(argc, argv);
  if (args.too_many()) tavrick::crash(tavrick::kTooManyArgs);
  tavrick::Settings settings;
  tavrick::options(args, settings, stdout);
  spectrum::Host host;
  return tavrick::fetch_and_fit(settings, host, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that closes the pipe early makes the write fail (EPIPE) instead
  // of killing the process, so the cut listing ends with its message and 8.
  std::signal(SIGPIPE, SIG_IGN);
  return tavrick::guarded(command, argc, argv);
}
