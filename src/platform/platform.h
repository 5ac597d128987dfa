// The few operating-system services the programs need, behind one small
// surface. This is the only place that knows the operating system; one
// implementation file per system (posix.cc, windows.cc). Results follow the program's
// convention: 0 or a count on success, -1 on failure.
#ifndef QUARNEL_PLATFORM_PLATFORM_H_
#define QUARNEL_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel::platform {

#ifdef _WIN32
// The separator of path components, and the current directory prefix.
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kCurrentDirectory = ".\\";
// What separates the folders of the PATH variable.
inline constexpr char kPathListSeparator = ';';
// Ends the file name of a program ("Tolvinar.exe").
inline constexpr const char* kExecutableSuffix = ".exe";
// The longest path the system calls take (the 260-byte field less its
// NUL); a longer one is refused, never cut.
inline constexpr size_t kLongestPath = 259;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kCurrentDirectory = "./";
inline constexpr char kPathListSeparator = ':';
inline constexpr const char* kExecutableSuffix = "";
// Paths are sized to fit; the system itself refuses what it cannot take.
inline constexpr size_t kLongestPath = SIZE_MAX;
#endif

// Full path of the running executable, or "" when it cannot be found.
std::string executable_path();

bool is_directory(const std::string& path);
bool exists(const std::string& path);
// True when the path names a regular file the caller may execute (on
// Windows: a file whose name ends in ".exe").
bool is_executable_file(const std::string& path);
// The command interpreter that runs a file that is no executable, and its
// arguments before the file's name: /bin/sh; or %windir%\SYSTEM32\CMD.EXE
// /C, empty when windir is not set.
std::vector<std::string> interpreter_command();
// The work directory when /T names none: TMP, then TMPDIR, then /tmp; on
// Windows TMP, or "" (the root of the current drive).
std::string default_work_dir();

// One directory; 0 or -1. The mode is 0777 less the umask.
int make_directory(const std::string& path);
// A fresh directory with a unique name "<prefix>XXXXXX"; "" on failure.
std::string make_unique_directory(const std::string& prefix);
// Removes an empty directory; 0 or -1.
int remove_directory(const std::string& path);
int delete_file(const std::string& path);
// Deletes the files directly inside a folder, then the folder; 0, or -1
// when anything stayed.
int remove_folder(const std::string& path);

// What a path names, symbolic links followed, and its identity: two paths
// name the same file when device and inode agree, whatever their spelling
// (on Windows: the volume serial number and the file index of
// GetFileInformationByHandle; kOther is a device such as NUL or CON).
enum class FileKind { kMissing, kRegular, kDirectory, kOther };
struct FileIdentity {
  FileKind kind = FileKind::kMissing;
  uint64_t device = 0;
  uint64_t inode = 0;
};
FileIdentity identify_file(const std::string& path);
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.kind != FileKind::kMissing && b.kind != FileKind::kMissing &&
         a.device == b.device && a.inode == b.inode;
}
// The path where a chain of symbolic links ends (the path itself when it
// is no link; the end need not exist yet), so that a file replaced there
// leaves the links in place. Windows: the path itself.
std::string follow_links(const std::string& path);
// True when this process may write to an existing file, asked without
// opening it (opening a named pipe would wait for, or end, its reader).
bool may_write(const std::string& path);

// A private folder "<prefix>XXXXXX" for a job's temporary files; "" on
// failure. While it exists this process holds a lock on a file inside it,
// which the system releases when the process ends however it ends (POSIX:
// flock on "<folder>/.lock"; Windows: that file held open without
// sharing). Until it is removed with remove_locked_folder, a stopping signal
// (SIGINT, SIGTERM, SIGHUP, SIGPIPE; Windows: the console's Ctrl-C, Break
// and close events) first ends and waits for the child that run_process
// is running, then removes the folder with its files, then ends the
// process as the signal would have. At most two such folders at a time:
// they and the running child are kept in process-wide slots of this
// module, the only state of the programs that is not passed down, because
// the signal (console) handler must reach them.
std::string make_locked_folder(const std::string& prefix);
// Removes the folder with its files and lets go of its lock; 0, or -1 when
// anything stayed.
int remove_locked_folder(const std::string& path);
// Removes the folders "<parent><prefix>*" left by a job that could not
// clean up (killed outright, power lost): those whose lock file exists and
// is held by nobody. A folder without a lock file, a held lock, and
// anything that is not a folder are left alone.
void remove_abandoned_folders(const std::string& parent,
                              const std::string& prefix);

// Moves a file over the target, replacing it in one step. A symbolic link
// at the target is followed: the file it points to is replaced, the link
// stays. The new file keeps the old one's permission bits, and its owner
// and group where this process may set them. A target that exists and is
// not a regular file is never replaced (-1). Crosses file systems by
// copying into a locked folder beside the target, syncing and renaming into
// place. 0 or -1; on failure the target is untouched.
int move_file(const std::string& from, const std::string& to);
// Size in bytes, or -1 when the file's status cannot be obtained.
int64_t file_size(const std::string& path);
// Available physical memory in bytes, or -1.
int64_t available_memory();
// Gives the pages of a buffer their memory now, on the calling thread, so
// that another thread filling them later only copies; their contents do
// not change. A hint, without a result.
void prefault_pages(void* start, int64_t bytes);
// Maps the first n bytes of a regular file open for reading, read-only,
// so that its cached pages are read in place instead of being copied into
// fresh memory. At least 8 zero bytes can be read behind the n bytes. Null
// where it cannot be done (the caller then reads the file), also when the
// file holds fewer than n bytes (on Windows: other than n bytes, or n
// leaving fewer than 8 bytes of its last page). Should the file shrink
// while mapped (POSIX; Windows refuses to shorten it), a read of a lost
// page ends the job as a stopping signal does (see make_locked_folder),
// lost_page_message printed first. One file at a time.
const char* map_for_reading(int fd, int64_t n, const std::string& lost_page_message);
void unmap_for_reading(const char* start, int64_t n);
// True when a block of that many bytes can be had now. The block is
// reserved and given back at once without touching a page, so asking for
// most of the memory costs next to nothing.
bool can_allocate(int64_t bytes);
// Adds read and write permission for the owner (never for others).
int make_writable(const std::string& path);
int change_directory(const std::string& path);
std::string current_directory();

// Low-level descriptor I/O, binary, no sharing restrictions.
int open_read(const std::string& path);
// Opens for writing; creates the file when asked, truncates when asked.
int open_write(const std::string& path, bool create, bool truncate);
// Reads until n bytes have come or the file ends, gathering a pipe's short
// pieces and retrying interrupted calls: n, fewer only at the end of the
// file, 0 at the end. -1 when an error comes before any byte; an error
// after some bytes gives those bytes (the next call meets it again).
int64_t read_fd(int fd, void* buffer, int64_t n);
// Writes all n bytes; n on success, -1 on error (disk full included).
int64_t write_fd(int fd, const void* data, int64_t n);
int close_fd(int fd);
// Asks the system to start writing the bytes [offset, offset + n) of a
// file open for writing to its disk, without waiting for them.
void start_disk_write(int fd, int64_t offset, int64_t n);
// Lets the system reuse the cached pages of [offset, offset + n) that are
// on the disk already; pages still to be written stay. Both are hints,
// without a result: nothing happens where they cannot be done.
void drop_written_pages(int fd, int64_t offset, int64_t n);
// Asks the file system to set aside the disk space of the first n bytes
// of a file open for writing, its size left as it is, so that the writes
// that follow find their blocks already chosen. 0, or -1 where it cannot
// be done; either way the writes go on as they would without it.
int reserve_space(int fd, int64_t n);

// Gives back the storage of n bytes of the file at path from offset on:
// they read as zeros afterwards, and their pages and disk blocks are free
// at once for what is written next. A hint: nothing happens where it
// cannot be done. The file is opened for the moment only, so that it
// holds no descriptor that a merge of many files would miss.
void release_bytes(const std::string& path, int64_t offset, int64_t n);

// Runs a program with the given arguments (argv[0] is the program's path,
// used as it is: no search, no shell) and waits for it without a time
// limit. The exit status 0..255; -1 when it cannot be started; 128 + the
// signal number when a signal ended it. A non-empty folder becomes the
// child's current directory; this process keeps its own. A stopping
// signal that reaches this process ends the child first (see
// make_locked_folder); should this process die without handling it (SIGKILL),
// the system ends the child too (Linux: the parent-death signal; Windows:
// a job object that kills on close). On Windows the command line is
// rebuilt from the arguments (quoted where they hold a blank) and the exit
// code is the child's, -1 included.
int run_process(const std::vector<std::string>& argv,
                const std::string& folder = "");
// True for a status of run_process that means the child wrote to a pipe
// whose reader had gone (POSIX: ended by SIGPIPE; never on Windows).
bool ended_by_broken_pipe(int status);
// Ends this process as its own write to such a pipe would have, job
// folders removed first; returns only where there is no such signal.
void end_by_broken_pipe();

// Creates a new file "<prefix>XXXXXX" that did not exist before, open for
// writing and private to its owner; its path is put in *path. The
// descriptor, or -1.
int create_unique_file(const std::string& prefix, std::string* path);
// Descriptors this process may hold open at once (the soft limit).
int64_t open_file_limit();

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime local_time();

// Writes console text (Shift_JIS, or UTF-8 under a UTF-8 locale) to
// standard error. On Windows, when standard error is a console whose
// output code page is not 932, the same text goes out as UTF-16 through
// WriteConsoleW, so that the Japanese reads right on any console.
void write_error_text(const char* data, size_t n);
// True when the descriptor is a terminal (0, 1 or 2 for the standard
// streams).
bool is_terminal(int fd);
// The width of the terminal behind the descriptor in columns, or 0 when it
// cannot be told.
int terminal_columns(int fd);

// Whether a status line stands on the terminal behind standard error: a
// stopping signal (Ctrl-C) then clears it before the process ends, so
// that the shell's prompt does not follow it on the same line.
void set_status_line_shown(bool shown);

// The value of an environment variable, or null when it is not set.
const char* get_env(const char* name);
// Sets one for this process and the programs it starts from now on.
void set_env(const char* name, const char* value);

// How system text (arguments, paths, messages, the manual) is encoded in
// the current locale. Call init_locale() once at program start.
enum class SystemEncoding { kShiftJis, kUtf8, kOther };
void init_locale();
SystemEncoding system_encoding();
// Tests force an encoding with this; init_locale() reads the locale again.
void set_system_encoding_for_test(SystemEncoding encoding);

}  // namespace quarnel::platform

#endif  // QUARNEL_PLATFORM_PLATFORM_H_
