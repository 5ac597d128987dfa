// How two lines compare: whole lines or by the sort conditions, narrow
// (Shift_JIS bytes) or wide (UTF-16LE units). Every line is followed in
// memory by a zero byte (narrow) or zero unit (wide).
#ifndef QUARNEL_SORT_COMPARE_H_
#define QUARNEL_SORT_COMPARE_H_

#include <cstdint>

namespace quarnel {

// 1 when line a sorts after line b, -1 before, 0 equal; the mode's rules
// (key_mode, the comparers of /I) come from the SortJob.
int compare_narrow(const char* a, int32_t length_a, const char* b,
                   int32_t length_b);
int compare_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                 int32_t length_b);

// The same for two entries of the LineTable.
int compare_lines_narrow(int32_t a, int32_t b);
int compare_lines_wide(int32_t a, int32_t b);

}  // namespace quarnel

#endif  // QUARNEL_SORT_COMPARE_H_
