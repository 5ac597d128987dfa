// MD5 as RFC 1321 defines it: 64-byte blocks, four rounds of sixteen
// steps, the message closed with 0x80, zeros and its bit count.
#include "output/md5.h"

#include <cstring>

namespace quarnel {

namespace {

inline uint32_t rotate_left(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t load_le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

inline void store_le32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// The sine table and shift amounts of the four rounds.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

}  // namespace

void md5_init(Md5Context* context) {
  context->count[0] = 0;
  context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
  memset(context->block, 0, sizeof(context->block));
}

void md5_transform(uint32_t state[4], const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    int round = i / 16;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        g = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        g = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
        break;
    }
    uint32_t next = b + rotate_left(a + f + kSine[i] + x[g], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void md5_update(Md5Context* context, const void* data, size_t length) {
  const unsigned char* input = static_cast<const unsigned char*>(data);
  size_t filled = context->count[0] & 63;
  uint32_t low = context->count[0] + static_cast<uint32_t>(length);
  // The byte count is 64 bits in two halves; carry into the high one.
  context->count[1] += static_cast<uint32_t>(static_cast<uint64_t>(length) >> 32);
  if (low < context->count[0]) ++context->count[1];
  context->count[0] = low;

  if (filled > 0) {
    size_t take = 64 - filled;
    if (length < take) {
      memcpy(context->block + filled, input, length);
      return;
    }
    memcpy(context->block + filled, input, take);
    md5_transform(context->state, context->block);
    input += take;
    length -= take;
  }
  while (length >= 64) {
    md5_transform(context->state, input);
    input += 64;
    length -= 64;
  }
  if (length > 0) memcpy(context->block, input, length);
}

void md5_final(Md5Context* context, unsigned char digest[16]) {
  unsigned char bits[8];
  uint32_t low_bits = context->count[0] << 3;
  uint32_t high_bits = (context->count[1] << 3) | (context->count[0] >> 29);
  store_le32(bits, low_bits);
  store_le32(bits + 4, high_bits);

  size_t filled = context->count[0] & 63;
  size_t pad = filled < 56 ? 56 - filled : 120 - filled;
  static const unsigned char kPadding[64] = {0x80};
  md5_update(context, kPadding, pad);
  md5_update(context, bits, 8);
  for (int i = 0; i < 4; ++i) store_le32(digest + 4 * i, context->state[i]);
  memset(context, 0, sizeof(*context));
}

}  // namespace quarnel
