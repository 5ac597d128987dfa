// Placeholder so that the programs link while this module is being built.
#include "options/sort_conditions.h"

namespace quarnel {

int build_sort_conditions(bool) { return -1; }

}  // namespace quarnel
