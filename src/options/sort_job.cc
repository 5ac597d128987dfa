#include "options/sort_job.h"

namespace quarnel {

SortJob sort_job;

void reset_sort_job() { sort_job = SortJob(); }

}  // namespace quarnel
