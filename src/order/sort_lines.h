// Orders one run's LineTable entries as the index quicksort would, by the
// quickest form that gives its order for the job's comparison: the string
// sort where equal lines are equal bytes, cached prefixes or keys packed in
// the table's own slots, else the quicksort over the comparator itself.
#ifndef QUARNEL_ORDER_SORT_LINES_H_
#define QUARNEL_ORDER_SORT_LINES_H_

#include <cstdint>

namespace quarnel {

using IndexComparator = int (*)(int32_t a, int32_t b);

// Sorts LineTable entries 0 .. count-1 with the comparator. Called with
// compare_lines_narrow or compare_lines_wide in whole-line mode it takes
// the fast path (cached prefixes, inlined comparison, two threads); the
// result is the same as with any other comparator of the same answers.
void sort_line_indexes(int32_t count, IndexComparator comparator);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_SORT_LINES_H_
