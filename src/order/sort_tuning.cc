#include "order/sort_tuning.h"

#include <algorithm>
#include <thread>

namespace quarnel {

int32_t sort_threads(const SortTuning& tuning) {
  if (tuning.thread_count > 0) return tuning.thread_count;
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) return 1;
  return static_cast<int32_t>(std::min(n, 8u));
}

}  // namespace quarnel
