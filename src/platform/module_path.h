// The running executable's own path, found once and kept: the manual and
// the merge program are looked for beside it. It is the one process-wide
// field of the programs besides what a signal or console handler must
// reach: it describes the process, not a job, and is the same for every
// phase that asks. Tests point it elsewhere to stand in for an installed
// layout.
#ifndef QUARNEL_PLATFORM_MODULE_PATH_H_
#define QUARNEL_PLATFORM_MODULE_PATH_H_

#include <string>

namespace quarnel {

// The executable's full path; empty until fill_module_path() runs.
extern std::string module_path;
// Sets module_path from the system when it is still empty.
void fill_module_path();

}  // namespace quarnel

#endif  // QUARNEL_PLATFORM_MODULE_PATH_H_
