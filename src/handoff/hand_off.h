// Hands several runs to the merge program: writes the list file, starts
// the program with the job's settings and waits for it.
#ifndef QUARNEL_HANDOFF_HAND_OFF_H_
#define QUARNEL_HANDOFF_HAND_OFF_H_

#include <string>

#include "input/run_state.h"
#include "options/sort_job.h"
#include "platform/platform.h"

namespace quarnel {

// The merge program's file name, without a folder ("Tolvinar.exe" on
// Windows).
inline const std::string kMergeProgramName =
    std::string("Tolvinar") + platform::kExecutableSuffix;

// -1 when the merge program cannot be started, else its exit status. When
// the list file cannot be written completely the run is failed, nothing
// is started and the result is 1.
int hand_to_merge(const SortJob& job, RunState* run);

}  // namespace quarnel

#endif  // QUARNEL_HANDOFF_HAND_OFF_H_
