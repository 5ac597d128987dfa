#include "options/command_line.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

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
constexpr const char* kReverseForms[] = {"/R", "-R", "/Reverse", "-Reverse"};

template <size_t N>
bool is_option(const char* token, const char* const (&forms)[N]) {
  for (const char* form : forms) {
    if (strcmp_nocase(token, form) == 0) return true;
  }
  return false;
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

int take_input(const char* argument, SortJob* job, std::string* option_text) {
  job->input_path = argument;
  // Only a regular file can be read twice and measured: a named pipe, a
  // device or standard input given by name is refused before it is opened.
  const platform::FileKind kind = platform::identify_file(argument).kind;
  if (!path_fits(job->input_path) ||
      (kind != platform::FileKind::kRegular &&
       kind != platform::FileKind::kMissing)) {
    report_error(msg::kBadFile, job->input_path.c_str());
    return -1;
  }
  int fd = platform::open_read(job->input_path);
  if (fd < 0) {
    report_error(msg::kNotFound, job->input_path.c_str());
    return -1;
  }
  unsigned char mark[2];
  int64_t got = platform::read_fd(fd, mark, 2);
  platform::close_fd(fd);
  if (got < 0) {
    // Without its first bytes, a wide file would be taken for narrow text.
    report_error(msg::kReadFailed, job->input_path.c_str());
    return -1;
  }
  if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
    job->input_bom = "\xFF\xFE";
    // So that the wide option comes first among the options.
    *option_text += "/W ";
  }
  report_info(msg::kInputFile, job->input_path.c_str());
  return 0;
}

int take_output(const char* argument, SortJob* job) {
  job->output_path = argument;
  if (job->output_path == "stdout") {
    job->to_stdout = true;
    report_info(msg::kToStdout);
    return 0;
  }
  // The same file whatever the spelling: "./a.txt", a link, a hard link.
  // Names that differ only in case are two files here.
  if (platform::same_file(platform::identify_file(job->input_path),
                          platform::identify_file(job->output_path))) {
    report_error(msg::kSameFile, job->input_path.c_str());
    return -1;
  }
  if (!path_fits(job->output_path) ||
      !output_is_writable(job->output_path)) {
    report_error(msg::kBadFile, job->output_path.c_str());
    return -1;
  }
  report_info(msg::kOutputFile, job->output_path.c_str());
  return 0;
}

// A word that looks like an option and is none: '/' or '-', then a letter,
// '?' or a second '-'. It never joins the key text.
bool looks_like_option(const char* token) {
  if (token[0] != '/' && token[0] != '-') return false;
  const unsigned char c = static_cast<unsigned char>(token[1]);
  return (fold_ascii(c) >= 'a' && fold_ascii(c) <= 'z') || c == '?' || c == '-';
}

// Reads the options of option_text; a word that looks like an option and
// is none goes to unknown, every other token joins the key text.
int read_options(const std::string& option_text, SortJob* job,
                 std::vector<std::string>* unknown) {
  OptionState state = OptionState::kKeyText;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kTextBufferSize]);
  if (buffer == nullptr) {
    report_error(msg::kNoMemory, nullptr);
    return -1;
  }
  char* token = buffer.get();
  token[0] = '\0';
  const char* rest = option_text.c_str();
  while ((rest = next_token(rest, token, " ", kTextBufferSize)) != nullptr) {
    // On POSIX the usual work folder /tmp spells the option /Tmp. A token
    // awaited as the work directory that names an existing directory is
    // that directory, never an option, so "/T /tmp" means what it says.
    const bool awaited_folder = state == OptionState::kWorkDirValue &&
                                platform::is_directory(token);
    if (awaited_folder) {
      state = OptionState::kKeyText;
      job->work_dir = with_trailing_separator(token);
      report_info(msg::kWorkDir, token);
    } else if (is_option(token, kWideForms)) {
      // A repeated wide option changes nothing, not even an awaited value.
      if (!job->wide_mode) {
        job->wide_mode = true;
        report_info(msg::kWide);
        state = OptionState::kKeyText;
      }
    } else if (is_option(token, kMemoryForms)) {
      state = OptionState::kMemoryValue;
    } else if (is_option(token, kWorkDirForms)) {
      state = OptionState::kWorkDirValue;
    } else if (is_option(token, kReverseForms)) {
      // Said once, however often it is given.
      if (!job->reverse) {
        job->reverse = true;
        report_info(msg::kReverse);
      }
      state = OptionState::kKeyText;
    } else if (is_option(token, kIgnoreCaseForms)) {
      job->ignore_case = true;
      state = OptionState::kKeyText;
    } else if (state == OptionState::kMemoryValue) {
      state = OptionState::kKeyText;
      int32_t megabytes = read_int32(token);
      job->memory_limit = int64_t{megabytes} * 1000000;
      if (megabytes < 1 || megabytes > 2000) {
        report_error(msg::kBadMemory, token);
        return -1;
      }
    } else if (state == OptionState::kWorkDirValue) {
      state = OptionState::kKeyText;
      job->work_dir = with_trailing_separator(token);
      if (!path_fits(token)) {
        report_error(msg::kBadFile, token);
        return -1;
      }
      if (!platform::is_directory(token)) {
        report_error(msg::kNotDirectory, token);
        return -1;
      }
      report_info(msg::kWorkDir, token);
    } else if (looks_like_option(token)) {
      unknown->push_back(token);
    } else {
      job->key_text += token;
    }
  }
  return 0;
}

}  // namespace

int parse_command_line(int argc, char** argv, SortJob* job) {
  if (argc < 3) {
    show_usage();
    return -1;
  }
  *job = SortJob();
  std::string option_text;
  if (take_input(argv[1], job, &option_text) != 0) return -1;
  if (take_output(argv[2], job) != 0) return -1;
  for (int i = 3; i < argc; ++i) {
    option_text += argv[i];
    option_text += ' ';
  }
  job->work_dir = with_trailing_separator(platform::default_work_dir());

  std::vector<std::string> unknown;
  if (read_options(option_text, job, &unknown) != 0) return -1;
  // A stray option word alone is refused by its name; beside a key, as the
  // key text never held it, the job goes on and says it was not used.
  if (job->key_text.empty() && !unknown.empty()) {
    report_error(msg::kUnknownOption, unknown.front().c_str());
    return -1;
  }

  if (job->ignore_case) {
    report_info(job->wide_mode ? msg::kCaseKeptWide : msg::kCaseIgnored);
  }
  if (job->key_text.empty()) {
    report_info(job->reverse ? msg::kWholeLineDescending : msg::kWholeLine);
  } else {
    job->key_mode = true;
    if (build_sort_conditions(&job->key_text, job->wide_mode, true,
                              &job->conditions) != 0) {
      return -1;
    }
    for (const std::string& word : unknown) report_info(msg::kUnusedWord, word.c_str());
  }
  return 0;
}

}  // namespace quarnel
