// Compiles the key text into the SortJob's sort conditions and reports
// each condition on standard error.
#ifndef QUARNEL_OPTIONS_SORT_CONDITIONS_H_
#define QUARNEL_OPTIONS_SORT_CONDITIONS_H_

namespace quarnel {

// 0, or -1 after a failure it has reported. The merge program compiles
// the same text silently (report_lines false).
int build_sort_conditions(bool report_lines = true);

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_SORT_CONDITIONS_H_
