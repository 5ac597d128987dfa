// Arbitrary text through the command-line tokenizers: next_token with the
// delimiter sets the program uses and with small and large capacities, and
// read_spec_token with the key language's sets.
//
// Input: a flag byte (bits 0-2: delimiter set; bit 3: system text has lead
// bytes), a capacity byte, then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

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

}  // namespace

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
  return 0;
}
