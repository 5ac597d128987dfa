// Each job keeps its run files and merge list in a folder of its own
// inside the work directory, removed when the job ends (also on SIGINT,
// SIGTERM and SIGHUP), so that jobs sharing a work directory never touch
// each other's files. The folder is locked while the job lives; a job
// killed outright leaves it unlocked, and the next job removes it.
#ifndef QUARNEL_OUTPUT_JOB_FOLDER_H_
#define QUARNEL_OUTPUT_JOB_FOLDER_H_

namespace quarnel {

// Makes sort_job.job_dir; 0, or -1 after a reported failure.
int make_job_folder();
// Deletes what is left in the folder and the folder itself.
void remove_job_folder();

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_JOB_FOLDER_H_
