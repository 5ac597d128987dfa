// The comparers that /I selects: the plain ones with 'A'..'Z' read as
// 'a'..'z', byte by byte, whatever the double-byte characters (a trail
// byte in that range is folded too).
#include <cstring>

#include "options/command_line.h"

namespace quarnel {

namespace {

inline unsigned char fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

}  // namespace

int strcmp_nocase(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    unsigned char p = fold(*x);
    unsigned char q = fold(*y);
    if (p != q) return p < q ? -1 : 1;
    if (p == 0) return 0;
  }
}

int memcmp_nocase(const void* a, const void* b, size_t n) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    unsigned char p = fold(x[i]);
    unsigned char q = fold(y[i]);
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

}  // namespace quarnel
