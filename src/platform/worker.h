// The one way the programs run work beside the caller. A Worker is a thread
// of its own that takes tasks in the order they were posted; the owner
// waits for them only when it needs what they touch, or at the end, and a
// task that failed is told once, at the next wait. on_threads shares one
// piece of work among several threads and returns when all are done.
// Where no thread can be had, the work is done on the caller's own thread,
// so that a machine short of threads is slower, never wrong.
#ifndef QUARNEL_PLATFORM_WORKER_H_
#define QUARNEL_PLATFORM_WORKER_H_

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
  // Queues a task behind the others. Without a running thread the task is
  // taken here and now.
  void post(Task task);
  // Tasks posted and not yet begun.
  size_t waiting();
  // Drops the tasks not yet begun (the one being taken goes on).
  void drop_waiting();
  // Waits until every task posted has been taken; false, once, when one of
  // them failed since the last wait.
  bool wait();
  // wait(), then ends the thread. Harmless when it does not run.
  bool stop();

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
