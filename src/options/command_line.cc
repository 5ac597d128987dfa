// Placeholder so that the programs link while this module is being built.
#include "options/command_line.h"

namespace quarnel {

int parse_command_line(int, char**) { return -1; }

}  // namespace quarnel
