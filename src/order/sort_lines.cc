#include "order/sort_lines.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "order/compare.h"
#include "order/key_compare.h"
#include "order/quicksort.h"
#include "order/string_sort.h"
#include "order/table_slots.h"
#include "platform/worker.h"

namespace quarnel {

namespace {

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

// Swaps packed entries whose lengths are kept aside. Always inlined: the
// partition calls it at every exchange, and a call costs more than it.
struct KeptSlotSwap {
  uint64_t* keys;
  uint32_t* offsets;
  uint16_t* lengths;
  __attribute__((always_inline)) void operator()(int32_t a, int32_t b) const {
    std::swap(keys[a], keys[b]);
    std::swap(offsets[a], offsets[b]);
    std::swap(lengths[a], lengths[b]);
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

uint64_t folded_prefix(const void*, const char* start, int32_t length) {
  return narrow_line_prefix(start, length, true);
}

// What one sort works with: the table, its rules, and the threads it may
// use for a table of its size.
struct Sort {
  LineTable* table;
  int32_t count;
  const CompareRules& rules;
  const SortTuning& tuning;
  int32_t threads;  // 1 below the size that is worth sharing
};

template <typename Compare, typename Swap>
void sort_maybe_shared(const Sort& s, Compare cmp, Swap swap) {
  if (s.threads >= 2) {
    quicksort::sort_entries_shared(s.count, s.threads, cmp, swap);
  } else {
    quicksort::sort_entries(s.count, cmp, swap);
  }
}

// A fast comparator's answers turned round under /R, as the rules' own
// comparers turn theirs: the quicksort sees the same answers either way.
template <typename Compare>
struct Reversed {
  Compare cmp;
  int operator()(int32_t a, int32_t b) const { return -cmp(a, b); }
};

// The sort over a comparator that knows nothing of /R.
template <typename Compare, typename Swap>
void sort_fast(const Sort& s, Compare cmp, Swap swap) {
  if (s.rules.reverse) {
    sort_maybe_shared(s, Reversed<Compare>{cmp}, swap);
  } else {
    sort_maybe_shared(s, cmp, swap);
  }
}

// The entries in the opposite order: an ascending order whose equal lines
// are the same bytes, turned into the descending one of /R.
void reverse_entries(LineTable* table, int32_t count) {
  char** starts = table->line_starts.get();
  int32_t* lengths = table->line_lengths.get();
  for (int32_t i = 0, j = count - 1; i < j; ++i, --j) {
    std::swap(starts[i], starts[j]);
    std::swap(lengths[i], lengths[j]);
  }
}

void fill_prefixes(const Sort& s, WholeLineForm form, uint64_t* prefixes) {
  char** starts = s.table->line_starts.get();
  int32_t* lengths = s.table->line_lengths.get();
  const int32_t count = s.count;
  on_threads(s.threads, [=](int32_t t) {
    int32_t first, last;
    piece_of(count, s.threads, t, &first, &last);
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

template <typename Compare>
void sort_with_prefixes(const Sort& s, Compare cmp, uint64_t* prefixes) {
  PrefixTableSwap swap{s.table->line_starts.get(), s.table->line_lengths.get(), prefixes};
  sort_fast(s, cmp, swap);
}

// Whole lines with /I, sorted in the table's own slots (no memory of its
// own); false when the table cannot be packed.
bool sort_folded_in_place(const Sort& s) {
  // With the lengths aside (when their 2 bytes a line can be had) they
  // need not be found again afterwards.
  std::unique_ptr<uint16_t[]> lengths = lengths_aside(s.count, s.tuning);
  PackedTable packed;
  packed.lengths = lengths.get();
  if (!pack_table(s.table, s.count, false, s.threads, SlotKey{&folded_prefix, nullptr},
                  &packed)) {
    return false;
  }
  FoldedSlotCompare cmp{packed.keys, packed.offsets, packed.base};
  if (packed.lengths != nullptr) {
    sort_fast(s, cmp, KeptSlotSwap{packed.keys, packed.offsets, packed.lengths});
  } else {
    sort_fast(s, cmp, SlotSwap{packed.keys, packed.offsets});
  }
  unpack_table(packed, s.count, s.threads);
  return true;
}

// The first condition's cached value of each line; lines too short to
// hold the field keep 0, which is never read.
struct KeyCacheContext {
  const CompareRules* rules;
  int32_t need;
};

uint64_t narrow_cache_slot(const void* context, const char* start, int32_t length) {
  const KeyCacheContext& c = *static_cast<const KeyCacheContext*>(context);
  return length < c.need ? 0 : narrow_key_cache(*c.rules, start);
}

uint64_t wide_cache_slot(const void* context, const char* start, int32_t length) {
  const KeyCacheContext& c = *static_cast<const KeyCacheContext*>(context);
  return length < c.need
             ? 0
             : wide_key_cache(*c.rules, reinterpret_cast<const uint16_t*>(start));
}

template <bool kWide, bool kNumber>
void sort_with_key_cache(const Sort& s, const PackedTable& packed, int32_t need) {
  const SortCondition& c = s.rules.conditions[0];
  KeyCacheCompare<kWide, kNumber> cmp{
      packed.keys,
      packed.base,
      packed.offsets,
      packed.lengths,
      need,
      c.order != 'A',
      c.length <= (kWide ? 4 : 8),
      s.rules.conditions.data(),
      static_cast<int32_t>(s.rules.conditions.size()),
      s.rules.ignore_case};
  sort_fast(s, cmp, KeptSlotSwap{packed.keys, packed.offsets, packed.lengths});
}

// Key mode with a cached first condition, in the table's own slots with
// the lengths aside (2 bytes a line); false when it does not apply or the
// table cannot be packed.
bool sort_by_key_cache(const Sort& s) {
  KeyCacheForm form = key_cache_form(s.rules);
  if (form == KeyCacheForm::kNone) return false;
  std::unique_ptr<uint16_t[]> lengths = lengths_aside(s.count, s.tuning);
  if (!lengths) return false;
  const bool wide = s.rules.wide;
  const KeyCacheContext context{&s.rules, key_cache_need(s.rules)};
  PackedTable packed;
  packed.lengths = lengths.get();
  packed.zeros_inside = true;
  const SlotKey key{wide ? &wide_cache_slot : &narrow_cache_slot, &context};
  if (!pack_table(s.table, s.count, wide, s.threads, key, &packed)) return false;
  const bool number = form == KeyCacheForm::kNumber;
  if (wide) {
    if (number) {
      sort_with_key_cache<true, true>(s, packed, context.need);
    } else {
      sort_with_key_cache<true, false>(s, packed, context.need);
    }
  } else if (number) {
    sort_with_key_cache<false, true>(s, packed, context.need);
  } else {
    sort_with_key_cache<false, false>(s, packed, context.need);
  }
  unpack_table(packed, s.count, s.threads);
  return true;
}

}  // namespace

void sort_lines_plain(LineTable* table, int32_t count, const CompareRules& rules) {
  if (count < 2) return;
  TableCompare cmp{&rules, table->line_starts.get(), table->line_lengths.get()};
  TableSwap swap{table->line_starts.get(), table->line_lengths.get()};
  quicksort::sort_entries(count, cmp, swap);
}

bool sort_lines(LineTable* table, int32_t count, const CompareRules& rules,
                const SortTuning& tuning, char* room, int64_t room_size) {
  if (count < 2) return true;
  const int32_t threads = count >= tuning.parallel_min_count ? sort_threads(tuning) : 1;
  const Sort s{table, count, rules, tuning, threads};
  const WholeLineForm form = whole_line_form(rules);
  // Without /I equal lines are equal bytes, so any correct order will do
  // (the string sort checks that no line goes on behind a zero), and under
  // /R the ascending one read backwards.
  if ((form == WholeLineForm::kNarrow || form == WholeLineForm::kWide) &&
      string_sort_lines(table, count, form == WholeLineForm::kWide, false, tuning)) {
    if (rules.reverse) reverse_entries(table, count);
    return true;
  }
  // Lines without their zero go where the other sorts can read them.
  if (!copy_bounded_lines(table, count, rules.wide, room, room_size)) return false;
  // With /I, ties of different bytes keep the quicksort's order; the
  // string sort gives up (the table as it was) where it meets one.
  // A folded string sort that ends has met no tie of different bytes, so
  // it may be read backwards too.
  if (form == WholeLineForm::kNarrowFolded) {
    if (string_sort_lines(table, count, false, true, tuning)) {
      if (rules.reverse) reverse_entries(table, count);
      return true;
    }
    if (sort_folded_in_place(s)) return true;
  }
  // The prefixes live only while the sort runs, so that their memory is
  // free again before the run is written. Without it, the plain way.
  std::unique_ptr<uint64_t[]> prefixes;
  if (form != WholeLineForm::kNone) {
    prefixes.reset(new (std::nothrow) uint64_t[static_cast<size_t>(count)]);
  }
  if (prefixes) {
    fill_prefixes(s, form, prefixes.get());
    if (form == WholeLineForm::kWide) {
      sort_with_prefixes(s, WidePrefixCompare{prefixes.get(), table->line_starts.get()},
                         prefixes.get());
    } else {
      sort_with_prefixes(s,
                         NarrowPrefixCompare{prefixes.get(), table->line_starts.get(),
                                             form == WholeLineForm::kNarrowFolded},
                         prefixes.get());
    }
    return true;
  }
  if (rules.key_mode && sort_by_key_cache(s)) return true;
  TableCompare cmp{&rules, table->line_starts.get(), table->line_lengths.get()};
  sort_maybe_shared(s, cmp, TableSwap{table->line_starts.get(), table->line_lengths.get()});
  return true;
}

}  // namespace quarnel
