// Several runs become one output through the merge program: the list file
// names the runs, one per line, and the program is started with the list,
// the output, the key text and the mode, and waited for.
#include "handoff/hand_off.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "handoff/launch.h"
#include "tolvinar/merger.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "input/run_state.h"
#include "output/output_file.h"
#include "output/run_files.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

const unsigned char kListLineEnd[2] = {0x0D, 0x0A};

// The job's own folder, or the work directory when there is none.
std::string list_path(const RunTarget& to) {
  char name[32];
  snprintf(name, sizeof(name), "%.20s.def", work_dir_digest(to.job.work_dir).c_str());
  return runs_folder(to) + name;
}

// Every run's path and a CR LF. A list that is missing, empty or short has
// failed the job (the writer marks it), and then nothing is merged.
void write_list(const RunTarget& to, int32_t run_count, const std::string& path,
                RunState* run) {
  OutputFile* f = to.file;
  for (int32_t i = 0; i < run_count; ++i) {
    const std::string name = run_file_name(to, i);
    int r = write_buffered(f, path.c_str(), name.data(), static_cast<int32_t>(name.size()));
    if (retry_failed_open(f, path.c_str()) != 0) {
      run->failed = true;
      break;
    }
    append_line_end(f, kListLineEnd, 2);
    if (r < 0) {
      run->failed = true;
      break;
    }
  }
  close_output_file(f);
}

std::string option_text(const SortJob& job) {
  std::string text;
  if (job.wide_mode) text = job.input_bom.empty() ? "/W " : "/Wide ";
  if (job.ignore_case) text += "/I ";
  if (job.reverse) text += "/R";
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

int hand_to_merge(const SortJob& job, RunState* run) {
  fill_module_path();
  const std::string program =
      std::string(directory_of(module_path.c_str())) + kMergeProgramName;
  const RunTarget to{job, run->job_dir, &run->output, false};
  const std::string list = list_path(to);
  write_list(to, run->run_count, list, run);
  if (run_failed(*run)) {
    // The merge program would merge what the list happens to name and
    // pass it off as the whole result.
    platform::delete_file(list);
    return 1;
  }

  const std::string key_text = job.key_mode ? job.key_text : std::string();
  // A double quote only groups on the command line; it cannot reach the
  // merge program as a character, so such a name would come out changed.
  const std::string* parts[] = {&program, &list, &job.output_path, &key_text};
  for (const std::string* part : parts) {
    if (part->find('"') != std::string::npos) {
      report_error(msg::kBadFile, part->c_str());
      run->failed = true;
      platform::delete_file(list);
      return 1;
    }
  }

  // Appended piece by piece: g++ 12 warns falsely of overlapping copies
  // in a chain of string additions at -O3.
  std::string command = quoted(program);
  command += ' ';
  command += quoted(list);
  command += ' ';
  command += quoted(job.output_path);
  if (job.key_mode) {
    command += ' ';
    command += quoted(key_text);
  }
  command += ' ';
  command += option_text(job);
  // The runs are deleted after the merge whatever it does, so the merge
  // may give back what it has read of them as it goes.
  platform::set_env(kSpentRunsVariable, list.c_str());
  int r = launch_command(command.c_str());
  platform::delete_file(list);
  return r;
}

}  // namespace quarnel
