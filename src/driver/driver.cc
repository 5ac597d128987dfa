#include "driver/driver.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "console/progress.h"
#include "handoff/hand_off.h"
#include "input/memory_plan.h"
#include "input/run_builder.h"
#include "input/run_state.h"
#include "options/command_line.h"
#include "options/sort_job.h"
#include "order/compare_rules.h"
#include "output/job_folder.h"
#include "output/output_file.h"
#include "output/run_files.h"
#include "output/stdout_copy.h"
#include "platform/platform.h"

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

void delete_runs(const SortJob& job, RunState* run) {
  const RunTarget to{job, run->job_dir, &run->output, false};
  for (int32_t i = 0; i < run->run_count; ++i) {
    platform::delete_file(run_file_name(to, i));
  }
}

// Several runs: the merge program writes the output. 0, or -1 when no
// complete output came of it.
int place_merged(const SortJob& job, RunState* run) {
  // Identity of a file named "stdout" in the current folder before the
  // merge program ran, so that only a file it made is copied out and
  // deleted.
  const platform::FileIdentity before = platform::identify_file(job.output_path);
  int status = hand_to_merge(job, run);
  delete_runs(job, run);
  // A list file not written completely was reported where it failed, and
  // the merge program was not started on it.
  if (run_failed(*run)) return -1;
  // Its reader went away: the job ends as quietly as a one-run job whose
  // own write met the closed pipe, its folder removed.
  if (job.to_stdout && platform::ended_by_broken_pipe(status)) {
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
  if (job.to_stdout) {
    // Our merge program writes to its own standard output; a file named
    // "stdout" is copied only when the merge program made it, never a
    // user's own file of that name.
    const platform::FileIdentity after = platform::identify_file(job.output_path);
    if (after.kind == platform::FileKind::kRegular &&
        !platform::same_file(before, after)) {
      int copied = copy_to_stdout(job.output_path.c_str(), job.wide_mode);
      platform::delete_file(job.output_path);
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
int place_single(const SortJob& job, RunState* run) {
  const std::string path = run_file_name(RunTarget{job, run->job_dir, &run->output, false}, 0);
  if (job.to_stdout) {
    int copied = copy_to_stdout(path.c_str(), job.wide_mode);
    platform::delete_file(path);
    return copied;
  }
  // A device or a named pipe stays what it is and gets the bytes; a file
  // (links followed) is replaced in one step.
  const bool in_place =
      platform::identify_file(job.output_path).kind == platform::FileKind::kOther;
  if (in_place) {
    int r = write_in_place(path, job.output_path);
    platform::delete_file(path);
    if (r != 0) report_error(msg::kBadFile, job.output_path.c_str());
    return r;
  }
  if (platform::move_file(path, job.output_path) != 0) {
    report_error(msg::kBadFile, job.output_path.c_str());
    platform::delete_file(path);
    return -1;
  }
  return 0;
}

int sort_and_place(const RunSettings& settings, RunState* run) {
  const SortJob& job = settings.job;
  if (plan_memory(job, run) != 0) return -1;
  if (make_job_folder(job.work_dir, &run->job_dir) != 0) return -1;
  progress_start(run->remaining_bytes, ProgressPhase::kReadSort, 1, 0, job.to_stdout);
  while (build_run(settings, run) > 0) {
  }
  // The last run still being written, when reading stopped on an error.
  finish_output_file(&run->output);
  // The merge program keeps a line of its own.
  progress_stop();
  release_sort_buffers(run);
  int result = 0;
  if (run_failed(*run)) {
    // A run builder or run writer that met an error leaves no output.
    delete_runs(job, run);
    result = -1;
  } else if (run->run_count > 1) {
    result = place_merged(job, run);
  } else if (run->run_count == 1) {
    result = place_single(job, run);
  }
  remove_job_folder(&run->job_dir);
  return result;
}

}  // namespace

void release_sort_buffers(RunState* run) {
  run->sort_buffer.reset();
  run->sort_buffer_size = 0;
  release_line_table(&run->table);
}

int read_command_line(int argc, char** argv, SortJob* job, RunState* run) {
  if (parse_command_line(argc, argv, job) != 0) return -1;
  return probe_input(*job, run);
}

int run_quarnel(int argc, char** argv) {
  platform::init_locale();
  if (argc == 2) {
    switch (answer_question("Quarnel", argv[1], msg::kHelp)) {
      case Question::kAnswered:
        return 0;
      case Question::kNotAnswered:
        return -1;
      case Question::kNotAsked:
        break;
    }
  }
  if (argc < 3) {
    show_usage();
    return -1;
  }
  print_frame_line(msg::kStart);
  int result = -1;
  {
    SortJob job;
    RunState run;
    if (read_command_line(argc, argv, &job, &run) == 0) {
      const RunSettings settings{job, compare_rules_of(job), RunTuning{}};
      result = sort_and_place(settings, &run);
    }
    close_run_input(&run);
    release_sort_buffers(&run);
  }
  print_frame_line(msg::kEnd);
  return result;
}

}  // namespace quarnel
