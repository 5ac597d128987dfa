// Copies a result file to standard output; wide text is converted to
// Shift_JIS on the way.
#ifndef QUARNEL_OUTPUT_STDOUT_COPY_H_
#define QUARNEL_OUTPUT_STDOUT_COPY_H_

#include <cstddef>

namespace quarnel {

// Wide text on its way to standard output: the byte order holds for the
// whole stream, and only the stream's first chunk may carry a mark.
struct WideToSjisState {
  bool first_chunk = true;
  bool big_endian = false;
};

// Converts one chunk of n bytes of wide text (n / 2 units; an odd last
// byte is one more unit with a zero high byte) into Shift_JIS bytes in
// out, which holds at least n + 1 bytes; returns the count. A unit
// without a Shift_JIS form becomes one blank. The merge program streams
// its wide output through the same conversion.
size_t convert_wide_chunk(WideToSjisState* state, const unsigned char* chunk,
                          size_t n, char* out);

// 0 after the whole copy, converted when wide. -1, reported, when the file
// cannot be opened or read, or when a write to standard output fails (no
// further output then).
int copy_to_stdout(const char* path, bool wide);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_STDOUT_COPY_H_
