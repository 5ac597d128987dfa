// Reads the input into the SortBuffer, cuts it into lines in place,
// records them in the LineTable, and writes each buffer-full of lines,
// sorted, as the next run file. One call consumes one line.
//
// Lines end at LF; the CRs that end a line (before its LF, or at the end
// of the input) are dropped, a CR inside a line is an ordinary byte. A
// line holds at most 65535 bytes (units in wide mode). A builder that
// stops on an error (a line too long, memory, a read error) reports it and
// sets sort_job.failed, so that the job ends without output.
#ifndef QUARNEL_INPUT_RUN_BUILDER_H_
#define QUARNEL_INPUT_RUN_BUILDER_H_

#include <cstdint>
#include <memory>

#include "order/line_table.h"

namespace quarnel {

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

// Back to the start state, for tests (closes an input left open).
void reset_run_builder();

}  // namespace quarnel

#endif  // QUARNEL_INPUT_RUN_BUILDER_H_
