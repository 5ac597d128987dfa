// Hostile input for the index quicksort: the order of values that drives
// its median-of-three pivot to split off only a few entries at a time.
#ifndef QUARNEL_TESTS_SUPPORT_KILLER_INPUT_H_
#define QUARNEL_TESTS_SUPPORT_KILLER_INPUT_H_

#include <cstdint>
#include <vector>

namespace quarnel::testing {

// Values 0 .. count-1, one per entry, found by running the plain quicksort
// (no way out of deep splits) against a comparator that decides each
// answer as late as possible and always against the pivot's side: an
// entry's value is fixed only when it is first compared with another
// undecided one. Sorting these values takes the quicksort about count²/4
// comparisons. Takes that long to build, too.
std::vector<int32_t> killer_values(int32_t count);

}  // namespace quarnel::testing

#endif  // QUARNEL_TESTS_SUPPORT_KILLER_INPUT_H_
