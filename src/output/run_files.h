// Run files: their names in the work directory and the writers that put a
// sorted LineTable into one.
#ifndef QUARNEL_OUTPUT_RUN_FILES_H_
#define QUARNEL_OUTPUT_RUN_FILES_H_

#include <cstdint>

namespace quarnel {

// "%s%.16s%.32s.%03d": the job's folder (the work directory when there is
// none), the digest, the input's base name and the run number. Depends
// only on the SortJob and changes nothing in it. Valid until the next call.
const char* run_file_name(int32_t run_index);
// The 32 uppercase hex digits of the MD5 digest of work_dir (with its
// trailing separator). Valid until the next call.
const char* work_dir_digest();

// Write the first line_count lines of the LineTable into run run_index,
// each with its CR LF (wide: CR LF units, behind the input's mark). Always
// 0: a run that could not be written completely has been reported and
// has failed the job (sort_job.failed), which the caller checks.
int write_run_narrow(int32_t line_count, int32_t run_index);
int write_run_wide(int32_t line_count, int32_t run_index);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_RUN_FILES_H_
