// Fuzz target: the argument layer and the option phase of tavrick.
//
// Input: the arguments after the program name, separated by NUL bytes (a NUL
// cannot occur inside a process argument). The option phase ends the process
// through exit(8) on every refusal, so each input runs in a forked child; the
// child's exit status must be 0 (options accepted) or 8 (refused with one
// message line), anything else (a signal, a sanitizer report) is a finding.
//
// Coverage of the child would be lost with its address space, so the child
// copies the compiler's 8-bit coverage counters into a shared page before it
// ends and the parent merges them into its own: the fuzzer then sees which
// checks of the option phase an input reached.
#include <stdlib.h>  // on_exit
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "main/args.h"
#include "main/options.h"
#include "main/settings.h"

// Bounds of the coverage counters, set by the linker when the code is built
// with -fsanitize=fuzzer(-no-link); absent (null) otherwise.
extern "C" {
extern std::uint8_t __start___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
extern std::uint8_t __stop___sancov_cntrs[] __attribute__((weak, visibility("hidden")));
}

namespace {

std::size_t counters_size() {
  if (__start___sancov_cntrs == nullptr || __stop___sancov_cntrs == nullptr) return 0;
  return static_cast<std::size_t>(__stop___sancov_cntrs - __start___sancov_cntrs);
}

// Shared with the children: their counters at exit.
std::uint8_t* shared_counters = nullptr;

// The child's message stream (all a refusal writes).
char* msg_buf = nullptr;
std::size_t msg_len = 0;
std::FILE* msg = nullptr;

void fail(const char* what) {
  std::fprintf(stderr, "options_fuzz: %s\n", what);
  std::abort();
}

// Runs in the child at exit(status): check the message, hand the coverage to
// the parent and end without the fuzzer's own exit handlers (which would take
// the exit for a fault of the target).
void child_exit(int status, void*) {
  std::fflush(msg);
  if (status == 8) {
    // A refusal writes its message, ended by a newline.
    if (msg_len == 0 || msg_buf[msg_len - 1] != '\n') fail("refusal without a message line");
  }
  if (const std::size_t n = counters_size(); n > 0 && shared_counters != nullptr)
    std::memcpy(shared_counters, __start___sancov_cntrs, n);
  _exit(status);
}

void check_settings(const tavrick::Settings& s) {
  if (s.namelen < 0 || s.namelen > 256) fail("name length out of range");
  if (s.iskew < 0 || s.iskew > 2 || (s.ilor != 0 && s.ilor != 1)) fail("shape flags out of range");
  if (s.nbak < 1 || s.nbak > 6) fail("nbak out of range");
  if (s.npeaks < 1 || s.npeaks > 30) fail("npeaks out of range");
  if (s.ilo > s.ihi) fail("window upside down");
  for (int i = 0; i < 30; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (!(s.fwhmin[k] > 0.0) || !(s.fwloin[k] > 0.0)) fail("width not positive");
  }
}

void run_child(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  static char program[] = "tavrick";
  argv.push_back(program);
  for (const auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);

  msg = open_memstream(&msg_buf, &msg_len);
  if (msg == nullptr) _exit(99);
  on_exit(child_exit, nullptr);

  tavrick::Args args(static_cast<int>(argv.size()) - 1, argv.data());
  tavrick::Settings s;
  tavrick::options(args, s, msg);
  std::fflush(msg);
  if (msg_len != 0) fail("accepted options printed something");
  check_settings(s);
  std::exit(0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const std::size_t n = counters_size(); n > 0) {
    void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) shared_counters = static_cast<std::uint8_t*>(p);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  if (size > 0) {
    std::string cur;
    for (std::size_t i = 0; i < size; ++i) {
      if (data[i] == 0) {
        words.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(static_cast<char>(data[i]));
      }
    }
    words.push_back(cur);
  }

  const std::size_t n = counters_size();
  if (shared_counters != nullptr) std::memset(shared_counters, 0, n);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) fail("fork failed");
  if (pid == 0) run_child(words);

  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0) {
  }
  if (shared_counters != nullptr) {
    for (std::size_t i = 0; i < n; ++i)
      __start___sancov_cntrs[i] = std::max(__start___sancov_cntrs[i], shared_counters[i]);
  }
  if (WIFSIGNALED(ws)) fail("option phase ended by a signal");
  if (!WIFEXITED(ws) || (WEXITSTATUS(ws) != 0 && WEXITSTATUS(ws) != 8))
    fail("option phase ended with a status other than 0 or 8");
  return 0;
}
