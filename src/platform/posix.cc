// POSIX face of the platform layer.
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/fault_injection.h"
#include "platform/platform.h"

extern char** environ;

namespace quarnel::platform {

namespace {

SystemEncoding g_encoding = SystemEncoding::kOther;
bool g_locale_read = false;

// Directory part of a path, with its trailing separator; "./" when none.
std::string parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return kCurrentDirectory;
  return path.substr(0, slash + 1);
}

int copy_into_place(const std::string& from, const std::string& to) {
  int in = open_read(from);
  if (in < 0) return -1;
  struct stat st;
  if (fstat(in, &st) != 0) {
    close(in);
    return -1;
  }
  std::string tmp_prefix = parent_of(to) + ".quarnel-move-";
  std::string tmp = tmp_prefix + "XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  int out = fault_injected(FaultKind::kOpen) ? -1 : mkostemp(name.data(), O_CLOEXEC);
  if (out < 0) {
    close(in);
    return -1;
  }
  const size_t kChunk = 8 << 20;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
  bool ok = buffer != nullptr;
  while (ok) {
    int64_t got = read_fd(in, buffer.get(), kChunk);
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (write_fd(out, buffer.get(), got) != got) ok = false;
  }
  if (ok && (fault_injected(FaultKind::kFsync) || fsync(out) != 0)) ok = false;
  if (ok) fchmod(out, st.st_mode & 07777);
  if (close_fd(out) != 0) ok = false;
  close_fd(in);
  if (ok && (fault_injected(FaultKind::kRename) ||
             rename(name.data(), to.c_str()) != 0)) {
    ok = false;
  }
  if (!ok) {
    unlink(name.data());
    return -1;
  }
  unlink(from.c_str());
  return 0;
}

// The folder that a signal removes before the process ends; a fixed
// buffer, since the handler may not allocate.
char g_signal_folder[PATH_MAX + 1];
volatile sig_atomic_t g_signal_armed = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kCleanupSignalCount = 4;
struct sigaction g_previous_actions[kCleanupSignalCount];
bool g_handler_installed[kCleanupSignalCount] = {};

// The kernel's directory entry as getdents64 delivers it.
struct DirectoryEntry64 {
  uint64_t inode;
  int64_t offset;
  unsigned short record_length;
  unsigned char type;
  char name[1];
};

// Only async-signal-safe calls: a signal handler runs this. Deleting
// entries while reading the folder may hide others from the same pass, so
// it reads again from the start until a pass finds nothing to delete.
int remove_folder_safely(const char* path) {
  int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(8) char entries[4096];
    for (int pass = 0; pass < 16; ++pass) {
      bool deleted = false;
      if (lseek(dir, 0, SEEK_SET) != 0) break;
      for (;;) {
        long got = syscall(SYS_getdents64, dir, entries, sizeof(entries));
        if (got <= 0) break;
        for (long at = 0; at < got;) {
          const DirectoryEntry64* e =
              reinterpret_cast<const DirectoryEntry64*>(entries + at);
          at += e->record_length;
          const char* name = e->name;
          if (name[0] == '.' &&
              (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
          }
          if (unlinkat(dir, name, 0) == 0 ||
              (errno == EISDIR && unlinkat(dir, name, AT_REMOVEDIR) == 0)) {
            deleted = true;
          }
        }
      }
      if (!deleted) break;
    }
    close(dir);
  }
  return rmdir(path) == 0 ? 0 : -1;
}

void remove_folder_and_end(int signal_number) {
  int saved_errno = errno;
  if (g_signal_armed) {
    g_signal_armed = 0;
    remove_folder_safely(g_signal_folder);
  }
  struct sigaction default_action;
  memset(&default_action, 0, sizeof(default_action));
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  errno = saved_errno;
  // Blocked while this handler runs: delivered, with its default action,
  // as soon as the handler returns.
  raise(signal_number);
}

}  // namespace

int remove_folder(const std::string& path) {
  return remove_folder_safely(path.c_str());
}

int remove_folder_on_signal(const std::string& path) {
  g_signal_armed = 0;
  if (path.empty() || path.size() > PATH_MAX) return -1;
  memcpy(g_signal_folder, path.c_str(), path.size() + 1);
  for (int i = 0; i < kCleanupSignalCount; ++i) {
    if (g_handler_installed[i]) continue;
    struct sigaction current;
    if (sigaction(kCleanupSignals[i], nullptr, &current) != 0) continue;
    // A signal the caller chose to ignore (nohup, a shell) stays ignored.
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = remove_folder_and_end;
    sigfillset(&action.sa_mask);
    if (sigaction(kCleanupSignals[i], &action, &g_previous_actions[i]) == 0) {
      g_handler_installed[i] = true;
    }
  }
  g_signal_armed = 1;
  return 0;
}

void cancel_remove_folder_on_signal() {
  g_signal_armed = 0;
  for (int i = 0; i < kCleanupSignalCount; ++i) {
    if (!g_handler_installed[i]) continue;
    sigaction(kCleanupSignals[i], &g_previous_actions[i], nullptr);
    g_handler_installed[i] = false;
  }
}

std::string executable_path() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "";
  return std::string(buffer.data(), static_cast<size_t>(n));
}

bool is_directory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
  return !path.empty() && access(path.c_str(), F_OK) == 0;
}

bool is_executable_file(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 &&
         S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

int make_directory(const std::string& path) {
  if (fault_injected(FaultKind::kMkdir)) return -1;
  return mkdir(path.c_str(), 0777) == 0 ? 0 : -1;
}

std::string make_unique_directory(const std::string& prefix) {
  std::string pattern = prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (fault_injected(FaultKind::kMkdir)) return "";
  if (mkdtemp(name.data()) == nullptr) return "";
  return std::string(name.data());
}

int remove_directory(const std::string& path) {
  return rmdir(path.c_str()) == 0 ? 0 : -1;
}

int delete_file(const std::string& path) {
  return unlink(path.c_str()) == 0 ? 0 : -1;
}

int move_file(const std::string& from, const std::string& to) {
  if (fault_injected(FaultKind::kRename)) return -1;
  if (rename(from.c_str(), to.c_str()) == 0) return 0;
  if (errno != EXDEV) return -1;
  return copy_into_place(from, to);
}

int64_t file_size(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void advise_large_pages(void* start, int64_t bytes) {
  // madvise wants a page-aligned start; the pages before it stay as they are.
  const uintptr_t huge = 2u << 20;
  uintptr_t first = (reinterpret_cast<uintptr_t>(start) + huge - 1) & ~(huge - 1);
  uintptr_t end = reinterpret_cast<uintptr_t>(start) + static_cast<uintptr_t>(bytes);
  if (bytes <= 0 || end <= first + huge) return;
  madvise(reinterpret_cast<void*>(first), (end - first) & ~(huge - 1), MADV_HUGEPAGE);
}

int64_t available_memory() {
  FILE* f = fopen("/proc/meminfo", "r");
  if (f != nullptr) {
    char line[256];
    long long kib = -1;
    while (fgets(line, sizeof(line), f) != nullptr) {
      if (sscanf(line, "MemAvailable: %lld kB", &kib) == 1) break;
    }
    fclose(f);
    if (kib >= 0) return static_cast<int64_t>(kib) * 1024;
  }
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return -1;
  return static_cast<int64_t>(pages) * page_size;
}

bool can_allocate(int64_t bytes) {
  if (bytes <= 0) return true;
  // An anonymous private mapping is what the allocator itself asks for a
  // large block, so the kernel's overcommit rule answers the same way.
  void* block = mmap(nullptr, static_cast<size_t>(bytes),
                     PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
  munmap(block, static_cast<size_t>(bytes));
  return true;
}

int make_writable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0
             ? 0
             : -1;
}

int change_directory(const std::string& path) {
  return chdir(path.c_str()) == 0 ? 0 : -1;
}

std::string current_directory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return "";
  return std::string(buffer.data());
}

int open_read(const std::string& path) {
  if (fault_injected(FaultKind::kOpen)) return -1;
  return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

int open_write(const std::string& path, bool create, bool truncate) {
  int flags = O_WRONLY | O_CLOEXEC;
  if (create) flags |= O_CREAT;
  if (truncate) flags |= O_TRUNC;
  if (fault_injected(FaultKind::kOpen)) return -1;
  return open(path.c_str(), flags, 0666);
}

int64_t read_fd(int fd, void* buffer, int64_t n) {
  char* p = static_cast<char*>(buffer);
  int64_t total = 0;
  if (fault_injected(FaultKind::kRead)) return -1;
  // A single read delivers at most about 2 GiB on Linux; keep reading until
  // the request is met or the file ends.
  while (total < n) {
    ssize_t got = read(fd, p + total, static_cast<size_t>(n - total));
    if (got < 0) {
      if (errno == EINTR) continue;
      return total > 0 ? total : -1;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

int64_t write_fd(int fd, const void* data, int64_t n) {
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  if (fault_injected(FaultKind::kWrite)) return -1;
  while (done < n) {
    ssize_t put = write(fd, p + done, static_cast<size_t>(n - done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (put == 0) return -1;
    done += put;
  }
  return n;
}

int close_fd(int fd) {
  // Only the close of a file being written can lose data.
  if ((fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY &&
      fault_injected(FaultKind::kClose)) {
    // The descriptor is gone all the same, as after a real failed close.
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return close(fd) == 0 ? 0 : -1;
}

int run_process(const std::vector<std::string>& argv,
                const std::string& folder) {
  if (argv.empty() || argv[0].empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  // Whatever this process has buffered goes out before the child writes.
  fflush(nullptr);
  if (fault_injected(FaultKind::kSpawn)) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int create_unique_file(const std::string& prefix, std::string* path) {
  std::string pattern = prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (fault_injected(FaultKind::kOpen)) return -1;
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  *path = name.data();
  return fd;
}

int64_t open_file_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;
  if (limit.rlim_cur == RLIM_INFINITY) return INT64_MAX;
  return static_cast<int64_t>(limit.rlim_cur);
}

LocalTime local_time() {
  time_t now = time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                   t.tm_hour,        t.tm_min,     t.tm_sec};
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

int terminal_columns(int fd) {
  struct winsize size;
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const char* get_env(const char* name) { return getenv(name); }

void init_locale() {
  setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  g_encoding = SystemEncoding::kOther;
  if (codeset != nullptr) {
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0) {
      g_encoding = SystemEncoding::kUtf8;
    } else if (strcasecmp(codeset, "SHIFT_JIS") == 0 ||
               strcasecmp(codeset, "SJIS") == 0 ||
               strcasecmp(codeset, "CP932") == 0 ||
               strcasecmp(codeset, "WINDOWS-31J") == 0 ||
               strcasecmp(codeset, "SHIFT-JIS") == 0) {
      g_encoding = SystemEncoding::kShiftJis;
    }
  }
  // The sort itself compares bytes: no locale may change that.
  setlocale(LC_COLLATE, "C");
  setlocale(LC_NUMERIC, "C");
  g_locale_read = true;
}

SystemEncoding system_encoding() {
  if (!g_locale_read) init_locale();
  return g_encoding;
}

void set_system_encoding_for_test(SystemEncoding encoding) {
  g_encoding = encoding;
  g_locale_read = true;
}

}  // namespace quarnel::platform
