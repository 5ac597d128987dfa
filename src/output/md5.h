// MD5 message digest (RFC 1321), for the work-directory part of run names.
#ifndef QUARNEL_OUTPUT_MD5_H_
#define QUARNEL_OUTPUT_MD5_H_

#include <cstddef>
#include <cstdint>

namespace quarnel {

struct Md5Context {
  uint32_t count[2];  // bytes absorbed, low half first
  uint32_t state[4];
  unsigned char block[64];
};

void md5_init(Md5Context* context);
void md5_update(Md5Context* context, const void* data, size_t length);
void md5_final(Md5Context* context, unsigned char digest[16]);
void md5_transform(uint32_t state[4], const unsigned char block[64]);

}  // namespace quarnel

#endif  // QUARNEL_OUTPUT_MD5_H_
