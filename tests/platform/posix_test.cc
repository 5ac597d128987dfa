#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::read_file;
using testing::write_file;

// A folder under /dev/shm, removed at the end; empty path when there is
// no /dev/shm or it lies on the same file system as /tmp.
class ShmDir {
 public:
  ShmDir() {
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) != 0 || stat("/tmp", &tmp) != 0) return;
    if (shm.st_dev == tmp.st_dev) return;
    path_ = platform::make_unique_directory("/dev/shm/quarnel-test-");
  }
  ~ShmDir() {
    if (!path_.empty()) {
      std::string command = "rm -rf '" + path_ + "'";
      if (system(command.c_str()) != 0) {
      }
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

mode_t mode_of(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

std::string big_content() {
  // Larger than one copy chunk, with every byte value.
  std::string s(9 << 20, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 7 + i / 251);
  return s;
}

TEST(PosixTest, MoveAcrossFileSystemsReplacesTheTarget) {
  ShmDir shm;
  if (shm.path().empty()) GTEST_SKIP() << "/dev/shm and /tmp share a file system";
  TempDir tmp;
  const std::string content = big_content();
  // /dev/shm to /tmp over an existing file.
  std::string from = shm.path() + "/run.000";
  std::string to = tmp.file("out.txt");
  write_file(from, content);
  chmod(from.c_str(), 0640);
  write_file(to, "old output\n");
  chmod(to.c_str(), 0600);
  ASSERT_EQ(platform::move_file(from, to), 0);
  EXPECT_FALSE(platform::exists(from));
  EXPECT_EQ(read_file(to), content);
  // The replaced file's permissions stay; a new file keeps the source's.
  EXPECT_EQ(mode_of(to), 0600u);
  // No temporary file is left beside the target.
  EXPECT_EQ(testing::list_dir(tmp.path()), std::vector<std::string>{"out.txt"});
  // And back from /tmp to /dev/shm.
  std::string back = shm.path() + "/back.txt";
  chmod(to.c_str(), 0604);
  ASSERT_EQ(platform::move_file(to, back), 0);
  EXPECT_FALSE(platform::exists(to));
  EXPECT_EQ(read_file(back), content);
  EXPECT_EQ(mode_of(back), 0604u);
}

TEST(PosixTest, FailedMoveLeavesTheTargetUntouched) {
  TempDir tmp;
  std::string to = tmp.file("out.txt");
  write_file(to, "keep me\n");
  EXPECT_EQ(platform::move_file(tmp.file("missing"), to), -1);
  EXPECT_EQ(read_file(to), "keep me\n");
  ShmDir shm;
  if (shm.path().empty()) GTEST_SKIP() << "/dev/shm and /tmp share a file system";
  std::string from = shm.path() + "/run.000";
  write_file(from, big_content());
  // Across file systems onto a folder: the copy is made and then cannot
  // take the folder's place. Nothing of it may stay behind.
  std::string folder = tmp.file("folder");
  ASSERT_EQ(platform::make_directory(folder), 0);
  write_file(folder + "/inside.txt", "keep me too\n");
  EXPECT_EQ(platform::move_file(from, folder), -1);
  EXPECT_EQ(read_file(folder + "/inside.txt"), "keep me too\n");
  EXPECT_EQ(testing::list_dir(tmp.path()),
            (std::vector<std::string>{"folder", "out.txt"}));
  EXPECT_EQ(platform::file_size(from), static_cast<int64_t>(big_content().size()));
  // Into a folder that does not exist.
  EXPECT_EQ(platform::move_file(from, tmp.file("none/out.txt")), -1);
  EXPECT_TRUE(platform::exists(from));
}

TEST(PosixTest, MoveWithinAFileSystem) {
  TempDir tmp;
  write_file(tmp.file("a"), "abc");
  write_file(tmp.file("b"), "old");
  ASSERT_EQ(platform::move_file(tmp.file("a"), tmp.file("b")), 0);
  EXPECT_EQ(read_file(tmp.file("b")), "abc");
  EXPECT_FALSE(platform::exists(tmp.file("a")));
}

TEST(PosixTest, SystemFacts) {
  EXPECT_GT(platform::available_memory(), 0);
  std::string self = platform::executable_path();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self[0], '/');
  EXPECT_EQ(self.substr(self.rfind('/') + 1), "quarnel_tests");
  EXPECT_TRUE(platform::is_executable_file(self));
  platform::LocalTime t = platform::local_time();
  EXPECT_GE(t.year, 2024);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  EXPECT_TRUE(t.day >= 1 && t.day <= 31);
}

TEST(PosixTest, FilesAndDirectories) {
  TempDir tmp;
  std::string file = tmp.file("f.txt");
  write_file(file, "12345");
  EXPECT_TRUE(platform::exists(file));
  EXPECT_FALSE(platform::is_directory(file));
  EXPECT_EQ(platform::file_size(file), 5);
  EXPECT_TRUE(platform::is_directory(tmp.path()));
  EXPECT_EQ(platform::file_size(tmp.file("none")), -1);
  EXPECT_FALSE(platform::exists(tmp.file("none")));
  EXPECT_FALSE(platform::exists(""));
  EXPECT_FALSE(platform::is_directory(""));
  EXPECT_FALSE(platform::is_executable_file(file));
  std::string sub = tmp.file("sub");
  EXPECT_EQ(platform::make_directory(sub), 0);
  EXPECT_EQ(platform::make_directory(sub), -1);
  EXPECT_TRUE(platform::is_directory(sub));
  EXPECT_EQ(platform::delete_file(file), 0);
  EXPECT_EQ(platform::delete_file(file), -1);
  EXPECT_EQ(platform::remove_directory(sub), 0);
  std::string unique = platform::make_unique_directory(tmp.file("job-"));
  EXPECT_TRUE(platform::is_directory(unique));
  EXPECT_EQ(unique.compare(0, tmp.file("job-").size(), tmp.file("job-")), 0);
}

TEST(PosixTest, MakeWritableNeverOpensToOthers) {
  TempDir tmp;
  std::string file = tmp.file("ro.txt");
  write_file(file, "x");
  chmod(file.c_str(), 0444);
  EXPECT_EQ(platform::make_writable(file), 0);
  EXPECT_EQ(mode_of(file), 0644u);
  chmod(file.c_str(), 0000);
  EXPECT_EQ(platform::make_writable(file), 0);
  EXPECT_EQ(mode_of(file), 0600u);
  EXPECT_EQ(mode_of(file) & (S_IWGRP | S_IWOTH), 0u);
  EXPECT_EQ(platform::make_writable(tmp.file("none")), -1);
}

TEST(PosixTest, OpenWriteWithoutTruncationKeepsTheContent) {
  TempDir tmp;
  std::string file = tmp.file("out.txt");
  write_file(file, "existing content");
  int fd = platform::open_write(file, false, false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::close_fd(fd), 0);
  EXPECT_EQ(read_file(file), "existing content");
  fd = platform::open_write(file, true, false);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::write_fd(fd, "NEW", 3), 3);
  platform::close_fd(fd);
  EXPECT_EQ(read_file(file), "NEWsting content");
  fd = platform::open_write(file, true, true);
  ASSERT_GE(fd, 0);
  platform::close_fd(fd);
  EXPECT_EQ(read_file(file), "");
  // Without create a missing file is not made.
  EXPECT_EQ(platform::open_write(tmp.file("none"), false, false), -1);
  EXPECT_FALSE(platform::exists(tmp.file("none")));
}

TEST(PosixTest, ReservedSpaceNeverLengthensTheFile) {
  // A run whose writing stops early must not read as longer than what was
  // written: the space is set aside behind the end, the size kept.
  TempDir tmp;
  int fd = platform::open_write(tmp.file("run"), true, true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::write_fd(fd, "head", 4), 4);
  const bool reserved = platform::reserve_space(fd, 1 << 20) == 0;
  struct stat st;
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, 4);
  if (reserved) {
    EXPECT_GE(int64_t{st.st_blocks} * 512, 1 << 20);
  }
  EXPECT_EQ(platform::write_fd(fd, "tail", 4), 4);
  EXPECT_EQ(platform::close_fd(fd), 0);
  EXPECT_EQ(read_file(tmp.file("run")), "headtail");
  // Nothing to set aside, or a descriptor that is no file: no change, no
  // crash.
  EXPECT_EQ(platform::reserve_space(-1, 1 << 20), -1);
  fd = open("/dev/null", O_WRONLY);
  if (fd >= 0) {
    EXPECT_EQ(platform::reserve_space(fd, 1 << 20), -1);
    close(fd);
  }
}

TEST(PosixTest, MappedFileReadsWithZerosBehindAndEndsTheJobWhenItShrinks) {
  testing::TempDir dir;
  const std::string path = dir.file("mapped.txt");
  const std::string text(8192 + 5, 'q');  // ends just past a page
  testing::write_file(path, text);
  int fd = platform::open_read(path);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::map_for_reading(fd, 9000, "m"), nullptr);  // longer than the file
  const char* p = platform::map_for_reading(fd, static_cast<int64_t>(text.size()), "gone\n");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, text.size()), text);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p[text.size() + i], 0);
  // A job folder is removed when the lost page is read.
  const std::string folder = platform::make_locked_folder(dir.file("job"));
  ASSERT_FALSE(folder.empty());
  testing::write_file(folder + "/run.000", "x");
  ASSERT_EQ(truncate(path.c_str(), 10), 0);
  EXPECT_EXIT(
      {
        volatile char c = p[8192];
        (void)c;
        std::_Exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "^gone\n$");
  EXPECT_FALSE(platform::exists(folder));
  platform::remove_locked_folder(folder);
  platform::unmap_for_reading(p, static_cast<int64_t>(text.size()));
  platform::close_fd(fd);
  int dev_null = platform::open_read("/dev/null");
  EXPECT_EQ(platform::map_for_reading(dev_null, 1, "m"), nullptr);
  platform::close_fd(dev_null);
}

TEST(PosixTest, ReadAndWriteWholeBuffers) {
  TempDir tmp;
  const std::string content = big_content();
  int fd = platform::open_write(tmp.file("big"), true, true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(platform::write_fd(fd, content.data(), static_cast<int64_t>(content.size())),
            static_cast<int64_t>(content.size()));
  platform::close_fd(fd);
  fd = platform::open_read(tmp.file("big"));
  ASSERT_GE(fd, 0);
  std::string back(content.size() + 10, '\0');
  EXPECT_EQ(platform::read_fd(fd, back.data(), static_cast<int64_t>(back.size())),
            static_cast<int64_t>(content.size()));
  back.resize(content.size());
  EXPECT_TRUE(back == content);
  EXPECT_EQ(platform::read_fd(fd, back.data(), 10), 0);
  platform::close_fd(fd);
  EXPECT_EQ(platform::open_read(tmp.file("none")), -1);
  // A full device is a failed write, not a short success.
  fd = open("/dev/full", O_WRONLY);
  if (fd >= 0) {
    EXPECT_EQ(platform::write_fd(fd, "abc", 3), -1);
    close(fd);
  }
}

TEST(PosixTest, RunProcessExitStatus) {
  EXPECT_EQ(platform::run_process({"/bin/sh", "-c", "exit 0"}), 0);
  EXPECT_EQ(platform::run_process({"/bin/sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(platform::run_process({"/bin/sh", "-c", "exit 255"}), 255);
  EXPECT_EQ(platform::run_process({"/no/such/program"}), -1);
  EXPECT_EQ(platform::run_process({}), -1);
  // A signal ends the child: a failure that no exit code hides.
  int killed = platform::run_process({"/bin/sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(killed, 128 + SIGTERM);
  // Arguments reach the child as they are, blanks and quotes included.
  TempDir tmp;
  std::string out = tmp.file("args");
  EXPECT_EQ(platform::run_process({"/bin/sh", "-c", "printf '%s|' \"$@\" > \"$0\"", out,
                                   "a b", "\"q\"", "*"}),
            0);
  EXPECT_EQ(read_file(out), "a b|\"q\"|*|");
}

TEST(PosixTest, EnvironmentAndDirectories) {
  setenv("QUARNEL_TEST_VALUE", "v1", 1);
  ASSERT_NE(platform::get_env("QUARNEL_TEST_VALUE"), nullptr);
  EXPECT_STREQ(platform::get_env("QUARNEL_TEST_VALUE"), "v1");
  unsetenv("QUARNEL_TEST_VALUE");
  EXPECT_EQ(platform::get_env("QUARNEL_TEST_VALUE"), nullptr);
  std::string here = platform::current_directory();
  TempDir tmp;
  ASSERT_EQ(platform::change_directory(tmp.path()), 0);
  char real[4096];
  ASSERT_NE(realpath(tmp.path().c_str(), real), nullptr);
  EXPECT_EQ(platform::current_directory(), real);
  EXPECT_EQ(platform::change_directory(tmp.file("none")), -1);
  ASSERT_EQ(platform::change_directory(here), 0);
}

}  // namespace
}  // namespace quarnel
