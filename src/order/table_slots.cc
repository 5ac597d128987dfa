#include "order/table_slots.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "order/line_table.h"

namespace quarnel {

namespace {

typedef uint64_t __attribute__((may_alias)) AnyWord;

// Units at even addresses are looked at four at a time, in aligned words:
// an aligned word never reaches into another page, so its bytes behind
// the zero unit are safe to read (the address checker is told so).
__attribute__((no_sanitize_address)) int32_t wide_length(const char* p) {
  const char* q = p;
  if ((reinterpret_cast<uintptr_t>(q) & 1) == 0) {
    while ((reinterpret_cast<uintptr_t>(q) & 7) != 0) {
      if (q[0] == 0 && q[1] == 0) return static_cast<int32_t>((q - p) / 2);
      q += 2;
    }
    const uint64_t ones = 0x0001000100010001ULL;
    for (;;) {
      uint64_t v = *reinterpret_cast<const AnyWord*>(q);
      if (((v - ones) & ~v & (ones << 15)) != 0) break;
      q += 8;
    }
  }
  while (q[0] != 0 || q[1] != 0) q += 2;
  return static_cast<int32_t>((q - p) / 2);
}

// The zero bytes (units, counted from from's alignment) in [from, to), on
// several threads; -1 when wide units do not lie at even addresses.
int64_t zeros_between(const char* from, const char* to, bool wide, int32_t threads) {
  if (wide && ((reinterpret_cast<uintptr_t>(from) | reinterpret_cast<uintptr_t>(to)) & 1)) {
    return -1;
  }
  const int64_t unit = wide ? 2 : 1;
  const int64_t units = (to - from) / unit;
  std::vector<int64_t> found(static_cast<size_t>(threads), 0);
  on_threads(threads, [&](int32_t t) {
    int64_t piece = units / threads + 1;
    int64_t first = std::min(units, t * piece);
    int64_t last = std::min(units, first + piece);
    int64_t n = 0;
    if (wide) {
      typedef uint16_t __attribute__((may_alias)) AnyUnit;
      const AnyUnit* u = reinterpret_cast<const AnyUnit*>(from);
      for (int64_t i = first; i < last; ++i) n += u[i] == 0;
    } else {
      const unsigned char* b = reinterpret_cast<const unsigned char*>(from);
      for (int64_t i = first; i < last; ++i) n += b[i] == 0;
    }
    found[static_cast<size_t>(t)] = n;
  });
  int64_t total = 0;
  for (int64_t n : found) total += n;
  return total;
}

}  // namespace

std::unique_ptr<uint16_t[]> lengths_aside(int32_t count, const SortTuning& tuning) {
  if (!tuning.keep_lengths_aside) return nullptr;
  return std::unique_ptr<uint16_t[]>(new (std::nothrow) uint16_t[static_cast<size_t>(count)]);
}

int32_t length_to_zero(const char* p, bool wide) {
  return wide ? wide_length(p) : static_cast<int32_t>(strlen(p));
}

// The slots are the table's own arrays; they change type in place, so
// every value goes in and out through memcpy.
bool pack_table(LineTable* table, int32_t count, bool wide, int32_t threads,
                const SlotKey& key, PackedTable* packed) {
  char** starts = table->line_starts.get();
  const int32_t* lengths = table->line_lengths.get();
  std::vector<uintptr_t> lows(threads, UINTPTR_MAX);
  std::vector<uintptr_t> highs(threads, 0);
  std::atomic<bool> plain{true};
  std::atomic<bool> rising{true};
  bool check = !table->zero_free &&
               !(packed->zeros_inside && packed->lengths != nullptr);
  uint16_t* kept = packed->lengths;
  on_threads(threads, [&](int32_t t) {
    int32_t first, last;
    piece_of(count, threads, t, &first, &last);
    // Gathered in locals and stored once: the threads' slots share a cache
    // line, which a store per line would pass back and forth between them.
    uintptr_t low = UINTPTR_MAX;
    uintptr_t high = 0;
    bool rose = true;
    for (int32_t i = first; i < last; ++i) {
      const char* p = starts[i];
      if (i > 0 && starts[i - 1] >= p) rose = false;
      uintptr_t at = reinterpret_cast<uintptr_t>(p);
      low = std::min(low, at);
      high = std::max(high, at);
    }
    lows[t] = low;
    highs[t] = high;
    if (!rose) rising.store(false, std::memory_order_relaxed);
  });
  // Lines one after the other, as a buffer holds them, with nothing but
  // line ends between them: then a zero for each line, and no more, means
  // that none goes on behind a zero. Else each line is looked at.
  if (check && rising) {
    const int64_t unit = wide ? 2 : 1;
    const char* end = starts[count - 1] + (int64_t{lengths[count - 1]} + 1) * unit;
    if (zeros_between(starts[0], end, wide, threads) == count) check = false;
  }
  if (check) {
    on_threads(threads, [&](int32_t t) {
      int32_t first, last;
      piece_of(count, threads, t, &first, &last);
      for (int32_t i = first; i < last && plain.load(std::memory_order_relaxed); ++i) {
        if (length_to_zero(starts[i], wide) != lengths[i]) plain = false;
      }
    });
  }
  uintptr_t low = *std::min_element(lows.begin(), lows.end());
  uintptr_t high = *std::max_element(highs.begin(), highs.end());
  if (!plain || high - low > UINT32_MAX) return false;

  const char* base = reinterpret_cast<const char*>(low);
  char* key_slots = reinterpret_cast<char*>(starts);
  char* offset_slots = reinterpret_cast<char*>(table->line_lengths.get());
  on_threads(threads, [&](int32_t t) {
    int32_t first, last;
    piece_of(count, threads, t, &first, &last);
    for (int32_t i = first; i < last; ++i) {
      char* p;
      int32_t length;
      memcpy(&p, key_slots + 8 * int64_t{i}, 8);
      memcpy(&length, offset_slots + 4 * int64_t{i}, 4);
      uint32_t offset = static_cast<uint32_t>(p - base);
      uint64_t k = key.of(key.context, p, length);
      if (kept != nullptr) kept[i] = static_cast<uint16_t>(length);
      memcpy(key_slots + 8 * int64_t{i}, &k, 8);
      memcpy(offset_slots + 4 * int64_t{i}, &offset, 4);
    }
  });
  packed->base = base;
  packed->keys = reinterpret_cast<uint64_t*>(key_slots);
  packed->offsets = reinterpret_cast<uint32_t*>(offset_slots);
  packed->wide = wide;
  packed->in_buffer_order = rising;
  return true;
}

void unpack_table(const PackedTable& packed, int32_t count, int32_t threads) {
  char* start_slots = reinterpret_cast<char*>(packed.keys);
  char* length_slots = reinterpret_cast<char*>(packed.offsets);
  on_threads(threads, [&](int32_t t) {
    int32_t first, last;
    piece_of(count, threads, t, &first, &last);
    for (int32_t i = first; i < last; ++i) {
      uint32_t offset;
      memcpy(&offset, length_slots + 4 * int64_t{i}, 4);
      const char* start = packed.base + offset;
      int32_t length;
      if (packed.lengths != nullptr) {
        length = packed.lengths[i];
      } else {
        // The lines come in sorted order, scattered: ask for them early.
        if (i + 8 < last) {
          uint32_t ahead;
          memcpy(&ahead, length_slots + 4 * int64_t{i + 8}, 4);
          __builtin_prefetch(packed.base + ahead);
        }
        length = length_to_zero(start, packed.wide);
      }
      memcpy(start_slots + 8 * int64_t{i}, &start, 8);
      memcpy(length_slots + 4 * int64_t{i}, &length, 4);
    }
  });
}

}  // namespace quarnel
