// The one buffered writer. A write that cannot be completed is reported
// and also marks the file failed, which fails the job, so that a run or
// list that is missing, empty or cut short never passes for a finished one.
#include "output/output_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "output/block_writer.h"
#include "output/write_behind.h"
#include "text/sjis.h"

namespace quarnel {

OutputFile::OutputFile() = default;

// A file still being written when its owner goes has its last piece
// written first: the thread must not outlive the record it writes from.
OutputFile::~OutputFile() {
  if (writer != nullptr) stop_block_writer(writer.get());
}

namespace {

constexpr int32_t kLargestBuffer = 256000000;
constexpr int32_t kBufferStep = 1000000;
// Buffered bytes are written out in pieces of about this size. The kernel
// then copies from memory that is still in the processor's cache, and the
// pages of the large buffer past the first piece are never touched, which
// halves the cost of writing a run against one write per full buffer.
constexpr int32_t kWriteOutSize = 1 << 20;
// From this capacity on, the buffer's two halves take turns: a thread of
// its own writes the full piece of one half while the next piece fills the
// other, so that the kernel's copy into the page cache overlaps with
// gathering the scattered sorted lines. The pieces are half as large then,
// so that the memory touched stays the same.
constexpr int32_t kOverlapFrom = 4 << 20;

// Every write of the open file goes through here, on whichever thread
// writes it (one at a time).
bool write_out(OutputFile* f, const char* data, int64_t n) {
  const auto start = std::chrono::steady_clock::now();
  if (platform::write_fd(f->descriptor, data, n) != n) return false;
  note_written(&f->behind, f->descriptor, n, std::chrono::steady_clock::now() - start);
  return true;
}

bool write_piece(void* context, const char* data, size_t size) {
  return write_out(static_cast<OutputFile*>(context), data, static_cast<int64_t>(size));
}

bool start_writer(OutputFile* f) {
  if (f->writer == nullptr) f->writer.reset(new (std::nothrow) BlockWriter);
  return f->writer != nullptr && start_block_writer(f->writer.get(), &write_piece, f);
}

// Waits until the piece handed over is in the file; false (once) when a
// piece could not be written.
bool wait_for_writer(OutputFile* f) {
  return f->writer == nullptr || wait_for_block(f->writer.get());
}

// Ends the thread once its piece is written; false as wait_for_writer.
// The hand-back steps those writes asked for are taken too, so that none
// reaches the file's descriptor once it is closed.
bool stop_writer(OutputFile* f) {
  const bool ok = f->writer == nullptr || stop_block_writer(f->writer.get());
  end_write_behind();
  return ok;
}

bool overlapped(const OutputFile* f) {
  return f->capacity >= kOverlapFrom && !f->whole;
}

// The bytes one piece may take: its half, or the whole buffer.
int64_t piece_room(const OutputFile* f) {
  return overlapped(f) ? f->capacity / 2 : f->capacity;
}

void report_and_fail(OutputFile* f, const char* message, const char* path) {
  if (path != nullptr) {
    report_info(message, path);
  } else {
    report_info(message);
  }
  fflush(stderr);
  f->failed = true;
}

bool file_is_open(const OutputFile* f) {
  return f->buffer != nullptr && f->descriptor >= 0;
}

// Hands the piece being filled to the writer thread, or writes it in
// place. False after a failed write.
bool flush_buffered(OutputFile* f) {
  if (f->used == 0) return true;
  char* piece = f->buffer.get() + f->piece_start;
  if (f->whole) {
    // Started in begin_whole_file; the piece is the file's last.
    hand_block(f->writer.get(), piece, static_cast<size_t>(f->used));
    f->used = 0;
    f->close_pending = true;
    return true;
  }
  if (overlapped(f) && start_writer(f)) {
    // The other half is free again once its piece is written.
    if (!wait_for_writer(f)) return false;
    hand_block(f->writer.get(), piece, static_cast<size_t>(f->used));
    f->piece_start = f->piece_start == 0 ? f->capacity / 2 : 0;
    f->used = 0;
    return true;
  }
  if (!write_out(f, piece, f->used)) return false;
  // Written once only, whatever happens to the piece.
  f->used = 0;
  return true;
}

// The bytes after which a piece is written out.
int32_t piece_limit(const OutputFile* f) {
  if (f->whole) return f->capacity - 1;
  return overlapped(f) ? kWriteOutSize / 2 : kWriteOutSize;
}

// Ends the writing of a file begun whole: its piece written and the file
// closed, each checked.
void finish_pending_close(OutputFile* f) {
  if (!f->close_pending) return;
  f->close_pending = false;
  bool ok = stop_writer(f);
  // A delayed write error (a full disk on some file systems) shows up
  // only at the close.
  if (platform::close_fd(f->descriptor) != 0) ok = false;
  if (!ok) report_and_fail(f, msg::kDiskFull, nullptr);
  f->descriptor = 0;
  f->whole = false;
}

// Appends when the piece leaves room in its part of the buffer; else
// writes out the buffered bytes and then the piece itself, so that a piece
// is never split. False after a failed write.
bool put(OutputFile* f, const void* data, int32_t length) {
  if (static_cast<int64_t>(f->used) + length < piece_room(f)) {
    if (f->used + length > piece_limit(f) && !flush_buffered(f)) return false;
    memcpy(f->buffer.get() + f->piece_start + f->used, data, static_cast<size_t>(length));
    f->used += length;
    return true;
  }
  if (!flush_buffered(f) || !wait_for_writer(f)) return false;
  return write_out(f, static_cast<const char*>(data), length);
}

}  // namespace

OutputFile* open_output_file(OutputFile* f, const char* path) {
  // The file before, begun whole, is finished first; its buffer serves
  // the new one.
  const bool reuse = f->close_pending;
  if (reuse) {
    finish_pending_close(f);
  } else {
    // A piece still on its way belongs to the file that was open.
    if (!stop_writer(f)) report_and_fail(f, msg::kDiskFull, nullptr);
    if (file_is_open(f)) platform::close_fd(f->descriptor);
    f->buffer.reset();
    f->capacity = 0;
  }
  f->descriptor = 0;
  f->used = 0;
  f->piece_start = 0;

  int fd = platform::open_write(path, true, true);
  if (fd < 0) {
    // A file that is there but may not be written: let its owner write
    // it, then try once more.
    grant_owner_access(path);
    fd = platform::open_write(path, true, true);
  }
  if (fd < 0) {
    f->descriptor = -1;
    return nullptr;
  }
  f->descriptor = fd;
  begin_write_behind(&f->behind, false, f->behind_tuning);
  if (f->buffer != nullptr) return f;

  // Pages of the buffer that are never touched cost no memory, so the
  // large buffer is cheap for a small file.
  for (int32_t capacity = kLargestBuffer; capacity >= kBufferStep;
       capacity -= kBufferStep) {
    char* buffer = new (std::nothrow) char[static_cast<size_t>(capacity)];
    if (buffer != nullptr) {
      f->buffer.reset(buffer);
      f->capacity = capacity;
      return f;
    }
  }
  report_info(msg::kNoResources);
  fflush(stderr);
  // The file stays created and empty; its descriptor is not kept.
  platform::close_fd(fd);
  f->descriptor = -1;
  return nullptr;
}

int write_buffered(OutputFile* f, const char* path, const void* data, int32_t length) {
  if (f->needs_open) {
    make_directories(directory_of(path));
    if (open_output_file(f, path) == nullptr) {
      report_and_fail(f, msg::kCannotOpenForWrite, path);
      return -1;
    }
    f->needs_open = false;
  }
  if (length <= 0) return 0;
  if (!put(f, data, length)) {
    report_and_fail(f, msg::kDiskFull, nullptr);
    return -1;
  }
  return length;
}

int retry_failed_open(OutputFile* f, const char* path) {
  if (!f->needs_open) return 0;
  make_directories(directory_of(path));
  if (open_output_file(f, path) == nullptr) {
    report_info(msg::kCannotOpenForWrite, path);
    fflush(stderr);
    return -1;
  }
  f->needs_open = false;
  return 0;
}

int32_t piece_size(const OutputFile* f) {
  const int64_t room = piece_room(f) - 1;
  return static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(piece_limit(f), room)));
}

char* piece_space(OutputFile* f, int32_t length) {
  if (!file_is_open(f) || length > piece_size(f)) return nullptr;
  if (f->used + length > piece_size(f) && !flush_buffered(f)) {
    report_and_fail(f, msg::kDiskFull, nullptr);
    return nullptr;
  }
  return f->buffer.get() + f->piece_start + f->used;
}

void piece_added(OutputFile* f, int32_t length) { f->used += length; }

void append_line_end(OutputFile* f, const void* bytes, int32_t count) {
  if (!file_is_open(f) || count <= 0) return;
  if (!put(f, bytes, count)) report_and_fail(f, msg::kDiskFull, nullptr);
}

void hand_back_written_pages(OutputFile* f) {
  if (file_is_open(f)) f->behind.allowed = true;
}

void reserve_output_space(OutputFile* f, int64_t bytes) {
  if (file_is_open(f) && bytes > 0) {
    platform::reserve_space(f->descriptor, f->behind.written + f->used + bytes);
  }
}

bool begin_whole_file(OutputFile* f, int64_t bytes) {
  if (!file_is_open(f) || f->whole || f->piece_start != 0 ||
      f->used + bytes >= f->capacity || !wait_for_writer(f) || !start_writer(f)) {
    return false;
  }
  f->whole = true;
  return true;
}

void close_output_file(OutputFile* f) {
  if (f->whole && file_is_open(f)) {
    if (!flush_buffered(f)) report_and_fail(f, msg::kDiskFull, nullptr);
    if (f->close_pending) {
      f->needs_open = true;
      return;
    }
    // Nothing was left to hand over: closed here as any other file.
    f->whole = false;
  }
  // The last piece, and the one the writer may still hold, reach the file
  // before it is closed.
  bool written = flush_buffered(f);
  written = stop_writer(f) && written;
  if (!written) report_and_fail(f, msg::kDiskFull, nullptr);
  f->used = 0;
  f->piece_start = 0;
  if (file_is_open(f)) {
    // A delayed write error (a full disk on some file systems) shows up
    // only here.
    if (platform::close_fd(f->descriptor) != 0) {
      report_and_fail(f, msg::kDiskFull, nullptr);
    }
  }
  f->descriptor = 0;
  f->buffer.reset();
  f->capacity = 0;
  f->needs_open = true;
}

void finish_output_file(OutputFile* f) {
  if (!f->close_pending) return;
  finish_pending_close(f);
  f->buffer.reset();
  f->capacity = 0;
  f->used = 0;
  f->piece_start = 0;
}

void make_directories(const char* directory) {
  if (directory == nullptr || *directory == '\0') return;
  if (platform::exists(directory)) return;
  const std::string path(directory);
  const char separator = platform::kPathSeparator;
  // An absolute path is walked from the root, a relative one from the
  // current directory.
  std::string built = path[0] == separator ? std::string(1, separator) : "";
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find(separator, at);
    if (end == std::string::npos) end = path.size();
    if (end > at) {
      if (!built.empty() && built.back() != separator) built += separator;
      built.append(path, at, end - at);
      if (!platform::exists(built) && platform::make_directory(built) != 0) {
        return;
      }
    }
    at = end + 1;
  }
}

int grant_owner_access(const char* path) {
  // Read and write for the owner only: a file is never made writable for
  // everyone on a shared machine.
  return platform::make_writable(path);
}

}  // namespace quarnel
