// Reads the input into the SortBuffer, cuts it into lines in place,
// records them in the LineTable, and writes each buffer-full of lines,
// sorted, as the next run file. One call consumes one line.
#ifndef QUARNEL_SORT_RUN_BUILDER_H_
#define QUARNEL_SORT_RUN_BUILDER_H_

#include <cstdint>
#include <memory>

namespace quarnel {

struct LineTable {
  std::unique_ptr<char*[]> line_starts;
  std::unique_ptr<int32_t[]> line_lengths;
  int32_t block_size = 1;
  int32_t block_count = 0;
  int32_t last_line = -1;
};

struct ReaderState {
  int32_t input_fd = 0;
  int32_t input_closed = 1;
  char* buffer_start = nullptr;
  int64_t buffer_capacity = 0;
  char* next_line = nullptr;
  char* data_end = nullptr;
  int64_t last_read = 0;
};

extern LineTable line_table;
extern ReaderState reader_state;

// The bytes (units in wide mode) the line took, or 0 at the end.
int build_run_narrow(const char* input_path, int mode);
int build_run_wide(const char* input_path, int mode);

// The new block count, or 0 when memory ran out (reported).
int grow_line_table();

// Frees the table's arrays (the driver's release of the sort buffers).
void release_line_table();
// Back to the start state, for tests.
void reset_run_builder();

}  // namespace quarnel

#endif  // QUARNEL_SORT_RUN_BUILDER_H_
