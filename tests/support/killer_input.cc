#include "support/killer_input.h"

#include <cstdint>
#include <utility>

#include "order/quicksort.h"

namespace quarnel::testing {

namespace {

struct Adversary {
  std::vector<int32_t> value;  // by item; gas (= count) while undecided
  std::vector<int32_t> item;   // by position
  int32_t gas;
  int32_t solid = 0;
  int32_t candidate = -1;

  int operator()(int32_t a, int32_t b) {
    int32_t x = item[a];
    int32_t y = item[b];
    if (value[x] == gas && value[y] == gas) {
      value[x == candidate ? x : y] = solid++;
    }
    if (value[x] == gas) {
      candidate = x;
    } else if (value[y] == gas) {
      candidate = y;
    }
    return value[x] > value[y] ? 1 : (value[x] < value[y] ? -1 : 0);
  }
};

struct ItemSwap {
  std::vector<int32_t>* item;
  void operator()(int32_t a, int32_t b) const {
    std::swap((*item)[a], (*item)[b]);
  }
};

}  // namespace

std::vector<int32_t> killer_values(int32_t count) {
  Adversary adversary;
  adversary.gas = count;
  adversary.value.assign(count, count);
  adversary.item.resize(count);
  for (int32_t i = 0; i < count; ++i) adversary.item[i] = i;
  ItemSwap swap{&adversary.item};
  if (count >= 2) {
    quicksort::sort_range(0, count - 1, adversary, swap, 0, INT32_MAX);
  }
  for (int32_t& v : adversary.value) {
    if (v == count) v = adversary.solid++;
  }
  return adversary.value;
}

}  // namespace quarnel::testing
