// tavrick: fits peaks in a spectrum of the current experiment.
//
// The command reads and checks its options, then fetches the window from the
// experiment's store, fits it and lists the result. Every failure ends the
// process with a one-line message on standard output and status 8.
#include <cstdio>

#include "main/args.h"
#include "main/fetch.h"
#include "main/options.h"
#include "main/settings.h"
#include "spectrum/host.h"

int main(int argc, char** argv) {
  tavrick::Args args(argc, argv);
  tavrick::Settings settings;
  tavrick::options(args, settings, stdout);
  spectrum::Host host;
  return tavrick::fetch_and_fit(settings, host, stdout);
}
