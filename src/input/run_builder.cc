#include "input/run_builder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "console/console.h"
#include "console/messages.h"
#include "console/progress.h"
#include "order/compare_rules.h"
#include "order/sort_lines.h"
#include "output/run_files.h"
#include "platform/platform.h"
#include "platform/worker.h"

namespace quarnel {

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

// Stops at the end of the piece being read and waits for the thread.
void stop_read_ahead(RunState* run) {
  FillReadAhead& a = run->ahead;
  if (!a.active) return;
  {
    std::lock_guard<std::mutex> hold(a.lock);
    a.request = a.got;  // no piece after this one
  }
  a.worker.stop();
  a.active = false;
}

int64_t table_entries(const LineTable& table) {
  return static_cast<int64_t>(table.block_size) * table.block_count;
}

// Whether the mapped input holds a zero byte (unit), once the scan is done.
bool mapped_input_holds_zero(RunState* run) {
  run->zero_scan.worker.stop();
  return run->zero_scan.found;
}

// Back to the sort buffer once the mapped lines are written (or given up).
void release_mapped_input(RunState* run) {
  ReaderState& rs = run->reader;
  if (rs.mapped == nullptr) return;
  mapped_input_holds_zero(run);
  platform::unmap_for_reading(rs.mapped, rs.mapped_size);
  rs.mapped = nullptr;
  rs.mapped_size = 0;
  rs.buffer_start = run->sort_buffer.get();
  rs.next_line = nullptr;
  rs.data_end = nullptr;
  run->table.bounded = false;
}

void close_input(RunState* run) {
  stop_read_ahead(run);
  ReaderState& rs = run->reader;
  if (!rs.input_closed && rs.input_fd >= 0) platform::close_fd(rs.input_fd);
  rs.input_fd = 0;
  rs.input_closed = true;
}

// Ends the builder's work on an error: the job must fail without output.
int stop_failed(RunState* run, const char* message, const char* arg) {
  if (message != nullptr) report_error(message, arg);
  run->failed = true;
  close_input(run);
  release_mapped_input(run);
  run->reader.next_line = nullptr;
  return 0;
}

// Sorts the count lines recorded so far, writes them as the next run and
// empties the table for the next one.
void write_run(const RunSettings& settings, RunState* run, int32_t count) {
  LineTable& table = run->table;
  if (count > 0) {
    if (run->reader.mapped != nullptr && mapped_input_holds_zero(run)) {
      // A zero inside a line: the lines take their place in the buffer as
      // a read would have put them there, and the sorts check for it.
      // (Room for them was made sure of when the input was mapped; were it
      // missing, the job fails and the lines are written where they lie.)
      if (!copy_bounded_lines(&table, count, settings.rules.wide, run->sort_buffer.get(),
                                run->sort_buffer_size)) {
        run->failed = true;
      }
      table.zero_free = false;
    }
    if (!sort_lines(&table, count, settings.rules, settings.tuning.sort,
                    run->sort_buffer.get(), run->sort_buffer_size)) {
      run->failed = true;
    }
    const int32_t index = run->run_count++;
    progress_phase(ProgressPhase::kWrite, index + 1, 0);
    if (run->run_writer) {
      run->run_writer(table, count, index);
    } else {
      const RunTarget to{settings.job, run->job_dir, &run->output, run->remaining_bytes > 0,
                         sort_threads(settings.tuning.sort)};
      write_run(to, table, count, index);
    }
    release_mapped_input(run);
    if (run->remaining_bytes > 0) {
      progress_phase(ProgressPhase::kReadSort, index + 2, 0);
    }
    std::memset(table.line_starts.get(), 0, sizeof(char*) * count);
    std::memset(table.line_lengths.get(), 0, sizeof(int32_t) * count);
  }
  table.last_line = -1;
}

void final_flush(const RunSettings& settings, RunState* run) {
  close_input(run);
  write_run(settings, run, run->table.last_line + 1);
  run->reader.next_line = nullptr;
}

// The bytes to ask for at a fill with room bytes free. Wide text is read
// in whole units, so that no unit is split between two fills, except
// where the read reaches the end of the input.
int64_t read_request(const RunState* run, int64_t room, int64_t unconsumed_in_buffer,
                     bool wide) {
  if (!wide) return room;
  int64_t unread = run->remaining_bytes - unconsumed_in_buffer;
  return room >= unread ? room : (room & ~int64_t{1});
}

// Reads the piece of the fill that starts got bytes behind its carried
// bytes, looking it through for zeros while it is still in the
// processor's cache. The bytes delivered, 0 at the end, -1 on error.
int64_t read_piece(RunState* run, int64_t offset, int64_t got, int64_t piece, bool wide) {
  char* at = run->reader.buffer_start + offset + got;
  const int64_t n = platform::read_fd(run->reader.input_fd, at, piece);
  if (n <= 0) return n;
  // Wide units are looked at from even offsets only. The flag is the
  // reading thread's alone while a fill is read ahead.
  LineTable& table = run->table;
  if (table.zero_free &&
      ((wide && ((offset + got) & 1) != 0) || holds_zero(at, n, wide))) {
    table.zero_free = false;
  }
  progress_add(n);
  return n;
}

// The pieces after the first, until the request is read or the input
// ends; an error ends the fill early, and the next read reports it.
void read_rest(RunState* run, bool wide) {
  FillReadAhead& a = run->ahead;
  std::unique_lock<std::mutex> hold(a.lock);
  while (a.got < a.request) {
    const int64_t got = a.got;
    const int64_t piece = std::min(a.request - got, kZeroScanPiece);
    hold.unlock();
    const int64_t n = read_piece(run, a.offset, got, piece, wide);
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
void end_fill(RunState* run, int64_t offset, int64_t got, bool wide) {
  ReaderState& rs = run->reader;
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
int64_t fill(RunState* run, int64_t offset, bool wide) {
  ReaderState& rs = run->reader;
  int64_t request = read_request(run, rs.buffer_capacity - offset, offset, wide);
  int64_t got = 0;
  if (request > 0) {
    // Fresh memory is cleared by the system when first touched, which can
    // cost far more than the copy itself: before a large read, two threads
    // make the pages ready, half each, and the read only copies.
    if (request >= kPrefaultFrom) {
      char* front = rs.buffer_start + offset;
      const int64_t half = request / 2;
      on_threads(2, [front, half, request](int32_t t) {
        if (t == 0) {
          platform::prefault_pages(front, half);
        } else {
          platform::prefault_pages(front + half, request - half);
        }
      });
    }
    const int64_t piece = std::min(request, kZeroScanPiece);
    got = read_piece(run, offset, 0, piece, wide);
    if (got < 0) return -1;
    if (got == piece && got < request) {
      FillReadAhead& a = run->ahead;
      a.offset = offset;
      a.request = request;
      a.got = got;
      a.done = false;
      if (a.worker.start()) {
        a.active = true;
        a.worker.post([run, wide] {
          read_rest(run, wide);
          return true;
        });
        rs.data_end = rs.buffer_start + offset + got;
        return got;
      }
      read_rest(run, wide);  // without the thread, all of it here
      got = a.got;
    }
  }
  end_fill(run, offset, got, wide);
  return got;
}

// Where the lines have been recorded up to the end of the data read so far:
// waits for the next piece of a fill that is still being read, and ends
// the fill once no more comes. False when no fill was being read.
bool more_arrived(RunState* run, bool wide) {
  FillReadAhead& a = run->ahead;
  if (!a.active) return false;
  ReaderState& rs = run->reader;
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
  a.worker.stop();
  a.active = false;
  end_fill(run, a.offset, got, wide);
  return true;
}

// Maps the whole input in place of the first fill where the sort can take
// its lines as they lie: one run of whole lines without /I, large enough
// for the copy to matter, and room in the buffer for a copy of its lines
// should the string sort give up or the input hold a zero byte (unit).
// False, with nothing changed, otherwise.
bool map_input(const RunSettings& settings, RunState* run, bool wide) {
  ReaderState& rs = run->reader;
  const int64_t n = run->remaining_bytes;
  const WholeLineForm form = whole_line_form(settings.rules);
  if (rs.mapped != nullptr || form != (wide ? WholeLineForm::kWide : WholeLineForm::kNarrow) ||
      run->run_count != 0 || run->table.last_line != -1 ||
      n < settings.tuning.map_input_from || n > rs.buffer_capacity ||
      n + 2 > run->sort_buffer_size || (wide && (n & 1) != 0)) {
    return false;
  }
  const char* mapped = platform::map_for_reading(
      rs.input_fd, n, error_line(msg::kReadFailed, settings.job.input_path.c_str()));
  if (mapped == nullptr) return false;
  ZeroScan& z = run->zero_scan;
  z.found = false;
  // Without a thread of its own the scan is made here and now.
  z.worker.start();
  z.worker.post([&z, mapped, n, wide] {
    z.found = holds_zero(mapped, n, wide);
    return true;
  });
  rs.mapped = mapped;
  rs.mapped_size = n;
  // Only read through: the builder writes no zero behind a bounded line.
  rs.buffer_start = const_cast<char*>(mapped);
  rs.data_end = rs.buffer_start + n;
  rs.last_read = n;
  run->table.bounded = true;
  progress_add(n);
  return true;
}

bool open_input(RunState* run, const char* input_path, bool wide) {
  ReaderState& rs = run->reader;
  if (wide && (rs.buffer_capacity & 1) && run->sort_buffer) {
    // An odd capacity can hold an odd last byte, whose unit and the zero
    // unit behind it need two bytes more than budget + 2.
    run->sort_buffer.reset();
    run->sort_buffer.reset(new (std::nothrow) char[rs.buffer_capacity + 4]);
    run->sort_buffer_size = run->sort_buffer ? rs.buffer_capacity + 4 : 0;
  }
  rs.buffer_start = run->sort_buffer.get();
  if (rs.buffer_start == nullptr || rs.buffer_capacity <= 0) {
    stop_failed(run, msg::kNoMemory, nullptr);
    return false;
  }
  // The buffer keeps the system's usual pages. Large ones would make the
  // system gather free memory into 2 MB pieces at the first touch, which
  // costs far more than it saves once other programs have used the
  // machine's memory.
  int fd = platform::open_read(input_path);
  if (fd < 0) {
    stop_failed(run, msg::kNotFound, input_path);
    return false;
  }
  rs.input_fd = fd;
  rs.input_closed = false;
  run->table.zero_free = true;
  rs.next_line = nullptr;
  if (run->table.block_count == 0 && grow_line_table(&run->table) == 0) {
    stop_failed(run, nullptr, nullptr);
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

// One line, with the mode fixed at compile time: the call comes once a
// line, and every test of wide on its way folds away.
template <bool wide>
int build_line(const RunSettings& settings, RunState* run) {
  ReaderState& rs = run->reader;
  LineTable& table = run->table;
  const char* input_path = settings.job.input_path.c_str();
  const int64_t unit = wide ? 2 : 1;
  if (rs.input_closed && !open_input(run, input_path, wide)) return 0;
  if (run->remaining_bytes <= 0) {
    final_flush(settings, run);
    return 0;
  }
  if (rs.next_line == nullptr && map_input(settings, run, wide)) {
    rs.next_line = rs.buffer_start;
  }
  if (rs.next_line == nullptr) {
    int64_t got = fill(run, 0, wide);
    if (got < 0) return stop_failed(run, msg::kReadFailed, input_path);
    if (got == 0) {  // the input is shorter than it was
      final_flush(settings, run);
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
    if (more_arrived(run, wide)) {
      scan = searched;
      continue;
    }
    int64_t piece = rs.data_end - start;
    if (piece >= run->remaining_bytes) {
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
        read_request(run, rs.buffer_capacity - piece, piece, wide) <= 0) {
      return stop_failed(run, msg::kLineTooLong, nullptr);
    }
    write_run(settings, run, table.last_line + 1);
    std::memmove(rs.buffer_start, start, static_cast<size_t>(piece));
    int64_t got = fill(run, piece, wide);
    if (got < 0) return stop_failed(run, msg::kReadFailed, input_path);
    start = rs.buffer_start;
    if (got == 0) {
      // The input ended early (it shrank): the carried piece is its last
      // line.
      if (piece == 0) {
        final_flush(settings, run);
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
  if (length > kMaxLineLength) return stop_failed(run, msg::kLineTooLong, nullptr);
  if (!table.bounded) {
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
  int64_t index = static_cast<int64_t>(table.last_line) + 1;
  if (index >= table_entries(table) && grow_line_table(&table) == 0) {
    return stop_failed(run, nullptr, nullptr);
  }
  table.line_starts[index] = recorded;
  table.line_lengths[index] = static_cast<int32_t>(length);
  table.last_line = static_cast<int32_t>(index);

  rs.next_line = next;
  run->remaining_bytes = std::max<int64_t>(0, run->remaining_bytes - consumed);
  return static_cast<int>((consumed + unit - 1) / unit);
}

}  // namespace

int build_run(const RunSettings& settings, RunState* run) {
  return settings.job.wide_mode ? build_line<true>(settings, run)
                                : build_line<false>(settings, run);
}

void close_run_input(RunState* run) {
  close_input(run);
  release_mapped_input(run);
}

}  // namespace quarnel
