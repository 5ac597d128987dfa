#include "tolvinar/output_sink.h"

#include <algorithm>
#include <new>
#include <utility>

#include "console/console.h"
#include "platform/platform.h"
#include "tolvinar/tolvinar_messages.h"

namespace quarnel {

namespace {

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
bool wait_for_writer(OutputSink* s) {
  if (!wait_for_block(&s->writer) && !s->failed) report_write_failure(s);
  return !s->failed;
}

// Sends what the buffer holds on its way: to the writer, once it has
// finished the buffer before, else written here.
void flush(OutputSink* s) {
  if (s->failed || s->used == 0 || !wait_for_writer(s)) {
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

}  // namespace

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

void put_filling(OutputSink* s, const char* data, size_t n) {
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

bool close_sink(OutputSink* s, bool merged) {
  if (merged) flush(s);
  bool ok = wait_for_writer(s);
  stop_block_writer(&s->writer);
  return ok;
}

}  // namespace quarnel
