// Run files: their names in the job's folder and the writer that puts the
// sorted lines of a LineTable into one.
#ifndef QUARNEL_OUTPUT_RUN_FILES_H_
#define QUARNEL_OUTPUT_RUN_FILES_H_

#include <cstdint>
#include <string>

#include "options/sort_job.h"
#include "order/line_table.h"
#include "output/output_file.h"

namespace quarnel {

// Where one job's runs go, and what is known of the job's progress.
struct RunTarget {
  const SortJob& job;
  // The job's own folder, ending with the separator, or empty when there
  // is none (the runs then go to the work directory).
  const std::string& job_dir;
  OutputFile* file;     // the writer the runs go through
  bool more_input;      // input is left after this run
  int32_t threads = 1;  // threads that may gather the lines
};

// The folder the runs go to.
const std::string& runs_folder(const RunTarget& to);
// "%s%.16s%.32s.%03d": that folder, the digest of the work directory, the
// input's base name and the run number.
std::string run_file_name(const RunTarget& to, int32_t run_index);
// The 32 uppercase hex digits of the MD5 digest of the work directory
// (with its trailing separator).
std::string work_dir_digest(const std::string& work_dir);

// Writes the table's first line_count lines into run run_index, each with
// its CR LF (wide: CR LF units, behind the input's mark). A run that could
// not be written completely has been reported and has marked to.file
// failed, which the caller checks.
void write_run(const RunTarget& to, const LineTable& table, int32_t line_count,
               int32_t run_index);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_RUN_FILES_H_
