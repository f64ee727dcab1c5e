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

// Reads the options of the germanium shape (-tail R BETA, -step S,
// -hightail RH BETAH, -hold r|beta|step|rh|betah ...) after those of
// options(), with the same rules: a bad value writes its message on msg and
// ends the process with status 8. They need s.ihpge; options() calls this
// for SHAPE=hpge only.
void hpge_options(Args& args, Settings& s, std::FILE* msg = stdout);

}  // namespace tavrick
