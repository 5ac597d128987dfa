// Whole-line sorting without /I, where lines that compare equal are the
// same bytes: then every correct order writes the same output, and a
// multikey quicksort over 8 bytes (4 units) at a time, on two threads,
// may stand in for the index quicksort. It gives up, leaving the table
// as it was, wherever that reasoning fails or the work grows too deep.
#ifndef QUARNEL_SORT_STRING_SORT_H_
#define QUARNEL_SORT_STRING_SORT_H_

#include <cstdint>

namespace quarnel {

// Sorts LineTable entries 0 .. count-1 in ascending strcmp order (wide:
// unsigned unit order up to the first zero unit). False, with the table
// untouched, when two lines compare equal but one holds a zero byte
// (unit) before its end, since their order is then the index quicksort's
// own; also when memory is short or the partitions degenerate.
bool string_sort_lines(int32_t count, bool wide);

}  // namespace quarnel

#endif  // QUARNEL_SORT_STRING_SORT_H_
