// The LineTable: where each line of the run being built starts and how
// long it is. The run builder records lines into it, the sorts order its
// entries, the run writers write them out in that order.
#ifndef QUARNEL_ORDER_LINE_TABLE_H_
#define QUARNEL_ORDER_LINE_TABLE_H_

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

// Copies the count bounded lines into room (the sort buffer), each
// followed by its zero, for the sorts that need that zero. False
// (reported; the job must fail) when they do not fit.
bool copy_bounded_lines(LineTable* table, int32_t count, bool wide, char* room,
                          int64_t room_size);

// Makes room for more lines: the table grows geometrically, in whole
// blocks. The new block count, or 0 when memory ran out (reported). Entries
// up to last_line are kept; those behind it are undefined until recorded.
int grow_line_table(LineTable* table);

// Frees the table's arrays (the driver's release of the sort buffers).
void release_line_table(LineTable* table);

}  // namespace quarnel

#endif  // QUARNEL_ORDER_LINE_TABLE_H_
