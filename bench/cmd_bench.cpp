// Whole-command timing, the way a front end runs a program: its standard
// output read through a pipe to the end, the time taken from before the
// process is started until it has been reaped.
//
//   tavrick_cmdbench ROUNDS PLAN
//
// PLAN holds one command a line: a label, then the program and its
// arguments, separated by tabs. Every round runs every command once, the
// order rotated by one command per round, so a machine that is busy for a
// while slows all commands alike; one warm-up round goes first. Prints one
// line per command: label, median and least wall time (ms), median page
// faults of the child (minor and major), bytes of output and exit status.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Command {
  std::string label;
  std::vector<std::string> argv;
  std::vector<double> ms;
  std::vector<long> faults;
  long bytes = 0;
  int status = 0;
};

struct Sample {
  double ms = 0.0;
  long faults = 0;
  long bytes = 0;
  int status = 0;
};

bool run_once(const Command& c, Sample& s) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  std::vector<char*> argv;
  for (const std::string& a : c.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  posix_spawn_file_actions_addclose(&fa, fds[1]);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", 0, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", 1, 0);

  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return false;
  }
  static std::array<char, 1 << 16> buf;
  long bytes = 0;
  for (;;) {
    const ssize_t n = read(fds[0], buf.data(), buf.size());
    if (n <= 0) break;
    bytes += n;
  }
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  const auto t1 = std::chrono::steady_clock::now();
  s.ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  s.faults = ru.ru_minflt + ru.ru_majflt;
  s.bytes = bytes;
  s.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

template <typename T>
T median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: tavrick_cmdbench ROUNDS PLAN\n", stderr);
    return 2;
  }
  const int rounds = std::max(1, std::atoi(argv[1]));
  std::vector<Command> cmds;
  std::ifstream plan(argv[2]);
  for (std::string line; std::getline(plan, line);) {
    if (line.empty()) continue;
    Command c;
    std::size_t at = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', at);
      const std::string f = line.substr(at, tab == std::string::npos ? tab : tab - at);
      if (c.label.empty())
        c.label = f;
      else
        c.argv.push_back(f);
      if (tab == std::string::npos) break;
      at = tab + 1;
    }
    if (!c.argv.empty()) cmds.push_back(c);
  }
  if (cmds.empty()) {
    std::fprintf(stderr, "tavrick_cmdbench: no commands in %s\n", argv[2]);
    return 2;
  }
  const std::size_t n = cmds.size();
  for (int r = -1; r < rounds; ++r) {
    for (std::size_t k = 0; k < n; ++k) {
      Command& c = cmds[(k + static_cast<std::size_t>(r + 1)) % n];
      Sample s;
      if (!run_once(c, s)) {
        std::fprintf(stderr, "tavrick_cmdbench: cannot run %s\n", c.argv[0].c_str());
        return 1;
      }
      if (r < 0) continue;  // warm-up
      c.ms.push_back(s.ms);
      c.faults.push_back(s.faults);
      c.bytes = s.bytes;
      c.status = s.status;
    }
  }
  for (const Command& c : cmds) {
    std::printf("%s %.3f %.3f %ld %ld %d\n", c.label.c_str(), median(c.ms),
                *std::min_element(c.ms.begin(), c.ms.end()), median(c.faults), c.bytes, c.status);
  }
  return 0;
}
