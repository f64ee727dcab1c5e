// tavrick-store: fills and inspects the spectrum store tavrick reads.
#include <csignal>

#include "tools/store_cli.h"

int main(int argc, char** argv) {
  // A closed pipe is a failed write (EPIPE) with its message, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  return tavrick::tools::store_main(argc, argv);
}
