// Arbitrary text through the command-line tokenizers: next_token with the
// delimiter sets the program uses and with small and large capacities,
// read_spec_token with the key language's sets, and the option loop of
// parse_command_line over words taken from the same input.
//
// Input: a flag byte (bits 0-2: delimiter set; bit 3: system text has lead
// bytes; bit 4: run the option loop), a capacity byte, then the text. For
// the option loop the text is cut into arguments at its zero bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "options/command_line.h"
#include "options/key_spec.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "text/sjis.h"

namespace {

using namespace quarnel;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

const char* const kDelimiterSets[] = {
    nullptr, " ", ":\\", "; ", "(,)[,;]{,}", "-,)", "\"", "",
};

void tokenize(const char* text, size_t size, const char* delimiters,
              int capacity) {
  std::unique_ptr<char[]> out(new char[capacity]);
  const char* position = text;
  while (true) {
    const char* next = next_token(position, out.get(), delimiters, capacity);
    size_t length = strnlen(out.get(), capacity);
    check(length < static_cast<size_t>(capacity));
    if (next == nullptr) {
      check(length == 0);
      break;
    }
    check(length > 0);
    check(next > position && next <= text + size);
    check(memchr(out.get(), '"', length) == nullptr);
    position = next;
  }
}

void read_items(const char* text, size_t size, const char* delimiters) {
  // Exactly the 64 bytes an item may fill.
  std::unique_ptr<char[]> out(new char[64]);
  const char* position = text;
  while (position != nullptr) {
    const char* next = read_spec_token(position, out.get(), delimiters);
    check(strnlen(out.get(), 64) < 64);
    if (next == nullptr) break;
    check(next > position && next <= text + size);
    position = next;
  }
}

std::string input_path;

void option_loop(const char* text, size_t size) {
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
  reset_sort_job();
  int r = parse_command_line(static_cast<int>(words.size()), argv.data());
  check(r == 0 || r == -1);
  reset_sort_job();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The option loop needs an input file that exists; it is only read.
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
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  // Capacities from 1 to 256, and now and then the option buffer's own.
  int capacity = data[1] == 0xFF ? kTextBufferSize : data[1] + 1;
  data += 2;
  size -= 2;
  platform::set_system_encoding_for_test(
      (flags & 8) != 0 ? platform::SystemEncoding::kShiftJis
                       : platform::SystemEncoding::kOther);

  std::unique_ptr<char[]> text(new char[size + 1]);
  memcpy(text.get(), data, size);
  text[size] = '\0';
  const char* delimiters = kDelimiterSets[flags & 7];
  tokenize(text.get(), size, delimiters, capacity);
  if (delimiters != nullptr) read_items(text.get(), size, delimiters);

  if ((flags & 16) != 0 && !input_path.empty()) option_loop(text.get(), size);
  return 0;
}
