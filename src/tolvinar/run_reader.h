// A sorted run of the merge, read line by line through a large buffer of
// its own: the current line lies in that buffer with a zero behind it
// (written over the line's CR). Where the read budget gives each run a
// second buffer, one reading thread fills it with every run's next piece,
// in the order asked, while the merge works through the piece before; for
// narrow runs it also finds the piece's line feeds.
#ifndef QUARNEL_TOLVINAR_RUN_READER_H_
#define QUARNEL_TOLVINAR_RUN_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/worker.h"
#include "tolvinar/merge_mode.h"

namespace quarnel {

// Small enough that a few hundred runs share the read budget in one pass
// (a longer line makes its buffer grow).
inline constexpr int64_t kSmallestRunBuffer = int64_t{128} << 10;
// Small enough that the bytes read are mostly still in the processor's
// cache when the merge reaches them (4 MB buffers made a 16-run merge 5%
// slower), large enough to read a disk in long pieces.
inline constexpr int64_t kLargestRunBuffer = int64_t{256} << 10;
// A piece read ahead lies this far into its buffer, so that the unread
// end of the piece before (the start of a line) can be put in front of
// it; a longer end makes the run go back to reading for itself.
inline constexpr size_t kHeadRoom = size_t{64} << 10;

struct ReadAhead;

struct RunReader {
  std::string path;
  int fd = -1;
  bool release = false;  // the bytes read are given back (spent runs)
  int64_t read_to = 0;   // bytes read from the file so far
  int64_t released = 0;  // of which given back
  std::unique_ptr<char[]> buffer;
  size_t capacity = 0;  // usable bytes; a few more are allocated
  size_t begin = 0;     // first byte not yet handed out
  size_t end = 0;       // end of the data read
  bool at_eof = false;
  bool exhausted = false;
  // The current line: bytes (narrow) or units (wide), a zero behind it.
  char* line = nullptr;
  int32_t length = 0;
  // Its first 16 bytes (8 units) as two numbers, when whole lines are
  // merged: runs' heads often agree in their first 8 (customer codes).
  uint64_t prefix[2] = {0, 0};
  // The next piece of the file, read by the merge's reading thread into
  // a buffer of its own (kHeadRoom bytes in) while the merge works
  // through this one; null while the run reads for itself.
  std::unique_ptr<char[]> ahead;
  ReadAhead* reading = nullptr;
  // The reading thread's task for that piece, and what it got: bytes, 0
  // at the end, -1 on an error (valid once the task is taken).
  uint64_t ahead_task = 0;
  int64_t ahead_got = 0;
  // Narrow runs read ahead: where the line feeds of the piece lie (from
  // its start), found by the reading thread; the current piece's are in
  // feeds, the next one's in ahead_feeds. Empty while not in use.
  std::vector<uint32_t> feeds;
  std::vector<uint32_t> ahead_feeds;
  size_t next_feed = 0;
  bool indexed = false;  // the current piece's line feeds are in feeds
};

// Reads the pieces asked for, one run at a time, in the order asked.
struct ReadAhead {
  Worker worker;
  bool index_feeds = false;  // narrow runs: line feeds found as well
};

// Opens the run and makes its first line current. release: the file is
// spent once read (see MergeSettings::spent_runs). room: bytes more in
// front of the buffer, for reading ahead later (kHeadRoom, or 0). false
// after a reported failure.
bool open_run_reader(RunReader* r, const std::string& path, size_t capacity,
                     size_t room, bool release, const MergeMode& mode);
// Makes the run's next line current: 1, 0 when the run is used up, -1
// after a reported failure.
int next_line(RunReader* r, const MergeMode& mode);
void close_run_reader(RunReader* r);

// Starts the reading thread and asks for the next piece of every run that
// reads through a buffer of capacity bytes with kHeadRoom room in front
// and has more to read. Nothing when no thread can be had: the runs read
// for themselves.
void start_read_ahead(ReadAhead* t, std::vector<RunReader>* runs, size_t capacity,
                      bool index_feeds);
// Waits for the reads on their way, so that no buffer or file is taken
// from under the thread, and ends it.
void stop_read_ahead(ReadAhead* t);

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_RUN_READER_H_
