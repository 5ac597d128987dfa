#include "sort/compare.h"

#include "options/sort_job.h"
#include "sort/key_compare.h"

namespace quarnel {

int compare_narrow(const char* a, int32_t length_a, const char* b,
                   int32_t length_b) {
  if (sort_job.key_mode) return compare_keys_narrow(a, length_a, b, length_b);
  int r = sort_job.line_comparer(a, b);
  return r > 0 ? 1 : (r < 0 ? -1 : 0);
}

int compare_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                 int32_t length_b) {
  if (sort_job.key_mode) return compare_keys_wide(a, length_a, b, length_b);
  // Code-unit order up to the first difference, or equal when both reach
  // their terminating zero together.
  for (;; ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
    if (*a == 0) return 0;
  }
}

// Placeholders until the LineTable comparators are built.
int compare_lines_narrow(int32_t, int32_t) { return 0; }
int compare_lines_wide(int32_t, int32_t) { return 0; }

}  // namespace quarnel
