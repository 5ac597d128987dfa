// Reads the command line "Quarnel input output [options] [key text]" into
// the SortJob: checks the input and output, takes the options /W /M /T /I
// in their forms, gathers every other word into the key text, has the key
// text compiled into sort conditions. The driver runs the input probe right
// after it.
#ifndef QUARNEL_OPTIONS_COMMAND_LINE_H_
#define QUARNEL_OPTIONS_COMMAND_LINE_H_

#include "options/sort_job.h"

namespace quarnel {

enum class OptionState { kKeyText, kMemoryValue, kWorkDirValue };

// Fills job from the arguments; 0, or -1 after a failure it has reported.
int parse_command_line(int argc, char** argv, SortJob* job);

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_COMMAND_LINE_H_
