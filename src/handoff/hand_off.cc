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
#include "options/sort_job.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "output/output_file.h"
#include "output/run_files.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

const unsigned char kListLineEnd[2] = {0x0D, 0x0A};

// The job's own folder, or the work directory when there is none.
std::string list_path() {
  const std::string& folder =
      sort_job.job_dir.empty() ? sort_job.work_dir : sort_job.job_dir;
  char name[32];
  snprintf(name, sizeof(name), "%.20s.def", work_dir_digest());
  return folder + name;
}

// Every run's path and a CR LF. A list that is missing, empty or short has
// failed the job (the writer marks it), and then nothing is merged.
void write_list(const std::string& path) {
  for (int32_t i = 0; i < sort_job.run_count; ++i) {
    std::string run = run_file_name(i);
    int r = write_buffered(path.c_str(), run.data(),
                           static_cast<int32_t>(run.size()));
    if (retry_failed_open(path.c_str()) != 0) {
      sort_job.failed = 1;
      break;
    }
    append_line_end(kListLineEnd, 2);
    if (r < 0) {
      sort_job.failed = 1;
      break;
    }
  }
  close_output_file();
}

std::string option_text() {
  std::string text;
  if (sort_job.wide_mode == 1) {
    text = sort_job.input_bom.empty() ? "/W " : "/Wide ";
  }
  if (sort_job.ignore_case == 1) text += "/I";
  return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

int hand_to_merge() {
  fill_module_path();
  const std::string program =
      std::string(directory_of(module_path.c_str())) + kMergeProgramName;
  const std::string list = list_path();
  write_list(list);
  if (sort_job.failed) {
    // The merge program would merge what the list happens to name and
    // pass it off as the whole result.
    platform::delete_file(list);
    return 1;
  }

  std::string key_text;
  if (sort_job.key_mode == 1 && sort_job.key_text != nullptr) {
    key_text = sort_job.key_text.get();
  }
  // A double quote only groups on the command line; it cannot reach the
  // merge program as a character, so such a name would come out changed.
  const std::string* parts[] = {&program, &list, &sort_job.output_path,
                                &key_text};
  for (const std::string* part : parts) {
    if (part->find('"') != std::string::npos) {
      report_error(msg::kBadFile, part->c_str());
      sort_job.failed = 1;
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
  command += quoted(sort_job.output_path);
  if (sort_job.key_mode == 1) {
    command += ' ';
    command += quoted(key_text);
  }
  command += ' ';
  command += option_text();
  // The runs are deleted after the merge whatever it does, so the merge
  // may give back what it has read of them as it goes.
  platform::set_env(kSpentRunsVariable, list.c_str());
  int r = launch_command(command.c_str());
  platform::delete_file(list);
  return r;
}

}  // namespace quarnel
