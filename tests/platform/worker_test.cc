#include "platform/worker.h"

#include <atomic>
#include <chrono>
#include <thread>
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

TEST(WorkerTest, WaitForReturnsOnceItsTaskIsTakenWhileLaterOnesGoOn) {
  Worker w;
  ASSERT_TRUE(w.start());
  std::atomic<bool> first_done{false};
  std::atomic<bool> release{false};
  std::atomic<bool> second_done{false};
  const uint64_t first = w.post([&first_done] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    first_done = true;
    return true;
  });
  const uint64_t second = w.post([&release, &second_done] {
    // Held until the test lets it go; ends by itself after ten seconds,
    // so that a wait_for that waited for it shows as a failure, not a hang.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!release && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    second_done = true;
    return true;
  });
  EXPECT_LT(first, second);
  w.wait_for(first);
  EXPECT_TRUE(first_done);
  EXPECT_FALSE(second_done);
  // A task dropped before it began counts as taken, once the ones before
  // it are.
  bool third_ran = false;
  const uint64_t third = w.post([&third_ran] {
    third_ran = true;
    return false;
  });
  w.drop_waiting();
  release = true;
  w.wait_for(third);
  EXPECT_TRUE(second_done);
  EXPECT_FALSE(third_ran);
  EXPECT_TRUE(w.stop());  // the dropped task failed nothing
  // Without a thread the task is taken before post returns.
  EXPECT_GT(w.post([] { return true; }), third);
}

TEST(WorkerTest, StopTakesWhatIsQueuedAndEndsALongTask) {
  Worker w;
  ASSERT_TRUE(w.start());
  int taken = 0;
  for (int i = 0; i < 100; ++i) {
    w.post([&taken] {
      ++taken;
      return true;
    });
  }
  std::atomic<bool> begun{false};
  bool told = false;
  w.post([&w, &begun, &told] {
    begun = true;
    told = w.wait_for_stop(std::chrono::seconds(30));
    return false;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!begun && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(begun);
  // The task waits until it is told, not for its whole time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(w.stop());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(told);
  EXPECT_EQ(taken, 100);
  EXPECT_FALSE(w.running());

  // Started again: before the stop, a wait runs out and says so.
  ASSERT_TRUE(w.start());
  std::atomic<bool> waited{false};
  bool first_wait = true;
  w.post([&w, &waited, &first_wait] {
    first_wait = w.wait_for_stop(std::chrono::milliseconds(1));
    waited = true;
    while (!w.wait_for_stop(std::chrono::milliseconds(1))) {
    }
    return true;
  });
  while (!waited) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(w.stop());
  EXPECT_FALSE(first_wait);
}

TEST(WorkerTest, OnThreadsCallsEveryIndexOnce) {
  std::atomic<int> calls[5] = {};
  on_threads(5, [&calls](int32_t t) { ++calls[t]; });
  for (auto& c : calls) EXPECT_EQ(c.load(), 1);
}

}  // namespace
}  // namespace quarnel
