#include "text/ascii.h"

#include <cstddef>
#include <cstdint>

namespace quarnel {

int strcmp_nocase(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    unsigned char p = fold_ascii(*x);
    unsigned char q = fold_ascii(*y);
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

int memcmp_nocase(const void* a, const void* b, size_t n) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    unsigned char p = fold_ascii(x[i]);
    unsigned char q = fold_ascii(y[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

int32_t read_int32(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  // Past 2^31 the value only needs to stay beyond the limit.
  const int64_t beyond = int64_t{INT32_MAX} + 1;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > beyond) value = beyond;
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value);
}

}  // namespace quarnel
