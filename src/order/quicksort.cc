#include "order/quicksort.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/worker.h"

namespace quarnel {

namespace quicksort {

struct RangeQueue {
  std::mutex lock;
  std::condition_variable wake;
  struct Range {
    int32_t lo, hi, depth, suspect;
  };
  std::vector<Range> ranges;
  int32_t busy = 0;
  int32_t split_size = 2;
  RangeWork work = nullptr;
  void* context = nullptr;
};

void offer_range(RangeQueue* queue, int32_t lo, int32_t hi, int32_t depth,
                 int32_t suspect) {
  {
    std::lock_guard<std::mutex> hold(queue->lock);
    queue->ranges.push_back({lo, hi, depth, suspect});
  }
  queue->wake.notify_one();
}

int32_t split_size(const RangeQueue* queue) { return queue->split_size; }

namespace {

void drain(RangeQueue* queue) {
  for (;;) {
    RangeQueue::Range range;
    {
      std::unique_lock<std::mutex> hold(queue->lock);
      queue->wake.wait(hold, [queue] {
        return !queue->ranges.empty() || queue->busy == 0;
      });
      if (queue->ranges.empty()) return;
      range = queue->ranges.back();
      queue->ranges.pop_back();
      ++queue->busy;
    }
    queue->work(queue->context, queue, range.lo, range.hi, range.depth,
                range.suspect);
    bool done;
    {
      std::lock_guard<std::mutex> hold(queue->lock);
      --queue->busy;
      done = queue->busy == 0 && queue->ranges.empty();
    }
    if (done) queue->wake.notify_all();
  }
}

}  // namespace

void run_range_workers(int32_t count, int32_t threads, RangeWork work, void* context) {
  RangeQueue queue;
  queue.work = work;
  queue.context = context;
  // Parts are split until each thread has several to pull, so that an
  // uneven partition does not leave a thread idle for long.
  queue.split_size = std::max<int32_t>(2, count / (threads * 8));
  queue.ranges.push_back({0, count - 1, 0, suspect_depth(count)});
  // Without a thread of its own, a part stays queued for the threads
  // there are, which do all the work.
  on_threads(threads, [&queue](int32_t) { drain(&queue); });
}

}  // namespace quicksort


}  // namespace quarnel
