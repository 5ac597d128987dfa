// The built Quarnel writing its runs, placing its result and cleaning up
// its work directory.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

// Distinct lines of letters and digits, tagged, in a fixed pseudo-random
// order; returns the input (LF ends) and fills the sorted lines.
std::string make_input(const std::string& tag, int count, size_t width,
                       std::vector<std::string>* sorted) {
  uint32_t seed = 12345u + static_cast<uint32_t>(tag.size()) * 77u +
                  static_cast<uint32_t>(tag[0]);
  std::string input;
  sorted->clear();
  for (int i = 0; i < count; ++i) {
    std::string line = tag;
    for (size_t k = 0; k < width; ++k) {
      seed = seed * 1103515245u + 12345u;
      line += static_cast<char>('0' + (seed >> 16) % 43);
    }
    line += std::to_string(i);
    input += line + "\n";
    sorted->push_back(line);
  }
  std::sort(sorted->begin(), sorted->end());
  return input;
}

std::string joined_crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

ProgramResult sort_with(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {built_program("Quarnel")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, {"LC_ALL=C"});
}

TEST(FilesEndToEnd, OneRunBecomesTheOutputAndTheWorkDirectoryIsLeftEmpty) {
  TempDir dir;
  const std::string work = dir.file("work");
  ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
  std::vector<std::string> sorted;
  write_file(dir.file("in.txt"), make_input("k", 2000, 30, &sorted));

  ProgramResult r = sort_with({dir.file("in.txt"), dir.file("out.txt"), "/T", work});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out.txt")), joined_crlf(sorted));
  EXPECT_TRUE(list_dir(work).empty());

  r = sort_with({dir.file("in.txt"), "stdout", "/T", work});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, joined_crlf(sorted));
  EXPECT_TRUE(list_dir(work).empty());
}

TEST(FilesEndToEnd, WideResultOnStandardOutputIsShiftJis) {
  TempDir dir;
  // FF FE, then イ CR LF, ア LF, 漢 LF, U+1F600 LF (a surrogate pair).
  write_file(dir.file("in.txt"),
             std::string("\xFF\xFE" "\xA4\x30\r\0\n\0" "\xA2\x30\n\0"
                         "\x22\x6F\n\0" "\x3D\xD8\x00\xDE\n\0",
                         22));
  ProgramResult r = sort_with({dir.file("in.txt"), "stdout", "/T", dir.path()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, to_cp932("ア\r\nイ\r\n漢\r\n") + "  \r\n");
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"in.txt"});
}

TEST(FilesEndToEnd, JobsSharingAWorkDirectoryAndABaseNameKeepTheirRunsApart) {
  TempDir dir;
  const std::string work = dir.file("work");
  ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("a").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("b").c_str(), 0700), 0);
  std::vector<std::string> sorted_a, sorted_b;
  write_file(dir.file("a/data.txt"), make_input("alpha", 60000, 60, &sorted_a));
  write_file(dir.file("b/data.txt"), make_input("b", 90000, 40, &sorted_b));

  for (int round = 0; round < 3; ++round) {
    ProgramResult ra, rb;
    std::thread first([&] {
      ra = sort_with({dir.file("a/data.txt"), dir.file("a/out.txt"), "/T", work});
    });
    std::thread second([&] {
      rb = sort_with({dir.file("b/data.txt"), dir.file("b/out.txt"), "/T", work});
    });
    first.join();
    second.join();
    ASSERT_EQ(ra.exit_code, 0) << ra.err;
    ASSERT_EQ(rb.exit_code, 0) << rb.err;
    ASSERT_TRUE(read_file(dir.file("a/out.txt")) == joined_crlf(sorted_a)) << round;
    ASSERT_TRUE(read_file(dir.file("b/out.txt")) == joined_crlf(sorted_b)) << round;
    ASSERT_TRUE(list_dir(work).empty());
  }
}

// A work directory on a 1 MB file system, mounted for the test.
class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "a full disk needs a small tmpfs, and mounting one needs root";
    }
    work_ = dir_.file("small");
    ASSERT_EQ(mkdir(work_.c_str(), 0700), 0);
    if (mount("tmpfs", work_.c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs here (" << strerror(errno) << ")";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount2(work_.c_str(), MNT_DETACH);
  }

  TempDir dir_;
  std::string work_;
  bool mounted_ = false;
};

TEST_F(FullDiskTest, RunThatDoesNotFitFailsTheJobAndLeavesNoOutput) {
  std::vector<std::string> sorted;
  write_file(dir_.file("in.txt"), make_input("x", 40000, 60, &sorted));

  ProgramResult r = sort_with({dir_.file("in.txt"), dir_.file("out.txt"), "/T", work_});
  EXPECT_EQ(r.exit_code, 255) << r.err;
  EXPECT_NE(r.err.find(to_cp932("ハードディスクの容量が不足しています")), std::string::npos)
      << r.err;
  EXPECT_FALSE(file_exists(dir_.file("out.txt")));
  EXPECT_TRUE(list_dir(work_).empty());

  // An output that was there stays as it was.
  write_file(dir_.file("out.txt"), "previous result\r\n");
  r = sort_with({dir_.file("in.txt"), dir_.file("out.txt"), "/T", work_});
  EXPECT_EQ(r.exit_code, 255) << r.err;
  EXPECT_EQ(read_file(dir_.file("out.txt")), "previous result\r\n");
  EXPECT_TRUE(list_dir(work_).empty());

  r = sort_with({dir_.file("in.txt"), "stdout", "/T", work_});
  EXPECT_EQ(r.exit_code, 255) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(list_dir(work_).empty());
}

}  // namespace
}  // namespace quarnel::testing
