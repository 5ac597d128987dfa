#include <gtest/gtest.h>

#include "driver/driver.h"
#include "input/run_state.h"
#include "order/line_table.h"

namespace quarnel {
namespace {

TEST(ReleaseBuffers, FreesTheSortBuffersAndMayRunTwice) {
  RunState run;
  run.sort_buffer.reset(new char[16]);
  run.sort_buffer_size = 16;
  run.table.block_size = 4;
  ASSERT_GT(grow_line_table(&run.table), 0);
  run.table.last_line = 2;
  release_sort_buffers(&run);
  EXPECT_EQ(run.sort_buffer, nullptr);
  EXPECT_EQ(run.sort_buffer_size, 0);
  EXPECT_EQ(run.table.line_starts, nullptr);
  EXPECT_EQ(run.table.line_lengths, nullptr);
  EXPECT_EQ(run.table.last_line, -1);
  release_sort_buffers(&run);
  EXPECT_EQ(run.sort_buffer, nullptr);
}

}  // namespace
}  // namespace quarnel
