// Orders one run's LineTable entries as the index quicksort would, by the
// quickest form that gives its order under the rules: the string sort
// where equal lines are equal bytes, cached prefixes or keys packed in the
// table's own slots, else the quicksort over the rules' comparator.
#ifndef QUARNEL_ORDER_SORT_LINES_H_
#define QUARNEL_ORDER_SORT_LINES_H_

#include <cstdint>

#include "order/compare_rules.h"
#include "order/line_table.h"
#include "order/sort_tuning.h"

namespace quarnel {

// Sorts entries 0 .. count-1. Bounded lines (a mapped input) are copied
// into room, the sort buffer, where a sort needs their zeros; false
// (reported) when they do not fit there, and the job must fail.
bool sort_lines(LineTable* table, int32_t count, const CompareRules& rules,
                const SortTuning& tuning, char* room, int64_t room_size);

// The index quicksort over the rules' comparator on one thread, with no
// fast form: the order every form above must give. Lines must not be
// bounded.
void sort_lines_plain(LineTable* table, int32_t count, const CompareRules& rules);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_SORT_LINES_H_
