#include "output/stdout_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::read_file;
using testing::to_cp932;
using testing::write_file;

std::string convert(WideToSjisState* state, const std::string& chunk) {
  std::string out(chunk.size() + 1, '?');
  size_t n = convert_wide_chunk(state, reinterpret_cast<const unsigned char*>(chunk.data()),
                                chunk.size(), out.data());
  out.resize(n);
  return out;
}

std::string convert_first(const std::string& chunk) {
  WideToSjisState state;
  return convert(&state, chunk);
}

// Standard output goes to a file for the length of one copy.
struct CopyResult {
  int result;
  std::string out;
};

CopyResult copy_captured(const std::string& path, bool wide = false) {
  TempDir dir;
  const std::string sink = dir.file("stdout");
  fflush(stdout);
  int saved = dup(1);
  int fd = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 1);
  close(fd);
  int result = copy_to_stdout(path.c_str(), wide);
  dup2(saved, 1);
  close(saved);
  return {result, read_file(sink)};
}

class StdoutCopyTest : public ::testing::Test {};

TEST_F(StdoutCopyTest, WideUnitsBecomeShiftJis) {
  EXPECT_EQ(convert_first(std::string("\xFF\xFE" "A\0B\0C\0\r\0\n\0", 12)), "ABC\r\n");
  // ア 漢
  EXPECT_EQ(convert_first(std::string("\xA2\x30\x22\x6F", 4)), "\x83\x41\x8A\xBF");
  EXPECT_EQ(convert_first(std::string("\xA2\x30\x22\x6F", 4)), to_cp932("ア漢"));
  // U+1F600 as a surrogate pair: each half a blank.
  EXPECT_EQ(convert_first(std::string("\x3D\xD8\x00\xDE" "A\0", 6)), "  A");
  // An odd last byte is one more unit.
  EXPECT_EQ(convert_first(std::string("A\0B", 3)), "AB");
  // A NUL unit is kept and what follows it too.
  EXPECT_EQ(convert_first(std::string("A\0\0\0B\0", 6)), std::string("A\0B", 3));
  EXPECT_EQ(convert_first(""), "");
}

TEST_F(StdoutCopyTest, MarksCountOnlyAtTheStartOfTheFirstChunk) {
  WideToSjisState state;
  EXPECT_EQ(convert(&state, std::string("\xFF\xFE" "A\0", 4)), "A");
  EXPECT_FALSE(state.big_endian);
  // Later: U+FEFF has no Shift_JIS form and U+FFFE none either.
  EXPECT_EQ(convert(&state, std::string("\xFF\xFE" "A\0", 4)), " A");
  EXPECT_EQ(convert(&state, std::string("\xFE\xFF" "A\0", 4)), " A");
  EXPECT_FALSE(state.big_endian);

  WideToSjisState big;
  EXPECT_EQ(convert(&big, std::string("\xFE\xFF\0A\x30\xA2", 6)), "A\x83\x41");
  EXPECT_TRUE(big.big_endian);
  EXPECT_EQ(convert(&big, std::string("\0B\x6F\x22", 4)), "B\x8A\xBF");

  WideToSjisState both;
  EXPECT_EQ(convert(&both, std::string("\xFF\xFE\xFE\xFF\0C", 6)), "C");
  EXPECT_TRUE(both.big_endian);
}

TEST_F(StdoutCopyTest, NarrowFileIsCopiedByteForByte) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 40000; ++i) bytes += static_cast<char>((i * 131) & 0xFF);
  bytes += "\r\nlast\r\n";
  write_file(dir.file("run"), bytes);
  CopyResult r = copy_captured(dir.file("run"));
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out, bytes);
}

TEST_F(StdoutCopyTest, WideFileIsConvertedInEveryChunk) {
  TempDir dir;
  // Big-endian, three chunks: every unit is swapped, not only the first
  // chunk's; the chunk boundary falls inside no unit.
  std::string big("\xFE\xFF", 2);
  std::string expected;
  for (int i = 0; i < 12000; ++i) {
    big += std::string("\0", 1) + static_cast<char>('A' + i % 26);
    expected += static_cast<char>('A' + i % 26);
  }
  write_file(dir.file("big"), big);
  CopyResult r = copy_captured(dir.file("big"), true);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out, expected);

  // 8192 units of two bytes each: one chunk of 16384 bytes, whole.
  std::string kana;
  for (int i = 0; i < 8192; ++i) kana += "\xA2\x30";
  write_file(dir.file("kana"), kana);
  r = copy_captured(dir.file("kana"), true);
  ASSERT_EQ(r.out.size(), 16384u);
  for (size_t i = 0; i < r.out.size(); i += 2) {
    ASSERT_EQ(r.out.substr(i, 2), "\x83\x41") << i;
  }

  write_file(dir.file("empty"), "");
  r = copy_captured(dir.file("empty"), true);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(StdoutCopyTest, MissingFileWritesNothing) {
  TempDir dir;
  CopyResult r = copy_captured(dir.file("absent"));
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "");
  r = copy_captured(dir.file("absent"), true);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace quarnel
