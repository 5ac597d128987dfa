// Run files: named from the work directory's digest and the input's base
// name, written through the OutputFile a piece of lines at a time, every
// line ended.
#include "output/run_files.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "output/md5.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

const unsigned char kNarrowLineEnd[2] = {0x0D, 0x0A};
const unsigned char kWideLineEnd[4] = {0x0D, 0x00, 0x0A, 0x00};

// Copies lines first .. last-1, each followed by its line end, to out.
void gather(const LineTable& table, int32_t first, int32_t last, int32_t unit_size,
            const unsigned char* line_end, int32_t line_end_size, char* out) {
  // Sorted lines lie scattered over the buffer; asking for them a few
  // lines ahead hides most of the wait for memory behind the copying.
  constexpr int32_t kAhead = 12;
  char* const* starts = table.line_starts.get();
  const int32_t* lengths = table.line_lengths.get();
  for (int32_t i = first; i < last; ++i) {
    if (i + kAhead < last) {
      __builtin_prefetch(starts[i + kAhead]);
      __builtin_prefetch(starts[i + kAhead] + 64);
    }
    const size_t n = static_cast<size_t>(lengths[i]) * static_cast<size_t>(unit_size);
    memcpy(out, starts[i], n);
    out += n;
    memcpy(out, line_end, static_cast<size_t>(line_end_size));
    out += line_end_size;
  }
}

// Runs of fewer lines are copied by the calling thread alone.
constexpr int32_t kHelpFrom = 50000;
// The largest run gathered whole.
constexpr int64_t kWholeRunLimit = int64_t{128} << 20;

// Whether the run is the job's only one, which is renamed into place as
// the result and not read again: not so for standard output, a device or
// pipe (the run is copied there), or a result on another file system than
// the work folder (copied too).
bool becomes_result_as_is(const RunTarget& to, int32_t run_index) {
  if (run_index != 0 || to.more_input || to.job.to_stdout) return false;
  const std::string target = platform::follow_links(to.job.output_path);
  platform::FileIdentity out = platform::identify_file(target);
  if (out.kind == platform::FileKind::kMissing) {
    out = platform::identify_file(containing_folder(target));
    if (out.kind != platform::FileKind::kDirectory) return false;
  } else if (out.kind != platform::FileKind::kRegular) {
    return false;
  }
  const platform::FileIdentity folder = platform::identify_file(runs_folder(to));
  return folder.kind == platform::FileKind::kDirectory && folder.device == out.device;
}

// Every line's bytes (or units), then its line end, a piece of the output
// buffer at a time; stops at the first failed write. A result is handed
// back to the system as it is written (see write_behind.h).
void write_lines(const RunTarget& to, const std::string& path, const LineTable& table,
                 int32_t line_count, int32_t unit_size, const unsigned char* line_end,
                 int32_t line_end_size, bool result) {
  OutputFile* f = to.file;
  if (line_count <= 0) {
    close_output_file(f);
    return;
  }
  write_buffered(f, path.c_str(), nullptr, 0);
  // After a failed open (reported) one more try; the file has already been
  // marked failed, so whatever it receives now is never taken for a
  // finished run.
  if (retry_failed_open(f, path.c_str()) != 0) {
    close_output_file(f);
    return;
  }
  if (result) hand_back_written_pages(f);
  // The copying waits on memory, and one thread can keep only so many
  // lines on their way: a second one copies the back half of each piece's
  // lines.
  Worker helper;
  if (line_count >= kHelpFrom && to.threads >= 2) helper.start();
  char* const* starts = table.line_starts.get();
  const int32_t* lengths = table.line_lengths.get();
  auto bytes_of = [&](int32_t i) {
    return int64_t{lengths[i]} * unit_size + line_end_size;
  };
  int64_t total = 0;
  for (int32_t i = 0; i < line_count; ++i) total += bytes_of(i);
  reserve_output_space(f, total);
  // With more input to come, a run of modest size is gathered whole and
  // written while the next one is read and sorted; its buffer is about
  // the size of the sort buffer, which bounds the memory it adds.
  if (to.more_input && total <= kWholeRunLimit) begin_whole_file(f, total);
  const int64_t limit = piece_size(f);
  int32_t i = 0;
  while (i < line_count) {
    int64_t bytes = 0;
    int32_t j = i;
    while (j < line_count && bytes + bytes_of(j) <= limit) bytes += bytes_of(j++);
    if (j == i) {
      // A line larger than a piece goes in on its own.
      int r = write_buffered(f, path.c_str(), starts[i], lengths[i] * unit_size);
      append_line_end(f, line_end, line_end_size);
      if (r < 0) break;
      ++i;
      continue;
    }
    char* out = piece_space(f, static_cast<int32_t>(bytes));
    if (out == nullptr) break;
    if (helper.running() && j - i >= 64) {
      int64_t front = 0;
      int32_t middle = i;
      while (middle < j && 2 * front < bytes) front += bytes_of(middle++);
      char* back = out + front;
      helper.post([&table, middle, j, unit_size, line_end, line_end_size, back] {
        gather(table, middle, j, unit_size, line_end, line_end_size, back);
        return true;
      });
      gather(table, i, middle, unit_size, line_end, line_end_size, out);
      helper.wait();
    } else {
      gather(table, i, j, unit_size, line_end, line_end_size, out);
    }
    piece_added(f, static_cast<int32_t>(bytes));
    i = j;
  }
  helper.stop();
  close_output_file(f);
}

}  // namespace

std::string work_dir_digest(const std::string& work_dir) {
  Md5Context context;
  md5_init(&context);
  md5_update(&context, work_dir.data(), work_dir.size());
  unsigned char digest[16];
  md5_final(&context, digest);
  char text[33];
  for (int i = 0; i < 16; ++i) {
    snprintf(text + 2 * i, 3, "%02X", digest[i]);
  }
  text[32] = '\0';
  return text;
}

const std::string& runs_folder(const RunTarget& to) {
  return to.job_dir.empty() ? to.job.work_dir : to.job_dir;
}

std::string run_file_name(const RunTarget& to, int32_t run_index) {
  const char* path = to.job.input_path.c_str();
  const char* last = find_last_separator(path);
  const char* base = last == nullptr ? path : last + 1;
  char tail[64];
  snprintf(tail, sizeof(tail), "%.16s%.32s.%03d", work_dir_digest(to.job.work_dir).c_str(),
           base, static_cast<int>(run_index));
  return runs_folder(to) + tail;
}

void write_run(const RunTarget& to, const LineTable& table, int32_t line_count,
               int32_t run_index) {
  const std::string path = run_file_name(to, run_index);
  const bool result = becomes_result_as_is(to, run_index);
  if (!to.job.wide_mode) {
    write_lines(to, path, table, line_count, 1, kNarrowLineEnd, 2, result);
    return;
  }
  // The mark opens the file even when there is none to write, so that a
  // run without lines still exists.
  if (write_buffered(to.file, path.c_str(), to.job.input_bom.data(),
                     static_cast<int32_t>(to.job.input_bom.size())) < 0) {
    close_output_file(to.file);
  }
  write_lines(to, path, table, line_count, 2, kWideLineEnd, 4, result);
}

}  // namespace quarnel
