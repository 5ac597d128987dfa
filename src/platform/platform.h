// The few operating-system services the programs need, behind one small
// surface. This is the only place that knows the operating system; one
// implementation file per system (posix.cc). Results follow the program's
// convention: 0 or a count on success, -1 on failure.
#ifndef QUARNEL_PLATFORM_PLATFORM_H_
#define QUARNEL_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quarnel::platform {

// The separator of path components, and the current directory prefix.
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kCurrentDirectory = "./";

// Full path of the running executable, or "" when it cannot be found.
std::string executable_path();

bool is_directory(const std::string& path);
bool exists(const std::string& path);
// True when the path names a regular file the caller may execute.
bool is_executable_file(const std::string& path);

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
// Until cancelled, SIGINT, SIGTERM, SIGHUP and SIGPIPE first remove the
// folder as remove_folder does and then end the process as the signal would
// have. One folder at a time; 0, or -1 when the path is too long to arm.
int remove_folder_on_signal(const std::string& path);
// Puts the handlers that were there before back in place.
void cancel_remove_folder_on_signal();
// Moves a file over the target, replacing it in one step; crosses file
// systems by copying into a temporary file beside the target, syncing it
// and renaming it into place. 0 or -1; on failure the target is untouched.
int move_file(const std::string& from, const std::string& to);
// Size in bytes, or -1 when the file's status cannot be obtained.
int64_t file_size(const std::string& path);
// Available physical memory in bytes, or -1.
int64_t available_memory();
// Asks the system to back a large buffer that is about to be filled with
// large pages (fewer page faults); a hint, without a result.
void advise_large_pages(void* start, int64_t bytes);
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

// Runs a program with the given arguments (argv[0] is the program's path,
// used as it is: no search, no shell) and waits for it without a time
// limit. The exit status 0..255; -1 when it cannot be started; 128 + the
// signal number when a signal ended it. A non-empty folder becomes the
// child's current directory; this process keeps its own.
int run_process(const std::vector<std::string>& argv,
                const std::string& folder = "");

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

// True when the descriptor is a terminal (0, 1 or 2 for the standard
// streams).
bool is_terminal(int fd);
// The width of the terminal behind the descriptor in columns, or 0 when it
// cannot be told.
int terminal_columns(int fd);

// The value of an environment variable, or null when it is not set.
const char* get_env(const char* name);

// How system text (arguments, paths, messages, the manual) is encoded in
// the current locale. Call init_locale() once at program start.
enum class SystemEncoding { kShiftJis, kUtf8, kOther };
void init_locale();
SystemEncoding system_encoding();
// Tests force an encoding with this; init_locale() reads the locale again.
void set_system_encoding_for_test(SystemEncoding encoding);

}  // namespace quarnel::platform

#endif  // QUARNEL_PLATFORM_PLATFORM_H_
