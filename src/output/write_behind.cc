#include "output/write_behind.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace quarnel {

int64_t write_behind_window = int64_t{32} << 20;
int64_t write_behind_fast_rate = int64_t{2000} << 20;
std::chrono::nanoseconds write_behind_patience = std::chrono::milliseconds(200);
int32_t write_behind_most_waiting = 4;

namespace {

// One hand-back step: the bytes [send_from, send_to) go on to the disk,
// the cached pages of [drop_from, drop_to) may go.
struct Step {
  int fd;
  int64_t send_from;
  int64_t send_to;
  int64_t drop_from;
  int64_t drop_to;
};

// The steps are taken on a thread of their own, in the order asked: they
// cost the writing thread a third of its time, and it never waits for
// them. One file is written at a time, so one record serves; it is never
// freed, so that a process that ends with a file open does not stop on a
// thread it still owns.
struct HandBack {
  std::mutex lock;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
  bool quit = false;
  std::deque<Step> steps;
  // A step took longer than the patience, or steps piled up: no more
  // are taken for the file.
  std::atomic<bool> too_slow{false};
};

HandBack* hand_back = nullptr;

bool take_step(const Step& s) {
  const auto start = std::chrono::steady_clock::now();
  platform::start_disk_write(s.fd, s.send_from, s.send_to - s.send_from);
  if (s.drop_to > s.drop_from) {
    platform::drop_written_pages(s.fd, s.drop_from, s.drop_to - s.drop_from);
  }
  return std::chrono::steady_clock::now() - start <= write_behind_patience;
}

void take_steps(HandBack* h) {
  std::unique_lock<std::mutex> hold(h->lock);
  for (;;) {
    h->wake.wait(hold, [h] { return !h->steps.empty() || h->quit; });
    if (h->steps.empty()) return;
    const Step s = h->steps.front();
    h->steps.pop_front();
    hold.unlock();
    const bool in_time = take_step(s);
    hold.lock();
    if (!in_time) {
      h->too_slow = true;
      h->steps.clear();
    }
  }
}

// Hands the step to the thread, started on first use; false when no
// thread can be had.
bool ask_for_step(const Step& s) {
  if (hand_back == nullptr) hand_back = new (std::nothrow) HandBack;
  HandBack* h = hand_back;
  if (h == nullptr) return false;
  if (!h->running) {
    h->quit = false;
    try {
      h->thread = std::thread(take_steps, h);
    } catch (const std::system_error&) {
      return false;
    }
    h->running = true;
  }
  {
    std::lock_guard<std::mutex> hold(h->lock);
    if (h->too_slow) {
      // Given up since the caller looked.
    } else if (h->steps.size() >= static_cast<size_t>(write_behind_most_waiting)) {
      h->too_slow = true;
      h->steps.clear();
    } else {
      h->steps.push_back(s);
    }
  }
  h->wake.notify_all();
  return true;
}

}  // namespace

void begin_write_behind(WriteBehind* w, bool allowed) {
  *w = WriteBehind();
  w->allowed = allowed;
  if (hand_back != nullptr) hand_back->too_slow = false;
}

void note_written(WriteBehind* w, int fd, int64_t n, std::chrono::nanoseconds spent) {
  w->written += n;
  w->spent += spent;
  const int64_t window = w->written - w->sent;
  if (!w->allowed || window < write_behind_window) return;
  if (hand_back != nullptr && hand_back->too_slow) {
    w->allowed = false;
    return;
  }
  // Once slow, the file stays handed back: the pages it gets back then
  // make its own writes fast again.
  const double seconds = std::chrono::duration<double>(w->spent).count();
  if (static_cast<double>(window) < seconds * static_cast<double>(write_behind_fast_rate)) {
    w->engaged = true;
  }
  w->spent = std::chrono::nanoseconds(0);
  if (!w->engaged) {
    w->sent = w->written;
    return;
  }
  // Two windows behind the bytes sent now, their writing has had time to
  // end; each stretch is asked twice, for pages still being written the
  // first time.
  Step s{fd, w->sent, w->written, 0, 0};
  w->sent = w->written;
  s.drop_to = w->sent - 2 * write_behind_window;
  s.drop_from = std::max<int64_t>(0, s.drop_to - 2 * write_behind_window);
  if (!ask_for_step(s) && !take_step(s)) w->allowed = false;
}

void end_write_behind() {
  HandBack* h = hand_back;
  if (h == nullptr || !h->running) return;
  {
    std::lock_guard<std::mutex> hold(h->lock);
    h->quit = true;
  }
  h->wake.notify_all();
  h->thread.join();
  h->running = false;
}

}  // namespace quarnel
