// How one merge reads and compares its lines, as the run reader and the
// merge loop use them: taken from the merge's rules once, before its runs
// are opened.
#ifndef QUARNEL_TOLVINAR_MERGE_MODE_H_
#define QUARNEL_TOLVINAR_MERGE_MODE_H_

#include "order/compare.h"

namespace quarnel {

struct MergeMode {
  bool wide = false;
  bool marked = false;
  bool spent_runs = false;  // the bytes read from runs may be given back
  // Whole lines: most comparisons are decided by the lines' cached first
  // bytes, folded as /I reads them (narrow only).
  bool prefixed = false;
  bool fold = false;
  CompareRules compare;
};

// The byte-order mark that marked wide runs and their output begin with.
inline constexpr char kMark[2] = {'\xFF', '\xFE'};

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_MERGE_MODE_H_
