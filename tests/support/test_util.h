// Test support: temporary folders, whole-file reads and writes, test
// lines, running the built programs and an independent Shift_JIS
// reference (iconv). test_util_common.cc holds what both systems share,
// test_util.cc and test_util_windows.cc the rest.
#ifndef QUARNEL_TESTS_SUPPORT_TEST_UTIL_H_
#define QUARNEL_TESTS_SUPPORT_TEST_UTIL_H_

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarnel::testing {

// A fresh folder under /tmp, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// Names in a folder, without "." and "..", sorted.
std::vector<std::string> list_dir(const std::string& path);

// Calls condition until it holds, for seconds at the most: false if it
// never did. The bounds are generous, as a loaded machine can be slow to
// get there; only a real fault should reach them.
bool wait_until(const std::function<bool()>& condition, double seconds = 30);

// About bytes of lines of 6 to 45 characters drawn from alphabet (a small
// one makes equal lines, equal keys and lines equal but for case), the
// same for the same seed.
std::vector<std::string> random_lines(
    size_t bytes, unsigned seed,
    const std::string& alphabet = "abcdefghijklmnopqrstuvwxyz");
// The lines, each followed by end.
std::string joined(const std::vector<std::string>& lines, const std::string& end);

// Path of a program in the build folder ("Quarnel", "Tolvinar").
std::string built_program(const std::string& name);

struct ProgramResult {
  int exit_code = -1;  // 0..255, or 128 + signal
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with the arguments and collects both output
// streams. env: variables set ("NAME=value") or, as "NAME", removed; the
// rest is inherited. cwd: the child's folder (empty: this one).
// stdin_data: fed to its standard input.
ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env = {},
                          const std::string& cwd = "",
                          const std::string& stdin_data = "");

// POSIX only, for the test files built for POSIX alone: a program run
// beside the test, to be signalled while it works.
struct StartOptions {
  // The initializers let a caller name only what it sets.
  std::vector<std::string> env = {};  // as for run_program
  std::string cwd = {};
  // Descriptors of this process that become the standard streams (they
  // stay open here); -1: /dev/null.
  int in = -1, out = -1, err = -1;
};
// Its process id, or -1. It runs in a process group of its own, whose id
// is its own, so that the programs it starts are found with it.
int start_program(const std::vector<std::string>& argv, const StartOptions& options = {});
// Waits for a started program to end: the status waitpid gives.
int wait_program(int pid);
// The status as a shell tells it: 0..255, or 128 + signal.
int exit_code_of(int status);
// Starts the program, sends it the signal once ready() holds (after
// wait_until's bound in any case) and waits for it to end: its exit code.
int stop_when(const std::vector<std::string>& argv, int signal_number,
              const std::function<bool()>& ready);
// Whether the process, or with group any process of that group, still
// runs. One that has ended counts as gone while it waits to be reaped:
// orphans go to an init that may reap them only seconds later.
bool still_runs(int id, bool group = false);

// The lines of text, each without its separator ("\n", "\r\n", ...); a
// separator at the very end adds no empty line.
std::vector<std::string> split_lines(const std::string& text,
                                     const std::string& separator = "\n");

// What `LC_ALL=C sort` makes of the LF-separated lines of a file, each
// line then ended with CR LF: the reference order of whole-line sorts.
std::string sorted_by_c_sort(const std::string& path);

// The lines as UTF-16LE bytes, each followed by end.
std::string utf16le_lines(const std::vector<std::u16string>& lines,
                          const std::u16string& end);

// UTF-8 text converted to CP932 by iconv: an independent reference for
// expected Shift_JIS bytes.
std::string to_cp932(const std::string& utf8);

// stderr without the time stamps of error lines and of the start and end
// lines, so that whole outputs can be compared: every
// "YYYY/MM/DD hh:mm:ss" becomes "<time>".
std::string mask_times(const std::string& text);

}  // namespace quarnel::testing

#endif  // QUARNEL_TESTS_SUPPORT_TEST_UTIL_H_
