// Runs a command and writes "seconds peak_kb" to a file: the wall time
// and the largest resident memory of the command and all its descendants
// together (Quarnel and its merge program count as one), sampled every
// 20 ms. Reading /proc from one small process keeps the sampling's own
// cost to a few microseconds, where a shell loop forking at every sample
// took a noticeable share of a 2-core machine from the program measured.
//
//   measure_tree RESULT_FILE COMMAND [ARG...]
// Exits with the command's status (1 when it was killed by a signal).
#include <dirent.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

long rss_kb(long pid) {
  std::string path = "/proc/" + std::to_string(pid) + "/status";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      kb = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb;
}

// The process's resident kilobytes and those of every descendant.
long tree_rss_kb(long pid) {
  long total = rss_kb(pid);
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(tasks.c_str());
  if (d == nullptr) return total;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    FILE* f = std::fopen((tasks + "/" + e->d_name + "/children").c_str(), "r");
    if (f == nullptr) continue;
    long child;
    while (std::fscanf(f, "%ld", &child) == 1) total += tree_rss_kb(child);
    std::fclose(f);
  }
  closedir(d);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure_tree RESULT_FILE COMMAND [ARG...]\n");
    return 2;
  }
  // The wait for the next sample ends at once when the command ends, so
  // that the time is not rounded up to the sampling step.
  sigset_t child_ended;
  sigemptyset(&child_ended);
  sigaddset(&child_ended, SIGCHLD);
  sigprocmask(SIG_BLOCK, &child_ended, nullptr);
  const double start = now();
  pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return 2;
  }
  if (pid == 0) {
    sigprocmask(SIG_UNBLOCK, &child_ended, nullptr);
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  long peak = 0;
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    long now_kb = tree_rss_kb(pid);
    if (now_kb > peak) peak = now_kb;
    timespec pause = {0, 20 * 1000 * 1000};
    sigtimedwait(&child_ended, nullptr, &pause);
  }
  const double seconds = now() - start;
  FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 2;
  }
  std::fprintf(out, "%.2f %ld\n", seconds, peak);
  std::fclose(out);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 1;
}
