#include "output/write_behind.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "platform/platform.h"
#include "platform/worker.h"

namespace quarnel {

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
// them. One file is written at a time, so one record serves. It is never
// freed, so that a process that ends with a file open does not stop on a
// thread it still owns: a worker of static duration would be stopped by
// its destructor at exit, which waits for every step still queued.
struct HandBack {
  Worker worker;
  // A step took longer than the patience, or steps piled up: no more are
  // taken for the file.
  std::atomic<bool> too_slow{false};
};

HandBack* hand_back = nullptr;

bool take_step(const Step& s, std::chrono::nanoseconds patience) {
  const auto start = std::chrono::steady_clock::now();
  platform::start_disk_write(s.fd, s.send_from, s.send_to - s.send_from);
  if (s.drop_to > s.drop_from) {
    platform::drop_written_pages(s.fd, s.drop_from, s.drop_to - s.drop_from);
  }
  return std::chrono::steady_clock::now() - start <= patience;
}

// Gives the file up: the steps waiting are dropped, and one asked for
// meanwhile is not taken either.
void give_up(HandBack* h) {
  h->too_slow = true;
  h->worker.drop_waiting();
}

// Hands the step to the thread, started on first use; false when no
// thread can be had.
bool ask_for_step(const Step& s, const WriteBehindTuning& tuning) {
  if (hand_back == nullptr) hand_back = new (std::nothrow) HandBack;
  HandBack* h = hand_back;
  if (h == nullptr || !h->worker.start()) return false;
  if (h->too_slow) {
    // Given up since the caller looked.
  } else if (h->worker.waiting() >= static_cast<size_t>(tuning.most_waiting)) {
    give_up(h);
  } else {
    const std::chrono::nanoseconds patience = tuning.patience;
    h->worker.post([h, s, patience] {
      if (!h->too_slow && !take_step(s, patience)) give_up(h);
      return true;
    });
  }
  return true;
}

}  // namespace

void begin_write_behind(WriteBehind* w, bool allowed, const WriteBehindTuning& tuning) {
  *w = WriteBehind();
  w->allowed = allowed;
  w->tuning = tuning;
  if (hand_back != nullptr) hand_back->too_slow = false;
}

void note_written(WriteBehind* w, int fd, int64_t n, std::chrono::nanoseconds spent) {
  const WriteBehindTuning& tuning = w->tuning;
  w->written += n;
  w->spent += spent;
  const int64_t window = w->written - w->sent;
  if (!w->allowed || window < tuning.window) return;
  if (hand_back != nullptr && hand_back->too_slow) {
    w->allowed = false;
    return;
  }
  // Once slow, the file stays handed back: the pages it gets back then
  // make its own writes fast again.
  const double seconds = std::chrono::duration<double>(w->spent).count();
  if (static_cast<double>(window) < seconds * static_cast<double>(tuning.fast_rate)) {
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
  s.drop_to = w->sent - 2 * tuning.window;
  s.drop_from = std::max<int64_t>(0, s.drop_to - 2 * tuning.window);
  if (!ask_for_step(s, tuning) && !take_step(s, tuning.patience)) w->allowed = false;
}

void end_write_behind() {
  if (hand_back != nullptr) hand_back->worker.stop();
}

}  // namespace quarnel
