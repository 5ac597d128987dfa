// The status line's text: what it says at each phase, and how it keeps
// within the terminal's width whatever the numbers.
#include "console/progress.h"

#include <gtest/gtest.h>

#include <string>

namespace quarnel {
namespace {

int columns_of(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) {
    if (c < 0x80) {
      ++width;
    } else if ((c & 0xC0) != 0x80) {
      width += 2;
    }
  }
  return width;
}

TEST(ProgressTextTest, EachPhaseWithAmountPercentRateAndTimeLeft) {
  ProgressView view;
  view.phase = ProgressPhase::kReadSort;
  view.number = 3;
  view.done = 250000000;
  view.total = 1000000000;
  view.seconds = 10;
  EXPECT_EQ(progress_text(view, 200),
            "◇ラン 3 読込・整列  250/1,000MB  25%  25.0MB/秒  残り 0:30");
  view.phase = ProgressPhase::kWrite;
  EXPECT_EQ(progress_text(view, 200).rfind("◇ラン 3 書出し  250/1,000MB", 0), 0u);
  view.phase = ProgressPhase::kMerge;
  view.number = 2;
  view.count = 3;
  view.done = 1500000000;
  view.total = 12345000000;
  view.seconds = 5;
  EXPECT_EQ(progress_text(view, 200),
            "◇併合 2/3 パス目  1,500/12,345MB  12%  300MB/秒  残り 0:36");
  // Hours, and small totals in tenths.
  view.done = 1000000;
  view.seconds = 10;
  EXPECT_NE(progress_text(view, 200).find("残り 34:17:20"), std::string::npos);
  view.done = 2500000;
  view.total = 5000000;
  EXPECT_NE(progress_text(view, 200).find("2.5/5.0MB  50%"), std::string::npos);
  view.done = 999999893;
  view.total = 999999893;
  EXPECT_NE(progress_text(view, 200).find("1,000/1,000MB  100%"), std::string::npos);
}

TEST(ProgressTextTest, OddNumbersNeitherDivideByZeroNorRunPastTheEnd) {
  ProgressView view;
  view.number = 1;
  // Nothing done yet, or no time passed: no rate and no time left.
  view.total = 100000000;
  view.seconds = 3;
  EXPECT_EQ(progress_text(view, 200), "◇ラン 1 読込・整列  0/100MB  0%");
  view.done = 50000000;
  view.seconds = 0;
  EXPECT_EQ(progress_text(view, 200), "◇ラン 1 読込・整列  50/100MB  50%");
  // An empty total, and more done than the total (a file that grew).
  view.total = 0;
  view.seconds = 1;
  EXPECT_EQ(progress_text(view, 200).find("%"), std::string::npos);
  view.total = 40000000;
  EXPECT_NE(progress_text(view, 200).find("40/40MB  100%"), std::string::npos);
  EXPECT_NE(progress_text(view, 200).find("残り 0:00"), std::string::npos);
}

TEST(ProgressTextTest, FieldsAtTheEndGoFirstWhenTheTerminalIsNarrow) {
  ProgressView view;
  view.phase = ProgressPhase::kMerge;
  view.number = 1;
  view.count = 1;
  view.done = 700000000;
  view.total = 1000000000;
  view.seconds = 7;
  const std::string full = progress_text(view, 200);
  for (int columns = 0; columns <= columns_of(full) + 1; ++columns) {
    std::string text = progress_text(view, columns);
    EXPECT_LE(columns_of(text), columns) << text;
    EXPECT_EQ(full.compare(0, text.size(), text), 0) << text;
  }
  EXPECT_EQ(progress_text(view, 2), "");
  EXPECT_EQ(progress_text(view, 32), "◇併合 1/1 パス目  700/1,000MB");
}

}  // namespace
}  // namespace quarnel
