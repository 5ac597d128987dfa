#include "output/block_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace quarnel {
namespace {

// Collects the blocks written; the block that starts with 'x' cannot be.
struct Sink {
  std::string written;
  int calls = 0;
};

bool write_to_sink(void* context, const char* data, size_t size) {
  Sink* sink = static_cast<Sink*>(context);
  ++sink->calls;
  if (size > 0 && data[0] == 'x') return false;
  sink->written.append(data, size);
  return true;
}

TEST(BlockWriterTest, WritesEachBlockAndTellsAFailedOneOnceAtTheNextWait) {
  Sink sink;
  BlockWriter w;
  ASSERT_TRUE(start_block_writer(&w, &write_to_sink, &sink));
  EXPECT_TRUE(block_writer_running(w));
  // The owner fills one block while the other is written.
  char blocks[2][4];
  const char* texts[] = {"abc", "def", "xyz", "ghi", "jkl"};
  for (int i = 0; i < 5; ++i) {
    char* block = blocks[i % 2];
    EXPECT_EQ(wait_for_block(&w), i != 3) << "before block " << i;
    std::string(texts[i]).copy(block, 3);
    hand_block(&w, block, 3);
  }
  EXPECT_TRUE(wait_for_block(&w));
  EXPECT_EQ(sink.written, "abcdefghijkl");
  EXPECT_EQ(sink.calls, 5);
  // A block that fails last is told by the stop.
  hand_block(&w, "x", 1);
  EXPECT_FALSE(stop_block_writer(&w));
  EXPECT_FALSE(block_writer_running(w));
  EXPECT_TRUE(stop_block_writer(&w));
  EXPECT_TRUE(wait_for_block(&w));
}

TEST(BlockWriterTest, StartsAgainAfterAStop) {
  Sink sink;
  BlockWriter w;
  EXPECT_TRUE(wait_for_block(&w));  // never started
  EXPECT_TRUE(stop_block_writer(&w));
  for (const char* text : {"one", "two"}) {
    ASSERT_TRUE(start_block_writer(&w, &write_to_sink, &sink));
    hand_block(&w, text, 3);
    EXPECT_TRUE(stop_block_writer(&w));
  }
  EXPECT_EQ(sink.written, "onetwo");
}

}  // namespace
}  // namespace quarnel
