// Arbitrary bytes through the key specification language: the long-form
// rewriting, the parser and the sort conditions; when conditions come out,
// two lines of the same input are compared under them, narrow and wide.
//
// Input: one flag byte (bit 0: system text has lead bytes; bit 1: the /I
// comparer), the key text up to the first line feed, then two lines
// separated by a line feed.
//
// Every buffer is allocated at its exact size so that the address
// sanitizer sees a read or write one byte past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "options/key_spec.h"
#include "options/sort_conditions.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "order/key_compare.h"
#include "text/ascii.h"

namespace {

using namespace quarnel;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Entries the parser may have written: one per '(' byte, and entry 0.
size_t touched_entries(const uint8_t* text, size_t size) {
  size_t count = 1;
  for (size_t i = 0; i < size; ++i) count += text[i] == '(';
  return count < static_cast<size_t>(kMaxKeys) ? count : kMaxKeys;
}

void check_table(const KeyDefinitionTable& table, size_t entries) {
  for (size_t e = 0; e < entries; ++e) {
    const KeyDefinition& key = table.entries[e];
    check(key.attribute_count >= 0 && key.attribute_count <= 256);
    for (int a = 0; a < 256; ++a) {
      check(memchr(key.attributes[a], 0, sizeof(key.attributes[a])) != nullptr);
      check(memchr(key.qualifiers[a], 0, sizeof(key.qualifiers[a])) != nullptr);
    }
  }
}

int sign(int r) { return r > 0 ? 1 : (r < 0 ? -1 : 0); }

void compare_lines(const uint8_t* data, size_t size,
                   const std::vector<SortCondition>& conditions, bool fold) {
  const SortCondition* keys = conditions.data();
  const int32_t count = static_cast<int32_t>(conditions.size());
  const uint8_t* split =
      static_cast<const uint8_t*>(memchr(data, '\n', size));
  size_t size_a = split != nullptr ? static_cast<size_t>(split - data) : size;
  const uint8_t* second = split != nullptr ? split + 1 : data + size;
  size_t size_b = static_cast<size_t>(data + size - second);

  std::unique_ptr<char[]> a(new char[size_a + 1]);
  std::unique_ptr<char[]> b(new char[size_b + 1]);
  memcpy(a.get(), data, size_a);
  a[size_a] = '\0';
  memcpy(b.get(), second, size_b);
  b[size_b] = '\0';
  int32_t la = static_cast<int32_t>(size_a);
  int32_t lb = static_cast<int32_t>(size_b);
  int ab = compare_keys_narrow(a.get(), la, b.get(), lb, keys, count, fold);
  check(ab >= -1 && ab <= 1);
  check(compare_keys_narrow(b.get(), lb, a.get(), la, keys, count, fold) == -ab);
  check(compare_keys_narrow(a.get(), la, a.get(), la, keys, count, fold) == 0);

  size_t units_a = size_a / 2;
  size_t units_b = size_b / 2;
  std::unique_ptr<uint16_t[]> wa(new uint16_t[units_a + 1]);
  std::unique_ptr<uint16_t[]> wb(new uint16_t[units_b + 1]);
  memcpy(wa.get(), data, units_a * 2);
  wa[units_a] = 0;
  memcpy(wb.get(), second, units_b * 2);
  wb[units_b] = 0;
  la = static_cast<int32_t>(units_a);
  lb = static_cast<int32_t>(units_b);
  ab = compare_keys_wide(wa.get(), la, wb.get(), lb, keys, count);
  check(ab >= -1 && ab <= 1);
  check(sign(compare_keys_wide(wb.get(), lb, wa.get(), la, keys, count)) == -ab);
  check(compare_keys_wide(wa.get(), la, wa.get(), la, keys, count) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  ++data;
  --size;
  platform::set_system_encoding_for_test(
      (flags & 1) != 0 ? platform::SystemEncoding::kShiftJis
                       : platform::SystemEncoding::kOther);

  const uint8_t* end_of_key =
      static_cast<const uint8_t*>(memchr(data, '\n', size));
  size_t key_size =
      end_of_key != nullptr ? static_cast<size_t>(end_of_key - data) : size;
  if (key_size >= static_cast<size_t>(kTextBufferSize)) {
    key_size = kTextBufferSize - 1;
  }

  // The table is large; it is allocated once and only the entries the
  // parser may have reached are cleared after each input.
  static KeyTable table = new_key_table();
  std::string text(reinterpret_cast<const char*>(data), key_size);
  std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
  memcpy(buffer.get(), text.c_str(), text.size() + 1);
  const int parsed = parse_key_spec(preprocess_key_spec(buffer.get()), table.get());
  check(parsed == 0 || parsed == -1);
  size_t entries = touched_entries(data, key_size);
  check_table(*table, entries);
  memset(table->entries, 0, entries * sizeof(KeyDefinition));

  std::vector<SortCondition> conditions;
  int r = build_sort_conditions(&text, (flags & 4) != 0, (flags & 8) != 0, &conditions);
  check(r == 0 || r == -1);
  check(conditions.size() <= static_cast<size_t>(kMaxKeys));
  if (r == 0) {
    check(!conditions.empty());
    for (const SortCondition& c : conditions) {
      check(c.start >= 1 && c.start <= 65536);
      check(c.length >= 1 && c.length <= 65536);
      check(c.order == 'A' || c.order == 'D');
      check(c.type == 'S' || c.type == 'I' || c.type == 'Z');
    }
    size_t rest = size - key_size - (end_of_key != nullptr ? 1 : 0);
    compare_lines(data + size - rest, rest, conditions, (flags & 2) != 0);
  }
  return 0;
}
