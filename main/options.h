// First phase of the command: read and check every option, fill the settings.
#pragma once

#include <cstdio>

#include "main/args.h"
#include "main/settings.h"

namespace tavrick {

// Reads the options in their fixed order, applies the defaults and checks
// each value and their combination, filling s. Prints nothing when all is
// well; the first failed check writes its message on msg and ends the
// process with status 8.
void options(Args& args, Settings& s, std::FILE* msg = stdout);

}  // namespace tavrick
