// Windows face of the platform layer (MinGW-w64, statically linked). Paths
// are system text in the ANSI code page, handed to the "A" calls as they
// are. Files are opened with CreateFileA, sharing everything (deleting
// included), and turned into C runtime descriptors in binary mode.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/platform.h"

namespace quarnel::platform {

namespace {

SystemEncoding g_encoding = SystemEncoding::kOther;
bool g_locale_read = false;

// What a console event or a broken pipe cleans up: the locked folders
// and the running child. Fixed buffers: the handler runs on a thread of
// its own and must not depend on the main thread's heap objects.
constexpr int kFolderSlots = 2;
char g_folders[kFolderSlots][MAX_PATH + 8];
volatile LONG g_folder_armed[kFolderSlots] = {};
// The lock of each folder: its lock file held open without sharing, which
// the system lets go of when the process ends, however it ends.
HANDLE volatile g_lock_handles[kFolderSlots] = {INVALID_HANDLE_VALUE,
                                                INVALID_HANDLE_VALUE};
bool g_handler_installed = false;
constexpr const char* kLockName = ".lock";
// The running child's job and process; the job ends the child with this
// process whatever way it ends (KILL_ON_JOB_CLOSE).
HANDLE g_child_job = nullptr;
HANDLE volatile g_child_process = nullptr;

// Deletes the files and empty folders directly inside a folder, then the
// folder. Only Win32 calls and stack buffers: the console handler runs it.
int remove_folder_in_place(const char* path) {
  size_t length = strlen(path);
  char pattern[MAX_PATH + 8];
  if (length == 0 || length + 3 > MAX_PATH) {
    return RemoveDirectoryA(path) ? 0 : -1;
  }
  memcpy(pattern, path, length);
  size_t at = length;
  if (pattern[at - 1] != '\\' && pattern[at - 1] != '/') pattern[at++] = '\\';
  const size_t folder_length = at;
  pattern[at++] = '*';
  pattern[at] = '\0';
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(pattern, &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const char* name = entry.cFileName;
      if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
      char item[MAX_PATH + 8];
      size_t name_length = strlen(name);
      if (folder_length + name_length >= sizeof(item)) continue;
      memcpy(item, pattern, folder_length);
      memcpy(item + folder_length, name, name_length + 1);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryA(item);
      } else {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
          SetFileAttributesA(item, FILE_ATTRIBUTE_NORMAL);
        }
        DeleteFileA(item);
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  return RemoveDirectoryA(path) ? 0 : -1;
}

// Ends the running child: it got the same console event and may end by
// itself (cleaning up after itself) first; after a short wait it is ended.
void stop_child(DWORD wait_ms) {
  HANDLE child = g_child_process;
  if (child == nullptr) return;
  if (WaitForSingleObject(child, wait_ms) != WAIT_OBJECT_0) {
    if (g_child_job != nullptr) TerminateJobObject(g_child_job, 1);
    TerminateProcess(child, 1);
    WaitForSingleObject(child, 5000);
  }
}

constexpr UINT kInterruptedExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Ends the process as an interrupted one, after the child and the folder.
// A status line stands on the console behind standard error.
volatile LONG g_status_shown = 0;

void clean_up_and_end(DWORD child_wait_ms) {
  stop_child(child_wait_ms);
  for (int i = 0; i < kFolderSlots; ++i) {
    if (InterlockedExchange(&g_folder_armed[i], 0) == 0) continue;
    // A file held without sharing cannot be deleted, not even by its
    // holder: the lock goes first.
    HANDLE lock = g_lock_handles[i];
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    remove_folder_in_place(g_folders[i]);
  }
  if (g_status_shown != 0) {
    // Back to the line's start, then erase to its end: last, so that a
    // drawing made while the folders went is cleared too.
    static const char kClear[] = "\r\033[K";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kClear, sizeof(kClear) - 1, &written, nullptr);
  }
  ExitProcess(kInterruptedExitCode);
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      clean_up_and_end(1500);
      return TRUE;
    default:
      return FALSE;
  }
}

// A unique name's tail: six letters and digits from a counter, the time and
// the process id.
std::string unique_tail() {
  static unsigned long long counter = 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  unsigned long long x = static_cast<unsigned long long>(now.QuadPart) ^
                         (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                         (++counter * 0x9E3779B97F4A7C15ull);
  static const char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string tail;
  for (int i = 0; i < 6; ++i) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    tail += kLetters[x % 62];
  }
  return tail;
}

// The descriptors open for writing: the C runtime keeps no access mode
// that could be asked.
std::vector<char> g_writing_fds;

int descriptor_of(HANDLE handle, int flags) {
  if (handle == INVALID_HANDLE_VALUE) return -1;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return -1;
  }
  if ((flags & (_O_WRONLY | _O_RDWR)) != 0) {
    if (static_cast<size_t>(fd) >= g_writing_fds.size()) g_writing_fds.resize(fd + 1);
    g_writing_fds[fd] = 1;
  }
  return fd;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool ends_with_nocase(const std::string& text, const char* suffix) {
  size_t n = strlen(suffix);
  if (text.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(text[text.size() - n + i])) !=
        tolower(static_cast<unsigned char>(suffix[i]))) {
      return false;
    }
  }
  return true;
}

// One argument as the C runtime of the child splits it again: quoted when
// it holds a blank or a tab or is empty, the backslashes before a quote
// (and before the closing quote) doubled.
void append_argument(std::string* line, const std::string& argument) {
  if (!line->empty()) *line += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    *line += argument;
    return;
  }
  *line += '"';
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line->append(backslashes * 2 + 1, '\\');
    } else {
      line->append(backslashes, '\\');
    }
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, '\\');
  *line += '"';
}

HANDLE inheritable_std_handle(DWORD which) {
  HANDLE h = GetStdHandle(which);
  if (h != nullptr && h != INVALID_HANDLE_VALUE) {
    SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return h;
}

}  // namespace

int remove_folder(const std::string& path) {
  return remove_folder_in_place(path.c_str());
}

std::string make_locked_folder(const std::string& prefix) {
  int slot = 0;
  while (slot < kFolderSlots && g_lock_handles[slot] != INVALID_HANDLE_VALUE) ++slot;
  if (slot == kFolderSlots) return "";
  std::string folder = make_unique_directory(prefix);
  if (folder.empty()) return "";
  // Room for the folder's files beside the lock in the handler's buffers.
  const std::string lock_path = folder + "\\" + kLockName;
  HANDLE lock = INVALID_HANDLE_VALUE;
  if (folder.size() + 16 < sizeof(g_folders[slot])) {
    // Created and held in one step, without sharing: a lock file that
    // others can see is one that is held.
    lock = CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (lock == INVALID_HANDLE_VALUE) {
    RemoveDirectoryA(folder.c_str());
    return "";
  }
  memcpy(g_folders[slot], folder.c_str(), folder.size() + 1);
  g_lock_handles[slot] = lock;
  InterlockedExchange(&g_folder_armed[slot], 1);
  if (!g_handler_installed && SetConsoleCtrlHandler(on_console_event, TRUE)) {
    g_handler_installed = true;
  }
  return folder;
}

int remove_locked_folder(const std::string& path) {
  bool any_left = false;
  for (int i = 0; i < kFolderSlots; ++i) {
    if (g_lock_handles[i] != INVALID_HANDLE_VALUE && path == g_folders[i]) {
      // Disarmed first, so that the handler never closes the handle too.
      if (InterlockedExchange(&g_folder_armed[i], 0) != 0) {
        CloseHandle(g_lock_handles[i]);
      }
      g_lock_handles[i] = INVALID_HANDLE_VALUE;
    }
    if (g_lock_handles[i] != INVALID_HANDLE_VALUE) any_left = true;
  }
  int result = remove_folder_in_place(path.c_str());
  if (!any_left && g_handler_installed) {
    SetConsoleCtrlHandler(on_console_event, FALSE);
    g_handler_installed = false;
  }
  return result;
}

void remove_abandoned_folders(const std::string& parent,
                              const std::string& prefix) {
  std::string folder = parent.empty() ? std::string(kCurrentDirectory) : parent;
  const char last = folder.back();
  if (last != '\\' && last != '/' && last != ':') folder += '\\';
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + prefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> abandoned;
  do {
    // A link to a folder elsewhere is no job's folder.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    if (strncmp(entry.cFileName, prefix.c_str(), prefix.size()) != 0) continue;
    abandoned.push_back(folder + entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  for (const std::string& path : abandoned) {
    const std::string lock_path = path + "\\" + kLockName;
    // Opened without sharing only when nobody holds it; held while the
    // other files go, which keeps a second cleaner out, and deleted as it
    // is closed.
    HANDLE lock = CreateFileA(lock_path.c_str(), GENERIC_READ | DELETE, 0,
                              nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr);
    if (lock == INVALID_HANDLE_VALUE) continue;
    if (GetFileType(lock) != FILE_TYPE_DISK) {
      CloseHandle(lock);
      continue;
    }
    remove_folder_in_place(path.c_str());
    CloseHandle(lock);
    RemoveDirectoryA(path.c_str());
  }
}

bool ended_by_broken_pipe(int) {
  // A child that writes to a pipe whose reader has gone gets an error from
  // WriteFile, not a signal.
  return false;
}

void end_by_broken_pipe() {}

FileIdentity identify_file(const std::string& path) {
  FileIdentity id;
  if (path.empty()) return id;
  // No access asked: only the attributes are read, and a file that others
  // hold without sharing can still be told. Backup semantics open a folder.
  HANDLE h = CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
    id.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                  ? FileKind::kDirectory
                  : FileKind::kRegular;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else {
    // A device (NUL, CON) or a named pipe has no file index: it is told by
    // its name, letter case aside, on a volume no disk has.
    id.kind = FileKind::kOther;
    id.device = UINT64_MAX;
    uint64_t hash = 14695981039346656037ull;
    for (char c : path) {
      hash ^= static_cast<unsigned char>(toupper(static_cast<unsigned char>(c)));
      hash *= 1099511628211ull;
    }
    id.inode = hash;
  }
  CloseHandle(h);
  return id;
}

std::string follow_links(const std::string& path) {
  // The system follows a link where it opens or replaces a file; there is
  // nothing to follow by hand.
  return path;
}

bool may_write(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
  }
  // A device such as NUL has no attributes to read; one that is there
  // takes what is written to it.
  return identify_file(path).kind == FileKind::kOther;
}

std::string executable_path() {
  std::vector<char> buffer(MAX_PATH + 1);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(),
                                 static_cast<DWORD>(buffer.size()));
    if (n == 0) return "";
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() > 65536) return "";
    buffer.resize(buffer.size() * 2);
  }
}

bool is_directory(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_executable_file(const std::string& path) {
  return exists(path) && !is_directory(path) && ends_with_nocase(path, ".exe");
}

std::vector<std::string> interpreter_command() {
  const char* windir = getenv("windir");
  if (windir == nullptr || *windir == '\0') return {};
  return {std::string(windir) + "\\SYSTEM32\\CMD.EXE", "/C"};
}

std::string default_work_dir() {
  const char* value = getenv("TMP");
  return value != nullptr ? std::string(value) : std::string();
}

int make_directory(const std::string& path) {
  if (fault_injected(FaultKind::kMkdir)) return -1;
  return CreateDirectoryA(path.c_str(), nullptr) ? 0 : -1;
}

std::string make_unique_directory(const std::string& prefix) {
  if (fault_injected(FaultKind::kMkdir)) return "";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + unique_tail();
    if (CreateDirectoryA(name.c_str(), nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
  }
  return "";
}

int remove_directory(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) ? 0 : -1;
}

int delete_file(const std::string& path) {
  return DeleteFileA(path.c_str()) ? 0 : -1;
}

int move_file(const std::string& from, const std::string& to) {
  if (fault_injected(FaultKind::kRename)) return -1;
  // A device or a folder at the target is never replaced.
  const FileKind kind = identify_file(to).kind;
  if (kind == FileKind::kDirectory || kind == FileKind::kOther) return -1;
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED |
                         MOVEFILE_WRITE_THROUGH)
             ? 0
             : -1;
}

int64_t file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int64_t available_memory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) return -1;
  return static_cast<int64_t>(status.ullAvailPhys);
}

void prefault_pages(void*, int64_t) {
  // The pages fault in as the reader fills them.
}

// A view of the whole file. The system refuses to shorten a file while a
// view of it exists, so no page can be lost under it. The zeros behind the
// last byte are the rest of its page: a file that leaves fewer than 8
// there is read into the sort buffer instead.
const char* map_for_reading(int fd, int64_t n, const std::string&) {
  constexpr int64_t kPage = 4096;
  if (n <= 0 || n % kPage == 0 || n % kPage > kPage - 8) return nullptr;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  LARGE_INTEGER size;
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK ||
      !GetFileSizeEx(h, &size) || size.QuadPart != n) {
    return nullptr;
  }
  HANDLE mapping = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  // The view keeps the mapping open.
  CloseHandle(mapping);
  return static_cast<const char*>(view);
}

void unmap_for_reading(const char* start, int64_t) {
  if (start != nullptr) UnmapViewOfFile(start);
}

bool can_allocate(int64_t bytes) {
  if (bytes <= 0) return true;
  // Committing charges the block against the commit limit, which is what
  // decides whether the allocator can have it; no page is touched.
  void* block = VirtualAlloc(nullptr, static_cast<SIZE_T>(bytes),
                             MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (block == nullptr) return false;
  VirtualFree(block, 0, MEM_RELEASE);
  return true;
}

int make_writable(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return 0;
  return SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)
             ? 0
             : -1;
}

int change_directory(const std::string& path) {
  return SetCurrentDirectoryA(path.c_str()) ? 0 : -1;
}

std::string current_directory() {
  DWORD n = GetCurrentDirectoryA(0, nullptr);
  if (n == 0) return "";
  std::vector<char> buffer(n + 1);
  n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return "";
  return std::string(buffer.data(), n);
}

// Giving back the bytes of a file as it is read would take a sparse file;
// the runs stay whole until they are deleted.
void release_bytes(const std::string&, int64_t, int64_t) {}

// The system's cache manager has a lazy writer of its own: nothing to ask.
void start_disk_write(int, int64_t, int64_t) {}
void drop_written_pages(int, int64_t, int64_t) {}
// Files grow cluster by cluster as they are written; nothing is set aside.
int reserve_space(int, int64_t) { return -1; }

int open_read(const std::string& path) {
  if (fault_injected(FaultKind::kOpen)) return -1;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return descriptor_of(h, _O_RDONLY);
}

int open_write(const std::string& path, bool create, bool truncate) {
  DWORD disposition = OPEN_EXISTING;
  if (create && truncate) {
    disposition = CREATE_ALWAYS;
  } else if (create) {
    disposition = OPEN_ALWAYS;
  } else if (truncate) {
    disposition = TRUNCATE_EXISTING;
  }
  if (fault_injected(FaultKind::kOpen)) return -1;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return descriptor_of(h, _O_WRONLY);
}

// Reads and writes go to the system handle behind the descriptor: no text
// mode of the C runtime can turn a LF into CR LF, whoever opened it.
int64_t read_fd(int fd, void* buffer, int64_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return -1;
  char* p = static_cast<char*>(buffer);
  int64_t total = 0;
  if (fault_injected(FaultKind::kRead)) return -1;
  while (total < n) {
    int64_t piece = n - total;
    if (piece > (1 << 30)) piece = 1 << 30;
    DWORD got = 0;
    if (!ReadFile(h, p + total, static_cast<DWORD>(piece), &got, nullptr)) {
      // The writer of a pipe has gone: the end of the data.
      if (GetLastError() == ERROR_BROKEN_PIPE) break;
      return total > 0 ? total : -1;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

int64_t write_fd(int fd, const void* data, int64_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return -1;
  const char* p = static_cast<const char*>(data);
  int64_t done = 0;
  if (fault_injected(FaultKind::kWrite)) return -1;
  while (done < n) {
    int64_t piece = n - done;
    if (piece > (1 << 30)) piece = 1 << 30;
    DWORD put = 0;
    if (!WriteFile(h, p + done, static_cast<DWORD>(piece), &put, nullptr) ||
        put == 0) {
      // The reader of a pipe has gone (| more ended): the POSIX build ends
      // quietly by SIGPIPE, and so does this one.
      DWORD error = GetLastError();
      if ((error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) &&
          GetFileType(h) == FILE_TYPE_PIPE) {
        clean_up_and_end(0);
      }
      return -1;
    }
    done += put;
  }
  return n;
}

int close_fd(int fd) {
  // Only the close of a file being written can lose data.
  const bool writing = fd >= 0 && static_cast<size_t>(fd) < g_writing_fds.size() &&
                       g_writing_fds[fd] != 0;
  if (writing) g_writing_fds[fd] = 0;
  if (writing && fault_injected(FaultKind::kClose)) {
    // The descriptor is gone all the same, as after a real failed close.
    int saved = errno;
    _close(fd);
    errno = saved;
    return -1;
  }
  return _close(fd) == 0 ? 0 : -1;
}

int run_process(const std::vector<std::string>& argv,
                const std::string& folder) {
  if (argv.empty() || argv[0].empty()) return -1;
  if (fault_injected(FaultKind::kSpawn)) return -1;
  std::string line;
  for (const std::string& a : argv) append_argument(&line, a);
  std::vector<char> command(line.begin(), line.end());
  command.push_back('\0');

  // The child writes to the same standard handles as this process.
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable_std_handle(STD_INPUT_HANDLE);
  startup.hStdOutput = inheritable_std_handle(STD_OUTPUT_HANDLE);
  startup.hStdError = inheritable_std_handle(STD_ERROR_HANDLE);

  if (g_child_job == nullptr) {
    g_child_job = CreateJobObjectA(nullptr, nullptr);
    if (g_child_job != nullptr) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
      memset(&limits, 0, sizeof(limits));
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(g_child_job, JobObjectExtendedLimitInformation,
                              &limits, sizeof(limits));
    }
  }
  // Whatever this process has buffered goes out before the child writes.
  fflush(nullptr);
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof(process));
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                      NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup,
                      &process)) {
    return -1;
  }
  // In the job, the child cannot outlive this process, however it ends.
  if (g_child_job != nullptr) AssignProcessToJobObject(g_child_job, process.hProcess);
  g_child_process = process.hProcess;
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  BOOL got = GetExitCodeProcess(process.hProcess, &code);
  g_child_process = nullptr;
  CloseHandle(process.hProcess);
  if (!got) return -1;
  return static_cast<int>(code);
}

int create_unique_file(const std::string& prefix, std::string* path) {
  if (fault_injected(FaultKind::kOpen)) return -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + unique_tail();
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, kShareAll, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return -1;
    }
    int fd = descriptor_of(h, _O_WRONLY);
    if (fd >= 0) *path = name;
    return fd;
  }
  return -1;
}

int64_t open_file_limit() {
  // The C runtime's table of low-level descriptors; a margin stays for the
  // standard ones and the odd file of the program itself.
  return 512;
}

LocalTime local_time() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool is_terminal(int fd) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_CHAR &&
         GetConsoleMode(h, &mode);
}

int terminal_columns(int fd) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(h, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void write_error_text(const char* data, size_t n) {
  if (n == 0) return;
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  // GetConsoleMode succeeds only on a console, not on a file or a pipe.
  if (h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) &&
      GetConsoleOutputCP() != 932) {
    int units = MultiByteToWideChar(932, 0, data, static_cast<int>(n), nullptr, 0);
    if (units > 0) {
      std::wstring wide(static_cast<size_t>(units), L'\0');
      MultiByteToWideChar(932, 0, data, static_cast<int>(n), wide.data(), units);
      fflush(stderr);
      DWORD written = 0;
      if (WriteConsoleW(h, wide.data(), static_cast<DWORD>(units), &written, nullptr)) {
        return;
      }
    }
  }
  fwrite(data, 1, n, stderr);
}

const char* get_env(const char* name) { return getenv(name); }

void set_status_line_shown(bool shown) { InterlockedExchange(&g_status_shown, shown ? 1 : 0); }

void set_env(const char* name, const char* value) { _putenv_s(name, value); }

void init_locale() {
  // Data and messages leave as the exact bytes the program made: no text
  // mode turning LF into CR LF (and a CR LF into CR CR LF).
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  // System text is in the ANSI code page. Code page 932 has the Shift_JIS
  // lead bytes (IsDBCSLeadByte agrees); a code page without lead bytes
  // (1252 and the like) lets no byte hide a following separator.
  g_encoding = GetACP() == 932 ? SystemEncoding::kShiftJis : SystemEncoding::kOther;
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
