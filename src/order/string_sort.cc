#include "order/string_sort.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "order/compare.h"
#include "order/quicksort.h"
#include "order/line_table.h"
#include "order/table_slots.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

// Ranges below this are finished by insertion sort.
constexpr int32_t kSmallRange = 16;

// Ranges from this size on are split by one byte of their keys into as
// many pieces as it has values, in one pass, rather than into three.
constexpr int32_t kRadixFrom = 256;

// How many lines ahead a new key's bytes are asked for.
constexpr int32_t kReachAhead = 16;

// A range of entries whose lines agree in their first depth characters
// (bytes, or units in wide mode), none of which is zero.
struct Task {
  int32_t lo;
  int32_t hi;
  int32_t depth;
  int32_t splits;  // partitions on the way here at this depth
  // The keys' leading bytes the range's lines are known to share (a
  // lower bound: 0 is always true).
  int32_t shared_bytes = 0;
};

struct Work {
  uint64_t* keys;    // the 8 bytes (4 units) at the range's depth
  uint32_t* offsets;  // where each position's line starts, from base
  uint16_t* lengths;  // the lines' lengths, when kept aside; else null
  const char* base;
  bool wide;
  // ASCII capitals taken as small letters (narrow only); lines that then
  // compare equal must be the same bytes, else the sort gives up.
  bool fold;
  // The lines end at their lengths, with no zero behind them (mapped
  // input); the lengths are kept aside then.
  bool bounded;
  int32_t step;         // characters in a key: 8 bytes or 4 units
  int32_t split_limit;  // more partitions than this: give up
  int32_t offer_size;   // ranges from this size on are shared
  std::atomic<bool> failed{false};

  std::mutex lock;
  std::condition_variable wake;
  std::vector<Task> shared;
  int32_t busy = 0;
};

inline bool has_zero_byte(uint64_t v) {
  const uint64_t ones = 0x0101010101010101ULL;
  return ((v - ones) & ~v & (ones << 7)) != 0;
}

inline bool has_zero_unit(uint64_t v) {
  const uint64_t ones = 0x0001000100010001ULL;
  return ((v - ones) & ~v & (ones << 15)) != 0;
}

// The aligned 8-byte word holding address a, its first byte on top.
// An aligned load never crosses into another page, so reading the bytes
// of the word that lie beside a line (before it, or behind its zero) is
// safe even at the end of the memory the line lives in; the address
// checker is told so.
typedef uint64_t __attribute__((may_alias)) AnyWord;

__attribute__((no_sanitize_address)) inline uint64_t word_at(uintptr_t a) {
  return __builtin_bswap64(*reinterpret_cast<const AnyWord*>(a));
}

// The 8 bytes from p on, the first on top, read without passing the
// aligned word that holds the line's end: the caller knows that every
// byte before p is part of the line and that the line ends in a zero
// (byte, or unit in wide mode) with no zero before it.
inline uint64_t bytes_from(const char* p, bool wide) {
  uintptr_t at = reinterpret_cast<uintptr_t>(p);
  uintptr_t word = at & ~uintptr_t{7};
  int shift = static_cast<int>(at - word) * 8;
  uint64_t v = word_at(word) << shift;
  if (shift == 0) return v;
  // The second word is read only when the line reaches into it: no line
  // end among the bytes the first one gave.
  uint64_t seen = v | (~uint64_t{0} >> (64 - shift));
  if (wide ? has_zero_unit(seen) : has_zero_byte(seen)) return v;
  return v | (word_at(word + 8) >> (64 - shift));
}

// Characters up to the first zero, the rest cleared: the comparison of
// the line ends there.
inline uint64_t narrow_key(const char* line, int32_t depth) {
  return cut_at_zero(bytes_from(line + depth, false), false);
}

// Units are little-endian in memory; the key holds them in reading order.
inline uint64_t wide_key(const char* line, int32_t depth) {
  return cut_at_zero(units_in_order(bytes_from(line + 2 * int64_t{depth}, true)), true);
}

// The same for a line of length characters with no zero behind it: the
// characters past its end read as zeros, as the zero would. The bytes
// read may reach 7 past the line, which the mapping allows.
inline uint64_t bounded_key(const char* line, int32_t length, int32_t depth, bool wide) {
  const int32_t left = length - depth;
  if (left <= 0) return 0;
  uint64_t v;
  std::memcpy(&v, line + (wide ? 2 * int64_t{depth} : depth), sizeof(v));
  v = __builtin_bswap64(v);
  if (wide) v = units_in_order(v);
  const int32_t bits = left * (wide ? 16 : 8);
  return bits >= 64 ? v : v & (~uint64_t{0} << (64 - bits));
}

inline const char* line_at(const Work& w, uint32_t offset) {
  return w.base + offset;
}

inline uint64_t key_of(const Work& w, uint32_t offset, int32_t length, int32_t depth) {
  const char* line = line_at(w, offset);
  if (w.bounded) return bounded_key(line, length, depth, w.wide);
  if (w.wide) return wide_key(line, depth);
  uint64_t key = narrow_key(line, depth);
  return w.fold ? fold_word(key) : key;
}

// Lines that compare equal are the same bytes (no line holds a zero
// before its end).
inline bool same_bytes(const Work& w, uint32_t a, uint32_t b) {
  return std::strcmp(line_at(w, a), line_at(w, b)) == 0;
}

// The key ends the line's comparison (a zero in its last character).
inline bool ends(const Work& w, uint64_t key) {
  return (key & (w.wide ? 0xFFFF : 0xFF)) == 0;
}

// Compares the lines at two offsets from depth on, their keys given: a
// key (8 bytes, or 4 units) at a time, as the partitioning does.
int compare_from(const Work& w, uint64_t ka, uint32_t a, int32_t na, uint64_t kb,
                 uint32_t b, int32_t nb, int32_t depth) {
  for (;;) {
    if (ka != kb) return ka < kb ? -1 : 1;
    if (ends(w, ka)) return 0;
    depth += w.step;
    ka = key_of(w, a, na, depth);
    kb = key_of(w, b, nb, depth);
  }
}

inline int32_t length_at(const Work& w, int32_t i) {
  return w.lengths != nullptr ? w.lengths[i] : 0;
}

void insertion_sort(Work& w, const Task& t) {
  uint64_t* keys = w.keys;
  uint32_t* offsets = w.offsets;
  uint16_t* lengths = w.lengths;
  for (int32_t i = t.lo + 1; i <= t.hi; ++i) {
    uint64_t k = keys[i];
    uint32_t e = offsets[i];
    uint16_t n = lengths != nullptr ? lengths[i] : 0;
    int32_t j = i;
    while (j > t.lo && compare_from(w, keys[j - 1], offsets[j - 1], length_at(w, j - 1),
                                    k, e, n, t.depth) > 0) {
      keys[j] = keys[j - 1];
      offsets[j] = offsets[j - 1];
      if (lengths != nullptr) lengths[j] = lengths[j - 1];
      --j;
    }
    keys[j] = k;
    offsets[j] = e;
    if (lengths != nullptr) lengths[j] = n;
  }
  if (!w.fold) return;
  for (int32_t i = t.lo + 1; i <= t.hi; ++i) {
    if (compare_from(w, keys[i - 1], offsets[i - 1], length_at(w, i - 1), keys[i],
                     offsets[i], length_at(w, i), t.depth) == 0 &&
        !same_bytes(w, offsets[i - 1], offsets[i])) {
      w.failed = true;
      return;
    }
  }
}

// Moves the positions lo .. hi whose key passes to the front, keeping
// the others behind them, and gives the first of those others. Every
// position is exchanged with the front's end whether it passes or not:
// the branch it saves was mispredicted about every other key, which cost
// more than the stores.
template <bool kLengths, typename Passes>
int32_t move_to_front(const Work& w, int32_t lo, int32_t hi, Passes passes) {
  uint64_t* keys = w.keys;
  uint32_t* offsets = w.offsets;
  uint16_t* lengths = w.lengths;
  int32_t front = lo;
  for (int32_t i = lo; i <= hi; ++i) {
    const uint64_t k = keys[i];
    const uint32_t o = offsets[i];
    keys[i] = keys[front];
    offsets[i] = offsets[front];
    keys[front] = k;
    offsets[front] = o;
    if constexpr (kLengths) {
      const uint16_t n = lengths[i];
      lengths[i] = lengths[front];
      lengths[front] = n;
    }
    front += passes(k) ? 1 : 0;
  }
  return front;
}

// The keys below the pivot first, then those equal to it, then the rest;
// *lt and *gt bound the equal ones.
template <bool kLengths>
void partition(const Work& w, int32_t lo, int32_t hi, uint64_t pivot,
               int32_t* lt, int32_t* gt) {
  *lt = move_to_front<kLengths>(w, lo, hi, [pivot](uint64_t k) { return k < pivot; });
  *gt = move_to_front<kLengths>(w, *lt, hi, [pivot](uint64_t k) { return k == pivot; }) - 1;
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

// Lines whose key ends them are equal, and so the same bytes unless
// folded; false (the sort given up) when folded lines of other bytes tie.
bool equal_lines_hold(Work& w, int32_t lo, int32_t hi) {
  if (!w.fold) return true;
  for (int32_t k = lo + 1; k <= hi; ++k) {
    if (!same_bytes(w, w.offsets[lo], w.offsets[k])) {
      w.failed = true;
      return false;
    }
  }
  return true;
}

// The keys of lo .. hi taken again, at depth.
void refill_keys(Work& w, int32_t lo, int32_t hi, int32_t depth) {
  // The lines lie scattered over the buffer: asking for each some lines
  // ahead keeps several reads from memory on their way at once.
  const int64_t at = w.wide ? 2 * int64_t{depth} : depth;
  const uint32_t* offsets = w.offsets;
  for (int32_t k = lo; k <= hi; ++k) {
    if (k + kReachAhead <= hi) __builtin_prefetch(w.base + offsets[k + kReachAhead] + at);
    w.keys[k] = key_of(w, offsets[k], length_at(w, k), depth);
  }
}

// Whether keys that agree in their first bytes + 1 bytes, with the last
// of those the given value, are whole and equal: a zero character among
// them ends every line there.
inline bool ended_at(const Work& w, uint64_t key, int32_t bytes) {
  const int shift = 56 - 8 * bytes;
  if (!w.wide) return ((key >> shift) & 0xFF) == 0;
  return (bytes & 1) == 1 && ((key >> shift) & 0xFFFF) == 0;
}

// One pass that puts the range in the order of key byte t.shared_bytes,
// leaving the groups of equal bytes as new tasks in parts. A byte all
// keys share moves on to the next without a pass (to the next key once
// the whole key is shared).
template <bool kLengths>
void radix_step(Work& w, Task t, std::vector<Task>* parts) {
  uint64_t* keys = w.keys;
  uint32_t* offsets = w.offsets;
  uint16_t* lengths = w.lengths;
  for (;;) {
    if (t.shared_bytes == 8) {
      if (ends(w, keys[t.lo])) {
        equal_lines_hold(w, t.lo, t.hi);
        return;
      }
      t.depth += w.step;
      t.shared_bytes = 0;
      t.splits = 0;
      refill_keys(w, t.lo, t.hi, t.depth);
    }
    if (t.shared_bytes == 0) {
      // The bytes every key shares, found in one pass.
      uint64_t differ = 0;
      const uint64_t k0 = keys[t.lo];
      for (int32_t i = t.lo + 1; i <= t.hi; ++i) differ |= keys[i] ^ k0;
      // A shared zero character would make the keys whole and equal: then
      // all 8 bytes are shared, and the check above decides them.
      t.shared_bytes = differ == 0 ? 8 : __builtin_clzll(differ) / 8;
      if (t.shared_bytes == 8) continue;
    }
    const int shift = 56 - 8 * t.shared_bytes;
    int32_t count[256] = {};
    for (int32_t i = t.lo; i <= t.hi; ++i) ++count[(keys[i] >> shift) & 0xFF];
    const int32_t size = t.hi - t.lo + 1;
    const int first_byte = static_cast<int>((keys[t.lo] >> shift) & 0xFF);
    if (count[first_byte] == size) {
      if (ended_at(w, keys[t.lo], t.shared_bytes)) {
        equal_lines_hold(w, t.lo, t.hi);
        return;
      }
      ++t.shared_bytes;
      continue;
    }
    // Each value's place, then every entry taken to it along the cycles
    // of the permutation.
    int32_t next[256];
    int32_t end[256];
    int32_t at = t.lo;
    for (int b = 0; b < 256; ++b) {
      next[b] = at;
      at += count[b];
      end[b] = at;
    }
    for (int b = 0; b < 256; ++b) {
      while (next[b] < end[b]) {
        uint64_t k = keys[next[b]];
        uint32_t o = offsets[next[b]];
        uint16_t n = kLengths ? lengths[next[b]] : 0;
        int c = static_cast<int>((k >> shift) & 0xFF);
        while (c != b) {
          const int32_t to = next[c]++;
          std::swap(k, keys[to]);
          std::swap(o, offsets[to]);
          if constexpr (kLengths) std::swap(n, lengths[to]);
          c = static_cast<int>((k >> shift) & 0xFF);
        }
        keys[next[b]] = k;
        offsets[next[b]] = o;
        if constexpr (kLengths) lengths[next[b]] = n;
        ++next[b];
      }
    }
    int32_t from = t.lo;
    for (int b = 0; b < 256; ++b) {
      const int32_t to = from + count[b];
      if (to - from >= 2) {
        if (ended_at(w, keys[from], t.shared_bytes)) {
          if (!equal_lines_hold(w, from, to - 1)) return;
        } else {
          parts->push_back(Task{from, to - 1, t.depth, t.splits, t.shared_bytes + 1});
        }
      }
      from = to;
    }
    return;
  }
}

// The characters every line opens with, in whole keys (a code's letter
// and leading zeros, say), with the keys taken again behind them. Found
// before the sort starts, so that the new keys are taken on all threads:
// the first task would take them on one. 0 when the first keys differ.
int32_t opening_depth(Work& w, int32_t count, int32_t threads) {
  int32_t depth = 0;
  if (threads < 2 || count < kRadixFrom) return 0;
  for (;;) {
    const uint64_t first = w.keys[0];
    int32_t i = 1;
    while (i < count && w.keys[i] == first) ++i;
    if (i < count || ends(w, first)) return depth;
    depth += w.step;
    on_threads(threads, [&w, count, threads, depth](int32_t t) {
      int32_t lo, hi;
      piece_of(count, threads, t, &lo, &hi);
      if (hi > lo) refill_keys(w, lo, hi - 1, depth);
    });
  }
}

// Sorts one shared range, keeping its smaller pieces on a stack of its own.
void run_task(Work& w, Task first) {
  std::vector<Task> local;
  std::vector<Task> radix_parts;
  local.push_back(first);
  uint64_t* keys = w.keys;
  while (!local.empty() && !w.failed.load(std::memory_order_relaxed)) {
    Task t = local.back();
    local.pop_back();
    if (t.hi - t.lo + 1 <= kSmallRange) {
      insertion_sort(w, t);
      continue;
    }
    if (t.hi - t.lo + 1 >= kRadixFrom) {
      if (t.splits >= w.split_limit) {
        w.failed = true;
        return;
      }
      radix_parts.clear();
      if (w.lengths != nullptr) {
        radix_step<true>(w, t, &radix_parts);
      } else {
        radix_step<false>(w, t, &radix_parts);
      }
      for (const Task& part : radix_parts) {
        if (part.hi - part.lo + 1 >= w.offer_size) {
          offer(w, part);
        } else {
          local.push_back(part);
        }
      }
      continue;
    }
    int32_t mid = t.lo + (t.hi - t.lo) / 2;
    uint64_t pivot = median3(keys[t.lo], keys[mid], keys[t.hi]);
    int32_t lt;
    int32_t gt;
    if (w.lengths != nullptr) {
      partition<true>(w, t.lo, t.hi, pivot, &lt, &gt);
    } else {
      partition<false>(w, t.lo, t.hi, pivot, &lt, &gt);
    }
    Task parts[3];
    int n = 0;
    if (ends(w, pivot) && gt > lt && !equal_lines_hold(w, lt, gt)) return;
    if (!ends(w, pivot) && gt > lt) {
      int32_t depth = t.depth + w.step;
      refill_keys(w, lt, gt, depth);
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

// Keys at depth 0 for packing; the length is not needed, the line
// ending at its zero.
uint64_t narrow_slot_key(const void*, const char* start, int32_t) {
  return narrow_key(start, 0);
}

uint64_t folded_slot_key(const void*, const char* start, int32_t) {
  return fold_word(narrow_key(start, 0));
}

uint64_t wide_slot_key(const void*, const char* start, int32_t) {
  return wide_key(start, 0);
}

uint64_t bounded_narrow_slot_key(const void*, const char* start, int32_t length) {
  return bounded_key(start, length, 0, false);
}

uint64_t bounded_wide_slot_key(const void*, const char* start, int32_t length) {
  return bounded_key(start, length, 0, true);
}

}  // namespace

namespace {

// Puts the table back into the order of the lines in their buffer, which
// is the order they were recorded in.
struct ByStart {
  char* const* starts;
  int operator()(int32_t a, int32_t b) const {
    return starts[a] < starts[b] ? -1 : (starts[a] > starts[b] ? 1 : 0);
  }
};

void restore_recorded_order(LineTable* table, int32_t count) {
  ByStart cmp{table->line_starts.get()};
  TableSwap swap{table->line_starts.get(), table->line_lengths.get()};
  quicksort::sort_entries(count, cmp, swap);
}

}  // namespace

bool string_sort_lines(LineTable* table, int32_t count, bool wide, bool fold,
                       const SortTuning& tuning) {
  if (count < 2) return true;
  fold = fold && !wide;
  int32_t threads = count >= tuning.parallel_min_count ? sort_threads(tuning) : 1;
  // Packed, the table's slots hold the keys and offsets, so the sort
  // needs no memory beyond the table; packing also makes sure that no
  // line goes on behind a zero, which makes equal lines equal bytes.
  // With the lengths aside (when their 2 bytes a line can be had) they
  // need not be found again afterwards.
  std::unique_ptr<uint16_t[]> lengths = lengths_aside(count, tuning);
  // Bounded lines have no zero to find their ends by.
  const bool bounded = table->bounded;
  if (bounded && (fold || lengths == nullptr)) return false;
  PackedTable packed;
  packed.lengths = lengths.get();
  SlotKey key{wide ? &wide_slot_key : (fold ? &folded_slot_key : &narrow_slot_key), nullptr};
  if (bounded) key.of = wide ? &bounded_wide_slot_key : &bounded_narrow_slot_key;
  if (!pack_table(table, count, wide, threads, key, &packed)) return false;
  // Folded, a sort that gives up must hand the quicksort its lines in the
  // order they were recorded: the buffer's order, if the table was in it.
  if (fold && !packed.in_buffer_order) {
    unpack_table(packed, count, threads);
    return false;
  }
  Work w;
  w.keys = packed.keys;
  w.offsets = packed.offsets;
  w.lengths = packed.lengths;
  w.base = packed.base;
  w.wide = wide;
  w.fold = fold;
  w.bounded = bounded;
  w.step = wide ? 4 : 8;
  int32_t log2 = 0;
  while ((int64_t{1} << log2) < count) ++log2;
  w.split_limit = tuning.string_sort_split_limit >= 0 ? tuning.string_sort_split_limit
                                               : 4 * log2 + 32;
  w.offer_size = std::max<int32_t>(4096, count / (threads * 16));
  w.shared.push_back(Task{0, count - 1, opening_depth(w, count, threads), 0});
  on_threads(threads, [&w](int32_t) { drain(&w); });
  // Given up or not, the table is whole again, in some order of its lines;
  // equal lines being equal bytes, the quicksort may start from any.
  unpack_table(packed, count, threads);
  if (w.failed && fold) restore_recorded_order(table, count);
  return !w.failed;
}

}  // namespace quarnel
