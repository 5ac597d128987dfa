#include "input/run_builder.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "console/console.h"
#include "console/messages.h"
#include "console/progress.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "order/compare.h"
#include "order/sort_lines.h"
#include "output/run_files.h"

namespace quarnel {

ReaderState reader_state;
RunWriter narrow_run_writer = &write_run_narrow;
RunWriter wide_run_writer = &write_run_wide;
int64_t map_input_from = int64_t{32} << 20;

namespace {

// Reads from this size on have their memory made ready on another thread.
constexpr int64_t kPrefaultFrom = 32 << 20;
// Reads are made in pieces of this size, each looked through for zeros at
// once.
constexpr int64_t kZeroScanPiece = 4 << 20;

// Whether the n bytes at p hold a zero byte, or in wide mode a zero unit
// (units at even offsets from p; an odd last byte stands for a unit whose
// high byte is zero).
// Eight units compared at once; GCC gives the processor's vector
// instructions for it on every target.
typedef uint16_t EightUnits __attribute__((vector_size(16)));

bool holds_zero(const char* p, int64_t n, bool wide) {
  if (!wide) return std::memchr(p, 0, static_cast<size_t>(n)) != nullptr;
  int64_t i = 0;
  // 64 bytes a step, their zero units gathered without a branch: the
  // check runs over every byte read, as fast as the read itself.
  for (; i + 64 <= n; i += 64) {
    EightUnits v[4];
    std::memcpy(v, p + i, 64);
    const EightUnits zero = {};
    EightUnits found = (v[0] == zero) | (v[1] == zero) | (v[2] == zero) | (v[3] == zero);
    uint64_t halves[2];
    std::memcpy(halves, &found, 16);
    if ((halves[0] | halves[1]) != 0) return true;
  }
  for (; i + 1 < n; i += 2) {
    if (p[i] == 0 && p[i + 1] == 0) return true;
  }
  return i < n && p[i] == 0;
}

// The rest of a large fill is read by a thread of its own, a piece at a
// time, while the lines of the pieces already there are recorded.
struct ReadAhead {
  std::thread thread;
  std::mutex lock;
  std::condition_variable wake;
  int64_t offset = 0;   // the fill's carried bytes at the buffer's start
  int64_t request = 0;  // the bytes the fill asked for
  int64_t got = 0;      // of which read so far
  bool done = true;     // nothing more comes
};

// Never freed: a process that ends holds no thread object to tear down.
ReadAhead& ahead() {
  static ReadAhead* record = new ReadAhead;
  return *record;
}

// Stops at the end of the piece being read and waits for the thread.
void stop_read_ahead() {
  ReadAhead& a = ahead();
  if (!a.thread.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(a.lock);
    a.request = a.got;  // no piece after this one
  }
  a.thread.join();
}

int64_t table_entries() {
  return static_cast<int64_t>(line_table.block_size) * line_table.block_count;
}

// A mapped input is looked through for zeros on a thread of its own while
// its lines are recorded; the answer is needed only once they are sorted.
struct ZeroScan {
  std::thread thread;
  bool found = false;
};

// Never freed: a process that ends holds no thread object to tear down.
ZeroScan& zero_scan() {
  static ZeroScan* record = new ZeroScan;
  return *record;
}

// Whether the mapped input holds a zero byte (unit), once the scan is done.
bool mapped_input_holds_zero() {
  ZeroScan& z = zero_scan();
  if (z.thread.joinable()) z.thread.join();
  return z.found;
}

// Back to the sort buffer once the mapped lines are written (or given up).
void release_mapped_input() {
  ReaderState& rs = reader_state;
  if (rs.mapped == nullptr) return;
  mapped_input_holds_zero();
  platform::unmap_for_reading(rs.mapped, rs.mapped_size);
  rs.mapped = nullptr;
  rs.mapped_size = 0;
  rs.buffer_start = sort_job.sort_buffer.get();
  rs.next_line = nullptr;
  rs.data_end = nullptr;
  line_table.bounded = false;
}

void close_input() {
  stop_read_ahead();
  if (!reader_state.input_closed && reader_state.input_fd >= 0) {
    platform::close_fd(reader_state.input_fd);
  }
  reader_state.input_fd = 0;
  reader_state.input_closed = 1;
}

// Ends the builder's work on an error: the job must fail without output.
int stop_failed(const char* message, const char* arg) {
  if (message != nullptr) report_error(message, arg);
  sort_job.failed = 1;
  close_input();
  release_mapped_input();
  reader_state.next_line = nullptr;
  return 0;
}

// Sorts the count lines recorded so far, writes them as the next run and
// empties the table for the next one.
void write_run(int32_t count, bool wide) {
  if (count > 0) {
    if (reader_state.mapped != nullptr && mapped_input_holds_zero()) {
      // A zero inside a line: the lines take their place in the buffer as
      // a read would have put them there, and the sorts check for it.
      // (Room for them was made sure of when the input was mapped; were it
      // missing, the job fails and the lines are written where they lie.)
      settle_bounded_lines(count);
      line_table.zero_free = false;
    }
    sort_line_indexes(count, wide ? &compare_lines_wide : &compare_lines_narrow);
    int32_t run = sort_job.run_count++;
    progress_phase(ProgressPhase::kWrite, run + 1, 0);
    (wide ? wide_run_writer : narrow_run_writer)(count, run);
    release_mapped_input();
    if (sort_job.remaining_bytes > 0) {
      progress_phase(ProgressPhase::kReadSort, run + 2, 0);
    }
    std::memset(line_table.line_starts.get(), 0, sizeof(char*) * count);
    std::memset(line_table.line_lengths.get(), 0, sizeof(int32_t) * count);
  }
  line_table.last_line = -1;
}

void final_flush(bool wide) {
  close_input();
  write_run(line_table.last_line + 1, wide);
  reader_state.next_line = nullptr;
}

// The bytes to ask for at a fill with room bytes free. Wide text is read
// in whole units, so that no unit is split between two fills, except
// where the read reaches the end of the input.
int64_t read_request(int64_t room, int64_t unconsumed_in_buffer, bool wide) {
  if (!wide) return room;
  int64_t unread = sort_job.remaining_bytes - unconsumed_in_buffer;
  return room >= unread ? room : (room & ~int64_t{1});
}

// Reads the piece of the fill that starts got bytes behind its carried
// bytes, looking it through for zeros while it is still in the
// processor's cache. The bytes delivered, 0 at the end, -1 on error.
int64_t read_piece(int64_t offset, int64_t got, int64_t piece, bool wide) {
  char* at = reader_state.buffer_start + offset + got;
  const int64_t n = platform::read_fd(reader_state.input_fd, at, piece);
  if (n <= 0) return n;
  // Wide units are looked at from even offsets only.
  if (line_table.zero_free &&
      ((wide && ((offset + got) & 1) != 0) || holds_zero(at, n, wide))) {
    line_table.zero_free = false;
  }
  progress_add(n);
  return n;
}

// The pieces after the first, until the request is read or the input
// ends; an error ends the fill early, and the next read reports it.
void read_rest(bool wide) {
  ReadAhead& a = ahead();
  std::unique_lock<std::mutex> hold(a.lock);
  while (a.got < a.request) {
    const int64_t got = a.got;
    const int64_t piece = std::min(a.request - got, kZeroScanPiece);
    hold.unlock();
    const int64_t n = read_piece(a.offset, got, piece, wide);
    hold.lock();
    if (n > 0) a.got += n;
    a.wake.notify_all();
    if (n < piece) break;
  }
  a.done = true;
  a.wake.notify_all();
}

// The fill's end: the data ends got bytes behind the carried ones, with
// the terminating zero (unit) behind it.
void end_fill(int64_t offset, int64_t got, bool wide) {
  ReaderState& rs = reader_state;
  rs.last_read = got;
  int64_t end = offset + got;
  rs.data_end = rs.buffer_start + end;
  if (wide) {
    // A final odd byte is read as a unit whose high byte is zero, and the
    // zero unit follows it (the buffer has room for both, see open_input).
    int64_t stop = ((end + 1) & ~int64_t{1}) + 2;
    std::memset(rs.buffer_start + end, 0, static_cast<size_t>(stop - end));
  } else {
    rs.buffer_start[end] = 0;
  }
}

// Reads behind the first offset bytes of the buffer (the carried piece).
// The first piece is there on return; a large fill goes on reading the
// rest on a thread of its own (more_arrived brings it in), else it ends
// here with the terminating zero (unit) behind what arrived. The count
// delivered so far, or -1 on a read error.
int64_t fill(int64_t offset, bool wide) {
  ReaderState& rs = reader_state;
  int64_t request = read_request(rs.buffer_capacity - offset, offset, wide);
  int64_t got = 0;
  if (request > 0) {
    // Fresh memory is cleared by the system when first touched, which can
    // cost far more than the copy itself: before a large read, two threads
    // make the pages ready, half each, and the read only copies.
    if (request >= kPrefaultFrom) {
      char* front = rs.buffer_start + offset;
      char* back = front + request / 2;
      std::thread helper;
      try {
        helper = std::thread(platform::prefault_pages, back, request - request / 2);
      } catch (const std::system_error&) {
        // Without the thread the read clears the back half itself.
      }
      platform::prefault_pages(front, request / 2);
      if (helper.joinable()) helper.join();
    }
    const int64_t piece = std::min(request, kZeroScanPiece);
    got = read_piece(offset, 0, piece, wide);
    if (got < 0) return -1;
    if (got == piece && got < request) {
      ReadAhead& a = ahead();
      a.offset = offset;
      a.request = request;
      a.got = got;
      a.done = false;
      try {
        a.thread = std::thread(read_rest, wide);
        rs.data_end = rs.buffer_start + offset + got;
        return got;
      } catch (const std::system_error&) {
        read_rest(wide);  // without the thread, all of it here
        got = a.got;
      }
    }
  }
  end_fill(offset, got, wide);
  return got;
}

// Where the lines have been recorded up to the end of the data read so far:
// waits for the next piece of a fill that is still being read, and ends
// the fill once no more comes. False when no fill was being read.
bool more_arrived(bool wide) {
  ReadAhead& a = ahead();
  if (!a.thread.joinable()) return false;
  ReaderState& rs = reader_state;
  const int64_t seen = rs.data_end - (rs.buffer_start + a.offset);
  int64_t got;
  bool done;
  {
    std::unique_lock<std::mutex> hold(a.lock);
    a.wake.wait(hold, [&a, seen] { return a.got > seen || a.done; });
    got = a.got;
    done = a.done;
  }
  if (!done) {
    rs.data_end = rs.buffer_start + a.offset + got;
    return true;
  }
  a.thread.join();
  end_fill(a.offset, got, wide);
  return true;
}

// Maps the whole input in place of the first fill where the sort can take
// its lines as they lie: one run of whole lines without /I, large enough
// for the copy to matter, and room in the buffer for a settled copy
// should the string sort give up or the input hold a zero byte (unit).
// False, with nothing changed, otherwise.
bool map_input(bool wide) {
  ReaderState& rs = reader_state;
  const int64_t n = sort_job.remaining_bytes;
  const WholeLineForm form = whole_line_form(wide ? &compare_lines_wide : &compare_lines_narrow);
  if (rs.mapped != nullptr || form != (wide ? WholeLineForm::kWide : WholeLineForm::kNarrow) ||
      sort_job.run_count != 0 || line_table.last_line != -1 || n < map_input_from ||
      n > rs.buffer_capacity || n + 2 > sort_job.sort_buffer_size || (wide && (n & 1) != 0)) {
    return false;
  }
  const char* mapped = platform::map_for_reading(
      rs.input_fd, n, error_line(msg::kReadFailed, sort_job.input_path.c_str()));
  if (mapped == nullptr) return false;
  ZeroScan& z = zero_scan();
  z.found = false;
  try {
    z.thread = std::thread([mapped, n, wide] { zero_scan().found = holds_zero(mapped, n, wide); });
  } catch (const std::system_error&) {
    z.found = holds_zero(mapped, n, wide);
  }
  rs.mapped = mapped;
  rs.mapped_size = n;
  // Only read through: the builder writes no zero behind a bounded line.
  rs.buffer_start = const_cast<char*>(mapped);
  rs.data_end = rs.buffer_start + n;
  rs.last_read = n;
  line_table.bounded = true;
  progress_add(n);
  return true;
}

bool open_input(const char* input_path, bool wide) {
  ReaderState& rs = reader_state;
  if (wide && (rs.buffer_capacity & 1) && sort_job.sort_buffer) {
    // An odd capacity can hold an odd last byte, whose unit and the zero
    // unit behind it need two bytes more than budget + 2.
    sort_job.sort_buffer.reset();
    sort_job.sort_buffer.reset(new (std::nothrow) char[rs.buffer_capacity + 4]);
    sort_job.sort_buffer_size = sort_job.sort_buffer ? rs.buffer_capacity + 4 : 0;
  }
  rs.buffer_start = sort_job.sort_buffer.get();
  if (rs.buffer_start == nullptr || rs.buffer_capacity <= 0) {
    stop_failed(msg::kNoMemory, nullptr);
    return false;
  }
  // The buffer keeps the system's usual pages. Large ones would make the
  // system gather free memory into 2 MB pieces at the first touch, which
  // costs far more than it saves once other programs have used the
  // machine's memory.
  int fd = platform::open_read(input_path);
  if (fd < 0) {
    stop_failed(msg::kNotFound, input_path);
    return false;
  }
  rs.input_fd = fd;
  rs.input_closed = 0;
  line_table.zero_free = true;
  rs.next_line = nullptr;
  if (line_table.block_count == 0 && grow_line_table() == 0) {
    stop_failed(nullptr, nullptr);
    return false;
  }
  return true;
}

// The first LF of the line that starts at start, searched from 'from' on.
char* find_line_feed(char* from, char* to, char* start, bool wide) {
  if (!wide) {
    return static_cast<char*>(std::memchr(from, '\n', static_cast<size_t>(to - from)));
  }
  while (from < to) {
    char* q = static_cast<char*>(std::memchr(from, '\n', static_cast<size_t>(to - from)));
    if (q == nullptr) return nullptr;
    // A unit 000A: the low byte at an even offset from the line's start,
    // a zero high byte (the terminating zero behind an odd last byte too).
    if (((q - start) & 1) == 0 && q[1] == 0) return q;
    from = q + 1;
  }
  return nullptr;
}

// Where the line's text ends once the CRs that end it are left out.
char* strip_line_end_crs(char* start, char* end, bool wide) {
  if (!wide) {
    while (end > start && end[-1] == '\r') --end;
  } else {
    while (end - start >= 2 && end[-2] == '\r' && end[-1] == 0) end -= 2;
  }
  return end;
}

int build_run(const char* input_path, bool wide) {
  ReaderState& rs = reader_state;
  const int64_t unit = wide ? 2 : 1;
  if (rs.input_closed && !open_input(input_path, wide)) return 0;
  if (sort_job.remaining_bytes <= 0) {
    final_flush(wide);
    return 0;
  }
  if (rs.next_line == nullptr && map_input(wide)) {
    rs.next_line = rs.buffer_start;
  }
  if (rs.next_line == nullptr) {
    int64_t got = fill(0, wide);
    if (got < 0) return stop_failed(msg::kReadFailed, input_path);
    if (got == 0) {  // the input is shorter than it was
      final_flush(wide);
      return 0;
    }
    rs.next_line = rs.buffer_start;
  }

  char* start = rs.next_line;
  char* scan = start;
  char* end;         // behind the line's last byte, its LF not included
  char* next;        // the next line's start, or null at the input's end
  int64_t consumed;  // the input bytes the line took
  for (;;) {
    char* lf = find_line_feed(scan, rs.data_end, start, wide);
    if (lf != nullptr) {
      end = lf;
      next = lf + unit;
      consumed = next - start;
      break;
    }
    // More of the fill is on its way: the search goes on where it ended.
    // Pieces hold whole units, so no unit is split at that place.
    char* searched = rs.data_end;
    if (more_arrived(wide)) {
      scan = searched;
      continue;
    }
    int64_t piece = rs.data_end - start;
    if (piece >= sort_job.remaining_bytes) {
      // The input's last line, without a LF.
      end = start + (wide ? ((piece + 1) & ~int64_t{1}) : piece);
      next = nullptr;
      consumed = piece;
      break;
    }
    // The line reaches past the buffered data: the lines before it become
    // a run, the piece moves to the buffer's start and more is read
    // behind it. Refuse what could never fit rather than overrun.
    char* text_end = strip_line_end_crs(start, rs.data_end, wide);
    if ((text_end - start) / unit > kMaxLineLength ||
        read_request(rs.buffer_capacity - piece, piece, wide) <= 0) {
      return stop_failed(msg::kLineTooLong, nullptr);
    }
    write_run(line_table.last_line + 1, wide);
    std::memmove(rs.buffer_start, start, static_cast<size_t>(piece));
    int64_t got = fill(piece, wide);
    if (got < 0) return stop_failed(msg::kReadFailed, input_path);
    start = rs.buffer_start;
    if (got == 0) {
      // The input ended early (it shrank): the carried piece is its last
      // line.
      if (piece == 0) {
        final_flush(wide);
        return 0;
      }
      end = start + (wide ? ((piece + 1) & ~int64_t{1}) : piece);
      next = nullptr;
      consumed = piece;
      break;
    }
    scan = start + piece;
  }

  char* text_end = strip_line_end_crs(start, end, wide);
  int64_t length = (text_end - start) / unit;
  if (length > kMaxLineLength) return stop_failed(msg::kLineTooLong, nullptr);
  if (!line_table.bounded) {
    text_end[0] = 0;
    if (wide) text_end[1] = 0;
  }
  char* recorded = start;
  if (wide && length > 0 && static_cast<unsigned char>(start[0]) == 0xFF &&
      static_cast<unsigned char>(start[1]) == 0xFE) {
    // A byte-order mark opening a line is not part of it.
    recorded += 2;
    --length;
  }
  int64_t index = static_cast<int64_t>(line_table.last_line) + 1;
  if (index >= table_entries() && grow_line_table() == 0) {
    return stop_failed(nullptr, nullptr);
  }
  line_table.line_starts[index] = recorded;
  line_table.line_lengths[index] = static_cast<int32_t>(length);
  line_table.last_line = static_cast<int32_t>(index);

  rs.next_line = next;
  sort_job.remaining_bytes = std::max<int64_t>(0, sort_job.remaining_bytes - consumed);
  return static_cast<int>((consumed + unit - 1) / unit);
}

}  // namespace

int build_run_narrow(const char* input_path, int) {
  return build_run(input_path, false);
}

int build_run_wide(const char* input_path, int) {
  return build_run(input_path, true);
}

void reset_run_builder() {
  close_input();
  release_mapped_input();
  release_line_table();
  line_table = LineTable();
  reader_state = ReaderState();
  narrow_run_writer = &write_run_narrow;
  wide_run_writer = &write_run_wide;
}

}  // namespace quarnel
