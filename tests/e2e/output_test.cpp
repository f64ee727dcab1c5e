// The tavrick command when its standard output goes away: a reader that stops
// after 100 bytes (as `tavrick ... | head -c 100`), a full device, a closed
// descriptor. The command must end promptly, by SIGPIPE or with status 8, never
// with status 0 for a listing that was not written, never with a crash or a
// sanitizer report, and never with its output landing in the store.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/host.h"
#include "support/files.h"
#include "support/process.h"
#include "support/store.h"

extern char** environ;

namespace {

// A store with one spectrum of 5000 channels: a Gaussian on a flat background.
struct Store : testsupport::TestStore {
  Store() {
    std::vector<std::int32_t> c(5000);
    for (std::size_t ch = 0; ch < c.size(); ++ch) {
      const double b = (static_cast<double>(ch) - 2500.0) / 3.0;
      c[ch] = static_cast<std::int32_t>(std::lround(40.0 + 900.0 * std::exp(-b * b)));
    }
    add("long", 0, c);
  }

  std::string bytes() const { return testsupport::slurp(path); }
};

// A listing of about 120 kB, more than any pipe or stdio buffer holds.
const std::vector<std::string> kLong{"-spectrum", "long", "-limit",  "0", "4999",
                                     "-peaks",    "2500", "-widths", "5"};
// A refusal: one short line.
const std::vector<std::string> kRefused{"-spectrum", "nosuch", "-limit",  "0", "4999",
                                        "-peaks",    "2500",   "-widths", "5"};

struct Ended {
  int status = -1;  // exit status, or 128 + signal; -1 when it did not end in time
  std::string err;
  std::size_t read = 0;
};

enum class Pipe { SigpipeDefault, SigpipeIgnored };

// Runs tavrick with standard output into a pipe of which only `keep` bytes are
// read before the reading end is closed.
Ended run_reading(const Store& s,
                  const std::vector<std::string>& args,
                  std::size_t keep,
                  Pipe how) {
  Ended e;
  int out[2];
  if (pipe(out) != 0) return e;
  const std::string errfile = s.dir.path + "/stderr";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addopen(&fa, 2, errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addclose(&fa, out[1]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  // An ignored signal stays ignored across exec; the default is set explicitly
  // because the test runner itself may ignore SIGPIPE.
  struct sigaction old {};
  struct sigaction ign {};
  ign.sa_handler = SIG_IGN;
  if (how == Pipe::SigpipeDefault) {
    posix_spawnattr_setsigdefault(&attr, &pipe_only);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  } else {
    sigaction(SIGPIPE, &ign, &old);
  }

  std::vector<std::string> argv{testsupport::bin("tavrick")};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::vector<std::string> envs{"TAVRICK_EXPERIMENT=" + s.path};
  for (char** p = environ; *p; ++p)
    if (std::string(*p).rfind("TAVRICK_EXPERIMENT=", 0) != 0) envs.emplace_back(*p);
  std::vector<char*> cenv;
  for (auto& v : envs) cenv.push_back(v.data());
  cenv.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, cargv[0], &fa, &attr, cargv.data(), cenv.data());
  if (how == Pipe::SigpipeIgnored) sigaction(SIGPIPE, &old, nullptr);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return e;
  }
  char buf[4096];
  while (e.read < keep) {
    const ssize_t k = read(out[0], buf, std::min(sizeof buf, keep - e.read));
    if (k <= 0) break;
    e.read += static_cast<std::size_t>(k);
  }
  close(out[0]);

  // Two minutes covers a sanitizer build on a busy machine; a hang does not end.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int ws = 0;
  while (waitpid(pid, &ws, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &ws, 0);
      return e;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  e.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  std::ifstream in(errfile, std::ios::binary);
  e.err.assign(std::istreambuf_iterator<char>(in), {});
  return e;
}

// Runs tavrick through the shell with standard output redirected as `redirect`
// says; returns the status and standard error.
Ended run_redirected(const Store& s,
                     const std::vector<std::string>& args,
                     const std::string& redirect) {
  const std::string errfile = s.dir.path + "/stderr";
  std::string cmd = "TAVRICK_EXPERIMENT='" + s.path + "' '" + testsupport::bin("tavrick") + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " " + redirect + " 2>'" + errfile + "'";
  Ended e;
  const int ws = std::system(cmd.c_str());
  e.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
  std::ifstream in(errfile, std::ios::binary);
  e.err.assign(std::istreambuf_iterator<char>(in), {});
  return e;
}

bool sanitizer_report(const std::string& err) {
  return err.find("Sanitizer") != std::string::npos ||
         err.find("runtime error:") != std::string::npos;
}

TEST(ClosedPipe, ReaderStopsAfter100Bytes) {
  Store s;
  for (const auto how : {Pipe::SigpipeDefault, Pipe::SigpipeIgnored}) {
    const char* what = how == Pipe::SigpipeDefault ? "SIGPIPE default" : "SIGPIPE ignored";
    const Ended e = run_reading(s, kLong, 100, how);
    ASSERT_NE(e.status, -1) << what << ": did not end";
    EXPECT_EQ(e.read, 100u) << what;
    // Whatever the inherited SIGPIPE disposition, the write fails with EPIPE:
    // a listing cut short is status 8 with its message, never a silent death.
    EXPECT_EQ(e.status, 8) << what;
    EXPECT_EQ(e.err, "tavrick: error writing standard output\n") << what;
    EXPECT_FALSE(sanitizer_report(e.err)) << what << "\n" << e.err;
  }
}

TEST(ClosedPipe, ReaderGoneBeforeTheFirstByte) {
  Store s;
  for (const auto& args : {kLong, kRefused}) {
    const Ended e = run_reading(s, args, 0, Pipe::SigpipeIgnored);
    ASSERT_NE(e.status, -1) << "did not end";
    EXPECT_EQ(e.status, 8);
    EXPECT_FALSE(sanitizer_report(e.err)) << e.err;
  }
}

TEST(FullDevice, ListingThatCannotBeWrittenIsStatus8) {
  Store s;
  const Ended e = run_redirected(s, kLong, ">/dev/full");
  EXPECT_EQ(e.status, 8);
  EXPECT_EQ(e.err, "tavrick: error writing standard output\n");
  // A refusal that cannot be written is still a refusal.
  EXPECT_EQ(run_redirected(s, kRefused, ">/dev/full").status, 8);
}

TEST(ClosedDescriptor, OutputNeverLandsInTheStore) {
  // With descriptor 1 closed, the store could be opened as descriptor 1 and
  // receive the listing; the library keeps it off the standard descriptors.
  Store s;
  const std::string before = s.bytes();
  const Ended e = run_redirected(s, kLong, ">&-");
  EXPECT_EQ(e.status, 8);
  EXPECT_FALSE(sanitizer_report(e.err)) << e.err;
  EXPECT_TRUE(s.bytes() == before) << "the store changed";
  EXPECT_EQ(
      testsupport::run({testsupport::bin("tavrick-store"), "--experiment", s.path, "list"}).status,
      0);
}

}  // namespace
