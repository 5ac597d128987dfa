// Whole-line sorting without /I, where lines that compare equal are the
// same bytes: then every correct order writes the same output, and a
// multikey quicksort over 8 bytes (4 units) at a time, on two threads,
// may stand in for the index quicksort; large ranges are split by one key
// byte at a time, in a single pass each. It works in the table's own
// slots (key and offset where start and length were). It gives up,
// leaving the table as it was, wherever that reasoning fails or the work
// grows too deep.
#ifndef QUARNEL_ORDER_STRING_SORT_H_
#define QUARNEL_ORDER_STRING_SORT_H_

#include <cstdint>

#include "order/line_table.h"
#include "order/sort_tuning.h"

namespace quarnel {

// Sorts the table's entries 0 .. count-1 in ascending strcmp order (wide:
// unsigned unit order up to the first zero unit), using no memory beyond
// the table. False, with the table untouched, when a line holds a zero
// byte (unit) before its end, since lines that compare equal may then
// differ and their order is the index quicksort's own. Also false when
// the partitions degenerate; the table then holds the same lines in some
// other order, which the quicksort may take up, equal lines being equal
// bytes.
//
// With fold (narrow only), ASCII capitals compare as small letters, as
// under /I. Lines that then compare equal while their bytes differ keep
// the index quicksort's order, so the sort gives up on meeting two, and
// puts the table back in the order its lines were recorded (false).
bool string_sort_lines(LineTable* table, int32_t count, bool wide, bool fold,
                       const SortTuning& tuning);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_STRING_SORT_H_
