// The k-way merge of one group of runs into one open file: each run read
// through a buffer of its own (its next piece read ahead where the budget
// allows), a loser tree picking the next line with about log2 k
// comparisons, the lines leaving through the output sink.
#ifndef QUARNEL_TOLVINAR_MERGE_GROUP_H_
#define QUARNEL_TOLVINAR_MERGE_GROUP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tolvinar/merge_mode.h"

namespace quarnel {

// A run to merge: one the merge was given, or an intermediate file of an
// earlier pass, which goes once read.
struct RunEntry {
  std::string path;
  bool intermediate = false;
};

// Merges entries[first, first + count) into the descriptor fd (not closed
// here), labelled as for open_sink; convert: wide text converted for
// standard output. read_budget: the bytes of read buffers the runs share.
// false after a reported failure.
bool merge_group(const std::vector<RunEntry>& entries, size_t first, size_t count,
                 int fd, const std::string& label, bool convert, int64_t read_budget,
                 const MergeMode& mode);

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_MERGE_GROUP_H_
