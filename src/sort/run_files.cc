// Run files: named from the work directory's digest and the input's base
// name, written line by line through the OutputFile, every line ended.
#include "sort/run_files.h"

#include <cstdio>
#include <string>

#include "options/sort_job.h"
#include "sort/md5.h"
#include "sort/output_file.h"
#include "sort/run_builder.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

const unsigned char kNarrowLineEnd[2] = {0x0D, 0x0A};
const unsigned char kWideLineEnd[4] = {0x0D, 0x00, 0x0A, 0x00};

// One line's bytes (or units), then its line end; the loop that stops
// after a failed line is the caller's.
int write_lines(const std::string& path, int32_t line_count, int32_t unit_size,
                const unsigned char* line_end, int32_t line_end_size) {
  // Sorted lines lie scattered over the buffer; asking for them a few
  // lines ahead hides most of the wait for memory behind the copying.
  constexpr int32_t kAhead = 12;
  for (int32_t i = 0; i < line_count; ++i) {
    if (i + kAhead < line_count) {
      const char* ahead = line_table.line_starts[i + kAhead];
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + 64);
    }
    int r = write_buffered(path.c_str(), line_table.line_starts[i],
                           line_table.line_lengths[i] * unit_size);
    // After a failed open (reported) one more try; the job has already
    // been marked failed, so whatever this file receives now is never
    // taken for a finished run.
    if (retry_failed_open(path.c_str()) != 0) break;
    append_line_end(line_end, line_end_size);
    if (r < 0) break;
  }
  close_output_file();
  return 0;
}

}  // namespace

const char* work_dir_digest() {
  static char digest_text[33];
  Md5Context context;
  md5_init(&context);
  md5_update(&context, sort_job.work_dir.data(), sort_job.work_dir.size());
  unsigned char digest[16];
  md5_final(&context, digest);
  for (int i = 0; i < 16; ++i) {
    snprintf(digest_text + 2 * i, 3, "%02X", digest[i]);
  }
  digest_text[32] = '\0';
  return digest_text;
}

const char* run_file_name(int32_t run_index) {
  static std::string name;
  const char* path = sort_job.input_path.c_str();
  const char* last = find_last_separator(path);
  const char* base = last == nullptr ? path : last + 1;
  const std::string& folder =
      sort_job.job_dir.empty() ? sort_job.work_dir : sort_job.job_dir;

  char tail[64];
  snprintf(tail, sizeof(tail), "%.16s%.32s.%03d", work_dir_digest(), base,
           static_cast<int>(run_index));
  name = folder;
  name += tail;
  return name.c_str();
}

int write_run_narrow(int32_t line_count, int32_t run_index) {
  std::string path = run_file_name(run_index);
  return write_lines(path, line_count, 1, kNarrowLineEnd, 2);
}

int write_run_wide(int32_t line_count, int32_t run_index) {
  std::string path = run_file_name(run_index);
  // The mark opens the file even when there is none to write, so that a
  // run without lines still exists.
  if (write_buffered(path.c_str(), sort_job.input_bom.data(),
                     static_cast<int32_t>(sort_job.input_bom.size())) < 0) {
    close_output_file();
  }
  return write_lines(path, line_count, 2, kWideLineEnd, 4);
}

}  // namespace quarnel
