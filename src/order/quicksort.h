// The index quicksort that orders one run's LineTable entries. Its exact
// sequence of comparisons fixes where equal lines end up, so every form of
// it below makes the same comparisons, in the same sense, on the same
// entries: the function-pointer entry point, the templated one with an
// inlined comparator, and the one that shares sub-ranges between threads
// (a range's outcome depends only on its own entries).
//
// One exception keeps hostile input from taking quadratic time: a range
// split far more often than a fair input would need is merge-sorted
// instead, and that order is kept only when no two neighbours tie, since
// then it is the only sorted order there is; ties send the range back to
// the quicksort's own steps.
#ifndef QUARNEL_ORDER_QUICKSORT_H_
#define QUARNEL_ORDER_QUICKSORT_H_

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace quarnel {

// Exchanges an entry's start and length (the parts every comparator may
// read); the prefixes exist only while a whole-line sort runs.
struct TableSwap {
  char** starts;
  int32_t* lengths;
  void operator()(int32_t a, int32_t b) const {
    std::swap(starts[a], starts[b]);
    std::swap(lengths[a], lengths[b]);
  }
};

namespace quicksort {

// One pass of steps "median of three, partition, gather the equals" over
// lo .. hi (hi > lo). Afterwards lo .. *left_end and *right_start .. hi
// are the parts still to sort; the entries between equal the pivot.
// cmp(i, j) answers like the comparator; swap(i, j) exchanges two entries.
template <typename Compare, typename Swap>
inline void partition_range(int32_t lo, int32_t hi, Compare& cmp, Swap& swap,
                            int32_t* left_end, int32_t* right_start) {
  int32_t mid = lo + (hi - lo + 1) / 2;
  if (cmp(lo, mid) > 0) swap(lo, mid);
  if (cmp(lo, hi) > 0) swap(lo, hi);
  if (cmp(mid, hi) > 0) swap(mid, hi);
  int32_t up = lo;
  int32_t down = hi;
  for (;;) {
    if (mid > up) {
      do {
        ++up;
      } while (up < mid && cmp(up, mid) <= 0);
    }
    if (mid <= up) {
      do {
        ++up;
      } while (up <= hi && cmp(up, mid) <= 0);
    }
    do {
      --down;
    } while (down > mid && cmp(down, mid) > 0);
    if (down < up) break;
    swap(up, down);
    // The pivot itself was moved: follow it.
    if (mid == down) mid = up;
  }
  ++down;
  if (mid < down) {
    do {
      --down;
    } while (down > mid && cmp(down, mid) == 0);
  }
  if (mid >= down) {
    do {
      --down;
    } while (down > lo && cmp(down, mid) == 0);
  }
  *left_end = down;
  *right_start = up;
}

// The split depth at which a range of count entries is suspected of being
// driven quadratic: twice the 2·log2(count) levels a fair run stays within.
inline int32_t suspect_depth(int32_t count) {
  int32_t bits = 0;
  while (bits < 31 && (int32_t{1} << bits) < count) ++bits;
  return 4 * bits + 8;
}

// Sorts lo .. hi another way (merge sort with the same comparator) and
// keeps the result only when no two neighbours then compare equal: such a
// range has exactly one sorted order, the quicksort's own. True when kept;
// false, with no entry moved, when ties would need the quicksort's steps to
// place them (or memory is short).
template <typename Compare, typename Swap>
bool sort_range_if_distinct(int32_t lo, int32_t hi, Compare& cmp, Swap& swap) {
  size_t n = static_cast<size_t>(hi - lo) + 1;
  std::unique_ptr<int32_t[]> order(new (std::nothrow) int32_t[n]);
  if (!order) return false;
  for (size_t k = 0; k < n; ++k) order[k] = lo + static_cast<int32_t>(k);
  std::stable_sort(order.get(), order.get() + n,
                   [&cmp](int32_t a, int32_t b) { return cmp(a, b) < 0; });
  for (size_t k = 1; k < n; ++k) {
    if (cmp(order[k - 1], order[k]) == 0) return false;
  }
  // Entry order[k] goes to lo + k: follow each cycle of the permutation,
  // marking a place done by pointing it at itself.
  for (size_t k = 0; k < n; ++k) {
    int32_t place = lo + static_cast<int32_t>(k);
    int32_t at = place;
    while (order[at - lo] != place) {
      int32_t from = order[at - lo];
      swap(at, from);
      order[at - lo] = at;
      at = from;
    }
    order[at - lo] = at;
  }
  return true;
}

// Sorts lo .. hi (hi > lo) without recursion: the smaller part first, the
// larger one waiting on a stack of 64 entries, which is never exceeded since
// each pending range at least halves what is left. depth is how many splits
// made lo .. hi; a range split suspect times is tried the other way, and
// where ties keep it with the quicksort, tried again only at twice the
// depth, so that ties cost at most a few extra passes.
template <typename Compare, typename Swap>
void sort_range(int32_t lo, int32_t hi, Compare& cmp, Swap& swap,
                int32_t depth, int32_t suspect) {
  struct Pending {
    int32_t lo, hi, depth, suspect;
  };
  Pending stack[64];
  int pending = 0;
  for (;;) {
    if (depth >= suspect) {
      if (sort_range_if_distinct(lo, hi, cmp, swap)) {
        if (pending == 0) return;
        --pending;
        lo = stack[pending].lo;
        hi = stack[pending].hi;
        depth = stack[pending].depth;
        suspect = stack[pending].suspect;
        continue;
      }
      suspect = suspect > INT32_MAX / 2 ? INT32_MAX : 2 * suspect;
    }
    int32_t down;
    int32_t up;
    partition_range(lo, hi, cmp, swap, &down, &up);
    ++depth;
    bool next = false;
    if (down - lo >= hi - up) {
      if (lo < down) stack[pending++] = {lo, down, depth, suspect};
      if (up < hi) {
        lo = up;
        next = true;
      }
    } else {
      if (up < hi) stack[pending++] = {up, hi, depth, suspect};
      if (lo < down) {
        hi = down;
        next = true;
      }
    }
    if (next) continue;
    if (pending == 0) return;
    --pending;
    lo = stack[pending].lo;
    hi = stack[pending].hi;
    depth = stack[pending].depth;
    suspect = stack[pending].suspect;
  }
}

template <typename Compare, typename Swap>
void sort_range(int32_t lo, int32_t hi, Compare& cmp, Swap& swap) {
  sort_range(lo, hi, cmp, swap, 0, suspect_depth(hi - lo + 1));
}

template <typename Compare, typename Swap>
void sort_entries(int32_t count, Compare& cmp, Swap& swap) {
  if (count < 2) return;
  sort_range(0, count - 1, cmp, swap);
}

// Runs sort_ranges_shared's workers; defined in quicksort.cc. A range
// travels with its split depth and the depth at which it is suspect (see
// sort_range).
struct RangeQueue;
using RangeWork = void (*)(void* context, RangeQueue* queue, int32_t lo,
                           int32_t hi, int32_t depth, int32_t suspect);
void run_range_workers(int32_t count, int32_t threads, RangeWork work,
                       void* context);
// Hands a part to an idle thread.
void offer_range(RangeQueue* queue, int32_t lo, int32_t hi, int32_t depth,
                 int32_t suspect);
// The size from which a range is split further rather than sorted whole.
int32_t split_size(const RangeQueue* queue);

template <typename Compare, typename Swap>
struct SharedSort {
  Compare* cmp;
  Swap* swap;

  // A large range is partitioned once, one part offered to the other
  // threads, the other kept; a small one is sorted here whole. Either way
  // the entries of the range see exactly the steps sort_range would take.
  static void work(void* context, RangeQueue* queue, int32_t lo, int32_t hi,
                   int32_t depth, int32_t suspect) {
    SharedSort* self = static_cast<SharedSort*>(context);
    int32_t limit = split_size(queue);
    while (hi - lo + 1 >= limit && hi > lo) {
      if (depth >= suspect) {
        if (sort_range_if_distinct(lo, hi, *self->cmp, *self->swap)) return;
        suspect = suspect > INT32_MAX / 2 ? INT32_MAX : 2 * suspect;
      }
      int32_t down;
      int32_t up;
      partition_range(lo, hi, *self->cmp, *self->swap, &down, &up);
      ++depth;
      bool left = lo < down;
      bool right = up < hi;
      if (left && right) {
        if (down - lo >= hi - up) {
          offer_range(queue, lo, down, depth, suspect);
          lo = up;
        } else {
          offer_range(queue, up, hi, depth, suspect);
          hi = down;
        }
      } else if (left) {
        hi = down;
      } else if (right) {
        lo = up;
      } else {
        return;
      }
    }
    if (hi > lo) sort_range(lo, hi, *self->cmp, *self->swap, depth, suspect);
  }
};

// The same result as sort_entries, on several threads. cmp and swap must
// be safe to call from several threads on disjoint entries.
template <typename Compare, typename Swap>
void sort_entries_shared(int32_t count, int32_t threads, Compare& cmp, Swap& swap) {
  if (count < 2) return;
  SharedSort<Compare, Swap> shared{&cmp, &swap};
  run_range_workers(count, threads, &SharedSort<Compare, Swap>::work, &shared);
}

}  // namespace quicksort
}  // namespace quarnel

#endif  // QUARNEL_ORDER_QUICKSORT_H_
