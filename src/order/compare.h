// How two lines compare: whole lines or by the sort conditions, narrow
// (Shift_JIS bytes) or wide (UTF-16LE units). Every line is followed in
// memory by a zero byte (narrow) or zero unit (wide); only the string sort
// meets lines without it (see LineTable::bounded). What decides is a
// CompareRules value.
//
// Whole-line sorting also has a quicker form with the same answers: each
// line's first 8 bytes (4 units) cached as one big-endian number, so that
// most comparisons never reach the line itself.
#ifndef QUARNEL_ORDER_COMPARE_H_
#define QUARNEL_ORDER_COMPARE_H_

#include <cstdint>
#include <cstring>

#include "order/compare_rules.h"
#include "order/words.h"
#include "text/ascii.h"

namespace quarnel {

// 1 when line a sorts after line b, -1 before, 0 equal, under the rules
// (turned round under /R).
int compare_narrow(const CompareRules& rules, const char* a, int32_t length_a,
                   const char* b, int32_t length_b);
int compare_wide(const CompareRules& rules, const uint16_t* a,
                 int32_t length_a, const uint16_t* b, int32_t length_b);

// The same for two entries of a LineTable, the comparator of the plain
// quicksort; safe on several threads at once.
struct TableCompare {
  const CompareRules* rules;
  char* const* starts;
  const int32_t* lengths;

  int operator()(int32_t a, int32_t b) const {
    if (rules->wide) {
      return compare_wide(*rules, reinterpret_cast<const uint16_t*>(starts[a]), lengths[a],
                          reinterpret_cast<const uint16_t*>(starts[b]), lengths[b]);
    }
    return compare_narrow(*rules, starts[a], lengths[a], starts[b], lengths[b]);
  }
};

// The cached prefix of a line: its bytes up to the first zero byte (which
// ends the comparison of strcmp and of the /I comparer alike), at most 8,
// zero-padded; with fold, 'A'..'Z' read as 'a'..'z'. Two lines whose
// prefixes differ compare as their prefixes do; equal prefixes with a zero
// lowest byte mean equal lines; otherwise the lines decide from byte 8 on.
uint64_t narrow_line_prefix(const char* line, int32_t length, bool fold);
// The same with 4 units up to the first zero unit.
uint64_t wide_line_prefix(const uint16_t* line, int32_t length);

// The inlined whole-line comparators over the cached prefixes.
struct NarrowPrefixCompare {
  const uint64_t* prefixes;
  char* const* starts;
  bool fold;

  int operator()(int32_t a, int32_t b) const {
    uint64_t x = prefixes[a];
    uint64_t y = prefixes[b];
    if (x != y) return x < y ? -1 : 1;
    if ((x & 0xFF) == 0) return 0;
    // Both lines hold 8 bytes without a zero: go on behind them.
    int r = fold ? strcmp_nocase(starts[a] + 8, starts[b] + 8)
                 : std::strcmp(starts[a] + 8, starts[b] + 8);
    return r > 0 ? 1 : (r < 0 ? -1 : 0);
  }
};

struct WidePrefixCompare {
  const uint64_t* prefixes;
  char* const* starts;

  int operator()(int32_t a, int32_t b) const {
    uint64_t x = prefixes[a];
    uint64_t y = prefixes[b];
    if (x != y) return x < y ? -1 : 1;
    if ((x & 0xFFFF) == 0) return 0;
    const uint16_t* p = reinterpret_cast<const uint16_t*>(starts[a]) + 4;
    const uint16_t* q = reinterpret_cast<const uint16_t*>(starts[b]) + 4;
    for (;; ++p, ++q) {
      if (*p != *q) return *p < *q ? -1 : 1;
      if (*p == 0) return 0;
    }
  }
};

}  // namespace quarnel

#endif  // QUARNEL_ORDER_COMPARE_H_
