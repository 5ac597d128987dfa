// Each job keeps its run files and merge list in a folder of its own
// inside the work directory, removed when the job ends (also on SIGINT,
// SIGTERM and SIGHUP), so that jobs sharing a work directory never touch
// each other's files. The folder is locked while the job lives; a job
// killed outright leaves it unlocked, and the next job removes it.
#ifndef QUARNEL_OUTPUT_JOB_FOLDER_H_
#define QUARNEL_OUTPUT_JOB_FOLDER_H_

#include <string>

namespace quarnel {

// Makes the job's folder in the work directory (made first when missing)
// and sets job_dir to it, with its trailing separator; 0, or -1 after a
// reported failure.
int make_job_folder(const std::string& work_dir, std::string* job_dir);
// Deletes what is left in the folder and the folder itself; job_dir is
// empty afterwards. Nothing happens when it is empty.
void remove_job_folder(std::string* job_dir);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_JOB_FOLDER_H_
