// ASCII text: letters in either case and decimal numbers. The one folding
// rule of the programs: only 'A'..'Z' read as 'a'..'z', byte by byte,
// whatever the double-byte characters (a trail byte in that range is
// folded too); the /I comparers and the matching of option and key words
// use it.
#ifndef QUARNEL_TEXT_ASCII_H_
#define QUARNEL_TEXT_ASCII_H_

#include <cstddef>
#include <cstdint>

namespace quarnel {

inline unsigned char fold_ascii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// strcmp and memcmp with 'A'..'Z' read as 'a'..'z' (the /I comparers).
int strcmp_nocase(const char* a, const char* b);
int memcmp_nocase(const void* a, const void* b, size_t n);

// atoi's reading of a number (the /M value, key columns): white space, an
// optional sign, then decimal digits up to the first other character; no
// digits gives 0, and a value beyond 32 bits is held at the nearest limit.
int32_t read_int32(const char* text);

}  // namespace quarnel

#endif  // QUARNEL_TEXT_ASCII_H_
