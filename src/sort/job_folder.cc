// The job's own folder inside the work directory. Run names depend only on
// the work directory and the input's base name, so two jobs sharing both
// would overwrite each other's runs; a folder per job keeps them apart.
#include "sort/job_folder.h"

#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "sort/output_file.h"

namespace quarnel {

int make_job_folder() {
  const std::string& work_dir = sort_job.work_dir;
  // The writer used to make a missing work directory on the first run;
  // the folder needs it now.
  make_directories(work_dir.c_str());
  std::string folder = platform::make_unique_directory(work_dir + "quarnel-");
  if (folder.empty()) {
    report_error(msg::kCannotMakeWorkFolder, sort_job.work_dir.c_str());
    return -1;
  }
  sort_job.job_dir = folder + platform::kPathSeparator;
  // An interrupted job leaves nothing behind either. Should the path be
  // too long to arm, the folder is still removed at the normal end.
  platform::remove_folder_on_signal(folder);
  return 0;
}

void remove_job_folder() {
  if (sort_job.job_dir.empty()) return;
  // Removed before the handlers go, so that no moment is left in which a
  // signal would end the job with the folder still there.
  platform::remove_folder(sort_job.job_dir);
  platform::cancel_remove_folder_on_signal();
  sort_job.job_dir.clear();
}

}  // namespace quarnel
