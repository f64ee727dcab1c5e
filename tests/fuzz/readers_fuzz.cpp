// Fuzz target: every spectrum reader of tavrick-store and the format detection.
//
// Input: one selector byte, then the file's bytes. The selector's low three
// bits choose the reader, the rest the file name's extension (which the
// detection falls back on). A reader either returns spectra that keep their
// own contract (counts = size x max(rows, 1)) or refuses with ReadError; any
// other exception, a crash or a sanitizer report is a finding.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/reader.h"

namespace {

using tavrick::tools::Bytes;
using tavrick::tools::Imported;
using tavrick::tools::ReadError;

const std::array<const char*, 10> kNames = {"in.txt", "in.csv", "in.spe", "in.Chn", "in.cnf",
                                            "in.n42", "in.xml", "in.mat", "in",     "in.sto"};

void check(const std::vector<Imported>& spectra) {
  for (const auto& s : spectra) {
    const auto rows = static_cast<std::size_t>(s.rows > 1 ? s.rows : 1);
    if (s.size < 0 || s.rows < 0 || s.counts.size() != static_cast<std::size_t>(s.size) * rows) {
      std::fprintf(stderr, "readers_fuzz: %s: size %d rows %d but %zu counts\n", s.name.c_str(),
                   s.size, s.rows, s.counts.size());
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const unsigned sel = data[0];
  const Bytes file(data + 1, size - 1);
  const std::string name = kNames[(sel >> 3) % kNames.size()];

  try {
    (void)tavrick::tools::detect_format(file, name);
  } catch (const ReadError&) {
  }
  try {
    switch (sel & 7u) {
      case 0:
        check(tavrick::tools::read_text(file, name));
        break;
      case 1:
        check(tavrick::tools::read_csv(file, name));
        break;
      case 2:
        check(tavrick::tools::read_matrix(file, name));
        break;
      case 3:
        check(tavrick::tools::read_iaea_spe(file, name));
        break;
      case 4:
        check(tavrick::tools::read_chn(file, name));
        break;
      case 5:
        check(tavrick::tools::read_radware_spe(file, name));
        break;
      case 6:
        check(tavrick::tools::read_cnf(file, name));
        break;
      default: {
        tavrick::tools::ReadOptions opt;
        if ((sel >> 7) != 0u) opt.detector = "Aa1";
        check(tavrick::tools::read_n42(file, name, opt));
        break;
      }
    }
  } catch (const ReadError&) {
    // The expected refusal of a file that is not what it claims to be.
  }
  return 0;
}
