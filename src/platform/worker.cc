#include "platform/worker.h"

#include <utility>

namespace quarnel {

bool Worker::start() {
  if (running_) return true;
  quit_ = false;
  try {
    thread_ = std::thread(&Worker::loop, this);
  } catch (const std::system_error&) {
    return false;
  }
  running_ = true;
  return true;
}

void Worker::loop() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    wake_.wait(hold, [this] { return !tasks_.empty() || quit_; });
    if (tasks_.empty()) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    hold.unlock();
    const bool ok = task();
    hold.lock();
    busy_ = false;
    if (!ok) failed_ = true;
    wake_.notify_all();
  }
}

void Worker::post(Task task) {
  if (!running_) {
    if (!task()) failed_ = true;
    return;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

size_t Worker::waiting() {
  std::lock_guard<std::mutex> hold(lock_);
  return tasks_.size();
}

void Worker::drop_waiting() {
  std::lock_guard<std::mutex> hold(lock_);
  tasks_.clear();
  wake_.notify_all();
}

bool Worker::wait() {
  std::unique_lock<std::mutex> hold(lock_);
  wake_.wait(hold, [this] { return tasks_.empty() && !busy_; });
  const bool ok = !failed_;
  failed_ = false;
  return ok;
}

bool Worker::stop() {
  const bool ok = wait();
  if (running_) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    running_ = false;
  }
  return ok;
}

}  // namespace quarnel
