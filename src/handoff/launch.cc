// Splits a command line into at most 16 arguments (double quotes group and
// are dropped) and runs it as a child process: the arguments go to the
// program as they are, with no shell and no quoting in between. A bare
// program name is looked for along PATH and then beside this executable; a
// file that may not be executed (a script without execute permission; on
// Windows any file not ending in ".exe") runs through the system's command
// interpreter (/bin/sh, CMD.EXE /C) from its own folder.
#include "handoff/launch.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "platform/platform.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

constexpr size_t kSlotCount = 16;
constexpr size_t kShortestCommand = 4;
// PATH entries are separated by the system's list separator alone: a
// blank is an ordinary character of a folder name.
constexpr char kPathListSeparator = platform::kPathListSeparator;

bool is_plain_file(const std::string& path) {
  return platform::exists(path) && !platform::is_directory(path);
}

// The first file of that name along PATH (an empty or missing PATH means
// the current folder), else the name beside this executable, which is not
// tested here: starting it tells.
std::string search_program(const std::string& name) {
  const char* value = platform::get_env("PATH");
  std::string list = (value == nullptr || *value == '\0')
                         ? std::string(platform::kCurrentDirectory)
                         : std::string(value);
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find(kPathListSeparator, at);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(at, end - at);
    at = end + 1;
    // An empty entry would name the current folder by accident; only an
    // explicit "." does.
    if (entry.empty()) continue;
    std::string candidate = with_trailing_separator(entry) + name;
    if (is_plain_file(candidate)) return candidate;
  }
  fill_module_path();
  return std::string(directory_of(module_path.c_str())) + name;
}

}  // namespace

int launch_command(const char* command_line) {
  if (command_line == nullptr || strlen(command_line) < kShortestCommand) {
    return -1;
  }
  // A token can be as long as the whole line: no path is ever cut short.
  const int capacity = static_cast<int>(strlen(command_line)) + 1;
  std::vector<char> token(static_cast<size_t>(capacity));
  std::vector<std::string> slots;
  const char* at = command_line;
  while (slots.size() < kSlotCount) {
    at = next_token(at, token.data(), " ", capacity);
    if (at == nullptr) break;
    slots.emplace_back(token.data());
  }
  if (slots.empty()) return -1;

  std::string program = slots[0];
  if (find_last_separator(program.c_str()) == nullptr) {
    program = search_program(program);
  }
  if (platform::is_executable_file(program)) {
    slots[0] = program;
    return platform::run_process(slots);
  }
  if (!is_plain_file(program)) return -1;

  // Not executable: the interpreter takes the first slots and the program,
  // by its base name, the next; it runs from the program's folder.
  std::vector<std::string> argv = platform::interpreter_command();
  if (argv.empty()) return -1;
  const char* last = find_last_separator(program.c_str());
  std::string folder = directory_of(program.c_str());
  std::string base = last == nullptr ? program : std::string(last + 1);
  // A name that begins with '-' would be read as an option of the shell.
  if (!base.empty() && base[0] == '-') base = platform::kCurrentDirectory + base;
  argv.push_back(base);
  for (size_t i = 1; i < slots.size() && argv.size() < kSlotCount; ++i) {
    argv.push_back(slots[i]);
  }
  return platform::run_process(argv, folder);
}

}  // namespace quarnel
