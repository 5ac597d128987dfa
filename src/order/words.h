// Word arithmetic shared by the cached prefixes and keys: 8 bytes (or 4
// UTF-16 units) of a line read as one number whose order is the lines'
// order, cut at a terminating zero and folded for /I, without a branch.
#ifndef QUARNEL_ORDER_WORDS_H_
#define QUARNEL_ORDER_WORDS_H_

#include <cstdint>

namespace quarnel {

// A word's lanes (8 bits, or 16 in wide mode) up to its first zero lane,
// the first lane on top; the lanes from that zero on cleared. Exact: no
// carry passes from one lane into the next.
inline uint64_t cut_at_zero(uint64_t v, bool wide) {
  const uint64_t low = wide ? 0x7FFF7FFF7FFF7FFFULL : 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t zero_lanes = ~(((v & low) + low) | v) & ~low;
  if (zero_lanes == 0) return v;
  const int keep = __builtin_clzll(zero_lanes);
  return keep == 0 ? 0 : v & (~uint64_t{0} << (64 - keep));
}

// Four little-endian units read as bytes, the first on top, turned into
// the units themselves in reading order.
inline uint64_t units_in_order(uint64_t bytes) {
  const uint64_t low_bytes = 0x00FF00FF00FF00FFULL;
  return ((bytes >> 8) & low_bytes) | ((bytes & low_bytes) << 8);
}

// 'A'..'Z' as 'a'..'z' in each of the 8 bytes of word, all at once.
inline uint64_t fold_word(uint64_t word) {
  const uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
  const uint64_t high = 0x8080808080808080ULL;
  uint64_t x = word & low7;
  uint64_t at_least_a = x + 0x3F3F3F3F3F3F3F3FULL;  // high bit: x >= 'A'
  uint64_t past_z = x + 0x2525252525252525ULL;      // high bit: x > 'Z'
  uint64_t upper = at_least_a & ~past_z & ~word & high;
  return word | (upper >> 2);
}

}  // namespace quarnel

#endif  // QUARNEL_ORDER_WORDS_H_
