#include "sort/string_sort.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "sort/quicksort.h"
#include "sort/run_builder.h"

namespace quarnel {

namespace {

// Ranges below this are finished by insertion sort.
constexpr int32_t kSmallRange = 16;

// A range of entries whose lines agree in their first depth characters
// (bytes, or units in wide mode), none of which is zero.
struct Task {
  int32_t lo;
  int32_t hi;
  int32_t depth;
  int32_t splits;  // partitions on the way here at this depth
};

struct Work {
  uint64_t* keys;    // the 8 bytes (4 units) at the range's depth
  uint32_t* order;   // the entry each position stands for
  char* const* starts;
  const int32_t* lengths;
  bool wide;
  int32_t step;         // characters in a key: 8 bytes or 4 units
  int32_t split_limit;  // more partitions than this: give up
  int32_t offer_size;   // ranges from this size on are shared
  std::atomic<bool> failed{false};

  std::mutex lock;
  std::condition_variable wake;
  std::vector<Task> shared;
  int32_t busy = 0;
};

inline int first_zero_byte(uint64_t v) {
  for (int i = 0; i < 8; ++i) {
    if (((v >> (56 - 8 * i)) & 0xFF) == 0) return i;
  }
  return 8;
}

inline int first_zero_unit(uint64_t v) {
  for (int i = 0; i < 4; ++i) {
    if (((v >> (48 - 16 * i)) & 0xFFFF) == 0) return i;
  }
  return 4;
}

// Characters up to the first zero, the rest cleared: the comparison of
// the line ends there.
inline uint64_t narrow_key(const unsigned char* line, int32_t length,
                           int32_t depth) {
  int32_t left = length - depth;
  uint64_t v = 0;
  if (left >= 8) {
    memcpy(&v, line + depth, 8);
    v = __builtin_bswap64(v);
  } else {
    for (int32_t i = 0; i < left; ++i) {
      v |= static_cast<uint64_t>(line[depth + i]) << (56 - 8 * i);
    }
  }
  const uint64_t ones = 0x0101010101010101ULL;
  if (((v - ones) & ~v & (ones << 7)) != 0) {
    int z = first_zero_byte(v);
    v = z == 0 ? 0 : v & (~uint64_t{0} << (64 - 8 * z));
  }
  return v;
}

inline uint64_t wide_key(const unsigned char* line, int32_t length,
                         int32_t depth) {
  int32_t left = length - depth;
  const unsigned char* p = line + 2 * static_cast<int64_t>(depth);
  uint64_t v = 0;
  for (int32_t i = 0; i < 4 && i < left; ++i) {
    uint64_t unit = p[2 * i] | (static_cast<uint64_t>(p[2 * i + 1]) << 8);
    v |= unit << (48 - 16 * i);
  }
  const uint64_t ones = 0x0001000100010001ULL;
  if (((v - ones) & ~v & (ones << 15)) != 0) {
    int z = first_zero_unit(v);
    v = z == 0 ? 0 : v & (~uint64_t{0} << (64 - 16 * z));
  }
  return v;
}

inline uint64_t key_of(const Work& w, uint32_t entry, int32_t depth) {
  const unsigned char* line =
      reinterpret_cast<const unsigned char*>(w.starts[entry]);
  return w.wide ? wide_key(line, w.lengths[entry], depth)
                : narrow_key(line, w.lengths[entry], depth);
}

// The key ends the line's comparison (a zero in its last character).
inline bool ends(const Work& w, uint64_t key) {
  return (key & (w.wide ? 0xFFFF : 0xFF)) == 0;
}

// Where the comparison of a line whose key at depth ends it stops.
inline int32_t end_of(const Work& w, uint64_t key, int32_t depth) {
  return depth + (w.wide ? first_zero_unit(key) : first_zero_byte(key));
}

// Lines equal up to their comparison's end at the same place are the same
// bytes unless one goes on behind a zero.
inline bool plain_end(const Work& w, uint32_t entry, int32_t end) {
  return w.lengths[entry] == end;
}

// Compares the lines of two entries from depth on, their keys given.
int compare_from(const Work& w, uint64_t ka, uint32_t a, uint64_t kb,
                 uint32_t b, int32_t depth, int32_t* end) {
  if (ka != kb) return ka < kb ? -1 : 1;
  if (ends(w, ka)) {
    *end = end_of(w, ka, depth);
    return 0;
  }
  int32_t at = depth + w.step;
  if (!w.wide) {
    const unsigned char* p =
        reinterpret_cast<const unsigned char*>(w.starts[a]) + at;
    const unsigned char* q =
        reinterpret_cast<const unsigned char*>(w.starts[b]) + at;
    for (;; ++p, ++q, ++at) {
      if (*p != *q) return *p < *q ? -1 : 1;
      if (*p == 0) break;
    }
  } else {
    const unsigned char* p =
        reinterpret_cast<const unsigned char*>(w.starts[a]) + 2 * int64_t{at};
    const unsigned char* q =
        reinterpret_cast<const unsigned char*>(w.starts[b]) + 2 * int64_t{at};
    for (;; p += 2, q += 2, ++at) {
      unsigned x = p[0] | (p[1] << 8);
      unsigned y = q[0] | (q[1] << 8);
      if (x != y) return x < y ? -1 : 1;
      if (x == 0) break;
    }
  }
  *end = at;
  return 0;
}

void insertion_sort(Work& w, const Task& t) {
  uint64_t* keys = w.keys;
  uint32_t* order = w.order;
  int32_t end = 0;
  for (int32_t i = t.lo + 1; i <= t.hi; ++i) {
    uint64_t k = keys[i];
    uint32_t e = order[i];
    int32_t j = i;
    while (j > t.lo && compare_from(w, keys[j - 1], order[j - 1], k, e,
                                    t.depth, &end) > 0) {
      keys[j] = keys[j - 1];
      order[j] = order[j - 1];
      --j;
    }
    keys[j] = k;
    order[j] = e;
  }
  for (int32_t i = t.lo + 1; i <= t.hi; ++i) {
    if (compare_from(w, keys[i - 1], order[i - 1], keys[i], order[i], t.depth,
                     &end) == 0 &&
        (!plain_end(w, order[i - 1], end) || !plain_end(w, order[i], end))) {
      w.failed = true;
      return;
    }
  }
}

inline uint64_t median3(uint64_t a, uint64_t b, uint64_t c) {
  if (a < b) return b < c ? b : (a < c ? c : a);
  return a < c ? a : (b < c ? c : b);
}

void offer(Work& w, const Task& t) {
  {
    std::lock_guard<std::mutex> hold(w.lock);
    w.shared.push_back(t);
  }
  w.wake.notify_one();
}

// Sorts one shared range, keeping its smaller pieces on a stack of its own.
void run_task(Work& w, Task first) {
  std::vector<Task> local;
  local.push_back(first);
  uint64_t* keys = w.keys;
  uint32_t* order = w.order;
  while (!local.empty() && !w.failed.load(std::memory_order_relaxed)) {
    Task t = local.back();
    local.pop_back();
    if (t.hi - t.lo + 1 <= kSmallRange) {
      insertion_sort(w, t);
      continue;
    }
    int32_t mid = t.lo + (t.hi - t.lo) / 2;
    uint64_t pivot = median3(keys[t.lo], keys[mid], keys[t.hi]);
    int32_t lt = t.lo;
    int32_t i = t.lo;
    int32_t gt = t.hi;
    while (i <= gt) {
      uint64_t k = keys[i];
      if (k < pivot) {
        std::swap(keys[lt], keys[i]);
        std::swap(order[lt], order[i]);
        ++lt;
        ++i;
      } else if (k > pivot) {
        std::swap(keys[gt], keys[i]);
        std::swap(order[gt], order[i]);
        --gt;
      } else {
        ++i;
      }
    }
    Task parts[3];
    int n = 0;
    if (ends(w, pivot)) {
      int32_t end = end_of(w, pivot, t.depth);
      if (gt > lt) {
        for (int32_t k = lt; k <= gt; ++k) {
          if (!plain_end(w, order[k], end)) {
            w.failed = true;
            return;
          }
        }
      }
    } else if (gt > lt) {
      int32_t depth = t.depth + w.step;
      for (int32_t k = lt; k <= gt; ++k) keys[k] = key_of(w, order[k], depth);
      parts[n++] = Task{lt, gt, depth, 0};
    }
    if (t.splits >= w.split_limit) {
      w.failed = true;
      return;
    }
    if (lt - 1 > t.lo) parts[n++] = Task{t.lo, lt - 1, t.depth, t.splits + 1};
    if (t.hi > gt + 1) parts[n++] = Task{gt + 1, t.hi, t.depth, t.splits + 1};
    for (int p = 0; p < n; ++p) {
      if (parts[p].hi - parts[p].lo + 1 >= w.offer_size) {
        offer(w, parts[p]);
      } else {
        local.push_back(parts[p]);
      }
    }
  }
}

void drain(Work* w) {
  for (;;) {
    Task t;
    {
      std::unique_lock<std::mutex> hold(w->lock);
      w->wake.wait(hold, [w] { return !w->shared.empty() || w->busy == 0; });
      if (w->shared.empty()) return;
      t = w->shared.back();
      w->shared.pop_back();
      ++w->busy;
    }
    run_task(*w, t);
    bool done;
    {
      std::lock_guard<std::mutex> hold(w->lock);
      --w->busy;
      done = w->busy == 0 && w->shared.empty();
    }
    if (done) w->wake.notify_all();
  }
}

template <typename Fn>
void on_threads(int32_t threads, Fn fn) {
  std::vector<std::thread> helpers;
  for (int32_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(fn, t);
    } catch (const std::system_error&) {
      fn(t);  // no thread to be had: do its part here
    }
  }
  fn(0);
  for (std::thread& h : helpers) h.join();
}

// Puts entry order[i] at position i of the lengths and, unless null, of
// the starts, following each cycle of the permutation once: no memory,
// but one cache miss after another. order ends as the identity.
void permute_in_place(char** starts, int32_t* lengths, uint32_t* order,
                      int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (order[i] == static_cast<uint32_t>(i)) continue;
    char* start = starts != nullptr ? starts[i] : nullptr;
    int32_t length = lengths[i];
    int32_t j = i;
    for (;;) {
      int32_t from = static_cast<int32_t>(order[j]);
      order[j] = static_cast<uint32_t>(j);
      if (from == i) break;
      if (starts != nullptr) starts[j] = starts[from];
      lengths[j] = lengths[from];
      j = from;
    }
    if (starts != nullptr) starts[j] = start;
    lengths[j] = length;
  }
}

// Gathers values[order[i]] into position i through a fresh array, whose
// independent loads the processor overlaps, on several threads. False
// when the array cannot be had.
template <typename T>
bool gather(T* values, const uint32_t* order, int32_t count, int32_t threads) {
  std::unique_ptr<T[]> sorted(new (std::nothrow) T[static_cast<size_t>(count)]);
  if (!sorted) return false;
  int32_t piece = count / threads + 1;
  on_threads(threads, [&](int32_t t) {
    int32_t first = std::min(count, t * piece);
    int32_t last = std::min(count, first + piece);
    for (int32_t i = first; i < last; ++i) sorted[i] = values[order[i]];
  });
  memcpy(values, sorted.get(), sizeof(T) * static_cast<size_t>(count));
  return true;
}

// Puts entry order[i] at position i of both table arrays, one array
// after the other so that only one copy exists at a time.
void apply_order(uint32_t* order, int32_t count, int32_t threads) {
  char** starts = line_table.line_starts.get();
  int32_t* lengths = line_table.line_lengths.get();
  if (!gather(starts, order, count, threads)) {
    permute_in_place(starts, lengths, order, count);
  } else if (!gather(lengths, order, count, threads)) {
    permute_in_place(nullptr, lengths, order, count);
  }
}

}  // namespace

bool string_sort_lines(int32_t count, bool wide) {
  if (count < 2) return true;
  std::unique_ptr<uint64_t[]> keys(
      new (std::nothrow) uint64_t[static_cast<size_t>(count)]);
  std::unique_ptr<uint32_t[]> order(
      new (std::nothrow) uint32_t[static_cast<size_t>(count)]);
  if (!keys || !order) return false;
  Work w;
  w.keys = keys.get();
  w.order = order.get();
  w.starts = line_table.line_starts.get();
  w.lengths = line_table.line_lengths.get();
  w.wide = wide;
  w.step = wide ? 4 : 8;
  int32_t log2 = 0;
  while ((int64_t{1} << log2) < count) ++log2;
  w.split_limit = 4 * log2 + 32;
  int32_t threads = count >= parallel_sort_min_count ? sort_threads() : 1;
  w.offer_size = std::max<int32_t>(4096, count / (threads * 16));

  int32_t piece = count / threads + 1;
  on_threads(threads, [&w, piece, count](int32_t t) {
    int32_t first = std::min(count, t * piece);
    int32_t last = std::min(count, first + piece);
    for (int32_t i = first; i < last; ++i) {
      w.order[i] = static_cast<uint32_t>(i);
      w.keys[i] = key_of(w, static_cast<uint32_t>(i), 0);
    }
  });
  w.shared.push_back(Task{0, count - 1, 0, 0});
  on_threads(threads, [&w](int32_t) { drain(&w); });
  if (w.failed) return false;
  keys.reset();
  apply_order(order.get(), count, threads);
  return true;
}

}  // namespace quarnel
