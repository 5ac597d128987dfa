// A thread of its own that writes one block of bytes at a time while its
// owner fills the next: the owner hands a block over and waits for it only
// when it needs that memory again, or at the end. A block that could not
// be written is told once, at the next wait. Quarnel's run and output
// files and the merge program's output use it.
#ifndef QUARNEL_OUTPUT_BLOCK_WRITER_H_
#define QUARNEL_OUTPUT_BLOCK_WRITER_H_

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace quarnel {

struct BlockWriter {
  // Writes size bytes of data for context; false when they could not be.
  using Write = bool (*)(void* context, const char* data, size_t size);
  std::mutex lock;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
  bool quit = false;
  Write write = nullptr;
  void* context = nullptr;
  const char* data = nullptr;  // the block handed over; null once written
  size_t size = 0;
  bool failed = false;  // a block could not be written; told once
};

// Starts the thread unless it runs; false when no thread can be had (the
// owner then writes in place).
bool start_block_writer(BlockWriter* w, BlockWriter::Write write, void* context);
// Hands a block over; the one before must have been waited for.
void hand_block(BlockWriter* w, const char* data, size_t size);
// Waits until the block handed over is written; false (once) when a block
// could not be. True when the thread does not run.
bool wait_for_block(BlockWriter* w);
// Ends the thread once its block is written; false as wait_for_block.
bool stop_block_writer(BlockWriter* w);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_BLOCK_WRITER_H_
