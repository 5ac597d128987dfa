// How two lines compare, as one value chosen once from the job's settings:
// the comparers, the cached-prefix and cached-key fast paths and the merge
// program all read it, and nothing asks which function stands for a mode.
#ifndef QUARNEL_ORDER_COMPARE_RULES_H_
#define QUARNEL_ORDER_COMPARE_RULES_H_

#include <vector>

#include "options/sort_job.h"

namespace quarnel {

struct CompareRules {
  // UTF-16LE units in unsigned order; else Shift_JIS bytes.
  bool wide = false;
  // /I: narrow whole lines and narrow character keys read 'A'..'Z' as
  // 'a'..'z'; wide text is never folded.
  bool ignore_case = false;
  // The lines compare by the conditions, in order; else as whole lines.
  bool key_mode = false;
  // /R: every answer turned round, so that the order is reversed while
  // equal lines stay equal (ties are not reversed).
  bool reverse = false;
  std::vector<SortCondition> conditions;
};

// The rules of a job's settings.
CompareRules compare_rules_of(const SortJob& job);

// The forms of whole-line sorting with cached prefixes; kNone in key mode.
enum class WholeLineForm { kNone, kNarrow, kNarrowFolded, kWide };
WholeLineForm whole_line_form(const CompareRules& rules);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_COMPARE_RULES_H_
