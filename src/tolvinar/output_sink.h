// Where the merge's lines go: they collect in a buffer of about a
// megabyte, and a full buffer leaves in one write, made by a thread of its
// own while the merge fills a second buffer. Wide text for standard output
// is converted to Shift_JIS on the way. A failed write is reported once,
// and nothing more is written.
#ifndef QUARNEL_TOLVINAR_OUTPUT_SINK_H_
#define QUARNEL_TOLVINAR_OUTPUT_SINK_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "output/block_writer.h"
#include "output/stdout_copy.h"

namespace quarnel {

// A multiple of the chunk in which wide text is converted for standard
// output, so that the chunks fall where a copy of the file would cut them.
inline constexpr size_t kStdoutChunk = 16384;
// About a megabyte: each write then copies from memory still in the
// processor's cache.
inline constexpr size_t kOutputBufferSize = 64 * kStdoutChunk;

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

// Takes the descriptor fd (not closed here), labelled by the output's path
// or, empty, as standard output; convert: wide text converted on the way.
// false after a reported failure.
bool open_sink(OutputSink* s, int fd, const std::string& label, bool convert);
// put_bytes for bytes that fill the buffer.
void put_filling(OutputSink* s, const char* data, size_t n);
// Adds n bytes behind those put before.
inline void put_bytes(OutputSink* s, const char* data, size_t n) {
  if (s->used + n < kOutputBufferSize) {
    memcpy(s->buffer.get() + s->used, data, n);
    s->used += n;
    return;
  }
  put_filling(s, data, n);
}
// Writes what is left (none after a failed merge), ends the writer, and
// says whether every write succeeded (a failure reported).
bool close_sink(OutputSink* s, bool merged);

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_OUTPUT_SINK_H_
