#include <gtest/gtest.h>

#include "driver/driver.h"
#include "options/sort_job.h"
#include "input/run_builder.h"

namespace quarnel {
namespace {

TEST(ReleaseBuffers, FreesWhatIsHeldAndMayRunTwice) {
  reset_sort_job();
  sort_job.option_text.reset(new char[kTextBufferSize]);
  sort_job.key_text.reset(new char[kTextBufferSize]);
  sort_job.sort_buffer.reset(new char[16]);
  sort_job.sort_buffer_size = 16;
  // token_buffer and key_table were never allocated: nothing to free.
  release_buffers();
  EXPECT_EQ(sort_job.option_text, nullptr);
  EXPECT_EQ(sort_job.key_text, nullptr);
  EXPECT_EQ(sort_job.token_buffer, nullptr);
  EXPECT_EQ(sort_job.key_table, nullptr);
  EXPECT_EQ(sort_job.sort_buffer, nullptr);
  EXPECT_EQ(sort_job.sort_buffer_size, 0);
  EXPECT_EQ(line_table.line_starts, nullptr);
  EXPECT_EQ(line_table.line_lengths, nullptr);
  release_buffers();
  EXPECT_EQ(sort_job.sort_buffer, nullptr);
}

TEST(ReleaseBuffers, SortBuffersGoFirstAndTheTextBuffersStay) {
  reset_sort_job();
  sort_job.key_text.reset(new char[kTextBufferSize]);
  sort_job.sort_buffer.reset(new char[16]);
  release_sort_buffers();
  EXPECT_EQ(sort_job.sort_buffer, nullptr);
  EXPECT_NE(sort_job.key_text, nullptr);
  release_buffers();
  EXPECT_EQ(sort_job.key_text, nullptr);
}

}  // namespace
}  // namespace quarnel
