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

int start_program(const std::vector<std::string>& argv, const StartOptions& options) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int streams[] = {options.in, options.out, options.err};
  for (int fd = 0; fd < 3; ++fd) {
    if (streams[fd] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, streams[fd], fd);
    } else {
      posix_spawn_file_actions_addopen(&actions, fd, "/dev/null",
                                       fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
  if (!options.cwd.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> env = make_environment(options.env);
  std::vector<std::string> args = argv;
  std::vector<char*> envp, argp;
  for (std::string& e : env) envp.push_back(e.data());
  for (std::string& a : args) argp.push_back(a.data());
  envp.push_back(nullptr);
  argp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data()) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

int wait_program(int pid) {
  int status = -1;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

int exit_code_of(int status) {
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int stop_when(const std::vector<std::string>& argv, int signal_number,
              const std::function<bool()>& ready) {
  int pid = start_program(argv);
  if (pid < 0) return -1;
  wait_until(ready);
  kill(pid, signal_number);
  return exit_code_of(wait_program(pid));
}

bool still_runs(int id, bool group) {
  const std::vector<std::string> names =
      group ? list_dir("/proc") : std::vector<std::string>{std::to_string(id)};
  for (const std::string& name : names) {
    // "pid (name) state ppid pgrp ...": the name may hold anything.
    const std::string stat = read_file("/proc/" + name + "/stat");
    const size_t paren = stat.rfind(')');
    char state = 0;
    int parent = 0, process_group = 0;
    if (paren != std::string::npos &&
        sscanf(stat.c_str() + paren + 1, " %c %d %d", &state, &parent, &process_group) == 3 &&
        (!group || process_group == id) && state != 'Z') {
      return true;
    }
  }
  return false;
}

ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env_changes,
                          const std::string& cwd,
                          const std::string& stdin_data) {
  // Close-on-exec: only the copies made for the child's streams reach it.
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    abort();
  }
  int pid = start_program(argv, {.env = env_changes, .cwd = cwd, .in = in_pipe[0],
                                 .out = out_pipe[1], .err = err_pipe[1]});
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramResult result;
  if (pid < 0) {
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
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
  result.exit_code = exit_code_of(wait_program(pid));
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
