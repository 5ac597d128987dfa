#include "output/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quarnel {
namespace {

std::string hex_digest_of(const std::string& text) {
  Md5Context context;
  md5_init(&context);
  md5_update(&context, text.data(), text.size());
  unsigned char digest[16];
  md5_final(&context, digest);
  char hex[33];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return hex;
}

TEST(Md5Test, RfcTestSuite) {
  EXPECT_EQ(hex_digest_of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(hex_digest_of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(hex_digest_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(hex_digest_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(hex_digest_of("abcdefghijklmnopqrstuvwxyz"),
            "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(hex_digest_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  std::string eighty;
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  EXPECT_EQ(hex_digest_of(eighty), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, WorkDirectoryExampleAndPaddingIntoASecondBlock) {
  EXPECT_EQ(hex_digest_of("C:\\TEMP\\"), "16c02e8eef353c9c34d48edcb08abe52");
  // 56 bytes: the closing 0x80 and the length no longer fit one block.
  EXPECT_EQ(hex_digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "8215ef0796a20bcaaae116d3876c664a");
}

TEST(Md5Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 7 + 3);
  const std::string whole = hex_digest_of(text);
  for (size_t piece : {1u, 3u, 63u, 64u, 65u, 200u}) {
    Md5Context context;
    md5_init(&context);
    for (size_t at = 0; at < text.size(); at += piece) {
      size_t n = std::min(piece, text.size() - at);
      md5_update(&context, text.data() + at, n);
    }
    unsigned char digest[16];
    md5_final(&context, digest);
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    EXPECT_EQ(std::string(hex), whole) << "pieces of " << piece;
  }
}

}  // namespace
}  // namespace quarnel
