// Each run's buffer holds what was read and not yet handed out; lines
// are handed out in place. A run read ahead swaps its two buffers at each
// piece, the unread end of the old piece put in front of the new one.
#include "tolvinar/run_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "console/console.h"
#include "console/progress.h"
#include "platform/platform.h"
#include "tolvinar/tolvinar_messages.h"

namespace quarnel {

namespace {

// The bytes read from a spent run are given back in whole pieces of this
// size (a multiple of every page and block size in use).
constexpr int64_t kReleaseStep = int64_t{64} << 10;
// Room behind a buffer's data for the zero that ends its last line.
constexpr size_t kSlack = 8;

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
void set_prefix(RunReader* r, const MergeMode& mode) {
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

}  // namespace

int next_line(RunReader* r, const MergeMode& mode) {
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

bool open_run_reader(RunReader* r, const std::string& path, size_t capacity,
                     size_t room, bool release, const MergeMode& mode) {
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
  return next_line(r, mode) >= 0;
}

void close_run_reader(RunReader* r) {
  if (r->fd >= 0) platform::close_fd(r->fd);
  r->fd = -1;
  r->buffer.reset();
}

void start_read_ahead(ReadAhead* t, std::vector<RunReader>* runs, size_t capacity,
                      bool index_feeds) {
  t->index_feeds = index_feeds;
  if (!t->worker.start()) return;
  for (RunReader& r : *runs) {
    // A run whose buffer grew for a long line reads for itself.
    if (r.at_eof || r.capacity != capacity) continue;
    r.ahead.reset(new (std::nothrow) char[kHeadRoom + capacity + kSlack]);
    if (r.ahead == nullptr) continue;
    r.reading = t;
    ask_ahead(t, &r);
  }
}

void stop_read_ahead(ReadAhead* t) { t->worker.stop(); }

}  // namespace quarnel
