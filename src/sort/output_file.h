// The one buffered writer through which run files and the merge list are
// written: it opens its file on the first write (making missing folders
// first, and once more after making the file writable), collects bytes in
// a large buffer and writes them a buffer-full at a time.
#ifndef QUARNEL_SORT_OUTPUT_FILE_H_
#define QUARNEL_SORT_OUTPUT_FILE_H_

#include <cstdint>
#include <memory>

namespace quarnel {

struct OutputFile {
  int32_t descriptor = 0;  // 0 when none is open, -1 after a failed open
  std::unique_ptr<char[]> buffer;
  int32_t capacity = 0;
  int32_t used = 0;
};

extern OutputFile output_file;
// While set, the next write_buffered opens its path first.
extern bool needs_open;

OutputFile* open_output_file(const char* path);
int write_buffered(const char* path, const void* data, int32_t length);
void append_line_end(const void* bytes, int32_t count);
void close_output_file();
void make_directories(const char* directory);
int grant_everyone_access(const char* path);

}  // namespace quarnel

#endif  // QUARNEL_SORT_OUTPUT_FILE_H_
