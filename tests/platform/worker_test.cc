#include "platform/worker.h"

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(WorkerTest, TakesTasksInOrderAndTellsAFailureOnce) {
  Worker w;
  ASSERT_TRUE(w.start());
  std::vector<int> seen;
  for (int i = 0; i < 50; ++i) {
    w.post([&seen, i] {
      seen.push_back(i);
      return i != 7;
    });
  }
  EXPECT_FALSE(w.wait());
  EXPECT_TRUE(w.wait());  // told once
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
  w.post([] { return false; });
  EXPECT_FALSE(w.stop());
  EXPECT_FALSE(w.running());
}

TEST(WorkerTest, WithoutAThreadTasksAreTakenInPlace) {
  Worker w;  // never started
  int taken = 0;
  w.post([&taken] { return ++taken > 0; });
  EXPECT_EQ(taken, 1);
  w.post([] { return false; });
  EXPECT_FALSE(w.wait());
  EXPECT_TRUE(w.stop());
}

TEST(WorkerTest, OnThreadsCallsEveryIndexOnce) {
  std::atomic<int> calls[5] = {};
  on_threads(5, [&calls](int32_t t) { ++calls[t]; });
  for (auto& c : calls) EXPECT_EQ(c.load(), 1);
}

}  // namespace
}  // namespace quarnel
