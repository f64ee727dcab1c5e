// Runs a built command and captures what it writes, for end-to-end tests.
#pragma once

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace testsupport {

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with the arguments argv[1..], the current environment
// plus the NAME=VALUE entries of env, and the bytes of input on standard input.
inline Result run(const std::vector<std::string>& argv,
                  const std::vector<std::string>& env = {},
                  const std::string& input = {}) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
    posix_spawn_file_actions_addclose(&fa, fd);

  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  for (const auto& kv : env) {
    const auto key = kv.substr(0, kv.find('=') + 1);
    std::erase_if(envs, [&](const std::string& s) { return s.rfind(key, 0) == 0; });
    envs.push_back(kv);
  }
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : envs) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = 0;
  Result r;
  const int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    r.err = "spawn failed";
    return r;
  }
  size_t written = 0;
  if (input.empty()) {
    close(in[1]);
    in[1] = -1;
  }
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    int io = -1, ie = -1, ii = -1;
    if (out_open) {
      io = n;
      fds[n++] = {out[0], POLLIN, 0};
    }
    if (err_open) {
      ie = n;
      fds[n++] = {err[0], POLLIN, 0};
    }
    if (in[1] >= 0) {
      ii = n;
      fds[n++] = {in[1], POLLOUT, 0};
    }
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (io >= 0 && fds[io].revents) {
      ssize_t k = read(out[0], buf, sizeof buf);
      if (k > 0)
        r.out.append(buf, static_cast<size_t>(k));
      else
        out_open = false;
    }
    if (ie >= 0 && fds[ie].revents) {
      ssize_t k = read(err[0], buf, sizeof buf);
      if (k > 0)
        r.err.append(buf, static_cast<size_t>(k));
      else
        err_open = false;
    }
    if (ii >= 0 && fds[ii].revents) {
      ssize_t k = write(in[1], input.data() + written, input.size() - written);
      if (k > 0) written += static_cast<size_t>(k);
      if (k <= 0 || written == input.size()) {
        close(in[1]);
        in[1] = -1;
      }
    }
  }
  if (in[1] >= 0) close(in[1]);
  close(out[0]);
  close(err[0]);
  int ws = 0;
  while (waitpid(pid, &ws, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
  return r;
}

// Paths of the built programs.
inline std::string bin(const std::string& name) {
  return std::string(TAVRICK_BIN_DIR) + "/" + (name == "tavrick-store" ? "tools/" : "main/") + name;
}

// A fresh temporary directory, removed with its contents at the end of scope.
struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/tavrick-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() {
    const std::string cmd = "rm -rf '" + path + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

}  // namespace testsupport
