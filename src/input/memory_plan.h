// Looks at the input before sorting: the line-length estimate from its
// first line, the refusal of an empty input, and the memory budget with
// the SortBuffer it allocates.
//
// The budget arithmetic is kept apart from the machine (file size,
// available memory and allocations come in as arguments), so that every
// branch can be checked without a machine of the size it is meant for.
#ifndef QUARNEL_INPUT_MEMORY_PLAN_H_
#define QUARNEL_INPUT_MEMORY_PLAN_H_

#include <cstdint>
#include <functional>
#include <string>

#include "input/run_state.h"

namespace quarnel {

// The probe: the line-length estimate into the run, and the refusal of an
// input that cannot be read or yields no bytes. 0, or -1 (reported).
int probe_input(const SortJob& job, RunState* run);
// Whether the input's first bytes can be read and are at least one.
bool check_input_type(const std::string& path);
// The budget, the SortBuffer and the reader's capacity; 0, or -1
// (reported).
int plan_memory(const SortJob& job, RunState* run);

// The largest budget, in bytes.
inline constexpr int64_t kBudgetCap = 2000000000;
// Stands for the available memory when the system cannot tell it.
inline constexpr int64_t kUnknownAvailableMemory = 32000000;
// Estimate used when the first line has no line feed.
inline constexpr int32_t kDefaultLineEstimate = 80;

// The line-length estimate of the first bytes of an input: the first
// line's size with its line end (and without a leading byte-order mark of
// bom_length bytes), or 80 when no line feed comes before a zero or the
// end of the bytes.
int32_t estimate_line_length(const unsigned char* bytes, int64_t count,
                             bool wide, int bom_length);

// Tries to obtain a block of exactly that many bytes; true on success.
// The hook decides whether the block is kept or released at once.
using AllocationHook = std::function<bool(int64_t bytes)>;

// The budget before the SortBuffer is allocated: the whole file when it
// fits with its line table, else the /M limit (limit > 0), or the largest
// hundredth part of the file that fits half the memory that can be had.
// available is -1 when the system cannot tell it; try_allocate makes the
// trial allocations, each released at once.
int64_t choose_budget(int64_t file_size, int32_t estimate, int64_t limit,
                      int64_t available, const AllocationHook& try_allocate);

// The bytes the buffer needs so that the longest allowed line (65535
// units and CR LF) can always be carried over to its start.
int64_t carry_over_need(bool wide);

struct BufferChoice {
  int64_t budget = 0;    // the size reported; kept as the run's budget
  int64_t capacity = 0;  // bytes of data the buffer holds (+2 allocated)
  char mark = 0;         // 'A', 'B', or 0 when no buffer could be had
};

// Allocates the buffer for a budget: first the budget itself (mark 'A'),
// then nine shrinking shares of it less their line tables (mark 'B'),
// giving up at the first share that is not positive. The capacity is the
// budget raised to what a maximal line needs (never beyond the file,
// which then is read in one piece); allocate receives capacity + 2.
// On failure budget holds the last share tried.
BufferChoice allocate_sort_buffer(int64_t budget, int64_t file_size,
                           int32_t estimate, int64_t need,
                           const AllocationHook& allocate);

}  // namespace quarnel

#endif  // QUARNEL_INPUT_MEMORY_PLAN_H_
