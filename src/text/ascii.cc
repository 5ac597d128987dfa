#include "text/ascii.h"

#include <cstddef>

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

}  // namespace quarnel
