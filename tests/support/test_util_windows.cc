// Test support of the Windows build: the helpers of test_util.cc (but the
// POSIX-only ones) with Win32 calls. Paths are ANSI code page text, as the
// programs take them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/test_util.h"

namespace quarnel::testing {

namespace {

void remove_tree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string item = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(item);
      } else {
        SetFileAttributesA(item.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(item.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::string directory_of_this_program() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  std::string path(buffer, n);
  size_t last = path.find_last_of('\\');
  return last == std::string::npos ? std::string(".") : path.substr(0, last);
}

}  // namespace

TempDir::TempDir() {
  char base[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof(base), base);
  if (n == 0 || n > MAX_PATH) abort();
  std::string root(base, n);
  if (root.back() != '\\') root += '\\';
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    char name[64];
    snprintf(name, sizeof(name), "quarnel-test-%lu-%u-%u",
             static_cast<unsigned long>(GetCurrentProcessId()),
             static_cast<unsigned>(GetTickCount()), attempt);
    std::string candidate = root + name;
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  abort();
}

TempDir::~TempDir() { remove_tree(path_); }

std::string TempDir::file(const std::string& name) const {
  return path_ + "\\" + name;
}

bool file_exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string built_program(const std::string& name) {
  return directory_of_this_program() + "\\" + name + ".exe";
}

namespace {

// The environment block of this process with the changes applied: sorted
// by name, as CreateProcess expects it.
std::string environment_block(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  char* block = GetEnvironmentStringsA();
  for (const char* e = block; *e != '\0'; e += strlen(e) + 1) env.push_back(e);
  FreeEnvironmentStringsA(block);
  for (const std::string& change : changes) {
    size_t eq = change.find('=');
    std::string name = change.substr(0, eq) + "=";
    env.erase(std::remove_if(env.begin(), env.end(),
                             [&](const std::string& v) {
                               return _strnicmp(v.c_str(), name.c_str(), name.size()) == 0;
                             }),
              env.end());
    if (eq != std::string::npos) env.push_back(change);
  }
  std::sort(env.begin(), env.end(), [](const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  });
  std::string out;
  for (const std::string& e : env) {
    out += e;
    out += '\0';
  }
  out += '\0';
  return out;
}

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
    line->append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    *line += c;
  }
  line->append(backslashes * 2, '\\');
  *line += '"';
}

void drain(HANDLE from, std::string* sink) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(from, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    sink->append(buffer, got);
  }
}

}  // namespace

ProgramResult run_program(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env_changes,
                          const std::string& cwd,
                          const std::string& stdin_data) {
  ProgramResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write, err_read, err_write;
  if (!CreatePipe(&in_read, &in_write, &inherit, 0) ||
      !CreatePipe(&out_read, &out_write, &inherit, 0) ||
      !CreatePipe(&err_read, &err_write, &inherit, 0)) {
    abort();
  }
  // This process's ends stay here.
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

  std::string line;
  for (const std::string& a : argv) append_argument(&line, a);
  std::vector<char> command(line.begin(), line.end());
  command.push_back('\0');
  std::string env = environment_block(env_changes);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in_read;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process;
  BOOL started = CreateProcessA(argv[0].c_str(), command.data(), nullptr, nullptr,
                                TRUE, 0, env.data(),
                                cwd.empty() ? nullptr : cwd.c_str(), &startup,
                                &process);
  CloseHandle(in_read);
  CloseHandle(out_write);
  CloseHandle(err_write);
  if (!started) {
    CloseHandle(in_write);
    CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
  }
  std::thread out_thread(drain, out_read, &result.out);
  std::thread err_thread(drain, err_read, &result.err);
  DWORD fed = 0;
  if (!stdin_data.empty()) {
    WriteFile(in_write, stdin_data.data(), static_cast<DWORD>(stdin_data.size()),
              &fed, nullptr);
  }
  CloseHandle(in_write);
  out_thread.join();
  err_thread.join();
  CloseHandle(out_read);
  CloseHandle(err_read);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // The exit code as a POSIX shell sees it: its low byte (-1 is 255).
  result.exit_code = static_cast<int>(code & 0xFF);
  return result;
}

std::string sorted_by_c_sort(const std::string& path) {
  // Byte order of whole lines, as `LC_ALL=C sort` gives it.
  std::vector<std::string> lines = split_lines(read_file(path));
  std::sort(lines.begin(), lines.end());
  std::string crlf;
  for (const std::string& l : lines) crlf += l + "\r\n";
  return crlf;
}

std::string to_cp932(const std::string& utf8) {
  // The system's own code page 932 conversion: independent of the table
  // under test.
  if (utf8.empty()) return "";
  int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                  nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), units);
  int bytes = WideCharToMultiByte(932, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(932, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace quarnel::testing
