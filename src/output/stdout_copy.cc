// Copies a result file to standard output in chunks of 16384 bytes; wide
// text becomes Shift_JIS (code page 932) on the way, one unit at a time.
#include "output/stdout_copy.h"

#include <cstdint>

#include "console/console.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "text/cp932.h"

namespace quarnel {

namespace {

constexpr int64_t kChunkSize = 16384;
constexpr int kStandardOutput = 1;

}  // namespace

size_t convert_wide_chunk(WideToSjisState* state, const unsigned char* chunk,
                          size_t n, char* out) {
  size_t at = 0;
  if (state->first_chunk && n > 0) {
    state->first_chunk = false;
    if (n >= 2 && chunk[0] == 0xFF && chunk[1] == 0xFE) at = 2;
    if (n >= at + 2 && chunk[at] == 0xFE && chunk[at + 1] == 0xFF) {
      at += 2;
      state->big_endian = true;
    }
  }
  size_t produced = 0;
  for (; at < n; at += 2) {
    // An odd last byte is one more unit with a zero high byte.
    uint16_t low = chunk[at];
    uint16_t high = at + 1 < n ? chunk[at + 1] : 0;
    uint16_t unit = state->big_endian ? static_cast<uint16_t>((low << 8) | high)
                                      : static_cast<uint16_t>((high << 8) | low);
    if (unit == 0) {
      // A NUL unit is kept as a NUL byte and the chunk goes on: the text
      // behind it is data too (narrow output keeps NUL bytes the same way).
      out[produced++] = '\0';
      continue;
    }
    unsigned char bytes[2];
    int count = cp932_from_unicode(unit, bytes);
    if (count == 1) {
      out[produced++] = static_cast<char>(bytes[0]);
    } else if (count == 2) {
      out[produced++] = static_cast<char>(bytes[0]);
      out[produced++] = static_cast<char>(bytes[1]);
    } else {
      // No Shift_JIS form, a surrogate half included.
      out[produced++] = ' ';
    }
  }
  return produced;
}

int copy_to_stdout(const char* path, bool wide) {
  int fd = platform::open_read(path);
  if (fd < 0) {
    report_error(msg::kReadFailed, path);
    return -1;
  }
  unsigned char chunk[kChunkSize];
  char converted[kChunkSize + 1];
  WideToSjisState state;
  int result = 0;
  for (;;) {
    int64_t n = platform::read_fd(fd, chunk, kChunkSize);
    if (n < 0) {
      report_error(msg::kReadFailed, path);
      result = -1;
    }
    if (n <= 0) break;
    const char* out = reinterpret_cast<const char*>(chunk);
    int64_t count = n;
    if (wide) {
      count = static_cast<int64_t>(
          convert_wide_chunk(&state, chunk, static_cast<size_t>(n), converted));
      out = converted;
    }
    // Output with a hole in it is worse than output that stops.
    if (count > 0 && platform::write_fd(kStandardOutput, out, count) != count) {
      report_error(msg::kStdoutFailed, nullptr);
      result = -1;
      break;
    }
  }
  platform::close_fd(fd);
  return result;
}

}  // namespace quarnel
