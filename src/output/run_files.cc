// Run files: named from the work directory's digest and the input's base
// name, written through the OutputFile a piece of lines at a time, every
// line ended.
#include "output/run_files.h"

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "options/sort_job.h"
#include "platform/platform.h"
#include "output/md5.h"
#include "output/output_file.h"
#include "order/quicksort.h"
#include "order/line_table.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

const unsigned char kNarrowLineEnd[2] = {0x0D, 0x0A};
const unsigned char kWideLineEnd[4] = {0x0D, 0x00, 0x0A, 0x00};

// Copies lines first .. last-1, each followed by its line end, to out.
void gather(int32_t first, int32_t last, int32_t unit_size,
            const unsigned char* line_end, int32_t line_end_size, char* out) {
  // Sorted lines lie scattered over the buffer; asking for them a few
  // lines ahead hides most of the wait for memory behind the copying.
  constexpr int32_t kAhead = 12;
  char* const* starts = line_table.line_starts.get();
  const int32_t* lengths = line_table.line_lengths.get();
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

// The copying waits on memory, and one thread can keep only so many lines
// on their way: a second one copies the back half of each piece's lines.
struct GatherHelper {
  std::mutex lock;
  std::condition_variable wake;
  std::thread thread;
  bool running = false;
  bool busy = false;  // a job is handed over and not yet done
  bool quit = false;
  int32_t first = 0;
  int32_t last = 0;
  char* out = nullptr;
  int32_t unit_size = 1;
  const unsigned char* line_end = nullptr;
  int32_t line_end_size = 0;
};

void help_gather(GatherHelper* h) {
  std::unique_lock<std::mutex> hold(h->lock);
  for (;;) {
    h->wake.wait(hold, [h] { return h->busy || h->quit; });
    if (!h->busy) return;
    hold.unlock();
    gather(h->first, h->last, h->unit_size, h->line_end, h->line_end_size, h->out);
    hold.lock();
    h->busy = false;
    h->wake.notify_all();
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
bool becomes_result_as_is(int32_t run_index) {
  if (run_index != 0 || sort_job.remaining_bytes > 0 || sort_job.to_stdout) {
    return false;
  }
  const std::string target = platform::follow_links(sort_job.output_path);
  platform::FileIdentity out = platform::identify_file(target);
  if (out.kind == platform::FileKind::kMissing) {
    out = platform::identify_file(folder_of(target));
    if (out.kind != platform::FileKind::kDirectory) return false;
  } else if (out.kind != platform::FileKind::kRegular) {
    return false;
  }
  const std::string& work = sort_job.job_dir.empty() ? sort_job.work_dir : sort_job.job_dir;
  const platform::FileIdentity folder = platform::identify_file(work);
  return folder.kind == platform::FileKind::kDirectory && folder.device == out.device;
}

// Every line's bytes (or units), then its line end, a piece of the output
// buffer at a time; stops at the first failed write. A result is handed
// back to the system as it is written (see write_behind.h).
int write_lines(const std::string& path, int32_t line_count, int32_t unit_size,
                const unsigned char* line_end, int32_t line_end_size,
                bool result) {
  if (line_count <= 0) {
    close_output_file();
    return 0;
  }
  write_buffered(path.c_str(), nullptr, 0);
  // After a failed open (reported) one more try; the job has already been
  // marked failed, so whatever this file receives now is never taken for a
  // finished run.
  if (retry_failed_open(path.c_str()) != 0) {
    close_output_file();
    return 0;
  }
  if (result) hand_back_written_pages();
  GatherHelper helper;
  if (line_count >= kHelpFrom && sort_threads() >= 2) {
    try {
      helper.thread = std::thread(help_gather, &helper);
      helper.running = true;
    } catch (const std::system_error&) {
      // One thread copies everything.
    }
  }
  char* const* starts = line_table.line_starts.get();
  const int32_t* lengths = line_table.line_lengths.get();
  auto bytes_of = [&](int32_t i) {
    return int64_t{lengths[i]} * unit_size + line_end_size;
  };
  int64_t total = 0;
  for (int32_t i = 0; i < line_count; ++i) total += bytes_of(i);
  reserve_output_space(total);
  // With more input to come, a run of modest size is gathered whole and
  // written while the next one is read and sorted; its buffer is about
  // the size of the sort buffer, which bounds the memory it adds.
  if (sort_job.remaining_bytes > 0 && total <= kWholeRunLimit) begin_whole_file(total);
  const int64_t limit = piece_size();
  int32_t i = 0;
  while (i < line_count) {
    int64_t bytes = 0;
    int32_t j = i;
    while (j < line_count && bytes + bytes_of(j) <= limit) bytes += bytes_of(j++);
    if (j == i) {
      // A line larger than a piece goes in on its own.
      int r = write_buffered(path.c_str(), starts[i], lengths[i] * unit_size);
      append_line_end(line_end, line_end_size);
      if (r < 0) break;
      ++i;
      continue;
    }
    char* out = piece_space(static_cast<int32_t>(bytes));
    if (out == nullptr) break;
    if (helper.running && j - i >= 64) {
      int64_t front = 0;
      int32_t middle = i;
      while (middle < j && 2 * front < bytes) front += bytes_of(middle++);
      {
        std::lock_guard<std::mutex> hold(helper.lock);
        helper.first = middle;
        helper.last = j;
        helper.out = out + front;
        helper.unit_size = unit_size;
        helper.line_end = line_end;
        helper.line_end_size = line_end_size;
        helper.busy = true;
      }
      helper.wake.notify_all();
      gather(i, middle, unit_size, line_end, line_end_size, out);
      std::unique_lock<std::mutex> hold(helper.lock);
      helper.wake.wait(hold, [&helper] { return !helper.busy; });
    } else {
      gather(i, j, unit_size, line_end, line_end_size, out);
    }
    piece_added(static_cast<int32_t>(bytes));
    i = j;
  }
  if (helper.running) {
    {
      std::lock_guard<std::mutex> hold(helper.lock);
      helper.quit = true;
    }
    helper.wake.notify_all();
    helper.thread.join();
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
  return write_lines(path, line_count, 1, kNarrowLineEnd, 2,
                     becomes_result_as_is(run_index));
}

int write_run_wide(int32_t line_count, int32_t run_index) {
  std::string path = run_file_name(run_index);
  // The mark opens the file even when there is none to write, so that a
  // run without lines still exists.
  if (write_buffered(path.c_str(), sort_job.input_bom.data(),
                     static_cast<int32_t>(sort_job.input_bom.size())) < 0) {
    close_output_file();
  }
  return write_lines(path, line_count, 2, kWideLineEnd, 4,
                     becomes_result_as_is(run_index));
}

}  // namespace quarnel
