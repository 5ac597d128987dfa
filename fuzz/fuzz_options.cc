// Arbitrary words through the command-line phase (read_command_line): the
// options in all their forms, their values, the key text gathered from the
// other words and compiled into sort conditions, and the input probe.
//
// Input: a flag byte (bit 0: system text has lead bytes), then the words
// after the output name, separated by zero bytes. The input is a small file
// made at start; the output is standard output, so nothing is written.
// Every call allocates the job's buffers afresh (the key table alone is
// several megabytes), so this target runs far fewer inputs a second than
// the others.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "input/run_state.h"
#include "options/sort_job.h"
#include "platform/platform.h"

namespace {

using namespace quarnel;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string input_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[] = "/tmp/quarnel-fuzz-input-XXXXXX";
  int fd = mkstemp(path);
  if (fd >= 0) {
    const char lines[] = "b 2\na 10\nc 1\n";
    ssize_t written = write(fd, lines, sizeof(lines) - 1);
    (void)written;
    close(fd);
    input_path = path;
    atexit([] { unlink(input_path.c_str()); });
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || input_path.empty()) return 0;
  platform::set_system_encoding_for_test(
      (data[0] & 1) != 0 ? platform::SystemEncoding::kShiftJis
                         : platform::SystemEncoding::kOther);
  const char* text = reinterpret_cast<const char*>(data + 1);
  size -= 1;

  std::vector<std::string> words = {"Quarnel", input_path, "stdout"};
  size_t start = 0;
  for (size_t i = 0; i <= size && words.size() < 64; ++i) {
    if (i == size || text[i] == '\0') {
      words.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  SortJob job;
  RunState run;
  int r = read_command_line(static_cast<int>(words.size()), argv.data(), &job, &run);
  check(r == 0 || r == -1);
  check(job.conditions.size() <= static_cast<size_t>(kMaxKeys));
  if (r == 0) check(job.key_mode == !job.conditions.empty());
  return 0;
}
