// The k-way merge: each run is read through a large buffer of its own, its
// current line lying in that buffer with a zero behind it (written over
// the line's CR), and a loser tree picks the next line with about log2 k
// comparisons. The output collects in a large buffer and leaves in
// buffer-sized writes, made by a thread of its own while the merge fills
// a second buffer.
#include "tolvinar/merger.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "console/console.h"
#include "console/progress.h"
#include "output/stdout_copy.h"
#include "tolvinar/tolvinar_messages.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "output/block_writer.h"
#include "order/compare.h"
#include "text/ascii.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

// Small enough that a few hundred runs share the read budget in one pass
// (a longer line makes its buffer grow).
constexpr int64_t kSmallestRunBuffer = int64_t{128} << 10;
// Small enough that the bytes read are mostly still in the processor's
// cache when the merge reaches them (4 MB buffers made a 16-run merge 5%
// slower), large enough to read a disk in long pieces.
constexpr int64_t kLargestRunBuffer = int64_t{256} << 10;
// The bytes read from a spent run are given back in whole pieces of this
// size (a multiple of every page and block size in use).
constexpr int64_t kReleaseStep = int64_t{64} << 10;
// Room behind a buffer's data for the zero that ends its last line.
constexpr size_t kSlack = 8;
// A piece read ahead lies this far into its buffer, so that the unread
// end of the piece before (the start of a line) can be put in front of
// it; a longer end makes the run go back to reading for itself.
constexpr size_t kHeadRoom = size_t{64} << 10;
// A multiple of the chunk in which wide text is converted for standard
// output, so that the chunks fall where a copy of the file would cut them.
constexpr size_t kStdoutChunk = 16384;
// About a megabyte: each write then copies from memory still in the
// processor's cache.
constexpr size_t kOutputBufferSize = 64 * kStdoutChunk;
// Standard input, output and error, the output file, and a margin for
// whatever else the process holds.
constexpr int64_t kReservedDescriptors = 10;
constexpr int kStandardOutput = 1;
constexpr const char* kResultFolderPrefix = ".tolvinar-";

const char kNarrowLineEnd[2] = {'\r', '\n'};
const char kWideLineEnd[4] = {'\r', '\0', '\n', '\0'};
const char kMark[2] = {'\xFF', '\xFE'};

struct ReadAhead;

struct RunReader {
  std::string path;
  int fd = -1;
  bool release = false;  // the bytes read are given back (spent runs)
  int64_t read_to = 0;   // bytes read from the file so far
  int64_t released = 0;  // of which given back
  std::unique_ptr<char[]> buffer;
  size_t capacity = 0;  // usable bytes; kSlack more are allocated
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

struct OutputSink {
  int fd = -1;
  std::string label;  // the file's path, or empty for standard output
  bool convert = false;
  std::unique_ptr<char[]> buffer;  // the one being filled
  size_t used = 0;
  std::unique_ptr<char[]> converted;  // the writer's own
  WideToSjisState state;              // the writer's own
  bool failed = false;  // reported; nothing more is written

  // A full buffer is written by a thread of its own while the merge fills
  // the other; without the thread the merge writes it itself.
  std::unique_ptr<char[]> spare;
  BlockWriter writer;
};

struct Entry {
  std::string path;
  bool intermediate = false;
};

// The rules of one merge as the loop uses them.
struct Mode {
  bool wide = false;
  bool marked = false;
  bool spent_runs = false;  // the bytes read from runs may be given back
  // Whole lines: most comparisons are settled by the lines' cached first
  // bytes, folded as /I reads them (narrow only).
  bool prefixed = false;
  bool fold = false;
  CompareRules compare;
};

Mode mode_of(const MergeRules& rules) {
  Mode mode;
  mode.wide = rules.wide;
  mode.marked = rules.wide && rules.marked;
  mode.compare.key_mode = rules.key_mode;
  mode.prefixed = !rules.key_mode;
  mode.fold = rules.ignore_case && !rules.wide;
  mode.compare.line_comparer = rules.ignore_case ? strcmp_nocase : strcmp;
  mode.compare.field_comparer = rules.ignore_case ? memcmp_nocase : memcmp;
  mode.compare.conditions = rules.conditions.data();
  mode.compare.condition_count = static_cast<int32_t>(rules.conditions.size());
  return mode;
}

void close_reader(RunReader* r) {
  if (r->fd >= 0) platform::close_fd(r->fd);
  r->fd = -1;
  r->buffer.reset();
}

// Reads up to n bytes of the run's file to dest: the count, 0 at the end,
// -1 on an error. The bytes read from a spent run are given back.
int64_t read_run(RunReader* r, char* dest, int64_t n) {
  int64_t got = platform::read_fd(r->fd, dest, n);
  if (got <= 0) return got;
  r->read_to += got;
  // Whole steps only, so that no page is cleared in part.
  const int64_t spent = r->read_to & ~(kReleaseStep - 1);
  if (r->release && spent > r->released) {
    platform::release_bytes(r->path, r->released, spent - r->released);
    r->released = spent;
  }
  progress_add(got);
  return got;
}

// The reading thread's task: the run's next piece, into its buffer
// ahead, with its line feeds found where asked, so that the merge then
// only looks them up.
void read_piece(const ReadAhead* t, RunReader* r) {
  const int64_t got = read_run(r, r->ahead.get() + kHeadRoom,
                               static_cast<int64_t>(r->capacity));
  if (t->index_feeds) {
    const char* piece = r->ahead.get() + kHeadRoom;
    r->ahead_feeds.clear();
    for (int64_t at = 0; at < got;) {
      const void* hit = memchr(piece + at, '\n', static_cast<size_t>(got - at));
      if (hit == nullptr) break;
      const int64_t p = static_cast<const char*>(hit) - piece;
      r->ahead_feeds.push_back(static_cast<uint32_t>(p));
      at = p + 1;
    }
  }
  // Seen by the merge once the task is taken (the worker's lock orders it).
  r->ahead_got = got;
}

void ask_ahead(ReadAhead* t, RunReader* r) {
  r->ahead_task = t->worker.post([t, r] {
    read_piece(t, r);
    return true;
  });
}

// The piece read ahead: -1 on an error, 0 at the end, else its bytes.
int64_t take_ahead(ReadAhead* t, RunReader* r) {
  t->worker.wait_for(r->ahead_task);
  return r->ahead_got;
}

// Moves the unread bytes to the buffer's start and makes room for need
// bytes in all: a buffer that grows at least doubles. false after a
// reported failure.
bool move_unread_to_front(RunReader* r, size_t need) {
  char* base = r->buffer.get();
  const size_t keep = r->end - r->begin;
  if (r->begin > 0 && keep > 0) memmove(base, base + r->begin, keep);
  r->begin = 0;
  r->end = keep;
  if (need <= r->capacity) return true;
  const size_t grown = std::max(need, r->capacity * 2);
  char* bigger = new (std::nothrow) char[grown + kSlack];
  if (bigger == nullptr) {
    report_error(tolvinar_msg::kNoMemory, nullptr);
    return false;
  }
  memcpy(bigger, base, keep);
  r->buffer.reset(bigger);
  r->capacity = grown;
  return true;
}

// Keeps the unread bytes at the buffer's start and reads behind them; the
// buffer grows when one line fills it. false after a reported failure.
bool fill(RunReader* r) {
  if (!move_unread_to_front(r, r->end - r->begin + 1)) return false;
  int64_t got = read_run(r, r->buffer.get() + r->end,
                         static_cast<int64_t>(r->capacity - r->end));
  if (got < 0) {
    report_error(tolvinar_msg::kRunUnreadable, r->path.c_str());
    return false;
  }
  if (got == 0) r->at_eof = true;
  r->end += static_cast<size_t>(got);
  return true;
}

// fill for a run whose next piece is being read ahead: the unread end goes
// in front of the new piece, the buffers change places, and the piece
// after is asked for. A run whose unread end does not fit in front, or
// whose reading could not go on ahead, reads for itself from then on.
bool fill_ahead(ReadAhead* t, RunReader* r) {
  const size_t keep = r->end - r->begin;
  const int64_t got = take_ahead(t, r);
  if (got < 0) {
    report_error(tolvinar_msg::kRunUnreadable, r->path.c_str());
    return false;
  }
  char* piece = r->ahead.get() + kHeadRoom;
  if (got == 0 || keep > kHeadRoom) {
    r->indexed = false;
    // Back to reading for itself, the piece read put behind the unread
    // bytes at the buffer's start, in a larger buffer where needed.
    const size_t need = keep + static_cast<size_t>(got);
    if (!move_unread_to_front(r, need)) return false;
    memcpy(r->buffer.get() + keep, piece, static_cast<size_t>(got));
    r->end = need;
    if (got == 0) r->at_eof = true;
    r->ahead.reset();
    return true;
  }
  memcpy(piece - keep, r->buffer.get() + r->begin, keep);
  std::swap(r->buffer, r->ahead);
  r->begin = kHeadRoom - keep;
  r->end = kHeadRoom + static_cast<size_t>(got);
  // The unread end holds no line feed: the piece's first ends its line.
  r->indexed = t->index_feeds;
  if (r->indexed) {
    std::swap(r->feeds, r->ahead_feeds);
    r->next_feed = 0;
  }
  ask_ahead(t, r);
  return true;
}

// Where the line feed of the next line lies, or npos when the buffer holds
// no complete line. Wide: the unit 0A 00 at an even distance from begin.
size_t find_line_feed(const RunReader& r, bool wide) {
  const char* base = r.buffer.get();
  size_t from = r.begin;
  while (from < r.end) {
    const void* hit = memchr(base + from, '\n', r.end - from);
    if (hit == nullptr) return std::string::npos;
    size_t p = static_cast<size_t>(static_cast<const char*>(hit) - base);
    if (!wide) return p;
    if ((p - r.begin) % 2 == 0) {
      if (p + 1 >= r.end) return std::string::npos;
      if (base[p + 1] == '\0') return p;
    }
    from = p + 1;
  }
  return std::string::npos;
}

// The line's cached first bytes; the second number only when the line
// goes on behind the first.
void set_prefix(RunReader* r, const Mode& mode) {
  if (mode.wide) {
    const uint16_t* line = reinterpret_cast<const uint16_t*>(r->line);
    r->prefix[0] = wide_line_prefix(line, r->length);
    r->prefix[1] = (r->prefix[0] & 0xFFFF) == 0
                       ? 0
                       : wide_line_prefix(line + 4, r->length - 4);
  } else {
    r->prefix[0] = narrow_line_prefix(r->line, r->length, mode.fold);
    r->prefix[1] = (r->prefix[0] & 0xFF) == 0
                       ? 0
                       : narrow_line_prefix(r->line + 8, r->length - 8, mode.fold);
  }
}

// Makes the run's next line current: 1, 0 when the run is used up, -1
// after a reported failure.
int advance(RunReader* r, const Mode& mode) {
  const bool wide = mode.wide;
  const size_t unit = wide ? 2 : 1;
  for (;;) {
    char* base = r->buffer.get();
    size_t p;
    if (r->indexed) {
      p = r->next_feed < r->feeds.size() ? kHeadRoom + r->feeds[r->next_feed++]
                                         : std::string::npos;
    } else {
      p = find_line_feed(*r, wide);
    }
    size_t stop;
    size_t next;
    if (p != std::string::npos) {
      stop = p;
      // The CR of the line end, when there is one, makes room for the zero.
      if (stop >= r->begin + unit && base[stop - unit] == '\r' &&
          (!wide || base[stop - 1] == '\0')) {
        stop -= unit;
      }
      next = p + unit;
    } else if (r->at_eof) {
      if (r->begin >= r->end) {
        r->exhausted = true;
        r->line = nullptr;
        r->length = 0;
        return 0;
      }
      // A last line without a line end; an odd byte of wide text is a
      // unit with a zero high byte.
      stop = r->end;
      if (wide && (stop - r->begin) % 2 != 0) base[stop++] = '\0';
      next = stop;
      r->end = stop;
    } else {
      if (!(r->ahead != nullptr ? fill_ahead(r->reading, r) : fill(r))) return -1;
      continue;
    }
    base[stop] = '\0';
    if (wide) base[stop + 1] = '\0';
    r->line = base + r->begin;
    r->length = static_cast<int32_t>((stop - r->begin) / unit);
    r->begin = next;
    if (mode.prefixed) set_prefix(r, mode);
    return 1;
  }
}

// release: the file is spent once read (see MergeSettings::spent_runs).
// room: bytes more in front, for reading ahead later.
bool open_reader(RunReader* r, const std::string& path, size_t capacity,
                 size_t room, bool release, const Mode& mode) {
  r->path = path;
  r->fd = platform::open_read(path);
  if (r->fd < 0) {
    report_error(tolvinar_msg::kRunUnreadable, path.c_str());
    return false;
  }
  r->release = release;
  r->buffer.reset(new (std::nothrow) char[room + capacity + kSlack]);
  if (r->buffer == nullptr) {
    report_error(tolvinar_msg::kNoMemory, nullptr);
    return false;
  }
  r->capacity = capacity;
  if (mode.marked) {
    while (!r->at_eof && r->end < 2) {
      if (!fill(r)) return false;
    }
    if (r->end >= 2 && r->buffer[0] == kMark[0] && r->buffer[1] == kMark[1]) {
      r->begin = 2;
    }
  }
  return advance(r, mode) >= 0;
}

// Writes n bytes of data to the sink's descriptor, converted for
// standard output where asked. Only one thread at a time writes.
bool write_out(OutputSink* s, const char* data, size_t n) {
  if (!s->convert) {
    return platform::write_fd(s->fd, data, static_cast<int64_t>(n)) ==
           static_cast<int64_t>(n);
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  for (size_t at = 0; at < n; at += kStdoutChunk) {
    size_t take = std::min(kStdoutChunk, n - at);
    size_t count = convert_wide_chunk(&s->state, bytes + at, take, s->converted.get());
    if (platform::write_fd(s->fd, s->converted.get(), static_cast<int64_t>(count)) !=
        static_cast<int64_t>(count)) {
      return false;
    }
  }
  return true;
}

bool write_block(void* sink, const char* data, size_t n) {
  return write_out(static_cast<OutputSink*>(sink), data, n);
}

void report_write_failure(OutputSink* s) {
  s->failed = true;
  if (s->label.empty()) {
    report_error(tolvinar_msg::kStdoutFailed, nullptr);
  } else {
    report_error(tolvinar_msg::kWriteFailed, s->label.c_str());
  }
}

// Waits until the writer has written what it was handed; false, reported
// once, when any write failed.
bool settle(OutputSink* s) {
  if (!wait_for_block(&s->writer) && !s->failed) report_write_failure(s);
  return !s->failed;
}

// Sends what the buffer holds on its way: to the writer, once it has
// finished the buffer before, else written here.
void flush(OutputSink* s) {
  if (s->failed || s->used == 0 || !settle(s)) {
    s->used = 0;
    return;
  }
  if (!block_writer_running(s->writer)) {
    if (!write_out(s, s->buffer.get(), s->used)) report_write_failure(s);
    s->used = 0;
    return;
  }
  std::swap(s->buffer, s->spare);
  hand_block(&s->writer, s->spare.get(), s->used);
  s->used = 0;
}

// Writes what is left (none after a failed merge), ends the writer, and
// says whether every write succeeded (a failure reported).
bool close_sink(OutputSink* s, bool merged) {
  if (merged) flush(s);
  bool ok = settle(s);
  stop_block_writer(&s->writer);
  return ok;
}

inline void put(OutputSink* s, const char* data, size_t n) {
  if (s->used + n < kOutputBufferSize) {
    memcpy(s->buffer.get() + s->used, data, n);
    s->used += n;
    return;
  }
  // Only full buffers go out before the end, so that wide text meets the
  // converter in the same chunks as a copy of the file would.
  while (n > 0) {
    size_t take = std::min(n, kOutputBufferSize - s->used);
    memcpy(s->buffer.get() + s->used, data, take);
    s->used += take;
    data += take;
    n -= take;
    if (s->used == kOutputBufferSize) flush(s);
  }
}

bool open_sink(OutputSink* s, int fd, const std::string& label, bool convert) {
  s->fd = fd;
  s->label = label;
  s->convert = convert;
  s->buffer.reset(new (std::nothrow) char[kOutputBufferSize]);
  if (convert) s->converted.reset(new (std::nothrow) char[kStdoutChunk + 1]);
  if (s->buffer == nullptr || (convert && s->converted == nullptr)) {
    report_error(tolvinar_msg::kNoMemory, nullptr);
    return false;
  }
  // Without a second buffer or a thread, the merge writes for itself.
  s->spare.reset(new (std::nothrow) char[kOutputBufferSize]);
  if (s->spare != nullptr && !start_block_writer(&s->writer, &write_block, s)) {
    s->spare.reset();
  }
  return true;
}

// Among equal lines the lower-numbered run's comes first, which makes the
// order total; a used-up run sorts behind everything.
inline bool goes_first(const std::vector<RunReader>& runs, int a, int b,
                       const Mode& mode) {
  const RunReader& x = runs[static_cast<size_t>(a)];
  const RunReader& y = runs[static_cast<size_t>(b)];
  if (x.exhausted) return false;
  if (y.exhausted) return true;
  if (mode.prefixed) {
    // Equal first bytes with the line's end among them: equal lines.
    const uint64_t last = mode.wide ? 0xFFFF : 0xFF;
    for (int i = 0; i < 2; ++i) {
      if (x.prefix[i] != y.prefix[i]) return x.prefix[i] < y.prefix[i];
      if ((x.prefix[i] & last) == 0) return a < b;
    }
    int c = mode.wide
                ? compare_wide(mode.compare,
                               reinterpret_cast<const uint16_t*>(x.line) + 8,
                               x.length - 8,
                               reinterpret_cast<const uint16_t*>(y.line) + 8,
                               y.length - 8)
                : compare_narrow(mode.compare, x.line + 16, x.length - 16,
                                 y.line + 16, y.length - 16);
    return c < 0 || (c == 0 && a < b);
  }
  int c = mode.wide
              ? compare_wide(mode.compare,
                             reinterpret_cast<const uint16_t*>(x.line),
                             x.length,
                             reinterpret_cast<const uint16_t*>(y.line),
                             y.length)
              : compare_narrow(mode.compare, x.line, x.length, y.line,
                               y.length);
  return c < 0 || (c == 0 && a < b);
}

// Merges the open runs into the sink; false after a reported failure.
bool merge_into(std::vector<RunReader>& runs, OutputSink* sink,
                const Mode& mode) {
  const bool wide = mode.wide;
  const int k = static_cast<int>(runs.size());
  const size_t unit = wide ? 2 : 1;
  const char* line_end = wide ? kWideLineEnd : kNarrowLineEnd;
  if (mode.marked) put(sink, kMark, 2);
  if (k == 0) return true;
  // loser[1..k-1] hold the losers of the inner nodes; leaf k + i is run i.
  std::vector<int> loser(static_cast<size_t>(k));
  std::vector<int> winner(2 * static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) winner[static_cast<size_t>(k + i)] = i;
  for (int n = k - 1; n >= 1; --n) {
    int a = winner[2 * static_cast<size_t>(n)];
    int b = winner[2 * static_cast<size_t>(n) + 1];
    bool a_first = goes_first(runs, a, b, mode);
    winner[static_cast<size_t>(n)] = a_first ? a : b;
    loser[static_cast<size_t>(n)] = a_first ? b : a;
  }
  int top = winner[1];
  while (!runs[static_cast<size_t>(top)].exhausted && !sink->failed) {
    RunReader& r = runs[static_cast<size_t>(top)];
    put(sink, r.line, static_cast<size_t>(r.length) * unit);
    put(sink, line_end, 2 * unit);
    if (advance(&r, mode) < 0) return false;
    int s = top;
    for (int t = (s + k) / 2; t > 0; t /= 2) {
      if (goes_first(runs, loser[static_cast<size_t>(t)], s, mode)) {
        std::swap(loser[static_cast<size_t>(t)], s);
      }
    }
    top = s;
  }
  return !sink->failed;
}

// Merges the runs of entries into the descriptor fd.
bool merge_entries(const std::vector<Entry>& entries, size_t first,
                   size_t count, int fd, const std::string& label,
                   bool convert, int64_t read_budget, const Mode& mode) {
  int64_t share = read_budget / static_cast<int64_t>(std::max<size_t>(count, 1));
  size_t capacity = static_cast<size_t>(
      std::clamp(share, kSmallestRunBuffer, kLargestRunBuffer));
  // Where the budget gives each run room for a second buffer, the next
  // piece of every run is read by a thread of its own while the merge
  // works through the one before.
  const bool read_ahead =
      count >= 2 && share >= 2 * static_cast<int64_t>(kHeadRoom + capacity);
  const size_t room = read_ahead ? kHeadRoom : 0;
  std::vector<RunReader> runs(count);
  bool ok = true;
  for (size_t i = 0; i < count && ok; ++i) {
    const Entry& e = entries[first + i];
    ok = open_reader(&runs[i], e.path, capacity, room,
                     e.intermediate || mode.spent_runs, mode);
  }
  ReadAhead reading;
  reading.index_feeds = !mode.wide;
  if (ok && read_ahead && reading.worker.start()) {
    for (RunReader& r : runs) {
      // A run whose buffer grew for a long line reads for itself.
      if (r.at_eof || r.capacity != capacity) continue;
      r.ahead.reset(new (std::nothrow) char[room + capacity + kSlack]);
      if (r.ahead == nullptr) continue;
      r.reading = &reading;
      ask_ahead(&reading, &r);
    }
  }
  OutputSink sink;
  if (ok && open_sink(&sink, fd, label, convert)) {
    ok = merge_into(runs, &sink, mode);
    // Also after a failure: no write goes on once the merge returns.
    ok = close_sink(&sink, ok) && ok;
  } else {
    ok = false;
  }
  // The reads on their way end first, so that no buffer or file is taken
  // from under the thread.
  reading.worker.stop();
  for (RunReader& r : runs) close_reader(&r);
  return ok;
}

void delete_intermediates(const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    if (e.intermediate) platform::delete_file(e.path);
  }
}

// A new file in folder, merged from entries[first, first + count).
bool merge_to_intermediate(const std::vector<Entry>& entries, size_t first,
                           size_t count, const std::string& folder,
                           int64_t read_budget, const Mode& mode,
                           Entry* made) {
  std::string path;
  int fd = platform::create_unique_file(folder + ".tolvinar-", &path);
  if (fd < 0) {
    report_error(tolvinar_msg::kCannotCreate, (folder + ".tolvinar-").c_str());
    return false;
  }
  bool ok = merge_entries(entries, first, count, fd, path, false, read_budget,
                          mode);
  if (platform::close_fd(fd) != 0 && ok) {
    report_error(tolvinar_msg::kWriteFailed, path.c_str());
    ok = false;
  }
  if (!ok) {
    platform::delete_file(path);
    return false;
  }
  made->path = path;
  made->intermediate = true;
  return true;
}

// How many of the left runs the next group of a pass takes when made
// groups are already merged; 0 when the pass is done.
size_t next_group(size_t made, size_t left, size_t fan_in) {
  if (made + left <= fan_in || left < 2) return 0;
  return std::min({fan_in, made + left - fan_in + 1, left});
}

// The passes a merge takes and the bytes it reads in all of them, for the
// status line.
void plan_merge(const std::vector<Entry>& runs, size_t fan_in, int32_t* passes,
                int64_t* bytes) {
  std::vector<int64_t> sizes;
  for (const Entry& run : runs) {
    sizes.push_back(std::max<int64_t>(platform::file_size(run.path), 0));
  }
  *passes = 1;
  *bytes = 0;
  while (sizes.size() > fan_in) {
    std::vector<int64_t> next;
    size_t i = 0;
    size_t group;
    while ((group = next_group(next.size(), sizes.size() - i, fan_in)) > 0) {
      int64_t sum = 0;
      for (size_t k = i; k < i + group; ++k) sum += sizes[k];
      *bytes += sum;
      next.push_back(sum);
      i += group;
    }
    next.insert(next.end(), sizes.begin() + static_cast<std::ptrdiff_t>(i), sizes.end());
    sizes.swap(next);
    ++*passes;
  }
  for (int64_t size : sizes) *bytes += size;
}

// One pass: consecutive groups of runs become intermediate files, just
// enough of them that what is left can be merged at once when possible.
// Keeping the groups consecutive and in place keeps the order of equal
// lines.
bool merge_pass(std::vector<Entry>* current, size_t fan_in,
                const std::string& folder, int64_t read_budget,
                const Mode& mode) {
  std::vector<Entry> next;
  size_t i = 0;
  size_t group;
  bool ok = true;
  while (ok && (group = next_group(next.size(), current->size() - i, fan_in)) > 0) {
    Entry made;
    ok = merge_to_intermediate(*current, i, group, folder, read_budget, mode,
                               &made);
    if (ok) {
      delete_intermediates(std::vector<Entry>(
          current->begin() + static_cast<std::ptrdiff_t>(i),
          current->begin() + static_cast<std::ptrdiff_t>(i + group)));
      next.push_back(made);
      i += group;
    }
  }
  if (!ok) {
    delete_intermediates(next);
    return false;
  }
  next.insert(next.end(), current->begin() + static_cast<std::ptrdiff_t>(i),
              current->end());
  *current = std::move(next);
  return true;
}

bool merge_to_output(const std::vector<Entry>& entries,
                     const MergeSettings& settings, const Mode& mode) {
  const int64_t budget = settings.read_budget;
  if (settings.to_stdout) {
    return merge_entries(entries, 0, entries.size(), kStandardOutput, "",
                         mode.wide, budget, mode);
  }
  const platform::FileIdentity target = platform::identify_file(settings.output);
  if (target.kind == platform::FileKind::kOther) {
    // A device or a named pipe is written in place: replacing it would
    // put a plain file where the device was.
    int fd = platform::open_write(settings.output, false, false);
    if (fd < 0) {
      report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
      return false;
    }
    bool ok = merge_entries(entries, 0, entries.size(), fd, settings.output,
                            false, budget, mode);
    if (platform::close_fd(fd) != 0 && ok) {
      report_error(tolvinar_msg::kWriteFailed, settings.output.c_str());
      ok = false;
    }
    return ok;
  }
  // The result is complete before it replaces anything at its path. It is
  // made in a private folder beside the file the path leads to (links
  // followed, so that the rename stays on one file system), which a signal
  // removes with what is in it; a folder left by a merge killed outright
  // is unlocked, and the next merge there removes it.
  const std::string beside = folder_of(platform::follow_links(settings.output));
  platform::remove_abandoned_folders(beside, kResultFolderPrefix);
  std::string folder = platform::make_locked_folder(beside + kResultFolderPrefix);
  if (folder.empty()) {
    report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
    return false;
  }
  const std::string temp = folder + "/result";
  int fd = platform::open_write(temp, true, true);
  bool ok = fd >= 0;
  if (!ok) report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
  if (ok) {
    ok = merge_entries(entries, 0, entries.size(), fd, settings.output, false,
                       budget, mode);
    if (platform::close_fd(fd) != 0 && ok) {
      report_error(tolvinar_msg::kWriteFailed, settings.output.c_str());
      ok = false;
    }
  }
  if (ok && platform::move_file(temp, settings.output) != 0) {
    report_error(tolvinar_msg::kCannotPlace, settings.output.c_str());
    ok = false;
  }
  platform::remove_locked_folder(folder);
  return ok;
}

}  // namespace

int32_t fan_in_for_open_limit(int64_t limit) {
  int64_t fan_in = limit - kReservedDescriptors;
  if (fan_in < 2) return 2;
  return static_cast<int32_t>(std::min<int64_t>(fan_in, INT32_MAX));
}

MergeRules merge_rules_from_job() {
  MergeRules rules;
  rules.wide = sort_job.wide_mode == 1;
  rules.marked = sort_job.input_bom == std::string(kMark, 2);
  rules.ignore_case = sort_job.ignore_case != 0;
  rules.key_mode = sort_job.key_mode != 0;
  rules.conditions.assign(sort_job.conditions,
                          sort_job.conditions + sort_job.condition_count);
  return rules;
}

int merge_runs(const std::vector<std::string>& runs, const MergeRules& rules,
               const MergeSettings& settings) {
  Mode mode = mode_of(rules);
  mode.spent_runs = settings.spent_runs;
  int64_t budget = std::max(settings.read_budget, kSmallestRunBuffer * 2);
  size_t fan_in;
  if (settings.fan_in > 0) {
    fan_in = static_cast<size_t>(std::max(settings.fan_in, 2));
  } else {
    // Beyond what the read budget feeds with buffers of a useful size,
    // more runs at once would only shrink every read.
    int64_t by_memory = budget / kSmallestRunBuffer;
    fan_in = static_cast<size_t>(std::min<int64_t>(
        fan_in_for_open_limit(platform::open_file_limit()), by_memory));
  }
  std::vector<Entry> current;
  for (const std::string& path : runs) current.push_back(Entry{path, false});
  const std::string folder =
      runs.empty() ? std::string(platform::kCurrentDirectory) : folder_of(runs[0]);
  int32_t passes = 1;
  int64_t bytes = 0;
  plan_merge(current, fan_in, &passes, &bytes);
  progress_start(bytes, ProgressPhase::kMerge, 1, passes, settings.to_stdout);
  int32_t pass = 1;
  while (current.size() > fan_in) {
    if (!merge_pass(&current, fan_in, folder, budget, mode)) {
      delete_intermediates(current);
      progress_stop();
      return kMergeIoFailure;
    }
    progress_phase(ProgressPhase::kMerge, ++pass, passes);
  }
  bool ok = merge_to_output(current, settings, mode);
  delete_intermediates(current);
  progress_stop();
  return ok ? kMergeOk : kMergeIoFailure;
}

}  // namespace quarnel
