// Quarnel's phases in their fixed order, the placement of the result and
// the exit code.
//
// How a job flows, and which folder does each step:
//
//   options/   the command line becomes the SortJob, the settings the job
//              runs by (paths, wide, /I, key conditions, /M, /T, the mark),
//              and is never changed after; order/ chooses the CompareRules
//              from it once.
//   input/     the probe looks at the input's first bytes (the line-length
//              estimate, the refusal of an empty input); the memory plan
//              picks the budget and allocates the SortBuffer.
//   output/    the job's own folder is made in the work directory (locked
//              while the job lives, removed on every way out).
//   input/     the run builder reads the input into the SortBuffer (or maps
//              it), cuts it into lines in place and records them in the
//              LineTable, until the buffer is full or the input ends;
//   order/     then the table is sorted (the string sort, cached prefixes
//              or keys, or the index quicksort, all to the same order),
//   output/    and written as the next run file through the OutputFile,
//              whose thread writes while the next run is read.
//   handoff/   several runs: their list is written and the merge program,
//   tolvinar/  Tolvinar, merges them into the output (in passes, when more
//              runs than may be open at once); Quarnel waits for it.
//   driver/    one run: it is renamed into place, written into a device,
//              or copied to standard output. Then the runs and the folder
//              go, and the exit code says whether a complete output exists.
//
// The driver owns the SortJob and the RunState of the one job and passes
// them down: nothing of either lives anywhere else.
#ifndef QUARNEL_DRIVER_DRIVER_H_
#define QUARNEL_DRIVER_DRIVER_H_

#include "input/run_state.h"
#include "options/sort_job.h"

namespace quarnel {

// Runs one sort job; 0, or -1 (seen as 255 by the shell).
int run_quarnel(int argc, char** argv);

// The command-line phase and what completes it: the options read into the
// SortJob, the input probed into the run. 0, or -1 after a failure it has
// reported.
int read_command_line(int argc, char** argv, SortJob* job, RunState* run);

// Frees the SortBuffer and the LineTable's arrays; safe to call at any
// moment and more than once.
void release_sort_buffers(RunState* run);

}  // namespace quarnel

#endif  // QUARNEL_DRIVER_DRIVER_H_
