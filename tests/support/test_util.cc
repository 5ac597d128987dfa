#include "support/test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace quarnel::testing {

TempDir::TempDir() {
  char pattern[] = "/tmp/quarnel-test-XXXXXX";
  char* made = mkdtemp(pattern);
  if (made == nullptr) abort();
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

bool file_exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      names.push_back(e->d_name);
    }
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string built_program(const std::string& name) {
  return std::string(QUARNEL_BUILD_DIR) + "/" + name;
}

namespace {

std::vector<std::string> make_environment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  for (const std::string& change : changes) {
    size_t eq = change.find('=');
    std::string name = change.substr(0, eq);
    env.erase(std::remove_if(env.begin(), env.end(),
                             [&](const std::string& v) {
                               return v.compare(0, name.size() + 1, name + "=") == 0;
                             }),
              env.end());
    if (eq != std::string::npos) env.push_back(change);
  }
  return env;
}

// A program may end without reading all of its standard input; the write
// then fails with EPIPE here instead of ending the test by SIGPIPE. The
// signal is held back for this thread only, so children started elsewhere
// keep their usual SIGPIPE.
ssize_t write_without_sigpipe(int fd, const char* data, size_t size) {
  sigset_t pipe_only, before;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &before);
  ssize_t put = write(fd, data, size);
  if (put < 0 && errno == EPIPE) {
    const timespec now = {0, 0};
    sigtimedwait(&pipe_only, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return put;
}

}  // namespace

ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env_changes,
                          const std::string& cwd,
                          const std::string& stdin_data) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) abort();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  if (!cwd.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  }
  std::vector<std::string> env = make_environment(env_changes);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramResult result;
  if (rc != 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.exit_code = -1;
    return result;
  }
  size_t fed = 0;
  int in_fd = in_pipe[1];
  if (stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  bool out_open = true, err_open = true;
  char buffer[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[n++] = {err_pipe[0], POLLIN, 0};
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (poll(fds, n, -1) < 0) continue;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        ssize_t put = write_without_sigpipe(in_fd, stdin_data.data() + fed,
                                            stdin_data.size() - fed);
        if (put > 0) fed += static_cast<size_t>(put);
        if (put < 0 || fed == stdin_data.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
      std::string& sink = fds[i].fd == out_pipe[0] ? result.out : result.err;
      if (got > 0) {
        sink.append(buffer, static_cast<size_t>(got));
      } else {
        if (fds[i].fd == out_pipe[0]) out_open = false; else err_open = false;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
  return result;
}

std::string sorted_by_c_sort(const std::string& path) {
  ProgramResult r = run_program({"/usr/bin/sort", path}, {"LC_ALL=C"});
  if (r.exit_code != 0) abort();
  std::string crlf;
  for (char c : r.out) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

std::string to_cp932(const std::string& utf8) {
  TempDir dir;
  write_file(dir.file("in"), utf8);
  ProgramResult r = run_program(
      {"/usr/bin/iconv", "-f", "UTF-8", "-t", "CP932", dir.file("in")});
  if (r.exit_code != 0) abort();
  return r.out;
}

}  // namespace quarnel::testing
