#include "order/sort_lines.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "options/sort_job.h"
#include "order/compare.h"
#include "order/key_compare.h"
#include "order/line_table.h"
#include "order/quicksort.h"
#include "order/string_sort.h"
#include "order/table_slots.h"

namespace quarnel {

namespace {

int32_t threads_to_use() { return sort_threads(); }

struct PrefixTableSwap {
  char** starts;
  int32_t* lengths;
  uint64_t* prefixes;
  void operator()(int32_t a, int32_t b) const {
    std::swap(starts[a], starts[b]);
    std::swap(lengths[a], lengths[b]);
    std::swap(prefixes[a], prefixes[b]);
  }
};

// Swaps packed entries: the prefix and the offset that stand for a line.
struct SlotSwap {
  uint64_t* prefixes;
  uint32_t* offsets;
  void operator()(int32_t a, int32_t b) const {
    std::swap(prefixes[a], prefixes[b]);
    std::swap(offsets[a], offsets[b]);
  }
};

// Answers as NarrowPrefixCompare with folding does, on a packed table.
struct FoldedSlotCompare {
  const uint64_t* prefixes;
  const uint32_t* offsets;
  const char* base;
  int operator()(int32_t a, int32_t b) const {
    uint64_t x = prefixes[a];
    uint64_t y = prefixes[b];
    if (x != y) return x < y ? -1 : 1;
    if ((x & 0xFF) == 0) return 0;
    int r = strcmp_nocase(base + offsets[a] + 8, base + offsets[b] + 8);
    return r > 0 ? 1 : (r < 0 ? -1 : 0);
  }
};

uint64_t folded_prefix(const char* start, int32_t length) {
  return narrow_line_prefix(start, length, true);
}

struct PointerCompare {
  IndexComparator comparator;
  int operator()(int32_t a, int32_t b) const { return comparator(a, b); }
};

// compare_lines_* called directly, so the call is inlined into the sort.
template <int (*Function)(int32_t, int32_t)>
struct DirectCompare {
  int operator()(int32_t a, int32_t b) const { return Function(a, b); }
};

// Runs fn(first, last) over count entries cut into one piece per thread.
template <typename Fn>
void for_pieces(int32_t count, Fn fn) {
  int32_t threads = threads_to_use();
  if (threads < 2 || count < parallel_sort_min_count) {
    fn(0, count);
    return;
  }
  std::vector<std::thread> helpers;
  int32_t piece = count / threads + 1;
  for (int32_t t = 1; t < threads; ++t) {
    int32_t first = std::min(count, t * piece);
    int32_t last = std::min(count, first + piece);
    try {
      helpers.emplace_back(fn, first, last);
    } catch (const std::system_error&) {
      fn(first, last);  // no thread to be had: do it here
    }
  }
  fn(0, std::min(count, piece));
  for (std::thread& h : helpers) h.join();
}

void fill_prefixes(int32_t count, WholeLineForm form, uint64_t* prefixes) {
  char** starts = line_table.line_starts.get();
  int32_t* lengths = line_table.line_lengths.get();
  for_pieces(count, [=](int32_t first, int32_t last) {
    for (int32_t i = first; i < last; ++i) {
      if (form == WholeLineForm::kWide) {
        prefixes[i] = wide_line_prefix(
            reinterpret_cast<const uint16_t*>(starts[i]), lengths[i]);
      } else {
        prefixes[i] = narrow_line_prefix(starts[i], lengths[i],
                                         form == WholeLineForm::kNarrowFolded);
      }
    }
  });
}

// The field length a line must reach for its cached value to count; set
// before a table is packed with the cache.
int32_t cache_need = 0;

// Every line's cached value for the first key condition; lines too
// short to hold the field keep 0, which is never read.
uint64_t narrow_cache_slot(const char* start, int32_t length) {
  return length < cache_need ? 0 : narrow_key_cache(start, length);
}

uint64_t wide_cache_slot(const char* start, int32_t length) {
  return length < cache_need
             ? 0
             : wide_key_cache(reinterpret_cast<const uint16_t*>(start), length);
}

// Swaps packed entries whose lengths are kept aside.
struct KeptSlotSwap {
  uint64_t* keys;
  uint32_t* offsets;
  uint16_t* lengths;
  void operator()(int32_t a, int32_t b) const {
    std::swap(keys[a], keys[b]);
    std::swap(offsets[a], offsets[b]);
    std::swap(lengths[a], lengths[b]);
  }
};

bool parallel(int32_t count) {
  return threads_to_use() >= 2 && count >= parallel_sort_min_count;
}

template <typename Compare, typename Swap>
void sort_maybe_shared(int32_t count, Compare cmp, Swap swap) {
  if (parallel(count)) {
    quicksort::sort_entries_shared(count, cmp, swap);
  } else {
    quicksort::sort_entries(count, cmp, swap);
  }
}

template <typename Compare>
void sort_with_prefixes(int32_t count, Compare cmp, uint64_t* prefixes) {
  PrefixTableSwap swap{line_table.line_starts.get(),
                       line_table.line_lengths.get(), prefixes};
  sort_maybe_shared(count, cmp, swap);
}

// Whole lines with /I, sorted in the table's own slots (no memory of its
// own); false when the table cannot be packed.
bool sort_folded_in_place(int32_t count) {
  int32_t threads = parallel(count) ? threads_to_use() : 1;
  // With the lengths aside (when their 2 bytes a line can be had) they
  // need not be found again afterwards.
  std::unique_ptr<uint16_t[]> lengths = lengths_aside(count);
  PackedTable packed;
  packed.lengths = lengths.get();
  if (!pack_table(count, false, threads, &folded_prefix, &packed)) return false;
  FoldedSlotCompare cmp{packed.keys, packed.offsets, packed.base};
  if (packed.lengths != nullptr) {
    sort_maybe_shared(count, cmp,
                      KeptSlotSwap{packed.keys, packed.offsets, packed.lengths});
  } else {
    sort_maybe_shared(count, cmp, SlotSwap{packed.keys, packed.offsets});
  }
  unpack_table(packed, count, threads);
  return true;
}

template <bool kWide, bool kNumber>
void sort_with_key_cache(int32_t count, const PackedTable& packed) {
  const SortCondition& c = sort_job.conditions[0];
  KeyCacheCompare<kWide, kNumber> cmp{
      packed.keys,     packed.base,    packed.offsets, packed.lengths,
      cache_need,      c.order != 'A', c.length <= (kWide ? 4 : 8)};
  sort_maybe_shared(count, cmp,
                    KeptSlotSwap{packed.keys, packed.offsets, packed.lengths});
}

// Key mode with a cached first condition, in the table's own slots with
// the lengths aside (2 bytes a line); false when it does not apply or the
// table cannot be packed.
bool sort_by_key_cache(int32_t count, bool wide) {
  KeyCacheForm form = key_cache_form(wide);
  if (form == KeyCacheForm::kNone) return false;
  std::unique_ptr<uint16_t[]> lengths = lengths_aside(count);
  if (!lengths) return false;
  cache_need = key_cache_need();
  int32_t threads = parallel(count) ? threads_to_use() : 1;
  PackedTable packed;
  packed.lengths = lengths.get();
  packed.zeros_inside = true;
  if (!pack_table(count, wide, threads, wide ? &wide_cache_slot : &narrow_cache_slot,
                  &packed)) {
    return false;
  }
  bool number = form == KeyCacheForm::kNumber;
  if (wide) {
    if (number) {
      sort_with_key_cache<true, true>(count, packed);
    } else {
      sort_with_key_cache<true, false>(count, packed);
    }
  } else if (number) {
    sort_with_key_cache<false, true>(count, packed);
  } else {
    sort_with_key_cache<false, false>(count, packed);
  }
  unpack_table(packed, count, threads);
  return true;
}

}  // namespace

void sort_line_indexes(int32_t count, IndexComparator comparator) {
  if (count < 2) return;
  WholeLineForm form = whole_line_form(comparator);
  // Without /I equal lines are equal bytes, so any correct order will do
  // (the string sort checks that no line goes on behind a zero).
  if ((form == WholeLineForm::kNarrow || form == WholeLineForm::kWide) &&
      string_sort_lines(count, form == WholeLineForm::kWide)) {
    return;
  }
  // Lines without their zero go where the other sorts can read them.
  if (!settle_bounded_lines(count)) return;
  // With /I, ties of different bytes keep the quicksort's order; the
  // string sort gives up (the table as it was) where it meets one.
  if (form == WholeLineForm::kNarrowFolded &&
      (string_sort_lines(count, false, true) || sort_folded_in_place(count))) {
    return;
  }
  // The prefixes live only while the sort runs, so that their memory is
  // free again before the run is written. Without it, the plain way.
  std::unique_ptr<uint64_t[]> prefixes;
  if (form != WholeLineForm::kNone) {
    prefixes.reset(new (std::nothrow) uint64_t[static_cast<size_t>(count)]);
  }
  if (prefixes) {
    fill_prefixes(count, form, prefixes.get());
    if (form == WholeLineForm::kWide) {
      sort_with_prefixes(count,
                         WidePrefixCompare{prefixes.get(), line_table.line_starts.get()},
                         prefixes.get());
    } else {
      sort_with_prefixes(count,
                         NarrowPrefixCompare{prefixes.get(),
                                             line_table.line_starts.get(),
                                             form == WholeLineForm::kNarrowFolded},
                         prefixes.get());
    }
    return;
  }
  bool narrow = comparator == &compare_lines_narrow;
  bool wide = comparator == &compare_lines_wide;
  if ((narrow || wide) && sort_job.key_mode && sort_by_key_cache(count, wide)) {
    return;
  }
  // The engine's own comparators are safe on several threads; another
  // function may keep state, so it runs alone.
  TableSwap swap{line_table.line_starts.get(), line_table.line_lengths.get()};
  if (narrow) {
    sort_maybe_shared(count, DirectCompare<compare_lines_narrow>{}, swap);
  } else if (wide) {
    sort_maybe_shared(count, DirectCompare<compare_lines_wide>{}, swap);
  } else {
    PointerCompare cmp{comparator};
    quicksort::sort_entries(count, cmp, swap);
  }
}

}  // namespace quarnel
