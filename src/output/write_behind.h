// A large result file handed back to the system as it is written. Taking
// a fresh page of memory for every page of a file of gigabytes can cost
// far more than the copy into it: on machines whose memory is backed
// lazily (virtual machines), once the sort buffer holds most of what the
// machine keeps at hand. Where the writes show that cost, every few
// megabytes the bytes just written are sent on to the disk, and the cached
// pages of bytes sent a little earlier, on the disk by now, are let go, so
// that the system reuses them for what comes next. Only for a file that is
// not read again soon: a result renamed into place, never a run that a
// merge reads back.
#ifndef QUARNEL_OUTPUT_WRITE_BEHIND_H_
#define QUARNEL_OUTPUT_WRITE_BEHIND_H_

#include <chrono>
#include <cstdint>

namespace quarnel {

// How a file is handed back: the defaults serve every file the programs
// write; a test gives its own file small windows.
struct WriteBehindTuning {
  // The bytes looked at, and sent on to the disk, at a time.
  int64_t window = int64_t{32} << 20;
  // Writes at this rate (bytes a second) or faster find pages cheaply: the
  // file stays with the system as any other.
  int64_t fast_rate = int64_t{2000} << 20;
  // A hand-back step that takes longer than this, or steps piling up
  // behind one another, mean a disk that cannot keep up: the file is left
  // to the system from then on, so that a slow disk never holds up the
  // file's close for long. (The steps run beside the writes, which never
  // wait for them.)
  std::chrono::nanoseconds patience = std::chrono::milliseconds(200);
  // As many steps as this waiting to be taken: piling up.
  int32_t most_waiting = 4;
};

struct WriteBehind {
  bool allowed = false;  // the file may be handed back
  bool engaged = false;  // its writes were slow: it is being handed back
  int64_t written = 0;   // bytes written to the file so far
  int64_t sent = 0;      // of which windows have been looked at
  std::chrono::nanoseconds spent{0};  // in the writes of the open window
  WriteBehindTuning tuning;
};

// Starts counting a newly opened file's bytes; allowed says whether it
// may be handed back.
void begin_write_behind(WriteBehind* w, bool allowed, const WriteBehindTuning& tuning);
// After n more bytes were written to the file fd, which took spent. The
// steps this asks for are taken on a thread of their own, in order.
void note_written(WriteBehind* w, int fd, int64_t n, std::chrono::nanoseconds spent);
// Takes the steps still waiting and ends their thread: before the file's
// descriptor is closed.
void end_write_behind();

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_WRITE_BEHIND_H_
