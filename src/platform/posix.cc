// POSIX face of the platform layer.
#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <dirent.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
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

// Folders that a stopping signal removes before the process ends, and the
// lock each holds; fixed buffers, since the handler may not allocate.
constexpr int kFolderSlots = 2;
char g_folders[kFolderSlots][PATH_MAX + 1];
volatile sig_atomic_t g_folder_armed[kFolderSlots] = {};
int g_lock_fds[kFolderSlots] = {-1, -1};
// The child run_process waits for, or 0.
volatile sig_atomic_t g_child = 0;
// A status line stands on the terminal behind standard error.
volatile sig_atomic_t g_status_shown = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kCleanupSignalCount = 4;
struct sigaction g_previous_actions[kCleanupSignalCount];
bool g_handler_installed[kCleanupSignalCount] = {};
constexpr const char* kLockName = ".lock";

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
  int dir = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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

// Stops the running child and waits for it, so that nothing of the job
// goes on once the process has ended.
void stop_child() {
  pid_t child = g_child;
  if (child <= 0) return;
  kill(child, SIGTERM);
  int status;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_child = 0;
}

void stop_and_end(int signal_number) {
  int saved_errno = errno;
  stop_child();
  for (int i = 0; i < kFolderSlots; ++i) {
    if (g_folder_armed[i]) {
      g_folder_armed[i] = 0;
      remove_folder_safely(g_folders[i]);
    }
  }
  struct sigaction default_action;
  memset(&default_action, 0, sizeof(default_action));
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  if (g_status_shown) {
    // Back to the line's start, then erase to its end: last, so that a
    // drawing made while the folders went is cleared too.
    static const char kClear[] = "\r\033[K";
    ssize_t ignored = write(2, kClear, sizeof(kClear) - 1);
    (void)ignored;
  }
  errno = saved_errno;
  // Blocked while this handler runs: delivered, with its default action,
  // as soon as the handler returns.
  raise(signal_number);
}

void install_handlers() {
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
    action.sa_handler = stop_and_end;
    sigfillset(&action.sa_mask);
    if (sigaction(kCleanupSignals[i], &action, &g_previous_actions[i]) == 0) {
      g_handler_installed[i] = true;
    }
  }
}

void restore_handlers() {
  for (int i = 0; i < kCleanupSignalCount; ++i) {
    if (!g_handler_installed[i]) continue;
    sigaction(kCleanupSignals[i], &g_previous_actions[i], nullptr);
    g_handler_installed[i] = false;
  }
}

sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : kCleanupSignals) sigaddset(&set, signal_number);
  return set;
}

// The new file takes the old one's owner and group where allowed (the
// group alone when only that is), then its permission bits, which a change
// of owner may have cleared.
void keep_attributes(int fd, const struct stat& old) {
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
    }
  }
  fchmod(fd, old.st_mode & 07777);
}

// Copies from into a file in a locked folder beside to, syncs it and
// renames it over to (a regular file or nothing); old is to's status when
// it exists.
int copy_into_place(const std::string& from, const std::string& to,
                    const struct stat* old) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return -1;
  struct stat st;
  if (fstat(in, &st) != 0) {
    close(in);
    return -1;
  }
  const std::string prefix = ".quarnel-move-";
  remove_abandoned_folders(parent_of(to), prefix);
  std::string folder = make_locked_folder(parent_of(to) + prefix);
  if (folder.empty()) {
    close(in);
    return -1;
  }
  std::string tmp = folder + "/result";
  int out = fault_injected(FaultKind::kOpen)
                ? -1
                : open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = out >= 0;
  const size_t kChunk = 8 << 20;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
  if (buffer == nullptr) ok = false;
  while (ok) {
    int64_t got = read_fd(in, buffer.get(), kChunk);
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (write_fd(out, buffer.get(), got) != got) ok = false;
  }
  if (ok && (fault_injected(FaultKind::kFsync) || fsync(out) != 0)) ok = false;
  if (ok) {
    if (old != nullptr) {
      keep_attributes(out, *old);
    } else {
      fchmod(out, st.st_mode & 07777);
    }
  }
  if (out >= 0 && close(out) != 0) ok = false;
  close(in);
  if (ok && (fault_injected(FaultKind::kRename) ||
             rename(tmp.c_str(), to.c_str()) != 0)) {
    ok = false;
  }
  remove_locked_folder(folder);
  if (!ok) return -1;
  unlink(from.c_str());
  return 0;
}

}  // namespace

int remove_folder(const std::string& path) {
  return remove_folder_safely(path.c_str());
}

namespace {

// Holds the cleanup signals back while a locked folder comes into being:
// one that ended the process between the folder's creation and its lock
// (or before the handler that removes it) would leave a folder that no
// cleaner may touch. A signal held back arrives when the guard goes.
class HoldStopSignals {
 public:
  HoldStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : kCleanupSignals) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, &previous_);
  }
  ~HoldStopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

}  // namespace

std::string make_locked_folder(const std::string& prefix) {
  int slot = 0;
  while (slot < kFolderSlots && g_lock_fds[slot] >= 0) ++slot;
  if (slot == kFolderSlots) return "";
  HoldStopSignals hold;
  std::string folder = make_unique_directory(prefix);
  if (folder.empty() || folder.size() > PATH_MAX) {
    if (!folder.empty()) rmdir(folder.c_str());
    return "";
  }
  // The lock is taken under a passing name and then renamed: a lock file
  // that others can see is always one that is held.
  std::string passing;
  int fd = create_unique_file(folder + "/.lock-", &passing);
  if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      rename(passing.c_str(), (folder + "/" + kLockName).c_str()) != 0) {
    if (fd >= 0) {
      close(fd);
      unlink(passing.c_str());
    }
    rmdir(folder.c_str());
    return "";
  }
  g_lock_fds[slot] = fd;
  memcpy(g_folders[slot], folder.c_str(), folder.size() + 1);
  g_folder_armed[slot] = 1;
  install_handlers();
  return folder;
}

int remove_locked_folder(const std::string& path) {
  int result = remove_folder_safely(path.c_str());
  bool any_left = false;
  for (int i = 0; i < kFolderSlots; ++i) {
    if (g_lock_fds[i] >= 0 && path == g_folders[i]) {
      g_folder_armed[i] = 0;
      close(g_lock_fds[i]);
      g_lock_fds[i] = -1;
    }
    if (g_lock_fds[i] >= 0) any_left = true;
  }
  // Removed before the handlers go, so that no moment is left in which a
  // signal would end the process with the folder still there.
  if (!any_left) restore_handlers();
  return result;
}

void remove_abandoned_folders(const std::string& parent,
                              const std::string& prefix) {
  std::string folder = parent.empty() ? std::string(kCurrentDirectory) : parent;
  if (folder.back() != '/') folder += '/';
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> abandoned;
  while (struct dirent* e = readdir(dir)) {
    if (strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    std::string path = folder + e->d_name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    abandoned.push_back(path);
  }
  closedir(dir);
  for (const std::string& path : abandoned) {
    std::string lock = path + "/" + kLockName;
    int fd = open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    // Holding the lock while removing keeps a second cleaner out.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
      remove_folder_safely(path.c_str());
    }
    close(fd);
  }
}

bool ended_by_broken_pipe(int status) { return status == 128 + SIGPIPE; }

void end_by_broken_pipe() { raise(SIGPIPE); }

FileIdentity identify_file(const std::string& path) {
  FileIdentity id;
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return id;
  id.kind = S_ISREG(st.st_mode)   ? FileKind::kRegular
            : S_ISDIR(st.st_mode) ? FileKind::kDirectory
                                  : FileKind::kOther;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  return id;
}

std::string follow_links(const std::string& path) {
  std::string at = path;
  // As many as the system itself follows before it gives up.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    ssize_t n = readlink(at.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return at;
    std::string next(target.data(), static_cast<size_t>(n));
    // A relative target is relative to the link's own folder.
    at = next[0] == '/' || at.find('/') == std::string::npos
             ? next
             : parent_of(at) + next;
  }
  return at;
}

bool may_write(const std::string& path) {
  return !path.empty() && access(path.c_str(), W_OK) == 0;
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

std::vector<std::string> interpreter_command() { return {"/bin/sh"}; }

std::string default_work_dir() {
  for (const char* name : {"TMP", "TMPDIR"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/tmp";
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
  const std::string target = follow_links(to);
  struct stat old;
  const bool had = stat(target.c_str(), &old) == 0;
  if (had && !S_ISREG(old.st_mode)) {
    errno = EEXIST;
    return -1;
  }
  if (had) {
    int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      keep_attributes(fd, old);
      close(fd);
    }
  }
  if (rename(from.c_str(), target.c_str()) == 0) return 0;
  if (errno != EXDEV) return -1;
  return copy_into_place(from, target, had ? &old : nullptr);
}

int64_t file_size(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void prefault_pages(void* start, int64_t bytes) {
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
  // Whole pages only: the partial ones at either end fault as they fill.
  const uintptr_t page = 4096;
  uintptr_t first = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(start) + static_cast<uintptr_t>(bytes)) &
                  ~(page - 1);
  if (bytes <= 0 || end <= first) return;
  // Older kernels refuse the advice; the reader then faults the pages in.
  madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

namespace {

// The mapping with the zero page behind it.
size_t mapped_span(int64_t n) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return (static_cast<size_t>(n) + page - 1) / page * page + page;
}

// A file that shrinks while mapped makes reading its lost pages raise
// SIGBUS. The job then ends as a stopping signal ends it (its child
// stopped, its folders removed), after the message given with the mapping.
const char* volatile g_mapped_start = nullptr;
size_t g_mapped_span = 0;
char g_bus_message[4096];
size_t g_bus_message_length = 0;
struct sigaction g_previous_bus_action;

void end_on_lost_page(int signal_number, siginfo_t* info, void*) {
  const char* at = static_cast<const char*>(info->si_addr);
  const char* start = g_mapped_start;
  if (start != nullptr && at >= start && at < start + g_mapped_span) {
    ssize_t ignored = write(2, g_bus_message, g_bus_message_length);
    (void)ignored;
  }
  stop_and_end(signal_number);
}

}  // namespace

const char* map_for_reading(int fd, int64_t n, const std::string& lost_page_message) {
  struct stat st;
  if (n <= 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < n) {
    return nullptr;
  }
  // A zero page is set aside first and the file mapped over its front:
  // the bytes behind the file's last one, up to the next page, read as
  // zeros, and so does the page behind that.
  const size_t span = mapped_span(n);
  // The file starts at a 2 MB boundary, where the system can map whole
  // 2 MB pieces of its cache with one entry each: the sort reads the lines
  // all over the file, and fewer entries to look up make each read cheaper.
  const size_t align = size_t{2} << 20;
  void* reserved = mmap(nullptr, span + align, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (reserved == MAP_FAILED) return nullptr;
  char* low = static_cast<char*>(reserved);
  char* area = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(low) + align - 1) & ~(align - 1));
  if (area > low) munmap(low, static_cast<size_t>(area - low));
  if (low + align > area) munmap(area + span, static_cast<size_t>(low + align - area));
  void* file = mmap(area, static_cast<size_t>(n), PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
  if (file == MAP_FAILED) {
    munmap(area, span);
    return nullptr;
  }
  g_bus_message_length = std::min(lost_page_message.size(), sizeof(g_bus_message));
  memcpy(g_bus_message, lost_page_message.data(), g_bus_message_length);
  g_mapped_span = span;
  g_mapped_start = static_cast<const char*>(file);
  struct sigaction action;
  memset(&action, 0, sizeof(action));
  action.sa_sigaction = end_on_lost_page;
  action.sa_flags = SA_SIGINFO;
  sigfillset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous_bus_action);
  return static_cast<const char*>(file);
}

void unmap_for_reading(const char* start, int64_t n) {
  if (start == nullptr) return;
  if (start == g_mapped_start) {
    sigaction(SIGBUS, &g_previous_bus_action, nullptr);
    g_mapped_start = nullptr;
  }
  munmap(const_cast<char*>(start), mapped_span(n));
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

void release_bytes(const std::string& path, int64_t offset, int64_t n) {
  if (n <= 0) return;
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return;
  // File systems without holes refuse; the bytes then simply stay.
  fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, n);
  close(fd);
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

// The system gives a file the pages of a write in pieces as large as the
// write allows: large writes take large pieces of free memory, which a
// virtual machine may first have to bring back from its host, at several
// times the cost of the copy. Measured writing 2 GB on such a machine:
// 64 KB writes 0.5-1.3 s, 128 KB 2-2.5 s, 256 KB 2.4-4.5 s, and 1 MB
// writes were slower still. The extra calls cost next to nothing.
constexpr int64_t kWriteStep = 64 << 10;

int64_t write_fd(int fd, const void* data, int64_t n) {
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  if (fault_injected(FaultKind::kWrite)) return -1;
  while (done < n) {
    ssize_t put = write(fd, p + done, static_cast<size_t>(std::min(n - done, kWriteStep)));
    if (put < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (put == 0) return -1;
    done += put;
  }
  return n;
}

void start_disk_write(int fd, int64_t offset, int64_t n) {
#ifdef __linux__
  if (n > 0) sync_file_range(fd, offset, n, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd, (void)offset, (void)n;
#endif
}

void drop_written_pages(int fd, int64_t offset, int64_t n) {
  if (n > 0) posix_fadvise(fd, offset, n, POSIX_FADV_DONTNEED);
}

int reserve_space(int fd, int64_t n) {
#ifdef FALLOC_FL_KEEP_SIZE
  if (n > 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, n) == 0) return 0;
#else
  (void)fd, (void)n;
#endif
  return -1;
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
  // The child tells through this pipe why it could not start; a pipe
  // closed by a successful exec tells that it did.
  if (fault_injected(FaultKind::kSpawn)) return -1;
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  // Whatever this process has buffered goes out before the child writes.
  fflush(nullptr);
  // No stopping signal between the fork and the note of the child's id.
  sigset_t stopping = stopping_signals();
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &stopping, &previous);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    // The handlers belong to the parent's job: here they would remove its
    // folders. SIGTERM always ends the child, which is how it is stopped.
    for (int signal_number : kCleanupSignals) {
      struct sigaction current;
      if (sigaction(signal_number, nullptr, &current) == 0 &&
          (current.sa_handler != SIG_IGN || signal_number == SIGTERM)) {
        signal(signal_number, SIG_DFL);
      }
    }
    // Ended with the parent, also when the parent is killed outright.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    int error = 0;
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      error = errno;
    } else {
      execv(args[0], args.data());
      error = errno;
    }
    if (write(report[1], &error, sizeof(error)) < 0) {
    }
    _exit(127);
  }
  close(report[1]);
  if (pid < 0) {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    close(report[0]);
    return -1;
  }
  g_child = pid;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  int error = 0;
  ssize_t told;
  while ((told = read(report[0], &error, sizeof(error))) < 0 && errno == EINTR) {
  }
  close(report[0]);
  // Waited for without reaping, so that its id cannot be reused while a
  // signal handler may still stop it.
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
         errno == EINTR) {
  }
  sigprocmask(SIG_BLOCK, &stopping, nullptr);
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  g_child = 0;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (reaped != pid || told > 0) return -1;
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

void write_error_text(const char* data, size_t n) {
  fwrite(data, 1, n, stderr);
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

int terminal_columns(int fd) {
  struct winsize size;
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const char* get_env(const char* name) { return getenv(name); }

void set_status_line_shown(bool shown) { g_status_shown = shown ? 1 : 0; }

void set_env(const char* name, const char* value) { setenv(name, value, 1); }

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
