#include "output/block_writer.h"

namespace quarnel {

bool start_block_writer(BlockWriter* w, BlockWriter::Write write, void* context) {
  if (w->worker.running()) return true;
  w->write = write;
  w->context = context;
  return w->worker.start();
}

void hand_block(BlockWriter* w, const char* data, size_t size) {
  // Posting orders these stores before the task reads them, and the next
  // block is handed over only once this one is waited for.
  w->data = data;
  w->size = size;
  w->worker.post([w] { return w->write(w->context, w->data, w->size); });
}

bool wait_for_block(BlockWriter* w) {
  if (!w->worker.running()) return true;
  return w->worker.wait();
}

bool stop_block_writer(BlockWriter* w) {
  if (!w->worker.running()) return true;
  return w->worker.stop();
}

}  // namespace quarnel
