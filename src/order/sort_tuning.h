// What the sorts may use to go faster, never what they write: threads, the
// size from which work is shared between them, the string sort's patience,
// the memory for lengths kept aside. The driver takes the defaults; tests
// build their own values to reach every path.
#ifndef QUARNEL_ORDER_SORT_TUNING_H_
#define QUARNEL_ORDER_SORT_TUNING_H_

#include <cstdint>

namespace quarnel {

struct SortTuning {
  // Tables below this many entries are sorted on one thread.
  int32_t parallel_min_count = 100000;
  // Threads for a shared sort; 0 means the hardware's count (at most 8).
  int32_t thread_count = 0;
  // Partitions at one depth after which the string sort gives up; below
  // zero, its own limit.
  int32_t string_sort_split_limit = -1;
  // Lengths may be kept aside (2 bytes a line) by the sorts that work in
  // the table's own slots; false takes the ways that find them again.
  bool keep_lengths_aside = true;
};

// The threads a shared sort uses under the tuning.
int32_t sort_threads(const SortTuning& tuning);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_SORT_TUNING_H_
