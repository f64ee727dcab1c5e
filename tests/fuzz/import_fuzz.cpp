// Fuzz target: the whole import path of tavrick-store, from a file of any
// content to the store.
//
// Input: one selector byte, then the file's bytes. The selector chooses the
// file name's extension (which the format detection falls back on). The
// command imports the file into a store (replacing spectra of the same
// name) and must end with status 0 or 1; the store must then pass the
// library's check. A crash, a hang or a sanitizer report is a finding.
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "spectrum/host.h"
#include "tools/store_cli.h"

namespace {

const std::array<const char*, 10> kNames = {"in.txt", "in.csv", "in.spe", "in.Chn", "in.cnf",
                                            "in.n42", "in.xml", "in.mat", "in",     "in.sto"};
std::string dir;
std::string store;
int runs = 0;

void fail(const std::string& what) {
  std::fprintf(stderr, "import_fuzz: %s\n", what.c_str());
  std::abort();
}

int command(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return tavrick::tools::store_main(static_cast<int>(args.size()), argv.data());
}

// A fresh store now and then, so that spectra of many names do not pile up.
void fresh_store() {
  std::remove(store.c_str());
  std::remove((store + "-journal").c_str());
  if (command({"tavrick-store", "--experiment", store, "init"}) != 0) fail("init failed");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/import-fuzz-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) fail("no temporary folder");
  dir = tmpl;
  store = dir + "/e.db";
  // What the command prints on success is of no interest here.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) fail("no /dev/null");
  fresh_store();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (++runs % 500 == 0) fresh_store();
  const std::string file = dir + "/" + kNames[data[0] % kNames.size()];
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) fail("cannot write " + file);
  if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  const int status = command({"tavrick-store", "--experiment", store, "import", file, "--replace"});
  if (status != 0 && status != 1) fail("exit status " + std::to_string(status));
  spectrum::Host host(store);
  int st = 0;
  host.sexpt(st);
  std::vector<std::string> damaged, problems;
  if (st == 0) host.check(damaged, problems, st);
  if (st != 0 || !damaged.empty() || !problems.empty()) fail("the store does not pass check");
  std::remove(file.c_str());
  return 0;
}
