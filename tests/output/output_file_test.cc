#include "output/output_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::read_file;
using testing::write_file;

class OutputFileTest : public ::testing::Test {
 protected:
  void TearDown() override { close_output_file(&file_); }
  OutputFile file_;
};

int64_t size_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

TEST_F(OutputFileTest, PiecesReachTheFileInOrderAndAFillingPieceGoesDirect) {
  TempDir dir;
  const std::string path = dir.file("run");
  ASSERT_EQ(write_buffered(&file_, path.c_str(), "", 0), 0);
  ASSERT_FALSE(file_.needs_open);
  ASSERT_GE(file_.capacity, 1000000);
  // A small capacity stands for the large one: the rule is the same.
  file_.capacity = 100;

  std::string a(60, 'a'), b(40, 'b'), c(99, 'c'), d(10, 'd'), e(150, 'e');
  EXPECT_EQ(write_buffered(&file_, path.c_str(), a.data(), 60), 60);
  EXPECT_EQ(size_of(path), 0);
  // used + length == capacity: buffer written out, the piece after it.
  EXPECT_EQ(write_buffered(&file_, path.c_str(), b.data(), 40), 40);
  EXPECT_EQ(size_of(path), 100);
  EXPECT_EQ(file_.used, 0);
  // used + length == capacity - 1 still fits.
  EXPECT_EQ(write_buffered(&file_, path.c_str(), c.data(), 99), 99);
  EXPECT_EQ(size_of(path), 100);
  EXPECT_EQ(file_.used, 99);
  // A line end that would fill the buffer goes out the same way.
  append_line_end(&file_, "\r\n", 2);
  EXPECT_EQ(size_of(path), 201);
  EXPECT_EQ(file_.used, 0);
  EXPECT_EQ(write_buffered(&file_, path.c_str(), d.data(), 10), 10);
  // A piece larger than the whole buffer is never split.
  EXPECT_EQ(write_buffered(&file_, path.c_str(), e.data(), 150), 150);
  EXPECT_EQ(size_of(path), 361);
  append_line_end(&file_, "\r\n", 2);
  close_output_file(&file_);
  EXPECT_TRUE(file_.needs_open);
  EXPECT_EQ(file_.buffer, nullptr);
  EXPECT_EQ(read_file(path), a + b + c + "\r\n" + d + e + "\r\n");
  EXPECT_EQ(file_.failed, false);
}

TEST_F(OutputFileTest, ManyMegabytesOfPiecesArriveWholeAndInOrder) {
  // Far more than one write-out piece, with line ends between the pieces,
  // as a run is written.
  TempDir dir;
  const std::string path = dir.file("run");
  std::string expected;
  for (int i = 0; i < 60000; ++i) {
    std::string line(20 + i % 90, static_cast<char>('a' + i % 26));
    line += std::to_string(i);
    ASSERT_EQ(write_buffered(&file_, path.c_str(), line.data(),
                             static_cast<int32_t>(line.size())),
              static_cast<int32_t>(line.size()));
    append_line_end(&file_, "\r\n", 2);
    expected += line + "\r\n";
  }
  close_output_file(&file_);
  EXPECT_EQ(file_.failed, false);
  ASSERT_GT(expected.size(), 4u << 20);
  EXPECT_EQ(read_file(path), expected);
}

TEST_F(OutputFileTest, ZeroLengthStillOpensAndTruncates) {
  TempDir dir;
  const std::string path = dir.file("list");
  write_file(path, "old contents");
  EXPECT_EQ(write_buffered(&file_, path.c_str(), "x", 0), 0);
  EXPECT_FALSE(file_.needs_open);
  EXPECT_EQ(read_file(path), "");
  EXPECT_EQ(write_buffered(&file_, path.c_str(), "new", 3), 3);
  close_output_file(&file_);
  EXPECT_EQ(read_file(path), "new");
}

TEST_F(OutputFileTest, MissingDirectoriesAreMadeForAbsoluteAndRelativePaths) {
  TempDir dir;
  const std::string nested = dir.path() + "/a/b/c/run.000";
  EXPECT_EQ(write_buffered(&file_, nested.c_str(), "x", 1), 1);
  close_output_file(&file_);
  EXPECT_EQ(read_file(nested), "x");

  const std::string here = platform::current_directory();
  ASSERT_EQ(platform::change_directory(dir.path()), 0);
  EXPECT_EQ(write_buffered(&file_, "r1/r2/run", "yz", 2), 2);
  close_output_file(&file_);
  ASSERT_EQ(platform::change_directory(here), 0);
  EXPECT_EQ(read_file(dir.path() + "/r1/r2/run"), "yz");
  EXPECT_EQ(file_.failed, false);
}

TEST_F(OutputFileTest, FileThatCannotBeOpenedFailsTheJobAndStaysClosed) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(write_buffered(&file_, "/dev/null/run.000", "x", 1), -1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(file_.needs_open);
  EXPECT_EQ(file_.failed, true);
  EXPECT_NE(err.find("(/dev/null/run.000)"), std::string::npos) << err;
}

TEST_F(OutputFileTest, FullDiskFailsTheJobInAWriteAndInTheFinalFlush) {
  ::testing::internal::CaptureStderr();
  // Buffered: nothing reaches the device until the close.
  EXPECT_EQ(write_buffered(&file_, "/dev/full", "abc", 3), 3);
  EXPECT_EQ(file_.failed, false);
  close_output_file(&file_);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(file_.failed, true);
  EXPECT_NE(err.find(console_text(msg::kDiskFull)), std::string::npos);

  file_.failed = false;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(write_buffered(&file_, "/dev/full", "", 0), 0);
  file_.capacity = 4;
  EXPECT_EQ(write_buffered(&file_, "/dev/full", "abcd", 4), -1);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(file_.failed, true);
  EXPECT_NE(err.find(console_text(msg::kDiskFull)), std::string::npos);

  file_.failed = false;
  ::testing::internal::CaptureStderr();
  append_line_end(&file_, "\r\n\r\n", 4);
  close_output_file(&file_);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(file_.failed, true);

  // Full pieces written by the writer thread: its failure comes back with
  // the next piece and stops the writing, long before all is buffered.
  file_.failed = false;
  ::testing::internal::CaptureStderr();
  const std::string line(1000, 'x');
  int accepted = 0;
  while (accepted < 5000 && write_buffered(&file_, "/dev/full", line.data(), 1000) == 1000) {
    ++accepted;
  }
  close_output_file(&file_);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_LT(accepted, 5000);
  EXPECT_EQ(file_.failed, true);
  EXPECT_NE(err.find(console_text(msg::kDiskFull)), std::string::npos);
}

// Runs body in a child process, as the user nobody when this test runs as
// root (root may write any file, so a read-only one would prove nothing).
int run_as_plain_user(const std::string& folder, void (*body)(const std::string&)) {
  if (geteuid() == 0 && chown(folder.c_str(), 65534, 65534) != 0) return -2;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    body(folder);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(OutputFileTest, ReadOnlyFileIsMadeWritableForItsOwnerOnlyAndRewritten) {
  TempDir dir;
  int code = run_as_plain_user(dir.path(), [](const std::string& folder) {
    OutputFile file;
    const std::string path = folder + "/old";
    write_file(path, "old contents");
    if (chmod(path.c_str(), 0444) != 0) _exit(4);
    if (write_buffered(&file, path.c_str(), "new", 3) != 3) _exit(5);
    close_output_file(&file);
    _exit(file.failed ? 6 : 0);
  });
  ASSERT_EQ(code, 0);
  EXPECT_EQ(read_file(dir.file("old")), "new");
  struct stat st;
  ASSERT_EQ(stat(dir.file("old").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(OutputFileTest, ShortMemoryGivesASmallerBufferThenTheResourceMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit does not mix with the address sanitizer";
#endif
  TempDir dir;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // Leave room for about 60 MB more: the 256 MB buffer cannot be had.
    long pages = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(2);
    fclose(statm);
    rlim_t in_use = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE);
    struct rlimit limit = {in_use + 60000000, in_use + 60000000};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    file_.failed = false;
    close_output_file(&file_);
    const std::string path = dir.file("small");
    if (write_buffered(&file_, path.c_str(), "ab", 2) != 2) _exit(3);
    int32_t capacity = file_.capacity;
    close_output_file(&file_);
    if (capacity >= 256000000 || capacity < 1000000 || capacity % 1000000 != 0) _exit(4);
    if (read_file(path) != "ab") _exit(5);

    // Not even 1,000,000 bytes: the file is left created and empty.
    limit.rlim_cur = limit.rlim_max = in_use + 500000;
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    // Free pieces that earlier tests left in the heap would still serve.
    while (new (std::nothrow) char[1000000] != nullptr) {
    }
    const std::string none = dir.file("none");
    if (write_buffered(&file_, none.c_str(), "ab", 2) != -1) _exit(6);
    if (!file_.failed || !file_.needs_open) _exit(7);
    limit.rlim_cur = limit.rlim_max = RLIM_INFINITY;
    setrlimit(RLIMIT_AS, &limit);
    if (read_file(none) != "" || !testing::file_exists(none)) _exit(8);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quarnel
