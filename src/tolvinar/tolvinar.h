// The merge program Tolvinar: "Tolvinar list output [key text] [/W | /Wide]
// [/I]". It merges the sorted runs named in the list file, one path per
// line, into the output (or its standard output for the name "stdout") by
// the rules that sorted them. Exit status 0, 1 for bad arguments, 2 when a
// file cannot be read or written.
#ifndef QUARNEL_TOLVINAR_TOLVINAR_H_
#define QUARNEL_TOLVINAR_TOLVINAR_H_

#include <string>
#include <vector>

namespace quarnel {

int run_tolvinar(int argc, char** argv);

// The run paths of a list file's contents: one a line, CR LF or LF, empty
// lines skipped.
std::vector<std::string> parse_run_list(const std::string& contents);

}  // namespace quarnel

#endif  // QUARNEL_TOLVINAR_TOLVINAR_H_
