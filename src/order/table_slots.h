// The line table packed into its own slots for a sort that needs no
// memory of its own: the 8-byte start slot holds a key of the line, the
// 4-byte length slot its offset from the lowest line. Unpacking puts the
// starts back and finds each length again from the line's ending zero,
// so only tables whose lines hold no zero before their end may be packed.
#ifndef QUARNEL_ORDER_TABLE_SLOTS_H_
#define QUARNEL_ORDER_TABLE_SLOTS_H_

#include <cstdint>
#include <memory>

#include "order/line_table.h"
#include "order/sort_tuning.h"
#include "platform/worker.h"

namespace quarnel {

struct PackedTable {
  const char* base = nullptr;  // the lowest line
  uint64_t* keys = nullptr;    // the start slots
  uint32_t* offsets = nullptr;  // the length slots
  // The lengths, kept aside when the caller gives room for them (a line
  // is at most 65535 long); else they are found again from the zeros.
  uint16_t* lengths = nullptr;
  // Whether lines may go on behind a zero: only where the lengths are kept
  // and the sort does not take lines that compare equal for equal bytes.
  bool zeros_inside = false;
  bool wide = false;
  // Set by packing: the lines' starts rose from each entry to the next.
  bool in_buffer_order = false;
};

// The key kept for a line, from its start and length, under whatever the
// context holds (the comparison rules, for keys of a condition).
struct SlotKey {
  uint64_t (*of)(const void* context, const char* start, int32_t length);
  const void* context;
};

// Packs the table's entries 0 .. count-1 on that many threads, the lengths
// into packed->lengths when it is set. False, with the table untouched,
// when the lines do not lie within 4 GB of the lowest, or when a line
// holds a zero byte (unit in wide mode) before its end where that is not
// allowed (checked unless the table says none can).
bool pack_table(LineTable* table, int32_t count, bool wide, int32_t threads,
                const SlotKey& key, PackedTable* packed);
// Gives the table its starts and lengths again, in the packed order.
void unpack_table(const PackedTable& packed, int32_t count, int32_t threads);

// Room for count lengths kept aside, or null when it cannot be had; also
// null when the tuning keeps none (tests take the other way so).
std::unique_ptr<uint16_t[]> lengths_aside(int32_t count, const SortTuning& tuning);

// The length of the line at p, up to its zero (byte or unit).
int32_t length_to_zero(const char* p, bool wide);

// Entries first .. last-1 of count for thread t of threads.
inline void piece_of(int32_t count, int32_t threads, int32_t t, int32_t* first,
                     int32_t* last) {
  int32_t piece = count / threads + 1;
  *first = t * piece < count ? t * piece : count;
  *last = count - *first < piece ? count : *first + piece;
}

}  // namespace quarnel

#endif  // QUARNEL_ORDER_TABLE_SLOTS_H_
