#include "order/compare.h"

#include <cstring>

#include "order/key_compare.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

inline int sign(int r) { return r > 0 ? 1 : (r < 0 ? -1 : 0); }

// Code-unit order up to the first difference, or equal when both reach
// their terminating zero together.
inline int compare_units(const uint16_t* a, const uint16_t* b) {
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
}

}  // namespace

int compare_narrow(const CompareRules& rules, const char* a, int32_t length_a,
                   const char* b, int32_t length_b) {
  int r;
  if (rules.key_mode) {
    r = compare_keys_narrow(a, length_a, b, length_b, rules.conditions.data(),
                            static_cast<int32_t>(rules.conditions.size()),
                            rules.ignore_case);
  } else {
    r = sign(rules.ignore_case ? strcmp_nocase(a, b) : std::strcmp(a, b));
  }
  return rules.reverse ? -r : r;
}

int compare_wide(const CompareRules& rules, const uint16_t* a,
                 int32_t length_a, const uint16_t* b, int32_t length_b) {
  const int r = rules.key_mode
                    ? compare_keys_wide(a, length_a, b, length_b, rules.conditions.data(),
                                        static_cast<int32_t>(rules.conditions.size()))
                    : compare_units(a, b);
  return rules.reverse ? -r : r;
}

uint64_t narrow_line_prefix(const char* line, int32_t length, bool fold) {
  uint64_t value = 0;
  if (length >= 8) {
    std::memcpy(&value, line, 8);
    value = cut_at_zero(__builtin_bswap64(value), false);
  } else {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line);
    for (int32_t i = 0; i < length && p[i] != 0; ++i) {
      value |= static_cast<uint64_t>(p[i]) << (56 - 8 * i);
    }
  }
  return fold ? fold_word(value) : value;
}

uint64_t wide_line_prefix(const uint16_t* line, int32_t length) {
  uint64_t value = 0;
  if (length >= 4) {
    std::memcpy(&value, line, 8);
    return cut_at_zero(units_in_order(__builtin_bswap64(value)), true);
  }
  for (int32_t i = 0; i < length && line[i] != 0; ++i) {
    value |= static_cast<uint64_t>(line[i]) << (48 - 16 * i);
  }
  return value;
}

}  // namespace quarnel
