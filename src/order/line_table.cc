#include "order/line_table.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "console/console.h"
#include "console/messages.h"

namespace quarnel {

namespace {

// Line indexes are 32-bit; a table never needs more entries than that.
constexpr int64_t kMaxEntries = 2147483647;

}  // namespace

bool copy_bounded_lines(LineTable* table, int32_t count, bool wide, char* room,
                          int64_t room_size) {
  if (!table->bounded) return true;
  const int64_t unit = wide ? 2 : 1;
  char** starts = table->line_starts.get();
  const int32_t* lengths = table->line_lengths.get();
  int64_t need = 0;
  for (int32_t i = 0; i < count; ++i) need += (int64_t{lengths[i]} + 1) * unit;
  char* out = room;
  if (out == nullptr || need > room_size) {
    report_error(msg::kNoMemory, nullptr);
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const size_t n = static_cast<size_t>(lengths[i]) * static_cast<size_t>(unit);
    std::memcpy(out, starts[i], n);
    std::memset(out + n, 0, static_cast<size_t>(unit));
    starts[i] = out;
    out += n + static_cast<size_t>(unit);
  }
  // The mapping stays until the run is written; its lines are no longer
  // looked at.
  table->bounded = false;
  return true;
}

int grow_line_table(LineTable* table) {
  LineTable& t = *table;
  int64_t block = std::max<int32_t>(t.block_size, 1);
  t.block_size = static_cast<int32_t>(block);
  int64_t old_count = t.block_count;
  int64_t most = std::max<int64_t>(1, kMaxEntries / block);
  // Doubling keeps the cost of all growths linear; one block more is the
  // fallback when the double cannot be had. The first table has room for
  // twice the estimated lines: its untouched pages cost nothing, while a
  // growth holds the old and the new table at once.
  int64_t tries[2] = {std::min(most, old_count == 0 ? 2 : old_count * 2),
                      std::min(most, old_count + 1)};
  for (int64_t count : tries) {
    if (count <= old_count) continue;
    size_t n = static_cast<size_t>(count * block);
    std::unique_ptr<char*[]> starts(new (std::nothrow) char*[n]);
    std::unique_ptr<int32_t[]> lengths(new (std::nothrow) int32_t[n]);
    if (!starts || !lengths) continue;
    // Entries are written as lines are recorded; untouched pages of a
    // large table cost nothing.
    size_t used = static_cast<size_t>(t.last_line + 1);
    if (used > 0 && t.line_starts && t.line_lengths) {
      std::memcpy(starts.get(), t.line_starts.get(), used * sizeof(char*));
      std::memcpy(lengths.get(), t.line_lengths.get(), used * sizeof(int32_t));
    }
    t.line_starts = std::move(starts);
    t.line_lengths = std::move(lengths);
    t.block_count = static_cast<int32_t>(count);
    return t.block_count;
  }
  report_error(msg::kNoMemory, nullptr);
  return 0;
}

void release_line_table(LineTable* table) {
  table->line_starts.reset();
  table->line_lengths.reset();
  table->block_count = 0;
  table->last_line = -1;
}

}  // namespace quarnel
