// Everything the programs say goes to standard error: error lines with a
// mark and a time stamp, informational lines as they are, and the usage
// text, which is the program's own section of the manual Jman.doc next to
// the executable. Message texts are UTF-8 in the source and leave as
// Shift_JIS bytes, or as UTF-8 when the locale's codeset is UTF-8.
#ifndef QUARNEL_CONSOLE_CONSOLE_H_
#define QUARNEL_CONSOLE_CONSOLE_H_

#include <string>

#include "console/console_text.h"

namespace quarnel {

// "◆", the local time, a blank, the message with arg for its "%s" (arg may
// be null when there is none), a line feed; standard error is flushed.
void report_error(const char* format, const char* arg);
// That line as report_error would print it now.
std::string error_line(const char* format, const char* arg);

// The plain formatted print of a message text to standard error.
void report_info(const char* format, ...);

// What a lone argument may ask: --help, -h, /? or -? (any letter case) the
// short usage help_text, --version "<program_name> <version>", both on
// standard output. kNotAsked for any other word; kAnswered once printed;
// kNotAnswered (reported) when standard output could not take it.
enum class Question { kNotAsked, kAnswered, kNotAnswered };
Question answer_question(const char* program_name, const char* argument,
                         const char* help_text);

// Prints the section of Jman.doc whose marker lines name program_name. The
// manual is looked for beside the executable, then in ../share/quarnel/
// from its folder (the installed layout).
void show_usage(const char* program_name = "Quarnel");

}  // namespace quarnel

#endif  // QUARNEL_CONSOLE_CONSOLE_H_
