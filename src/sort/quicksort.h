// The index quicksort that orders one run's LineTable entries. Its exact
// sequence of comparisons fixes where equal lines end up.
#ifndef QUARNEL_SORT_QUICKSORT_H_
#define QUARNEL_SORT_QUICKSORT_H_

#include <cstdint>

namespace quarnel {

using IndexComparator = int (*)(int32_t a, int32_t b);

void sort_line_indexes(int32_t count, IndexComparator comparator);

}  // namespace quarnel

#endif  // QUARNEL_SORT_QUICKSORT_H_
