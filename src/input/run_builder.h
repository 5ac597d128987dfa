// Reads the input into the SortBuffer, cuts it into lines in place,
// records them in the LineTable, and writes each buffer-full of lines,
// sorted, as the next run file. One call consumes one line.
//
// Lines end at LF; the CRs that end a line (before its LF, or at the end
// of the input) are dropped, a CR inside a line is an ordinary byte. A
// line holds at most 65535 bytes (units in wide mode). A builder that
// stops on an error (a line too long, memory, a read error) reports it and
// marks the run failed, so that the job ends without output.
#ifndef QUARNEL_INPUT_RUN_BUILDER_H_
#define QUARNEL_INPUT_RUN_BUILDER_H_

#include "input/run_state.h"

namespace quarnel {

// The bytes (units in wide mode) the line took, or 0 at the end or after
// an error. The memory plan must have given the run its buffer.
int build_run(const RunSettings& settings, RunState* run);

// Closes an input left open and gives back a mapped one (the end of a run
// that stopped early, and tests).
void close_run_input(RunState* run);

}  // namespace quarnel

#endif  // QUARNEL_INPUT_RUN_BUILDER_H_
