#include "output/write_behind.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::read_file;

constexpr int64_t kWindow = 64 << 10;
constexpr int kWindows = 8;
const std::chrono::nanoseconds kSlow = std::chrono::seconds(1);
const std::chrono::nanoseconds kFast{0};

// For each window of the file, whether all of its pages are in the
// system's cache.
std::vector<bool> windows_cached(const std::string& path) {
  std::vector<bool> cached;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return cached;
  void* map = mmap(nullptr, kWindow * kWindows, PROT_READ, MAP_SHARED, fd, 0);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> flags(kWindow * kWindows / page);
  if (map != MAP_FAILED && mincore(map, kWindow * kWindows, flags.data()) == 0) {
    const size_t per_window = kWindow / page;
    for (int k = 0; k < kWindows; ++k) {
      bool all = true;
      for (size_t i = 0; i < per_window; ++i) all = all && (flags[k * per_window + i] & 1);
      cached.push_back(all);
    }
  }
  if (map != MAP_FAILED) munmap(map, kWindow * kWindows);
  close(fd);
  return cached;
}

// Small windows; every step the windows ask for may wait its turn, and a
// busy machine does not make one count as slow.
WriteBehindTuning small_windows() {
  WriteBehindTuning tuning;
  tuning.window = kWindow;
  tuning.most_waiting = kWindows;
  tuning.patience = std::chrono::seconds(10);
  return tuning;
}

class WriteBehindTest : public ::testing::Test {
 protected:
  // Writes the file and puts it on the disk, so that whatever is let go
  // can be; then counts its windows one after the other, as fast as they
  // come, with the time each window's writes are said to have taken, so
  // that the hand-back steps queue up. The bytes written.
  std::string write_file(const std::string& path, bool allowed,
                         const std::vector<std::chrono::nanoseconds>& spent,
                         const WriteBehindTuning& tuning = small_windows()) {
    WriteBehind w;
    begin_write_behind(&w, allowed, tuning);
    int fd = platform::open_write(path, true, true);
    EXPECT_GE(fd, 0);
    std::string all;
    for (int k = 0; k < kWindows; ++k) {
      std::string bytes(kWindow, static_cast<char>('a' + k));
      EXPECT_EQ(platform::write_fd(fd, bytes.data(), kWindow), kWindow);
      all += bytes;
    }
    fdatasync(fd);
    for (int k = 0; k < kWindows; ++k) {
      note_written(&w, fd, kWindow, spent[static_cast<size_t>(k)]);
    }
    end_write_behind();
    EXPECT_EQ(platform::close_fd(fd), 0);
    return all;
  }

  // Whether this file system lets go of the written pages at all.
  bool pages_can_go(const TempDir& dir) {
    std::string probe = dir.file("probe");
    write_file(probe, false, std::vector<std::chrono::nanoseconds>(kWindows, kFast));
    int fd = open(probe.c_str(), O_RDONLY);
    platform::drop_written_pages(fd, 0, kWindow * kWindows);
    close(fd);
    std::vector<bool> cached = windows_cached(probe);
    return !cached.empty() && !cached[0];
  }
};

TEST_F(WriteBehindTest, SlowWritesHandBackAllButTheLastWindowsAndKeepEveryByte) {
  TempDir dir;
  if (!pages_can_go(dir)) GTEST_SKIP() << "this file system keeps written pages";
  // Slow from the first window on: every window but the last two goes.
  // Slow only in the third: the file stays handed back after it.
  std::vector<std::chrono::nanoseconds> slow(kWindows, kSlow);
  std::vector<std::chrono::nanoseconds> once(kWindows, kFast);
  once[2] = kSlow;
  for (const auto& spent : {slow, once}) {
    const std::string path = dir.file("out");
    const std::string bytes = write_file(path, true, spent);
    std::vector<bool> cached = windows_cached(path);
    ASSERT_EQ(cached.size(), static_cast<size_t>(kWindows));
    for (int k = 0; k < kWindows; ++k) {
      EXPECT_EQ(cached[static_cast<size_t>(k)], k >= kWindows - 2) << "window " << k;
    }
    EXPECT_TRUE(read_file(path) == bytes);
  }
}

TEST_F(WriteBehindTest, FastWritesAFileNotAllowedOrASlowDiskKeepThePages) {
  TempDir dir;
  if (!pages_can_go(dir)) GTEST_SKIP() << "this file system keeps written pages";
  struct Case {
    const char* what;
    bool allowed;
    std::chrono::nanoseconds spent;
    std::chrono::nanoseconds patience;
    int32_t most_waiting;
  };
  const Case cases[] = {
      {"fast writes", true, kFast, std::chrono::seconds(10), kWindows},
      {"not allowed", false, kSlow, std::chrono::seconds(10), kWindows},
      // The first hand-back step already counts as slow: nothing more is
      // asked of the disk.
      {"slow disk", true, kSlow, std::chrono::nanoseconds(0), kWindows},
      // Steps that would pile up from the first: none is taken.
      {"steps piling up", true, kSlow, std::chrono::seconds(10), 0},
  };
  for (const Case& c : cases) {
    WriteBehindTuning tuning = small_windows();
    tuning.patience = c.patience;
    tuning.most_waiting = c.most_waiting;
    const std::string path = dir.file("out");
    write_file(path, c.allowed, std::vector<std::chrono::nanoseconds>(kWindows, c.spent),
               tuning);
    EXPECT_EQ(windows_cached(path), std::vector<bool>(kWindows, true)) << c.what;
  }
}

}  // namespace
}  // namespace quarnel
