#include "options/sort_conditions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "options/sort_job.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::mask_times;
using testing::to_cp932;

class SortConditionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_system_encoding_for_test(platform::SystemEncoding::kOther);
  }
  void TearDown() override { platform::init_locale(); }

  // Compiles text; its standard error goes into err.
  int build(const std::string& text, bool report_lines = true, bool wide = false) {
    std::string key_text = text;
    ::testing::internal::CaptureStderr();
    int r = build_sort_conditions(&key_text, wide, report_lines, &conditions);
    fflush(stderr);
    err = mask_times(::testing::internal::GetCapturedStderr());
    return r;
  }

  static std::string error(const std::string& utf8) {
    return to_cp932("◆") + "<time> " + to_cp932(utf8) + "\n";
  }

  void expect_condition(int n, int start, int length, char order, char type) {
    ASSERT_LT(n, static_cast<int>(conditions.size()));
    const SortCondition& c = conditions[static_cast<size_t>(n)];
    EXPECT_EQ(c.start, start);
    EXPECT_EQ(c.length, length);
    EXPECT_EQ(c.order, order);
    EXPECT_EQ(c.type, type);
  }

  std::string err;
  std::vector<SortCondition> conditions;
};

// The line of one condition, from its parts in UTF-8.
std::string narrow_line(int number, int start, int length, const char* type,
                        const char* order) {
  char head[256];
  snprintf(head, sizeof(head),
           "◇ソート条件[%02d]は %02d カラム目から %02d バイトを%s%s ソートします\n",
           number, start, length, type, order);
  return to_cp932(head);
}

TEST_F(SortConditionsTest, AcceptedConditionsAndTheirLines) {
  ASSERT_EQ(build("(1,10)"), 0);
  EXPECT_EQ(static_cast<int>(conditions.size()), 1);
  expect_condition(0, 1, 10, 'A', 'S');
  EXPECT_EQ(err, narrow_line(1, 1, 10, "文字として", "昇順で"));

  ASSERT_EQ(build("key(1,10)attr(D,I)"), 0);
  expect_condition(0, 1, 10, 'D', 'I');
  EXPECT_EQ(err, narrow_line(1, 1, 10, "実数として", "降順で"));

  ASSERT_EQ(build("(1,10)[d;i]"), 0);
  expect_condition(0, 1, 10, 'D', 'I');
  ASSERT_EQ(build("(1,10)[DESCENDING;integer]"), 0);
  expect_condition(0, 1, 10, 'D', 'I');
  ASSERT_EQ(build("(1,10)[ascending;STRING]"), 0);
  expect_condition(0, 1, 10, 'A', 'S');

  ASSERT_EQ(build("(1,10)[A;Z]"), 0);
  expect_condition(0, 1, 10, 'A', 'Z');
  EXPECT_EQ(err, narrow_line(1, 1, 10, "実数として", "昇順で"));

  // The qualifier belongs to the second attribute, which is not read.
  ASSERT_EQ(build("(1,10)[A,D;I]"), 0);
  expect_condition(0, 1, 10, 'A', 'S');

  ASSERT_EQ(build("(1,10,20)"), 0);
  expect_condition(0, 1, 10, 'A', 'S');

  ASSERT_EQ(build("(3,4)(65536,1)(1,65536)[D]"), 0);
  EXPECT_EQ(static_cast<int>(conditions.size()), 3);
  expect_condition(2, 1, 65536, 'D', 'S');
  EXPECT_EQ(err, narrow_line(1, 3, 4, "文字として", "昇順で") +
                     narrow_line(2, 65536, 1, "文字として", "昇順で") +
                     narrow_line(3, 1, 65536, "文字として", "降順で"));
}

TEST_F(SortConditionsTest, TheFirstKeyWithoutStartEndsTheList) {
  ASSERT_EQ(build("(1,10)(3-4)(5,6)"), 0);
  EXPECT_EQ(static_cast<int>(conditions.size()), 1);
  EXPECT_EQ(err, narrow_line(1, 1, 10, "文字として", "昇順で"));
}

TEST_F(SortConditionsTest, WideWording) {
  ASSERT_EQ(build("(2,3)[D]", true, true), 0);
  EXPECT_EQ(err,
            to_cp932("◇ソート条件[01]は 02 文字目から 03 文字を文字として降順で"
                     " ソートします\n"));
}

TEST_F(SortConditionsTest, Refusals) {
  struct Case {
    const char* text;
    std::string message;
  };
  const Case cases[] = {
      {"key(1,0)", "\"(1,0)\"の指定に誤りがあります"},
      {"(1,10)attr(;S)", "\"(1,10)[;S]\"の指定に誤りがあります"},
      {"(5)", "比較する長さが指定されていません"},
      {"(3-4)", "開始カラムが指定されていません"},
      {"{|}(1,10)", "開始カラムが指定されていません"},
      {"(1,10)[Desc]", "キーの昇順・降順の指定が誤っています"},
      {"(1,10)[A;Number]", "キーの比較タイプ指定が誤っています"},
      // The type is tested before the order.
      {"(1,10)[Desc;Number]", "キーの比較タイプ指定が誤っています"},
      {"(1,65537)", "カラムと長さの指定は1～65536の範囲で指定してください"},
      {"(65537,1)", "カラムと長さの指定は1～65536の範囲で指定してください"},
      {"(1,99999999999)",
       "カラムと長さの指定は1～65536の範囲で指定してください"},
      // Both are tested before the range.
      {"(1,65537)[X]", "キーの昇順・降順の指定が誤っています"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(build(c.text), -1) << c.text;
    EXPECT_EQ(err, error(c.message)) << c.text;
    EXPECT_EQ(static_cast<int>(conditions.size()), 0) << c.text;
  }
}

TEST_F(SortConditionsTest, LinesBeforeALaterFailureAreWritten) {
  EXPECT_EQ(build("(1,10)(5)"), -1);
  EXPECT_EQ(static_cast<int>(conditions.size()), 1);
  EXPECT_EQ(err, narrow_line(1, 1, 10, "文字として", "昇順で") +
                     error("カラムと長さの指定は1～65536の範囲で指定してください"));
}

TEST_F(SortConditionsTest, ReportLinesOffStillReportsErrors) {
  ASSERT_EQ(build("(1,10)(2,3)[D;I]", false), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(static_cast<int>(conditions.size()), 2);
  expect_condition(1, 2, 3, 'D', 'I');

  EXPECT_EQ(build("(1,10)(0,3)", false), -1);
  EXPECT_EQ(err, error("\"(1,10)(0,3)\"の指定に誤りがあります"));
}

TEST_F(SortConditionsTest, TwoHundredFiftySixKeys) {
  std::string spec;
  for (int i = 0; i < 256; ++i) spec += "(" + std::to_string(i + 1) + ",2)";
  ASSERT_EQ(build(spec), 0);
  EXPECT_EQ(static_cast<int>(conditions.size()), 256);
  expect_condition(255, 256, 2, 'A', 'S');
  const std::string last = narrow_line(256, 256, 2, "文字として", "昇順で");
  ASSERT_GE(err.size(), last.size());
  EXPECT_EQ(err.substr(err.size() - last.size()), last);
}

}  // namespace
}  // namespace quarnel
