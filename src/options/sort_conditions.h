// Compiles the key text into sort conditions and reports each condition
// on standard error.
#ifndef QUARNEL_OPTIONS_SORT_CONDITIONS_H_
#define QUARNEL_OPTIONS_SORT_CONDITIONS_H_

#include <string>
#include <vector>

#include "options/sort_job.h"

namespace quarnel {

// The key text is rewritten into its bracket form, which the merge program
// is given; the conditions replace those in conditions. 0, or -1 after a
// failure it has reported. The merge program compiles the same text
// silently (report_lines false); wide chooses the wording of the lines.
int build_sort_conditions(std::string* key_text, bool wide, bool report_lines,
                          std::vector<SortCondition>* conditions);

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_SORT_CONDITIONS_H_
