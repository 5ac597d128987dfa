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
    // The queue holds the numbers after the one taken, in order.
    current_ = posted_ - tasks_.size();
    hold.unlock();
    const bool ok = task();
    hold.lock();
    busy_ = false;
    if (!ok) failed_ = true;
    wake_.notify_all();
  }
}

uint64_t Worker::post(Task task) {
  if (!running_) {
    if (!task()) failed_ = true;
    std::lock_guard<std::mutex> hold(lock_);
    return ++posted_;
  }
  uint64_t number;
  {
    std::lock_guard<std::mutex> hold(lock_);
    tasks_.push_back(std::move(task));
    number = ++posted_;
  }
  wake_.notify_all();
  return number;
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

void Worker::wait_for(uint64_t number) {
  std::unique_lock<std::mutex> hold(lock_);
  // Tasks are taken in the order of their numbers, and the queue holds
  // the last ones posted.
  wake_.wait(hold, [this, number] {
    return (!busy_ || current_ > number) &&
           (tasks_.empty() || posted_ - tasks_.size() >= number);
  });
}

bool Worker::wait() {
  std::unique_lock<std::mutex> hold(lock_);
  wake_.wait(hold, [this] { return tasks_.empty() && !busy_; });
  const bool ok = !failed_;
  failed_ = false;
  return ok;
}

bool Worker::stop() {
  if (running_) {
    // The thread takes what is queued before it sees quit_; a task that
    // goes on until it is stopped sees it in wait_for_stop.
    {
      std::lock_guard<std::mutex> hold(lock_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    running_ = false;
  }
  return wait();
}

bool Worker::wait_for_stop(std::chrono::nanoseconds at_most) {
  std::unique_lock<std::mutex> hold(lock_);
  return wake_.wait_for(hold, at_most, [this] { return quit_; });
}

}  // namespace quarnel
