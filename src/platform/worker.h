// The one way the programs run work beside the caller. A Worker is a thread
// of its own that takes tasks in the order they were posted; the owner
// waits for them only when it needs what they touch, or at the end, and a
// task that failed is told once, at the next wait. A task may also be one
// long piece of work that goes on until the owner stops the worker.
// on_threads shares one piece of work among several threads and returns
// when all are done.
// Where no thread can be had, the work is done on the caller's own thread,
// so that a machine short of threads is slower, never wrong.
#ifndef QUARNEL_PLATFORM_WORKER_H_
#define QUARNEL_PLATFORM_WORKER_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace quarnel {

class Worker {
 public:
  // A task answers false when it failed.
  using Task = std::function<bool()>;

  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  // A worker still running is stopped: its tasks are taken first.
  ~Worker() { stop(); }

  // Starts the thread unless it runs; false when no thread can be had.
  bool start();
  bool running() const { return running_; }
  // Queues a task behind the others and gives its number, for wait_for.
  // Without a running thread the task is taken here and now.
  uint64_t post(Task task);
  // Tasks posted and not yet begun.
  size_t waiting();
  // Drops the tasks not yet begun (the one being taken goes on).
  void drop_waiting();
  // Waits until the task of that number, and so every one before it, has
  // been taken or dropped; the tasks behind it go on meanwhile.
  void wait_for(uint64_t number);
  // Waits until every task posted has been taken; false, once, when one of
  // them failed since the last wait.
  bool wait();
  // Takes every task posted, then ends the thread; false as wait().
  // Harmless when it does not run.
  bool stop();
  // For a task that goes on until the owner calls stop(), called on the
  // worker's own thread: waits at most the time given, and says whether
  // stop() has been called.
  bool wait_for_stop(std::chrono::nanoseconds at_most);

 private:
  void loop();

  std::mutex lock_;
  std::condition_variable wake_;
  std::thread thread_;
  std::deque<Task> tasks_;
  bool running_ = false;
  bool quit_ = false;
  bool busy_ = false;
  bool failed_ = false;
  uint64_t posted_ = 0;   // tasks numbered so far
  uint64_t current_ = 0;  // the number of the task being taken
};

// Runs fn(t) for t = 0 .. threads-1, each on a thread of its own where one
// can be had, else on the caller's; returns when every call has returned.
template <typename Fn>
void on_threads(int32_t threads, Fn fn) {
  std::vector<std::thread> helpers;
  for (int32_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(fn, t);
    } catch (const std::system_error&) {
      fn(t);
    }
  }
  fn(0);
  for (std::thread& h : helpers) h.join();
}

}  // namespace quarnel

#endif  // QUARNEL_PLATFORM_WORKER_H_
