// tavrick-store: the command that fills and inspects a spectrum store.
#pragma once

namespace tavrick::tools {

// Runs the command on its arguments; returns the exit status (0 success,
// 1 on any failure, with one line on standard error).
int store_main(int argc, char** argv);

}  // namespace tavrick::tools
