// Reads the command line "Quarnel input output [options] [key text]" into
// the SortJob: checks the input and output, takes the options /W /M /T /I
// in their forms, gathers every other word into the key text, has the key
// text compiled into sort conditions and runs the input probe.
#ifndef QUARNEL_OPTIONS_COMMAND_LINE_H_
#define QUARNEL_OPTIONS_COMMAND_LINE_H_

#include <cstddef>

namespace quarnel {

enum class OptionState { kKeyText, kMemoryValue, kWorkDirValue };

// 0, or -1 after a failure it has reported.
int parse_command_line(int argc, char** argv);

// strcmp and memcmp with 'A'..'Z' read as 'a'..'z' (the /I comparers).
int strcmp_nocase(const char* a, const char* b);
int memcmp_nocase(const void* a, const void* b, size_t n);

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_COMMAND_LINE_H_
