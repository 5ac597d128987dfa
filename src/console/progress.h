// The status line of a long job on a terminal: the phase, the megabytes
// done of the total, percent, rate and time left, redrawn in place a few
// times a second by a thread of its own and cleared before every message.
// It is shown only when standard error is a terminal and the job has run
// for more than a second (QUARNEL_PROGRESS_DELAY seconds); otherwise not a
// byte of it reaches standard error. The sorting code only adds to a
// counter, once a block: no clock, no system call.
#ifndef QUARNEL_CONSOLE_PROGRESS_H_
#define QUARNEL_CONSOLE_PROGRESS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarnel {

enum class ProgressPhase { kReadSort, kWrite, kMerge };

// Starts the line for a job of total bytes, in the phase given. Nothing
// happens when standard error is not a terminal, nor when the result goes
// to standard output and that is a terminal too (the line would run
// through the result).
void progress_start(int64_t total, ProgressPhase phase, int32_t number,
                    int32_t count, bool output_to_stdout);
// True while a line is kept (the thread runs).
bool progress_active();
// The phase and its numbers: run N (of no count), merge pass N of count.
void progress_phase(ProgressPhase phase, int32_t number, int32_t count);
void progress_add(int64_t bytes);
// Clears the line and ends the thread; harmless when not started.
void progress_stop();

// Writes a message to standard error. A status line is cleared first and
// not drawn again until a message has ended its line.
void write_message(const char* data, size_t size);

// The line's text (UTF-8), at most columns wide: the fields at its end
// are left out until it fits. For tests and for the thread.
struct ProgressView {
  ProgressPhase phase = ProgressPhase::kReadSort;
  int32_t number = 0;
  int32_t count = 0;
  int64_t done = 0;
  int64_t total = 0;
  double seconds = 0;  // since the start
};
std::string progress_text(const ProgressView& view, int columns);

}  // namespace quarnel

#endif  // QUARNEL_CONSOLE_PROGRESS_H_
