#include "order/key_compare.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "order/words.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

constexpr int32_t kNumericScanLimit = 256;

// The kept characters of one numeric field. The engine may sort two
// separated sub-ranges on two threads at once, so each thread has its own.
thread_local char numeric_scratch[kNumericScanLimit + 1];

bool kept(uint32_t c) {
  return c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
}

// atof's reading of text made only of '+', '-', '.' and digits: an
// optional sign, digits, an optional '.' and digits; 0 without a leading
// number. The decimal point is '.' whatever the locale, and no exponent
// can occur because letters never survive.
double read_kept(const char* text, size_t length) {
  const char* p = text;
  const char* end = text + length;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = (*p == '-');
    ++p;
  }
  if (p == end || (*p != '.' && (*p < '0' || *p > '9'))) return 0.0;
  double value = 0.0;
  std::from_chars_result r =
      std::from_chars(p, end, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

template <typename Unit>
double numeric_value(const Unit* field, int32_t count) {
  int32_t scan = count < kNumericScanLimit ? count : kNumericScanLimit;
  size_t length = 0;
  for (int32_t i = 0; i < scan; ++i) {
    uint32_t c = static_cast<std::make_unsigned_t<Unit>>(field[i]);
    if (kept(c)) numeric_scratch[length++] = static_cast<char>(c);
  }
  numeric_scratch[length] = '\0';
  return read_kept(numeric_scratch, length);
}

// How many characters a condition compares once the shorter line (length
// m) has had its say: the whole field when it ends on or before the
// shorter line's terminator, the part up to that terminator when it
// starts on or before it, and 0 when it starts behind it.
inline int64_t fitted_count(int64_t start, int64_t length, int64_t m) {
  if (start + length <= m + 2) return length;
  int64_t cut = m - start + 2;
  return cut > 0 ? cut : 0;
}

inline int ordered(int r, char order) { return order == 'A' ? r : -r; }

template <typename Unit>
int compare_numbers(const Unit* fa, const Unit* fb, int32_t count,
                    char order) {
  double va = numeric_value(fa, count);
  double vb = numeric_value(fb, count);
  if (va > vb) return ordered(1, order);
  if (va < vb) return ordered(-1, order);
  return 0;
}

}  // namespace

double numeric_key_value(const uint16_t* field, int32_t count) {
  return numeric_value(field, count);
}

double numeric_key_value_narrow(const char* field, int32_t count) {
  return numeric_value(field, count);
}

namespace {

// A character field: narrow bytes, folded under /I (the arguments swapped
// for a descending key), wide units in plain unsigned order, never folded.
int compare_text(const char* fa, const char* fb, int64_t n, char order, bool fold) {
  const char* x = order == 'A' ? fa : fb;
  const char* y = order == 'A' ? fb : fa;
  const size_t size = static_cast<size_t>(n);
  int r = fold ? memcmp_nocase(x, y, size) : std::memcmp(x, y, size);
  return r > 0 ? 1 : (r < 0 ? -1 : 0);
}

int compare_text(const uint16_t* fa, const uint16_t* fb, int64_t n,
                 char order, bool) {
  for (int64_t k = 0; k < n; ++k) {
    if (fa[k] != fb[k]) return ordered(fa[k] < fb[k] ? -1 : 1, order);
  }
  return 0;
}

template <typename Unit>
int compare_keys(const Unit* a, int32_t length_a, const Unit* b,
                 int32_t length_b, const SortCondition* conditions,
                 int32_t count, bool fold) {
  const int64_t m = length_a < length_b ? length_a : length_b;
  for (int i = 0; i < count; ++i) {
    const SortCondition& c = conditions[i];
    int64_t n = fitted_count(c.start, c.length, m);
    if (n == 0) {
      // The field starts behind the shorter line's terminator.
      if (length_a != length_b) {
        return ordered(length_a < length_b ? -1 : 1, c.order);
      }
      continue;
    }
    const Unit* fa = a + (c.start - 1);
    const Unit* fb = b + (c.start - 1);
    int r = c.type == 'S'
                ? compare_text(fa, fb, n, c.order, fold)
                : compare_numbers(fa, fb, static_cast<int32_t>(n), c.order);
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace

int compare_keys_narrow(const char* a, int32_t length_a, const char* b,
                        int32_t length_b, const SortCondition* conditions,
                        int32_t count, bool fold) {
  return compare_keys(a, length_a, b, length_b, conditions, count, fold);
}

int compare_keys_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                      int32_t length_b, const SortCondition* conditions,
                      int32_t count) {
  return compare_keys(a, length_a, b, length_b, conditions, count, false);
}

namespace {

// A numeric field's value as the bits of its double: the cache slot holds
// it in place of a text prefix.
template <typename Unit>
uint64_t numeric_bits(const Unit* field, int32_t count) {
  double v = numeric_value(field, count);
  uint64_t bits;
  memcpy(&bits, &v, sizeof bits);
  return bits;
}

}  // namespace

KeyCacheForm key_cache_form(const CompareRules& rules) {
  if (!rules.key_mode || rules.conditions.empty()) return KeyCacheForm::kNone;
  return rules.conditions[0].type == 'S' ? KeyCacheForm::kText : KeyCacheForm::kNumber;
}

int32_t key_cache_need(const CompareRules& rules) {
  const SortCondition& c = rules.conditions[0];
  return c.start + c.length - 2;
}

uint64_t narrow_key_cache(const CompareRules& rules, const char* line) {
  const SortCondition& c = rules.conditions[0];
  const char* field = line + (c.start - 1);
  if (c.type != 'S') return numeric_bits(field, c.length);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(field);
  int32_t n = c.length < 8 ? c.length : 8;
  uint64_t value = 0;
  for (int32_t i = 0; i < n; ++i) {
    value |= static_cast<uint64_t>(p[i]) << (56 - 8 * i);
  }
  return rules.ignore_case ? fold_word(value) : value;
}

uint64_t wide_key_cache(const CompareRules& rules, const uint16_t* line) {
  const SortCondition& c = rules.conditions[0];
  const uint16_t* field = line + (c.start - 1);
  if (c.type != 'S') return numeric_bits(field, c.length);
  int32_t n = c.length < 4 ? c.length : 4;
  uint64_t value = 0;
  for (int32_t i = 0; i < n; ++i) {
    value |= static_cast<uint64_t>(field[i]) << (48 - 16 * i);
  }
  return value;
}

}  // namespace quarnel
