#include "input/memory_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/run_state.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "input/run_builder.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::write_file;

int32_t estimate_of(const std::string& bytes, bool wide, int bom) {
  return estimate_line_length(
      reinterpret_cast<const unsigned char*>(bytes.data()),
      static_cast<int64_t>(bytes.size()), wide, bom);
}

// The estimate as probe_input leaves it for a file of these bytes.
int32_t probed_estimate(const std::string& bytes, bool wide) {
  TempDir dir;
  SortJob job;
  job.input_path = dir.file("in.txt");
  write_file(job.input_path, bytes);
  job.wide_mode = wide;
  if (bytes.compare(0, 2, "\xFF\xFE") == 0) job.input_bom = "\xFF\xFE";
  RunState run;
  EXPECT_EQ(probe_input(job, &run), 0);
  return run.line_length_estimate;
}

TEST(LineEstimate, FirstLineWithItsLineEnd) {
  EXPECT_EQ(probed_estimate("abc\r\nlonger line\r\n", false), 5);
  EXPECT_EQ(probed_estimate("abc\nx\n", false), 4);
  EXPECT_EQ(probed_estimate("\n", false), 1);
  // FF FE, a, b, LF as 16-bit units: the mark is not counted.
  EXPECT_EQ(probed_estimate(std::string("\xFF\xFE" "a\0b\0\n\0", 8), true), 6);
  EXPECT_EQ(probed_estimate(std::string("a\0b\0\n\0", 6), true), 6);
  // A byte 0A inside a unit is no line feed.
  EXPECT_EQ(estimate_of(std::string("\x0A\x30" "c\0\n\0", 6), true, 0), 6);
}

TEST(LineEstimate, EightyWithoutALineFeedOrAfterAZero) {
  EXPECT_EQ(probed_estimate("abc", false), 80);
  EXPECT_EQ(probed_estimate(std::string("ab\0c\n", 5), false), 80);
  EXPECT_EQ(probed_estimate(std::string("a\0\0\0\n\0", 6), true), 80);
  // An odd last byte is no unit; only a mark before the first line.
  EXPECT_EQ(estimate_of(std::string("a\0\n", 3), true, 0), 80);
  // Only the first 65535 bytes are looked at.
  EXPECT_EQ(probed_estimate(std::string(65535, 'x') + "\n", false), 80);
  EXPECT_EQ(probed_estimate(std::string(65534, 'x') + "\n", false), 65535);
}

TEST(InputProbe, RefusesEmptyOrMissingInput) {
  TempDir dir;
  SortJob job;
  RunState run;
  job.input_path = dir.file("empty.txt");
  write_file(job.input_path, "");
  EXPECT_FALSE(check_input_type(job.input_path));
  EXPECT_EQ(probe_input(job, &run), -1);
  job.input_path = dir.file("missing.txt");
  EXPECT_FALSE(check_input_type(job.input_path));
  EXPECT_EQ(probe_input(job, &run), -1);
}

TEST(InputProbe, TakesAnyFirstBytes) {
  TempDir dir;
  const std::string path = dir.file("in.txt");
  const std::string cases[] = {"\xFF\xFE" "a\0", "\xFE\xFF\0a", std::string("ab\0", 3),
                               "a\xFF", "\x83\x41\r\n", "\xFF"};
  for (const std::string& bytes : cases) {
    write_file(path, bytes);
    EXPECT_TRUE(check_input_type(path)) << bytes.size();
  }
}

// Allocation hook that grants blocks up to a size and records the asks.
struct FakeMemory {
  explicit FakeMemory(int64_t most = 0) : largest(most) {}
  int64_t largest;
  std::vector<int64_t> asked;
  AllocationHook hook() {
    return [this](int64_t bytes) {
      asked.push_back(bytes);
      return bytes <= largest;
    };
  }
};

TEST(Budget, MemoryLimitGivesTheLimitOrTheWholeFile) {
  FakeMemory none;
  // 3,000,000 + 30,000 * 16 is not below 1,000,000.
  EXPECT_EQ(choose_budget(3000000, 100, 1000000, -1, none.hook()), 1000000);
  EXPECT_EQ(choose_budget(100, 100, 2000000000, -1, none.hook()), 100);
  // The file and its line table just fit, or just do not.
  EXPECT_EQ(choose_budget(862079, 100, 1000000, -1, none.hook()), 862079);
  EXPECT_EQ(choose_budget(862080, 100, 1000000, -1, none.hook()), 1000000);
  EXPECT_TRUE(none.asked.empty());
}

TEST(Budget, WholeFileCappedAtTwoBillion) {
  FakeMemory huge(1000000000000);
  EXPECT_EQ(choose_budget(3000000000, 100, 0, 1000000000000, huge.hook()),
            kBudgetCap);
  ASSERT_EQ(huge.asked.size(), 1u);
  EXPECT_EQ(huge.asked[0], 1000000000000);
}

TEST(Budget, HalfOfWhatCanBeHad) {
  // 1,000,000,000 available, but only 600,000,000 can be allocated.
  FakeMemory some(600000000);
  int64_t budget = choose_budget(1000000000, 100, 0, 1000000000, some.hook());
  ASSERT_EQ(some.asked.size(), 41u);
  EXPECT_EQ(some.asked.front(), 1000000000);
  EXPECT_EQ(some.asked.back(), 600000000);
  // Half is 300,000,000: the largest hundredth part g of the file with
  // g + (g / 100) * 16 below it is 25 hundredths.
  EXPECT_EQ(budget, 250000000);

  // Nothing can be allocated: one hundredth of the available memory.
  FakeMemory nothing;
  EXPECT_EQ(choose_budget(1000000000, 100, 0, 1000000000, nothing.hook()),
            5000000);
  EXPECT_EQ(nothing.asked.size(), 100u);

  // The memory is unknown: 32,000,000 in its place, no trial at all; no
  // hundredth part of this file fits half of it, so the half is taken.
  FakeMemory unasked(1000000000000);
  EXPECT_EQ(choose_budget(2000000000, 100, 0, -1, unasked.hook()), 16000000);
  EXPECT_TRUE(unasked.asked.empty());
}

TEST(Budget, BufferOfTheBudgetFirst) {
  FakeMemory plenty(1000000000);
  BufferChoice c = allocate_sort_buffer(1000000, 3000000, 100,
                                 carry_over_need(false), plenty.hook());
  EXPECT_EQ(c.mark, 'A');
  EXPECT_EQ(c.budget, 1000000);
  EXPECT_EQ(c.capacity, 1000000);
  EXPECT_EQ(plenty.asked, std::vector<int64_t>{1000002});
}

TEST(Budget, FallbackSharesLessTheirLineTables) {
  FakeMemory tight(500000);
  BufferChoice c = allocate_sort_buffer(1000000, 3000000, 100,
                                 carry_over_need(false), tight.hook());
  EXPECT_EQ(c.mark, 'B');
  // k = 5: 500,000 - 5,000 * 16.
  EXPECT_EQ(c.budget, 420000);
  EXPECT_EQ(c.capacity, 420000);
  EXPECT_EQ(tight.asked, (std::vector<int64_t>{1000002, 756002, 672002,
                                               588002, 504002, 420002}));

  FakeMemory nothing;
  c = allocate_sort_buffer(1000000, 3000000, 100, carry_over_need(false),
                    nothing.hook());
  EXPECT_EQ(c.mark, 0);
  EXPECT_EQ(nothing.asked.size(), 10u);
}

TEST(Budget, ShortLinesGiveUpAtOnce) {
  // With lines under 16 bytes every share is smaller than its line table.
  FakeMemory nothing;
  BufferChoice c = allocate_sort_buffer(1000000, 3000000, 10, carry_over_need(false),
                                 nothing.hook());
  EXPECT_EQ(c.mark, 0);
  EXPECT_LT(c.budget, 0);
  EXPECT_EQ(nothing.asked.size(), 1u);
}

TEST(Budget, BufferAlwaysCarriesTheLongestLine) {
  EXPECT_EQ(carry_over_need(false), 65537);
  EXPECT_EQ(carry_over_need(true), 131074);
  FakeMemory plenty(1000000000);
  BufferChoice narrow =
      allocate_sort_buffer(1000, 1000000000, 100, carry_over_need(false), plenty.hook());
  EXPECT_EQ(narrow.budget, 1000);
  EXPECT_EQ(narrow.capacity, 65537);
  BufferChoice wide =
      allocate_sort_buffer(1000, 1000000000, 100, carry_over_need(true), plenty.hook());
  EXPECT_EQ(wide.capacity, 131074);
  // A file smaller than that is read in one piece: no line is carried.
  BufferChoice small =
      allocate_sort_buffer(100, 100, 100, carry_over_need(true), plenty.hook());
  EXPECT_EQ(small.capacity, 100);
  BufferChoice between =
      allocate_sort_buffer(1000, 70000, 10, carry_over_need(true), plenty.hook());
  EXPECT_EQ(between.capacity, 70000);
}

TEST(Budget, TrialAllocationsFollowTheSystem) {
  EXPECT_TRUE(platform::can_allocate(1 << 20));
  // Far beyond any machine's memory and address space.
  EXPECT_FALSE(platform::can_allocate(int64_t{1} << 60));
}

class PlanMemory : public ::testing::Test {
 protected:
  void SetUp() override { job_.input_path = dir_.file("in.txt"); }
  TempDir dir_;
  SortJob job_;
  RunState run_;
};

TEST_F(PlanMemory, OneMegabyteForThreeMillionBytesOfHundredByteLines) {
  std::string line(99, 'x');
  line += '\n';
  std::string text;
  for (int i = 0; i < 30000; ++i) text += line;
  write_file(job_.input_path, text);
  ASSERT_EQ(probe_input(job_, &run_), 0);
  EXPECT_EQ(run_.line_length_estimate, 100);
  job_.memory_limit = 1000000;
  ASSERT_EQ(plan_memory(job_, &run_), 0);
  EXPECT_EQ(run_.budget, 1000000);
  EXPECT_EQ(run_.remaining_bytes, 3000000);
  EXPECT_EQ(run_.table.block_size, 10000);
  EXPECT_EQ(run_.reader.buffer_capacity, 1000000);
  ASSERT_NE(run_.sort_buffer, nullptr);
  EXPECT_EQ(run_.sort_buffer_size, 1000002);
}

TEST_F(PlanMemory, SmallFileIsTheWholeBudgetWithoutLimit) {
  write_file(job_.input_path, "b\r\na\r\n");
  ASSERT_EQ(probe_input(job_, &run_), 0);
  ASSERT_EQ(plan_memory(job_, &run_), 0);
  EXPECT_EQ(run_.budget, 6);
  EXPECT_EQ(run_.remaining_bytes, 6);
  EXPECT_EQ(run_.reader.buffer_capacity, 6);
  EXPECT_EQ(run_.table.block_size, 2);
  EXPECT_EQ(run_.sort_buffer_size, 8);
}

TEST_F(PlanMemory, RefusesEmptyOrVanishedInput) {
  run_.line_length_estimate = 80;
  write_file(job_.input_path, "");
  EXPECT_EQ(plan_memory(job_, &run_), -1);
  EXPECT_EQ(run_.sort_buffer, nullptr);
  job_.input_path = dir_.file("gone.txt");
  EXPECT_EQ(plan_memory(job_, &run_), -1);
  EXPECT_EQ(run_.remaining_bytes, 0);
}

}  // namespace
}  // namespace quarnel
