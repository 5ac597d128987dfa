// Looks at the input before sorting: the line-length estimate from its
// first line, the refusal of an empty input, and the memory budget with
// the SortBuffer it allocates.
#ifndef QUARNEL_SORT_MEMORY_PLAN_H_
#define QUARNEL_SORT_MEMORY_PLAN_H_

namespace quarnel {

int probe_input();
int check_input_type();
int plan_memory();

}  // namespace quarnel

#endif  // QUARNEL_SORT_MEMORY_PLAN_H_
