#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/console_text.h"
#include "console/messages.h"
#include "console/progress.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "text/ascii.h"
#include "text/cp932.h"
#include "text/sjis.h"

namespace quarnel {

std::string error_line(const char* format, const char* arg) {
  platform::LocalTime t = platform::local_time();
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "%04d/%02d/%02d %02d:%02d:%02d", t.year,
           t.month, t.day, t.hour, t.minute, t.second);
  std::string line = console_text(msg::kErrorMark);
  line += stamp;
  line += ' ';
  // The message has at most one "%s"; anything else is printed as it is.
  std::string text = console_text(format);
  size_t at = text.find("%s");
  if (at != std::string::npos) {
    text.replace(at, 2, arg != nullptr ? arg : "");
  }
  line += text;
  line += '\n';
  return line;
}

void report_error(const char* format, const char* arg) {
  const std::string line = error_line(format, arg);
  write_message(line.data(), line.size());
  fflush(stderr);
}

void report_info(const char* format, ...) {
  std::string text = console_text(format);
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, text.c_str(), args);
  va_end(args);
  if (size > 0) {
    std::string out(static_cast<size_t>(size) + 1, '\0');
    vsnprintf(out.data(), out.size(), text.c_str(), again);
    write_message(out.data(), static_cast<size_t>(size));
  }
  va_end(again);
}

namespace {

constexpr const char* kManualName = "Jman.doc";
constexpr int kStandardOutput = 1;

// True when the Shift_JIS text ends in the first byte of a double-byte
// character (the manual is Shift_JIS whatever the locale).
bool ends_in_lead_byte(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    if (!is_sjis_lead_byte(static_cast<unsigned char>(text[i]))) {
      ++i;
    } else if (i + 1 == text.size()) {
      return true;
    } else {
      i += 2;
    }
  }
  return false;
}

}  // namespace

Question answer_question(const char* program_name, const char* argument,
                         const char* help_text) {
  std::string text;
  if (strcmp_nocase(argument, "--help") == 0 || strcmp_nocase(argument, "-h") == 0 ||
      strcmp(argument, "/?") == 0 || strcmp(argument, "-?") == 0) {
    text = console_text(help_text);
  } else if (strcmp_nocase(argument, "--version") == 0) {
    text = std::string(program_name) + " " + QUARNEL_VERSION + "\n";
  } else {
    return Question::kNotAsked;
  }
  const int64_t n = static_cast<int64_t>(text.size());
  if (platform::write_fd(kStandardOutput, text.data(), n) != n) {
    report_error(msg::kStdoutFailed, nullptr);
    return Question::kNotAnswered;
  }
  return Question::kAnswered;
}

void show_usage(const char* program_name) {
  fill_module_path();
  const std::string folder = containing_folder(module_path);
  const std::string manual = folder + kManualName;
  FILE* f = fopen(manual.c_str(), "rb");
  if (f == nullptr && !module_path.empty()) {
    // An installed program keeps its manual in share/quarnel beside the
    // folder that holds the programs.
    const char sep = platform::kPathSeparator;
    std::string installed = folder + ".." + sep + "share" + sep + "quarnel" +
                            sep + kManualName;
    f = fopen(installed.c_str(), "rb");
  }
  if (f == nullptr) {
    // The place beside the program is the one to name: it always works.
    report_error(msg::kNotFound, manual.c_str());
    return;
  }
  const bool utf8 =
      platform::system_encoding() == platform::SystemEncoding::kUtf8;
  // Under a UTF-8 locale a piece of a long line may end in half a
  // character; that byte waits for the next piece before it is converted.
  std::string held;
  auto flush_held = [&held]() {
    if (held.empty()) return;
    std::string converted = sjis_to_utf8(held);
    platform::write_error_text(converted.data(), converted.size());
    held.clear();
  };
  bool inside = false;
  char line[1024];
  // fgets reads at most 1023 bytes: a longer line comes in pieces, each a
  // line of its own.
  while (fgets(line, sizeof(line), f) != nullptr) {
    if (line[0] == '@' && find_text_nocase(line, program_name) != nullptr) {
      if (inside) break;
      inside = true;
      continue;
    }
    if (!inside) continue;
    size_t n = strlen(line);  // up to its first NUL byte
    if (!utf8) {
      platform::write_error_text(line, n);
      continue;
    }
    held.append(line, n);
    bool cut = n == sizeof(line) - 1 && line[n - 1] != '\n';
    if (cut && ends_in_lead_byte(held)) {
      char lead = held.back();
      held.pop_back();
      flush_held();
      held = lead;
    } else {
      flush_held();
    }
  }
  flush_held();
  fclose(f);
  fflush(stderr);
}

}  // namespace quarnel
