// The counters behind fault_injected(); shared by every platform file.
#include "platform/fault_injection.h"

#ifdef QUARNEL_FAULT_INJECTION

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace quarnel::platform {

namespace {

constexpr const char* kKindNames[kFaultKindCount] = {
    "open", "read", "write", "fsync", "rename", "close", "mkdir", "spawn"};

struct FaultState {
  bool read = false;
  std::string program;
  long long counts[kFaultKindCount] = {};
  int kind = -1;
  long long nth = 0;
  int error = 0;
  std::string counts_path;
};

FaultState& state() {
  static FaultState s;
  return s;
}

int error_named(const std::string& name) {
  if (name == "EIO") return EIO;
  if (name == "ENOSPC") return ENOSPC;
  if (name == "EACCES") return EACCES;
  return 0;
}

void write_counts() {
  FaultState& s = state();
  FILE* f = fopen(s.counts_path.c_str(), "a");
  if (f == nullptr) return;
  std::string text;
  for (int k = 0; k < kFaultKindCount; ++k) {
    text += s.program + " " + kKindNames[k] + " " + std::to_string(s.counts[k]) + "\n";
  }
  // One write, so that the lines of processes ending together stay whole.
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

void read_setting() {
  FaultState& s = state();
  s.read = true;
  std::string exe = executable_path();
  size_t slash = exe.find_last_of("/\\");
  s.program = slash == std::string::npos ? exe : exe.substr(slash + 1);
  if (s.program.size() > 4 &&
      s.program.compare(s.program.size() - 4, 4, ".exe") == 0) {
    s.program.resize(s.program.size() - 4);
  }
  const char* counts = getenv("QUARNEL_FAULT_COUNTS");
  if (counts != nullptr && counts[0] != '\0') {
    s.counts_path = counts;
    atexit(write_counts);
  }
  const char* fault = getenv("QUARNEL_FAULT");
  if (fault == nullptr) return;
  // PROGRAM:KIND:N:ERROR
  std::string text = fault;
  size_t a = text.find(':');
  size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  size_t c = b == std::string::npos ? b : text.find(':', b + 1);
  if (c == std::string::npos || text.substr(0, a) != s.program) return;
  std::string kind = text.substr(a + 1, b - a - 1);
  for (int k = 0; k < kFaultKindCount; ++k) {
    if (kind == kKindNames[k]) s.kind = k;
  }
  s.nth = atoll(text.substr(b + 1, c - b - 1).c_str());
  s.error = error_named(text.substr(c + 1));
  if (s.error == 0) s.kind = -1;
}

}  // namespace

bool fault_injected(FaultKind kind) {
  FaultState& s = state();
  if (!s.read) read_setting();
  int k = static_cast<int>(kind);
  long long n = ++s.counts[k];
  if (k != s.kind || n != s.nth) return false;
  errno = s.error;
  return true;
}

}  // namespace quarnel::platform

#endif  // QUARNEL_FAULT_INJECTION
