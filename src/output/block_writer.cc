#include "output/block_writer.h"

#include <system_error>

namespace quarnel {

namespace {

void write_blocks(BlockWriter* w) {
  std::unique_lock<std::mutex> hold(w->lock);
  for (;;) {
    w->wake.wait(hold, [w] { return w->data != nullptr || w->quit; });
    if (w->data == nullptr) return;
    const char* data = w->data;
    const size_t size = w->size;
    hold.unlock();
    const bool written = w->write(w->context, data, size);
    hold.lock();
    if (!written) w->failed = true;
    w->data = nullptr;
    w->wake.notify_all();
  }
}

}  // namespace

bool start_block_writer(BlockWriter* w, BlockWriter::Write write, void* context) {
  if (w->running) return true;
  w->write = write;
  w->context = context;
  w->quit = false;
  try {
    w->thread = std::thread(write_blocks, w);
  } catch (const std::system_error&) {
    return false;
  }
  w->running = true;
  return true;
}

void hand_block(BlockWriter* w, const char* data, size_t size) {
  {
    std::lock_guard<std::mutex> hold(w->lock);
    w->data = data;
    w->size = size;
  }
  w->wake.notify_all();
}

bool wait_for_block(BlockWriter* w) {
  if (!w->running) return true;
  std::unique_lock<std::mutex> hold(w->lock);
  w->wake.wait(hold, [w] { return w->data == nullptr; });
  const bool ok = !w->failed;
  w->failed = false;
  return ok;
}

bool stop_block_writer(BlockWriter* w) {
  const bool ok = wait_for_block(w);
  if (w->running) {
    {
      std::lock_guard<std::mutex> hold(w->lock);
      w->quit = true;
    }
    w->wake.notify_all();
    w->thread.join();
    w->running = false;
  }
  return ok;
}

}  // namespace quarnel
