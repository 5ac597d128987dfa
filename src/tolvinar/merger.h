// The merge program's engine: merges sorted runs (CR LF line ends, wide
// runs as UTF-16LE) into one output by the comparison rules it is given
// (the same CompareRules Quarnel sorts by), a line of a lower-numbered run
// first among equal lines. More runs than may be open at once are merged
// in passes through intermediate files in the runs' folder.
#ifndef QUARNEL_TOLVINAR_MERGER_H_
#define QUARNEL_TOLVINAR_MERGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "order/compare_rules.h"

namespace quarnel {

struct MergeSettings {
  // Wide runs begin with FF FE, and so does the output.
  bool marked = false;
  // The output path; ignored when to_stdout is set. A file output is
  // written beside its path and renamed into place only when complete.
  std::string output;
  bool to_stdout = false;
  // Runs merged at once; 0 takes it from the open-file limit.
  int32_t fan_in = 0;
  // Bytes of read buffers shared by the runs of one merge. With the output
  // buffer and the program itself, the merge stays within 64 MB however
  // many runs there are.
  int64_t read_budget = int64_t{56} << 20;
  // The runs are the sort's own and go when the merge ends, whatever its
  // outcome: the bytes read from them are given back as the merge goes,
  // so that the output takes the pages and the disk space they held.
  // Never for files the caller keeps.
  bool spent_runs = false;
};

// Quarnel names its list file in this variable of the merge program's
// environment to say that the runs are spent once read; the merge program
// trusts it only for that very list.
inline constexpr const char* kSpentRunsVariable = "QUARNEL_SPENT_RUN_LIST";

// Exit statuses of the merge program.
inline constexpr int kMergeOk = 0;
inline constexpr int kMergeBadArguments = 1;
inline constexpr int kMergeIoFailure = 2;

// kMergeOk, or kMergeIoFailure after a reported failure; no output file is
// touched then and no intermediate file is left.
int merge_runs(const std::vector<std::string>& runs, const CompareRules& rules,
               const MergeSettings& settings);

// How many runs may be merged at once under the open-file limit.
int32_t fan_in_for_open_limit(int64_t limit);

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_MERGER_H_
