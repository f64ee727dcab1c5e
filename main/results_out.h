// The -results option of the commands: where the record of the fit goes.
#pragma once

#include <cstdio>
#include <string>

#include "main/args.h"
#include "main/fetch.h"
#include "main/settings.h"
#include "results/file.h"
#include "results/record.h"
#include "spectrum/host.h"

namespace tavrick {

class ResultsOut {
 public:
  // Reads -results FILE (absent: nothing is written later). A value whose
  // extension is neither .json nor .csv, or a file that cannot be created
  // (a missing folder, no permission), writes its one-line message on msg
  // and ends the process with status 8, before anything is read from the
  // experiment.
  void option(Args& args, std::FILE* msg);

  bool wanted() const { return wanted_; }

  // The request as the options left it, before the fit changes any of it.
  void before_fit(const Settings& s);

  // Reads the spectrum's energy calibration, builds the record of the fit in
  // run and writes the file. A failure writes its message on msg and ends
  // the process with status 8.
  void after_fit(spectrum::Host& host, const Run& run, std::FILE* msg);

 private:
  std::string path_;
  bool wanted_ = false;
  results::FitRequest request_;
};

// Answers `--help` or `--version` when it is the only argument: writes the
// usage or the version on standard output and returns true.
bool help_or_version(int argc, char** argv, const char* program, const char* usage);

}  // namespace tavrick
