// Tolvinar's command line: it makes the merge's rules as Quarnel's options
// would (mode, case rule, the key text compiled into sort conditions),
// reads the list and hands the runs over.
#include "tolvinar/tolvinar.h"

#include <cstring>
#include <memory>

#include "console/console.h"
#include "tolvinar/merger.h"
#include "tolvinar/tolvinar_messages.h"
#include "options/sort_conditions.h"
#include "platform/platform.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

constexpr const char* kProgramName = "Tolvinar";
constexpr const char* kStdoutName = "stdout";

bool same_option(const char* word, const char* option) {
  return strcmp_nocase(word, option) == 0;
}

// false when the file cannot be read.
bool read_whole_file(const std::string& path, std::string* contents) {
  int fd = platform::open_read(path);
  if (fd < 0) return false;
  char chunk[65536];
  bool ok = true;
  for (;;) {
    int64_t n = platform::read_fd(fd, chunk, sizeof(chunk));
    if (n < 0) ok = false;
    if (n <= 0) break;
    contents->append(chunk, static_cast<size_t>(n));
  }
  platform::close_fd(fd);
  return ok;
}

// The key text goes through the same compiler as Quarnel's, silently.
int compile_key_text(std::string key_text, bool wide, CompareRules* rules) {
  if (key_text.size() >= static_cast<size_t>(kTextBufferSize)) {
    report_error(tolvinar_msg::kBadArgument, key_text.c_str());
    return -1;
  }
  rules->key_mode = true;
  return build_sort_conditions(&key_text, wide, false, &rules->conditions);
}

}  // namespace

std::vector<std::string> parse_run_list(const std::string& contents) {
  std::vector<std::string> runs;
  size_t at = 0;
  while (at < contents.size()) {
    size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    std::string line = contents.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) runs.push_back(line);
    at = end + 1;
  }
  return runs;
}

int run_tolvinar(int argc, char** argv) {
  platform::init_locale();
  if (argc == 2) {
    switch (answer_question(kProgramName, argv[1], tolvinar_msg::kHelp)) {
      case Question::kAnswered:
        return kMergeOk;
      case Question::kNotAnswered:
        return kMergeIoFailure;
      case Question::kNotAsked:
        break;
    }
  }
  if (argc < 3) {
    show_usage(kProgramName);
    return kMergeBadArguments;
  }
  const std::string list_path = argv[1];
  MergeSettings settings;
  settings.output = argv[2];
  settings.to_stdout = settings.output == kStdoutName;
  // Only the list Quarnel named for this start: a list given by hand, or
  // one a stray variable happens to name otherwise, leaves its runs whole.
  const char* spent_list = platform::get_env(kSpentRunsVariable);
  settings.spent_runs = spent_list != nullptr && list_path == spent_list;

  bool narrow_wide = false;  // /W: wide text without a mark
  bool marked_wide = false;  // /Wide: every run and the output begin FF FE
  bool ignore_case = false;
  bool reverse = false;
  std::string key_text;
  bool have_key = false;
  for (int i = 3; i < argc; ++i) {
    const char* word = argv[i];
    if (same_option(word, "/W")) {
      narrow_wide = true;
    } else if (same_option(word, "/Wide")) {
      marked_wide = true;
    } else if (same_option(word, "/I")) {
      ignore_case = true;
    } else if (same_option(word, "/R") || same_option(word, "/Reverse")) {
      reverse = true;
    } else if (i == 3 && word[0] != '\0') {
      // The third argument is the key text whatever it begins with: the
      // words Quarnel gathers into it may begin with a slash.
      key_text = word;
      have_key = true;
    } else {
      report_error(tolvinar_msg::kBadArgument, word);
      return kMergeBadArguments;
    }
  }
  if (narrow_wide && marked_wide) {
    report_error(tolvinar_msg::kWideConflict, nullptr);
    return kMergeBadArguments;
  }

  CompareRules rules;
  rules.wide = narrow_wide || marked_wide;
  rules.ignore_case = ignore_case;
  rules.reverse = reverse;
  settings.marked = marked_wide;
  if (have_key && compile_key_text(key_text, rules.wide, &rules) != 0) {
    return kMergeBadArguments;
  }

  std::string contents;
  if (!read_whole_file(list_path, &contents)) {
    report_error(tolvinar_msg::kListUnreadable, list_path.c_str());
    return kMergeIoFailure;
  }
  std::vector<std::string> runs = parse_run_list(contents);
  if (runs.empty()) {
    report_error(tolvinar_msg::kListEmpty, list_path.c_str());
    return kMergeIoFailure;
  }
  return merge_runs(runs, rules, settings);
}

}  // namespace quarnel
