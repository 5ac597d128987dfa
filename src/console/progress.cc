#include "console/progress.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "console/console_text.h"
#include "platform/platform.h"
#include "platform/worker.h"

namespace quarnel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStandardError = 2;
constexpr int kStandardOutput = 1;
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);
constexpr double kDefaultDelaySeconds = 1.0;
constexpr int kDefaultColumns = 80;
// Back to the line's start, then erase to its end.
constexpr const char* kClear = "\r\033[K";

struct Progress {
  std::mutex lock;  // guards everything below but done and redraw, and stderr
  bool running = false;
  bool shown = false;      // a status line stands on the terminal
  bool line_open = false;  // a message has not ended its line yet
  Clock::time_point start;
  double delay = kDefaultDelaySeconds;
  ProgressPhase phase = ProgressPhase::kReadSort;
  int32_t number = 0;
  int32_t count = 0;
  int64_t total = 0;
  std::atomic<int64_t> done{0};
  // Draws the line until it is stopped. Last, so that it ends before the
  // lock it takes goes.
  Worker redraw;
};

Progress progress;

double delay_from_environment() {
  const char* value = platform::get_env("QUARNEL_PROGRESS_DELAY");
  if (value == nullptr || *value == '\0') return kDefaultDelaySeconds;
  char* end = nullptr;
  double seconds = strtod(value, &end);
  if (*end != '\0' || !(seconds >= 0)) return kDefaultDelaySeconds;
  return seconds;
}

void put(const std::string& text) {
  platform::write_error_text(text.data(), text.size());
  fflush(stderr);
}

// With the lock held.
void clear_line() {
  if (!progress.shown) return;
  put(kClear);
  progress.shown = false;
  platform::set_status_line_shown(false);
}

// With the lock held.
void draw() {
  ProgressView view;
  view.phase = progress.phase;
  view.number = progress.number;
  view.count = progress.count;
  view.done = progress.done.load(std::memory_order_relaxed);
  view.total = progress.total;
  view.seconds = std::chrono::duration<double>(Clock::now() - progress.start).count();
  int columns = platform::terminal_columns(kStandardError);
  if (columns <= 0) columns = kDefaultColumns;
  // Noted before it is drawn, so that a stopping signal that comes
  // while it is written clears it all the same.
  platform::set_status_line_shown(true);
  progress.shown = true;
  // One column spare, so that the line never wraps.
  put("\r" + console_text(progress_text(view, columns - 1).c_str()) + "\033[K");
}

bool redraw_until_stopped() {
  const auto delay = std::chrono::duration<double>(progress.delay);
  do {
    std::lock_guard<std::mutex> hold(progress.lock);
    if (!progress.line_open && Clock::now() - progress.start >= delay) draw();
  } while (!progress.redraw.wait_for_stop(kRedrawInterval));
  return true;
}

// Megabytes of 1,000,000 bytes, rounded, with thousands separators; one
// decimal for small amounts.
std::string megabytes(int64_t bytes, bool decimal) {
  char text[32];
  if (decimal) {
    snprintf(text, sizeof(text), "%.1f", static_cast<double>(bytes) / 1e6);
    return text;
  }
  snprintf(text, sizeof(text), "%lld", static_cast<long long>((bytes + 500000) / 1000000));
  std::string digits = text;
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

// Columns the text takes: one for ASCII, two for anything else (all the
// line's other characters are wide on a Japanese terminal).
int width_of(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++width;
    } else if ((c & 0xC0) != 0x80) {
      width += 2;
    }
  }
  return width;
}

}  // namespace

std::string progress_text(const ProgressView& view, int columns) {
  std::vector<std::string> fields;
  char text[96];
  switch (view.phase) {
    case ProgressPhase::kReadSort:
      snprintf(text, sizeof(text), "◇ラン %d 読込・整列", view.number);
      break;
    case ProgressPhase::kWrite:
      snprintf(text, sizeof(text), "◇ラン %d 書出し", view.number);
      break;
    case ProgressPhase::kMerge:
      snprintf(text, sizeof(text), "◇併合 %d/%d パス目", view.number, view.count);
      break;
  }
  fields.push_back(text);
  const int64_t total = view.total > 0 ? view.total : 0;
  const int64_t done = view.done < 0 ? 0 : (view.done > total ? total : view.done);
  const bool small = total < 10000000;
  fields.push_back(megabytes(done, small) + "/" + megabytes(total, small) + "MB");
  if (total > 0) {
    snprintf(text, sizeof(text), "%d%%", static_cast<int>(done * 100 / total));
    fields.push_back(text);
  }
  if (done > 0 && view.seconds > 0) {
    double rate = static_cast<double>(done) / view.seconds;
    snprintf(text, sizeof(text), rate < 1e8 ? "%.1fMB/秒" : "%.0fMB/秒", rate / 1e6);
    fields.push_back(text);
    long long left = static_cast<long long>(static_cast<double>(total - done) / rate + 0.5);
    if (left >= 3600) {
      snprintf(text, sizeof(text), "残り %lld:%02lld:%02lld", left / 3600,
               left / 60 % 60, left % 60);
    } else {
      snprintf(text, sizeof(text), "残り %lld:%02lld", left / 60, left % 60);
    }
    fields.push_back(text);
  }
  std::string line;
  for (;;) {
    line.clear();
    for (const std::string& field : fields) {
      if (!line.empty()) line += "  ";
      line += field;
    }
    if (width_of(line) <= columns || fields.size() == 1) break;
    fields.pop_back();
  }
  return width_of(line) <= columns ? line : std::string();
}

void progress_start(int64_t total, ProgressPhase phase, int32_t number,
                    int32_t count, bool output_to_stdout) {
  if (progress.running || !platform::is_terminal(kStandardError)) return;
  if (output_to_stdout && platform::is_terminal(kStandardOutput)) return;
  std::lock_guard<std::mutex> hold(progress.lock);
  progress.start = Clock::now();
  progress.delay = delay_from_environment();
  progress.phase = phase;
  progress.number = number;
  progress.count = count;
  progress.total = total;
  progress.done.store(0, std::memory_order_relaxed);
  progress.shown = false;
  // Without a thread to draw it, there is no line.
  if (!progress.redraw.start()) return;
  progress.running = true;
  progress.redraw.post(redraw_until_stopped);
}

bool progress_active() { return progress.running; }

void progress_phase(ProgressPhase phase, int32_t number, int32_t count) {
  if (!progress.running) return;
  std::lock_guard<std::mutex> hold(progress.lock);
  progress.phase = phase;
  progress.number = number;
  progress.count = count;
}

void progress_add(int64_t bytes) {
  progress.done.fetch_add(bytes, std::memory_order_relaxed);
}

void progress_stop() {
  if (!progress.running) return;
  progress.redraw.stop();
  std::lock_guard<std::mutex> hold(progress.lock);
  clear_line();
  progress.running = false;
}

void write_message(const char* data, size_t size) {
  if (size == 0) return;
  std::lock_guard<std::mutex> hold(progress.lock);
  clear_line();
  platform::write_error_text(data, size);
  progress.line_open = data[size - 1] != '\n';
}

}  // namespace quarnel
