#include "options/command_line.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "options/sort_conditions.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "text/ascii.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

constexpr const char* kWideForms[] = {"/W", "-W", "/Wide", "-Wide"};
constexpr const char* kMemoryForms[] = {"/M", "-M", "/Mem", "-Mem"};
constexpr const char* kWorkDirForms[] = {"/T", "-T", "/Tmp", "-Tmp"};
constexpr const char* kIgnoreCaseForms[] = {"/I", "-i"};

template <size_t N>
bool is_option(const char* token, const char* const (&forms)[N]) {
  for (const char* form : forms) {
    if (strcmp_nocase(token, form) == 0) return true;
  }
  return false;
}

// Appends text to a NUL-terminated buffer that was sized for it.
void append(char* buffer, const char* text) {
  size_t at = strlen(buffer);
  size_t n = strlen(text);
  memcpy(buffer + at, text, n + 1);
}

// The output is checked for being writable without harming it, at the
// file its links lead to: an existing file is opened without truncation
// and left as it is, a missing one is created and removed again. A device
// or a named pipe is only asked: opening a pipe would wait for a reader,
// or show the one there an early end.
bool output_is_writable(const std::string& path) {
  const std::string target = platform::follow_links(path);
  switch (platform::identify_file(target).kind) {
    case platform::FileKind::kRegular: {
      int fd = platform::open_write(target, false, false);
      if (fd < 0) return false;
      return platform::close_fd(fd) == 0;
    }
    case platform::FileKind::kOther:
      return platform::may_write(target);
    case platform::FileKind::kDirectory:
      return false;
    case platform::FileKind::kMissing:
      break;
  }
  if (platform::exists(target)) return false;
  int fd = platform::open_write(target, true, false);
  if (fd < 0) return false;
  bool closed = platform::close_fd(fd) == 0;
  platform::delete_file(target);
  return closed;
}

// A path the system cannot take whole is refused, never cut.
bool path_fits(const std::string& path) {
  return path.size() <= platform::kLongestPath;
}

int take_input(const char* argument) {
  sort_job.input_path = argument;
  // Only a regular file can be read twice and measured: a named pipe, a
  // device or standard input given by name is refused before it is opened.
  const platform::FileKind kind = platform::identify_file(argument).kind;
  if (!path_fits(sort_job.input_path) ||
      (kind != platform::FileKind::kRegular &&
       kind != platform::FileKind::kMissing)) {
    report_error(msg::kBadFile, sort_job.input_path.c_str());
    return -1;
  }
  int fd = platform::open_read(sort_job.input_path);
  if (fd < 0) {
    report_error(msg::kNotFound, sort_job.input_path.c_str());
    return -1;
  }
  unsigned char mark[2];
  int64_t got = platform::read_fd(fd, mark, 2);
  platform::close_fd(fd);
  if (got < 0) {
    // Without its first bytes, a wide file would be taken for narrow text.
    report_error(msg::kReadFailed, sort_job.input_path.c_str());
    return -1;
  }
  if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    sort_job.input_bom = "\xFF\xFE";
    // So that the wide option comes first among the options.
    append(sort_job.option_text.get(), "/W ");
  }
  report_info(msg::kInputFile, sort_job.input_path.c_str());
  return 0;
}

int take_output(const char* argument) {
  sort_job.output_path = argument;
  if (sort_job.output_path == "stdout") {
    sort_job.to_stdout = 1;
    report_info(msg::kToStdout);
    return 0;
  }
  // The same file whatever the spelling: "./a.txt", a link, a hard link.
  // Names that differ only in case are two files here.
  if (platform::same_file(platform::identify_file(sort_job.input_path),
                          platform::identify_file(sort_job.output_path))) {
    report_error(msg::kSameFile, sort_job.input_path.c_str());
    return -1;
  }
  if (!path_fits(sort_job.output_path) ||
      !output_is_writable(sort_job.output_path)) {
    report_error(msg::kBadFile, sort_job.output_path.c_str());
    return -1;
  }
  report_info(msg::kOutputFile, sort_job.output_path.c_str());
  return 0;
}

// Reads the options of option_text; every other token joins the key text.
int read_options() {
  OptionState state = OptionState::kKeyText;
  char* token = sort_job.token_buffer.get();
  const char* rest = sort_job.option_text.get();
  while ((rest = next_token(rest, token, " ", kTextBufferSize)) != nullptr) {
    // On POSIX the usual work folder /tmp spells the option /Tmp. A token
    // awaited as the work directory that names an existing directory is
    // that directory, never an option, so "/T /tmp" means what it says.
    const bool awaited_folder = state == OptionState::kWorkDirValue &&
                                platform::is_directory(token);
    if (awaited_folder) {
      state = OptionState::kKeyText;
      sort_job.work_dir = with_trailing_separator(token);
      report_info(msg::kWorkDir, token);
    } else if (is_option(token, kWideForms)) {
      // A repeated wide option changes nothing, not even an awaited value.
      if (sort_job.wide_mode == 0) {
        sort_job.wide_mode = 1;
        report_info(msg::kWide);
        state = OptionState::kKeyText;
      }
    } else if (is_option(token, kMemoryForms)) {
      state = OptionState::kMemoryValue;
    } else if (is_option(token, kWorkDirForms)) {
      state = OptionState::kWorkDirValue;
    } else if (is_option(token, kIgnoreCaseForms)) {
      sort_job.ignore_case = 1;
      sort_job.line_comparer = strcmp_nocase;
      sort_job.field_comparer = memcmp_nocase;
      state = OptionState::kKeyText;
    } else if (state == OptionState::kMemoryValue) {
      state = OptionState::kKeyText;
      int32_t megabytes = read_int32(token);
      sort_job.memory_limit = int64_t{megabytes} * 1000000;
      if (megabytes < 1 || megabytes > 2000) {
        report_error(msg::kBadMemory, token);
        return -1;
      }
    } else if (state == OptionState::kWorkDirValue) {
      state = OptionState::kKeyText;
      sort_job.work_dir = with_trailing_separator(token);
      if (!path_fits(token)) {
        report_error(msg::kBadFile, token);
        return -1;
      }
      if (!platform::is_directory(token)) {
        report_error(msg::kNotDirectory, token);
        return -1;
      }
      report_info(msg::kWorkDir, token);
    } else {
      append(sort_job.key_text.get(), token);
    }
  }
  return 0;
}

}  // namespace

int parse_command_line(int argc, char** argv) {
  if (argc < 3) {
    show_usage();
    return -1;
  }
  // The joined options and the key text gathered from them are as long as
  // the command line makes them; the buffers never get smaller than the
  // usual size.
  size_t joined = 3;  // "/W " for a byte-order mark
  for (int i = 3; i < argc; ++i) joined += strlen(argv[i]) + 1;
  const size_t text_size =
      std::max(static_cast<size_t>(kTextBufferSize), joined + 1);

  sort_job.key_table = new_key_table();
  sort_job.option_text.reset(new (std::nothrow) char[text_size]);
  sort_job.key_text.reset(new (std::nothrow) char[text_size]);
  sort_job.token_buffer.reset(new (std::nothrow) char[kTextBufferSize]);
  memset(sort_job.conditions, 0, sizeof(sort_job.conditions));
  if (sort_job.key_table == nullptr || sort_job.option_text == nullptr ||
      sort_job.key_text == nullptr || sort_job.token_buffer == nullptr) {
    report_error(msg::kNoMemory, nullptr);
    return -1;
  }
  sort_job.option_text[0] = '\0';
  sort_job.key_text[0] = '\0';
  sort_job.token_buffer[0] = '\0';
  sort_job.line_comparer = strcmp;
  sort_job.field_comparer = memcmp;

  if (take_input(argv[1]) != 0) return -1;
  if (take_output(argv[2]) != 0) return -1;
  for (int i = 3; i < argc; ++i) {
    append(sort_job.option_text.get(), argv[i]);
    append(sort_job.option_text.get(), " ");
  }
  sort_job.work_dir = with_trailing_separator(platform::default_work_dir());

  if (read_options() != 0) return -1;

  if (sort_job.ignore_case) {
    report_info(sort_job.wide_mode ? msg::kCaseKeptWide : msg::kCaseIgnored);
  }
  if (sort_job.key_text[0] == '\0') {
    report_info(msg::kWholeLine);
  } else {
    sort_job.key_mode = 1;
    if (build_sort_conditions() != 0) return -1;
  }
  return 0;
}

}  // namespace quarnel
