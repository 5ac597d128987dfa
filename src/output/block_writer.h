// A thread of its own that writes one block of bytes at a time while its
// owner fills the next: the owner hands a block over and waits for it only
// when it needs that memory again, or at the end. A block that could not
// be written is told once, at the next wait. Quarnel's run and output
// files and the merge program's output use it.
#ifndef QUARNEL_OUTPUT_BLOCK_WRITER_H_
#define QUARNEL_OUTPUT_BLOCK_WRITER_H_

#include <cstddef>

#include "platform/worker.h"

namespace quarnel {

struct BlockWriter {
  // Writes size bytes of data for context; false when they could not be.
  using Write = bool (*)(void* context, const char* data, size_t size);
  Worker worker;
  Write write = nullptr;
  void* context = nullptr;
  // The block handed over. It lies here rather than in the task, so that
  // the task holds one pointer and handing a block over allocates nothing.
  const char* data = nullptr;
  size_t size = 0;
};

// Starts the thread unless it runs; false when no thread can be had (the
// owner then writes in place).
bool start_block_writer(BlockWriter* w, BlockWriter::Write write, void* context);
// Whether the thread runs.
inline bool block_writer_running(const BlockWriter& w) { return w.worker.running(); }
// Hands a block over; the one before must have been waited for.
void hand_block(BlockWriter* w, const char* data, size_t size);
// Waits until the block handed over is written; false (once) when a block
// could not be. True when the thread does not run.
bool wait_for_block(BlockWriter* w);
// Ends the thread once its block is written; false as wait_for_block.
bool stop_block_writer(BlockWriter* w);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_BLOCK_WRITER_H_
