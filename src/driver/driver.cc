#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "console/progress.h"
#include "handoff/hand_off.h"
#include "output/stdout_copy.h"
#include "options/command_line.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "output/job_folder.h"
#include "input/memory_plan.h"
#include "output/output_file.h"
#include "input/run_builder.h"
#include "output/run_files.h"

namespace quarnel {

namespace {

void print_frame_line(const char* word) {
  platform::LocalTime t = platform::local_time();
  std::string text = console_text(word);
  char stamp[64];
  snprintf(stamp, sizeof(stamp), " %04d/%02d/%02d %02d:%02d:%02d\n", t.year,
           t.month, t.day, t.hour, t.minute, t.second);
  text += stamp;
  write_message(text.data(), text.size());
  fflush(stdout);
}

void delete_runs() {
  for (int32_t i = 0; i < sort_job.run_count; ++i) {
    platform::delete_file(run_file_name(i));
  }
}

// Several runs: the merge program writes the output. 0, or -1 when no
// complete output came of it.
int place_merged() {
  // Identity of a file named "stdout" in the current folder before the
  // merge program ran, so that only a file it made is copied out and
  // deleted.
  const platform::FileIdentity before =
      platform::identify_file(sort_job.output_path);
  int status = hand_to_merge();
  delete_runs();
  // A list file not written completely was reported where it failed, and
  // the merge program was not started on it.
  if (sort_job.failed) return -1;
  // Its reader went away: the job ends as quietly as a one-run job whose
  // own write met the closed pipe, its folder removed.
  if (sort_job.to_stdout && platform::ended_by_broken_pipe(status)) {
    platform::end_by_broken_pipe();
  }
  std::string merge_name = kMergeProgramName;
  if (status == -1 || status == 255) {
    report_error(msg::kMergeMissing, merge_name.c_str());
    return -1;
  }
  if (status != 0) {
    report_error(msg::kMergeFailed, merge_name.c_str());
    return -1;
  }
  if (sort_job.to_stdout) {
    // Our merge program writes to its own standard output; a file named
    // "stdout" is copied only when the merge program made it, never a
    // user's own file of that name.
    const platform::FileIdentity after =
        platform::identify_file(sort_job.output_path);
    if (after.kind == platform::FileKind::kRegular &&
        !platform::same_file(before, after)) {
      int copied = copy_to_stdout(sort_job.output_path.c_str());
      platform::delete_file(sort_job.output_path);
      if (copied != 0) return -1;
    }
  }
  return 0;
}

// Writes the file's bytes into the existing output (a device, a named
// pipe) without creating, truncating or replacing it. 0 or -1.
int write_in_place(const std::string& from, const std::string& to) {
  int in = platform::open_read(from);
  if (in < 0) return -1;
  int out = platform::open_write(to, false, false);
  bool ok = out >= 0;
  const int64_t kChunk = int64_t{1} << 20;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
  if (buffer == nullptr) ok = false;
  while (ok) {
    int64_t got = platform::read_fd(in, buffer.get(), kChunk);
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (platform::write_fd(out, buffer.get(), got) != got) ok = false;
  }
  if (out >= 0 && platform::close_fd(out) != 0) ok = false;
  platform::close_fd(in);
  return ok ? 0 : -1;
}

// One run: it becomes the output in one step, or goes to standard output.
int place_single() {
  std::string run = run_file_name(0);
  if (sort_job.to_stdout) {
    int copied = copy_to_stdout(run.c_str());
    platform::delete_file(run);
    return copied;
  }
  // A device or a named pipe stays what it is and gets the bytes; a file
  // (links followed) is replaced in one step.
  const bool in_place = platform::identify_file(sort_job.output_path).kind ==
                        platform::FileKind::kOther;
  if (in_place) {
    int r = write_in_place(run, sort_job.output_path);
    platform::delete_file(run);
    if (r != 0) report_error(msg::kBadFile, sort_job.output_path.c_str());
    return r;
  }
  if (platform::move_file(run, sort_job.output_path) != 0) {
    report_error(msg::kBadFile, sort_job.output_path.c_str());
    platform::delete_file(run);
    return -1;
  }
  return 0;
}

int sort_and_place() {
  if (plan_memory() != 0) return -1;
  if (make_job_folder() != 0) return -1;
  progress_start(sort_job.remaining_bytes, ProgressPhase::kReadSort, 1, 0,
                 sort_job.to_stdout == 1);
  while (sort_job.build_run(sort_job.input_path.c_str(), 1) > 0) {
  }
  // The last run still being written, when reading stopped on an error.
  settle_output_file();
  // The merge program keeps a line of its own.
  progress_stop();
  release_sort_buffers();
  int result = 0;
  if (sort_job.failed) {
    // A run builder or run writer that met an error leaves no output.
    delete_runs();
    result = -1;
  } else if (sort_job.run_count > 1) {
    result = place_merged();
  } else if (sort_job.run_count == 1) {
    result = place_single();
  }
  remove_job_folder();
  return result;
}

}  // namespace

void release_sort_buffers() {
  sort_job.sort_buffer.reset();
  sort_job.sort_buffer_size = 0;
  release_line_table();
}

void release_buffers() {
  sort_job.key_table.reset();
  sort_job.option_text.reset();
  sort_job.key_text.reset();
  sort_job.token_buffer.reset();
  release_sort_buffers();
}

int read_command_line(int argc, char** argv) {
  if (parse_command_line(argc, argv) != 0) return -1;
  sort_job.build_run = sort_job.wide_mode ? build_run_wide : build_run_narrow;
  return probe_input();
}

int run_quarnel(int argc, char** argv) {
  platform::init_locale();
  if (argc < 3) {
    show_usage();
    return -1;
  }
  print_frame_line(msg::kStart);
  int result = -1;
  if (read_command_line(argc, argv) == 0) result = sort_and_place();
  release_buffers();
  print_frame_line(msg::kEnd);
  return result;
}

}  // namespace quarnel
