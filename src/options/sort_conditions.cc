#include "options/sort_conditions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "console/console.h"
#include "console/messages.h"
#include "options/key_spec.h"
#include "options/sort_job.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

struct Word {
  const char* text;
  char letter;
};

// The type words of a qualifier and the order words of an attribute.
constexpr Word kTypeWords[] = {
    {"String", 'S'}, {"S", 'S'}, {"Integer", 'I'}, {"I", 'I'}, {"Z", 'Z'}};
constexpr Word kOrderWords[] = {
    {"Ascending", 'A'}, {"A", 'A'}, {"Descending", 'D'}, {"D", 'D'}};

// The letter of a word; the default when the field is empty, 0 when the
// word is not known.
template <size_t N>
char look_up(const char* field, const Word (&words)[N], char empty) {
  if (field[0] == '\0') return empty;
  for (const Word& w : words) {
    if (strcmp_nocase(field, w.text) == 0) return w.letter;
  }
  return 0;
}

int fail(const char* message, const char* arg) {
  report_error(message, arg);
  return -1;
}

}  // namespace

int build_sort_conditions(std::string* key_text, bool wide, bool report_lines,
                          std::vector<SortCondition>* conditions) {
  conditions->clear();
  // The text is rewritten in place, in a buffer never smaller than the
  // usual size.
  const size_t size = std::max(static_cast<size_t>(kTextBufferSize), key_text->size() + 1);
  std::unique_ptr<char[]> text(new (std::nothrow) char[size]);
  KeyTable table = new_key_table();
  if (text == nullptr || table == nullptr) return fail(msg::kNoMemory, nullptr);
  std::memcpy(text.get(), key_text->c_str(), key_text->size() + 1);
  const char* rewritten = preprocess_key_spec(text.get());
  *key_text = rewritten;
  if (parse_key_spec(rewritten, table.get()) != 0) {
    // The rewritten text, as the merge program will be given it.
    return fail(msg::kBadKeySpec, rewritten);
  }

  const KeyDefinition* keys = table->entries;
  if (keys[0].values[0] == 0) return fail(msg::kNoStartColumn, nullptr);
  if (keys[0].values[1] == 0) return fail(msg::kNoLength, nullptr);

  for (int i = 0; i < kMaxKeys && keys[i].values[0] != 0; ++i) {
    const KeyDefinition& key = keys[i];
    const int n = static_cast<int>(conditions->size());
    SortCondition condition{};
    condition.start = key.values[0];
    condition.length = key.values[1];

    char type = look_up(key.qualifiers[0], kTypeWords, 'S');
    if (type == 0) return fail(msg::kBadType, nullptr);
    condition.type = type;
    char order = look_up(key.attributes[0], kOrderWords, 'A');
    if (order == 0) return fail(msg::kBadOrder, nullptr);
    condition.order = order;

    // Negative values fail as well: they wrap to large unsigned ones.
    if (static_cast<uint32_t>(condition.start) - 1u > 65535u ||
        static_cast<uint32_t>(condition.length) - 1u > 65535u) {
      return fail(msg::kBadRange, nullptr);
    }

    if (report_lines) {
      report_info(msg::kConditionHead, n + 1);
      report_info(wide ? msg::kConditionWide
                                     : msg::kConditionNarrow,
                  condition.start, condition.length);
      report_info(type == 'S' ? msg::kAsText : msg::kAsNumber);
      report_info(order == 'A' ? msg::kAscending : msg::kDescending);
      report_info(msg::kConditionTail);
    }
    conditions->push_back(condition);
  }
  return 0;
}

}  // namespace quarnel
