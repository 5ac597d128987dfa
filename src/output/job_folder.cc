// The job's own folder inside the work directory. Run names depend only on
// the work directory and the input's base name, so two jobs sharing both
// would overwrite each other's runs; a folder per job keeps them apart.
#include "output/job_folder.h"

#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "output/output_file.h"

namespace quarnel {

namespace {

constexpr const char* kFolderPrefix = "quarnel-";

}  // namespace

int make_job_folder(const std::string& work_dir, std::string* job_dir) {
  // The writer used to make a missing work directory on the first run;
  // the folder needs it now.
  make_directories(work_dir.c_str());
  // Folders of jobs that were killed outright are taken away; a running
  // job's folder is locked and stays.
  platform::remove_abandoned_folders(work_dir, kFolderPrefix);
  std::string folder = platform::make_locked_folder(work_dir + kFolderPrefix);
  if (folder.empty()) {
    report_error(msg::kCannotMakeWorkFolder, work_dir.c_str());
    return -1;
  }
  *job_dir = folder + platform::kPathSeparator;
  return 0;
}

void remove_job_folder(std::string* job_dir) {
  if (job_dir->empty()) return;
  std::string folder = *job_dir;
  if (folder.size() > 1 && folder.back() == platform::kPathSeparator) folder.pop_back();
  platform::remove_locked_folder(folder);
  job_dir->clear();
}

}  // namespace quarnel
