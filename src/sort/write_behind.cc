#include "sort/write_behind.h"

#include <algorithm>

#include "platform/platform.h"

namespace quarnel {

int64_t write_behind_window = int64_t{32} << 20;
int64_t write_behind_fast_rate = int64_t{2000} << 20;
std::chrono::nanoseconds write_behind_patience = std::chrono::milliseconds(50);

void begin_write_behind(WriteBehind* w, bool allowed) {
  *w = WriteBehind();
  w->allowed = allowed;
}

void note_written(WriteBehind* w, int fd, int64_t n, std::chrono::nanoseconds spent) {
  w->written += n;
  w->spent += spent;
  const int64_t window = w->written - w->sent;
  if (!w->allowed || window < write_behind_window) return;
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
  const auto start = std::chrono::steady_clock::now();
  platform::start_disk_write(fd, w->sent, window);
  w->sent = w->written;
  // Two windows behind the bytes just sent, their writing has had time to
  // end; each stretch is asked twice, for pages still being written the
  // first time.
  const int64_t to = w->sent - 2 * write_behind_window;
  const int64_t from = std::max<int64_t>(0, to - 2 * write_behind_window);
  if (to > from) platform::drop_written_pages(fd, from, to - from);
  if (std::chrono::steady_clock::now() - start > write_behind_patience) {
    w->allowed = false;
  }
}

}  // namespace quarnel
