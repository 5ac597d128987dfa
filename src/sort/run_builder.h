// Reads the input into the SortBuffer, cuts it into lines in place,
// records them in the LineTable, and writes each buffer-full of lines,
// sorted, as the next run file. One call consumes one line.
//
// Lines end at LF; the CRs that end a line (before its LF, or at the end
// of the input) are dropped, a CR inside a line is an ordinary byte. A
// line holds at most 65535 bytes (units in wide mode). A builder that
// stops on an error (a line too long, memory, a read error) reports it and
// sets sort_job.failed, so that the job ends without output.
#ifndef QUARNEL_SORT_RUN_BUILDER_H_
#define QUARNEL_SORT_RUN_BUILDER_H_

#include <cstdint>
#include <memory>

namespace quarnel {

inline constexpr int32_t kMaxLineLength = 65535;

struct LineTable {
  std::unique_ptr<char*[]> line_starts;
  std::unique_ptr<int32_t[]> line_lengths;
  int32_t block_size = 1;
  int32_t block_count = 0;
  int32_t last_line = -1;
  // Set while no byte (unit, in wide mode) read from the input has been
  // zero: every line then ends at the zero put behind it, with none
  // inside, which the string sort would otherwise check.
  bool zero_free = false;
  // The lines lie in the input's own mapped pages, where nothing may be
  // written: each ends at its length, with no zero behind it, and only the
  // string sort, which can stop at a length, may take them as they are.
  bool bounded = false;
};

struct ReaderState {
  int32_t input_fd = 0;
  int32_t input_closed = 1;
  char* buffer_start = nullptr;
  int64_t buffer_capacity = 0;
  char* next_line = nullptr;
  char* data_end = nullptr;
  int64_t last_read = 0;
  // The input mapped whole in place of the buffer, or null.
  const char* mapped = nullptr;
  int64_t mapped_size = 0;
};

extern LineTable line_table;
extern ReaderState reader_state;

// Where each sorted run goes: write_run_narrow and write_run_wide, unless
// a test puts its own writer in their place to look at the runs.
using RunWriter = int (*)(int32_t line_count, int32_t run_index);
extern RunWriter narrow_run_writer;
extern RunWriter wide_run_writer;

// The bytes (units in wide mode) the line took, or 0 at the end or after
// an error.
int build_run_narrow(const char* input_path, int mode);
int build_run_wide(const char* input_path, int mode);

// An input of this many bytes or more that fits the buffer whole is
// sorted in its own mapped pages where the sort allows it (whole lines
// without /I, no zero byte or unit in the input), which spares filling
// fresh memory with a copy of it.
extern int64_t map_input_from;

// Copies the count bounded lines into the sort buffer, each followed by
// its zero, for the sorts that need that zero. False (reported, the job
// failed) when they do not fit.
bool settle_bounded_lines(int32_t count);

// Makes room for more lines: the table grows geometrically, in whole
// blocks. The new block count, or 0 when memory ran out (reported). Entries
// up to last_line are kept; those behind it are undefined until recorded.
int grow_line_table();

// Frees the table's arrays (the driver's release of the sort buffers).
void release_line_table();
// Back to the start state, for tests (closes an input left open).
void reset_run_builder();

}  // namespace quarnel

#endif  // QUARNEL_SORT_RUN_BUILDER_H_
