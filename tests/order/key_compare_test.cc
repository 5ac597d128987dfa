#include "order/key_compare.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "options/sort_job.h"
#include "text/ascii.h"

namespace quarnel {
namespace {

// A line in a buffer of exactly its length and the zero behind it, so that
// the sanitizers see any read past the terminator.
template <typename Unit>
class Line {
 public:
  explicit Line(const std::basic_string<Unit>& text)
      : length_(static_cast<int32_t>(text.size())),
        data_(new Unit[text.size() + 1]) {
    memcpy(data_.get(), text.c_str(), (text.size() + 1) * sizeof(Unit));
  }
  const Unit* data() const { return data_.get(); }
  int32_t length() const { return length_; }

 private:
  int32_t length_;
  std::unique_ptr<Unit[]> data_;
};

struct Key {
  int start;
  int length;
  char order;
  char type;
};

class KeyCompareTest : public ::testing::Test {
 protected:
  void keys(std::initializer_list<Key> list) {
    conditions_.clear();
    for (const Key& k : list) {
      conditions_.push_back(SortCondition{k.start, k.length, k.order, k.type});
    }
  }
  int narrow(const std::string& a, const std::string& b) const {
    Line<char> x(a), y(b);
    return compare_keys_narrow(x.data(), x.length(), y.data(), y.length(),
                               conditions_.data(), count(), fold_);
  }
  int wide(const std::u16string& a, const std::u16string& b) const {
    Line<char16_t> x(a), y(b);
    return compare_keys_wide(reinterpret_cast<const uint16_t*>(x.data()), x.length(),
                             reinterpret_cast<const uint16_t*>(y.data()), y.length(),
                             conditions_.data(), count());
  }
  int32_t count() const { return static_cast<int32_t>(conditions_.size()); }

  std::vector<SortCondition> conditions_;
  bool fold_ = false;  // /I
  static double value(const std::string& field) {
    Line<char> x(field);
    return numeric_key_value_narrow(x.data(), x.length());
  }
  static double wide_value(const std::u16string& field) {
    Line<char16_t> x(field);
    return numeric_key_value(reinterpret_cast<const uint16_t*>(x.data()),
                             x.length());
  }
};

TEST_F(KeyCompareTest, FieldsAreCutByTheShorterLine) {
  keys({{1, 3, 'A', 'S'}});
  EXPECT_EQ(narrow("abcde", "abd"), -1);
  EXPECT_EQ(wide(u"abcde", u"abd"), -1);

  // m = 4: the count is cut to 3, 'abc' against 'ab' and its terminator.
  keys({{3, 5, 'A', 'S'}});
  EXPECT_EQ(narrow("xxabc", "yyab"), 1);
  EXPECT_EQ(narrow("yyab", "xxabc"), -1);
  EXPECT_EQ(wide(u"xxabc", u"yyab"), 1);

  // Both fields are the terminators: the next condition decides.
  keys({{5, 1, 'A', 'S'}});
  EXPECT_EQ(narrow("xxab", "yyab"), 0);
  keys({{5, 1, 'A', 'S'}, {1, 1, 'D', 'S'}});
  EXPECT_EQ(narrow("xxab", "yyab"), 1);
  EXPECT_EQ(wide(u"xxab", u"yyab"), 1);

  // n' = 1: the shorter line's terminator meets the fourth character.
  keys({{4, 2, 'A', 'S'}});
  EXPECT_EQ(narrow("abc", "abcdefg"), -1);
  EXPECT_EQ(wide(u"abc", u"abcdefg"), -1);
  keys({{4, 2, 'D', 'S'}});
  EXPECT_EQ(narrow("abc", "abcdefg"), 1);
  EXPECT_EQ(wide(u"abc", u"abcdefg"), 1);
}

TEST_F(KeyCompareTest, FieldBehindTheShorterLineComparesLengths) {
  for (char type : {'S', 'I'}) {
    keys({{6, 2, 'A', type}});
    EXPECT_EQ(narrow("zzz", "aaaaaaa"), -1);
    EXPECT_EQ(narrow("aaaaaaa", "zzz"), 1);
    EXPECT_EQ(wide(u"zzz", u"aaaaaaa"), -1);
    keys({{6, 2, 'D', type}});
    EXPECT_EQ(narrow("zzz", "aaaaaaa"), 1);
    EXPECT_EQ(wide(u"aaaaaaa", u"zzz"), -1);
    // Equal lengths pass the decision on.
    keys({{6, 2, 'A', type}, {1, 1, 'A', 'S'}});
    EXPECT_EQ(narrow("zzz", "aaa"), 1);
    EXPECT_EQ(wide(u"zzz", u"aaa"), 1);
  }
  keys({{6, 2, 'A', 'S'}});
  EXPECT_EQ(narrow("", ""), 0);
}

TEST_F(KeyCompareTest, CharacterFieldsNarrow) {
  keys({{1, 3, 'A', 'S'}});
  // "a" is one byte long: its terminator meets the second zero.
  EXPECT_EQ(narrow("a\0b", std::string("a\0c", 3)), 0);
  EXPECT_EQ(narrow(std::string("a\0b", 3), std::string("a\0c", 3)), -1);
  EXPECT_EQ(narrow("\x83\x41", "AB"), 1);  // bytes are unsigned

  keys({{1, 1, 'A', 'S'}});
  EXPECT_EQ(narrow("a", "B"), 1);
  keys({{1, 1, 'D', 'S'}});
  EXPECT_EQ(narrow("a", "B"), -1);

  // /I folds, trail bytes included.
  fold_ = true;
  keys({{1, 1, 'A', 'S'}});
  EXPECT_EQ(narrow("a", "B"), -1);
  EXPECT_EQ(narrow("A", "a"), 0);
  keys({{1, 2, 'D', 'S'}});
  EXPECT_EQ(narrow("a", "B"), 1);
  keys({{1, 2, 'A', 'S'}});
  EXPECT_EQ(narrow("\x83\x41", "\x83\x60"), 1);  // ア folds above チ
}

TEST_F(KeyCompareTest, CharacterFieldsWideAreNeverFolded) {
  fold_ = true;
  keys({{1, 2, 'A', 'S'}});
  EXPECT_EQ(wide(u"a", u"B"), 1);
  EXPECT_EQ(wide(u"A", u"a"), -1);
  EXPECT_EQ(wide(u"\uFF01", u"A"), 1);        // units are unsigned
  EXPECT_EQ(wide(u"\U00010000", u"\uE000"), -1);  // unit, not code point
  keys({{1, 2, 'D', 'S'}});
  EXPECT_EQ(wide(u"a", u"B"), -1);
  keys({{2, 2, 'A', 'S'}});
  EXPECT_EQ(wide(std::u16string(u"x\0a", 3), std::u16string(u"y\0b", 3)), -1);
}

TEST_F(KeyCompareTest, NumericFields) {
  keys({{1, 3, 'A', 'I'}});
  EXPECT_EQ(narrow("12 ", "9  "), 1);
  EXPECT_EQ(wide(u"12 ", u"9  "), 1);
  keys({{1, 3, 'A', 'S'}});
  EXPECT_EQ(narrow("12 ", "9  "), -1);
  keys({{1, 3, 'D', 'Z'}});
  EXPECT_EQ(narrow("12 ", "9  "), -1);
  EXPECT_EQ(wide(u"12 ", u"9  "), -1);

  // Cut by the shorter line: two blanks (0) against '9' and its terminator.
  keys({{1, 4, 'A', 'I'}});
  EXPECT_EQ(narrow("  12", "9"), -1);
  EXPECT_EQ(wide(u"  12", u"9"), -1);

  // Equal values pass the decision on.
  keys({{1, 8, 'A', 'I'}, {8, 1, 'D', 'S'}});
  EXPECT_EQ(narrow("-1,234.5", "-1234.5x"), 1);
  keys({{1, 3, 'A', 'I'}, {2, 1, 'A', 'S'}});
  EXPECT_EQ(narrow("1.0", "1  "), 1);  // equal values; then "." > " "
  EXPECT_EQ(wide(u"1.0", u"1  "), 1);
}

TEST_F(KeyCompareTest, NumericValues) {
  struct Case {
    const char* field;
    double expected;
  };
  const Case cases[] = {
      {"-1,234.5", -1234.5}, {"-1234.5", -1234.5}, {"1e3", 13},
      {"12-5", 12},          {"abc", 0},           {"-", 0},
      {"", 0},               {"1.2.3", 1.2},       {"1.0", 1},
      {"+5", 5},             {".5", 0.5},          {"-.5", -0.5},
      {"--5", 0},            {"+-5", 0},           {".", 0},
      {"5.", 5},             {" 1 2 3 ", 123},     {"\x82\x50\x82\x51", 0},
      {"\x82\x50" "7", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(value(c.field), c.expected) << c.field;
  }
  const std::u16string wide_cases[] = {u"-1,234.5", u"1e3", u"12-5",
                                       u"1.2.3"};
  for (const std::u16string& field : wide_cases) {
    std::string narrow_field(field.begin(), field.end());
    EXPECT_EQ(wide_value(field), value(narrow_field)) << narrow_field;
  }
  EXPECT_EQ(wide_value(u"\uFF11\uFF12"), 0);  // fullwidth digits are dropped
  EXPECT_EQ(wide_value(u"\u0131\u0037"), 7);  // so are units above 0xFF
  EXPECT_EQ(wide_value(u"\u3130"), 0);        // whose low byte is '0'

  // The count bounds the scan.
  EXPECT_EQ(numeric_key_value_narrow("12345", 2), 12);
}

TEST_F(KeyCompareTest, NumericScanStopsAfter256Characters) {
  // The bound is on the characters scanned, not on those kept.
  std::string field = "1" + std::string(255, 'x') + "5";
  EXPECT_EQ(value(field), 1);
  field = std::string(256, '0') + "7";
  EXPECT_EQ(value(field), 0);
  // 256 kept digits are read exactly as atof reads them.
  field = "9" + std::string(200, '3') + "." + std::string(54, '7');
  EXPECT_EQ(value(field), atof(field.c_str()));
  std::u16string wide_field(field.begin(), field.end());
  EXPECT_EQ(wide_value(wide_field + u"9"), atof(field.c_str()));
}

TEST_F(KeyCompareTest, NumericScratchIsPerThread) {
  auto worker = [](const char* text, double expected, int* wrong) {
    for (int i = 0; i < 20000; ++i) {
      if (numeric_key_value_narrow(text, 40) != expected) ++*wrong;
    }
  };
  int wrong_a = 0;
  int wrong_b = 0;
  std::thread a(worker, "1111111111111111111111111111111111111111",
                1111111111111111111111111111111111111111.0, &wrong_a);
  std::thread b(worker, "2222222222222222222222222222222222222222",
                2222222222222222222222222222222222222222.0, &wrong_b);
  a.join();
  b.join();
  EXPECT_EQ(wrong_a, 0);
  EXPECT_EQ(wrong_b, 0);
}

}  // namespace
}  // namespace quarnel
