#include "options/sort_conditions.h"

#include <cstdint>

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
  sort_job.failed = 1;
  return -1;
}

}  // namespace

int build_sort_conditions(bool report_lines) {
  if (sort_job.key_text == nullptr || sort_job.key_table == nullptr) {
    sort_job.failed = 1;
    return -1;
  }
  sort_job.condition_count = 0;
  const char* text = preprocess_key_spec();
  if (parse_key_spec(text) != 0) {
    // The rewritten text, as the merge program will be given it.
    return fail(msg::kBadKeySpec, sort_job.key_text.get());
  }

  const KeyDefinition* keys = sort_job.key_table->entries;
  if (keys[0].values[0] == 0) return fail(msg::kNoStartColumn, nullptr);
  if (keys[0].values[1] == 0) return fail(msg::kNoLength, nullptr);

  for (int i = 0; i < kMaxKeys && keys[i].values[0] != 0; ++i) {
    const KeyDefinition& key = keys[i];
    int n = sort_job.condition_count;
    SortCondition& condition = sort_job.conditions[n];
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
      report_info(sort_job.wide_mode ? msg::kConditionWide
                                     : msg::kConditionNarrow,
                  condition.start, condition.length);
      report_info(type == 'S' ? msg::kAsText : msg::kAsNumber);
      report_info(order == 'A' ? msg::kAscending : msg::kDescending);
      report_info(msg::kConditionTail);
    }
    sort_job.condition_count = n + 1;
  }
  return 0;
}

}  // namespace quarnel
