// Key-mode comparison: the conditions walked in order, each comparing one
// field as characters or as a number.
#ifndef QUARNEL_ORDER_KEY_COMPARE_H_
#define QUARNEL_ORDER_KEY_COMPARE_H_

#include <cstdint>

#include "options/sort_job.h"
#include "order/compare_rules.h"

namespace quarnel {

// Under the conditions, in order; narrow character fields are folded
// with fold (/I), wide ones compare by unit, never folded.
int compare_keys_narrow(const char* a, int32_t length_a, const char* b,
                        int32_t length_b, const SortCondition* conditions,
                        int32_t count, bool fold);
int compare_keys_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                      int32_t length_b, const SortCondition* conditions,
                      int32_t count);

// The value of a numeric field: '+', '-', '.' and digits of its first
// min(count, 256) characters, read as atof reads them.
double numeric_key_value(const uint16_t* field, int32_t count);
double numeric_key_value_narrow(const char* field, int32_t count);

// Key-mode sorting caches one value per line for the first condition:
// for a character field its first 8 bytes (4 units) as one big-endian
// number, folded like the /I comparer; for a numeric field its value.
// The value stands for the field only on lines that hold the whole field
// (up to the terminator position), where the field does not depend on
// the other line of a pair; any pair with a shorter line is compared in
// full.
enum class KeyCacheForm { kNone, kText, kNumber };

// The cached form of the rules' first condition, or kNone (whole-line
// mode).
KeyCacheForm key_cache_form(const CompareRules& rules);

// The cached value of one line; wide counts in units. Only meaningful
// when the line's length is at least key_cache_need(rules).
uint64_t narrow_key_cache(const CompareRules& rules, const char* line);
uint64_t wide_key_cache(const CompareRules& rules, const uint16_t* line);

// The shortest line that holds the whole first field.
int32_t key_cache_need(const CompareRules& rules);

// The comparator over the cached values; the same answers as the
// conditions compared in full.
template <bool kWide, bool kNumber>
struct KeyCacheCompare {
  // A packed table: the cache in the start slots, each line at base plus
  // its offset, the lengths aside.
  const uint64_t* cache;
  const char* base;
  const uint32_t* offsets;
  const uint16_t* lengths;
  int32_t need;
  bool descending;
  // The prefix holds the whole field, so equal prefixes mean an equal
  // first condition.
  bool covers;
  const SortCondition* conditions;
  int32_t condition_count;
  bool fold;

  // The conditions from first on; those before it are taken as equal.
  int rest(int32_t a, int32_t b, int first) const {
    if (first >= condition_count) return 0;
    const char* p = base + offsets[a];
    const char* q = base + offsets[b];
    if (kWide) {
      return compare_keys_wide(reinterpret_cast<const uint16_t*>(p), lengths[a],
                               reinterpret_cast<const uint16_t*>(q), lengths[b],
                               conditions + first, condition_count - first);
    }
    return compare_keys_narrow(p, lengths[a], q, lengths[b], conditions + first,
                               condition_count - first, fold);
  }

  int operator()(int32_t a, int32_t b) const {
    if (lengths[a] < need || lengths[b] < need) return rest(a, b, 0);
    uint64_t x = cache[a];
    uint64_t y = cache[b];
    if (kNumber) {
      double va;
      double vb;
      __builtin_memcpy(&va, &x, sizeof va);
      __builtin_memcpy(&vb, &y, sizeof vb);
      if (va > vb) return descending ? -1 : 1;
      if (va < vb) return descending ? 1 : -1;
      return rest(a, b, 1);
    }
    if (x != y) return (x < y) != descending ? -1 : 1;
    return rest(a, b, covers ? 1 : 0);
  }
};

}  // namespace quarnel

#endif  // QUARNEL_ORDER_KEY_COMPARE_H_
