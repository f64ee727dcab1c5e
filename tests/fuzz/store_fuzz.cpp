// Fuzz target: the host spectrum library on a store file of any content.
//
// Input: the bytes of the store file. The library opens it and reads every
// spectrum it lists (geometry, counts, calibrations) and checks the whole
// store. Every call either succeeds or fails with a status and a one-line
// text; counts that read successfully hold as many values as asked for. A
// crash, a hang or a sanitizer report is a finding.
//
// With TAVRICK_FUZZ_SEEDS naming a folder, initialisation writes seed stores
// there (made by the library itself) and the run then reads them as usual.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "spectrum/host.h"

namespace {

std::string store_path;

void fail(const std::string& what) {
  std::fprintf(stderr, "store_fuzz: %s\n", what.c_str());
  std::abort();
}

void check_text(const spectrum::Host& host, int status) {
  if (status == 0) return;
  if (host.error().empty()) fail("a failure without a text");
  if (host.error().find('\n') != std::string::npos) fail("a text of more than one line");
}

void write_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) fail("cannot write " + path);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) fail("short write");
  std::fclose(f);
}

void make_seeds(const std::string& dir) {
  for (int k = 0; k < 3; ++k) {
    const std::string path = dir + "/store" + std::to_string(k) + ".db";
    std::remove(path.c_str());
    spectrum::Host host(path);
    int status = 0;
    host.create(status);
    std::vector<spectrum::NewSpectrum> v(static_cast<std::size_t>(k + 1));
    for (std::size_t i = 0; i < v.size(); ++i) {
      v[i].name = "s" + std::to_string(i);
      v[i].size = 64 << (2 * i);
      v[i].rows = i == 2 ? 2 : 0;
      v[i].counts.assign(static_cast<std::size_t>(v[i].size) * (i == 2 ? 2 : 1),
                         static_cast<std::int32_t>(i + 7));
      v[i].calibrations = {"POLY keV 1 0.5"};
    }
    std::vector<spectrum::Ident> ids;
    host.store(v, false, ids, status);
    if (status != 0) fail("seed store: " + host.error());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/store-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) fail("no temporary folder");
  store_path = std::string(dir) + "/fuzz.db";
  if (const char* seeds = std::getenv("TAVRICK_FUZZ_SEEDS")) make_seeds(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::remove((store_path + "-journal").c_str());
  write_file(store_path, data, size);
  spectrum::Host host(store_path);
  int status = 0;
  host.sexpt(status);
  check_text(host, status);
  if (status != 0) return 0;
  std::vector<spectrum::Summary> all;
  host.list(all, status);
  check_text(host, status);
  for (const auto& s : all) {
    int base = 0, chans = 0, rowbase = 0, rows = 0, kind = 0;
    host.sinq(s.id, base, chans, rowbase, rows, kind, status);
    check_text(host, status);
    if (status == 0 && chans > 0 &&
        static_cast<std::int64_t>(chans) * (rows > 0 ? rows : 1) <= (1 << 20)) {
      std::vector<std::int32_t> v(static_cast<std::size_t>(chans) *
                                  static_cast<std::size_t>(rows > 0 ? rows : 1));
      host.sread(s.id, base, chans, rowbase, rows, v.data(), 4, status);
      check_text(host, status);
    }
    std::vector<std::pair<int, std::string>> cals;
    host.calibrations(s.id, cals, status);
    check_text(host, status);
  }
  std::vector<std::string> damaged, problems;
  host.check(damaged, problems, status);
  check_text(host, status);
  return 0;
}
