#include "order/compare.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "options/sort_job.h"
#include "order/compare_rules.h"
#include "text/ascii.h"

namespace quarnel {
namespace {

// Whole lines, with or without /I.
CompareRules rules;

int narrow(const std::string& a, const std::string& b) {
  return compare_narrow(rules, a.c_str(), static_cast<int32_t>(a.size()), b.c_str(),
                        static_cast<int32_t>(b.size()));
}

std::u16string units(std::initializer_list<char16_t> list) { return list; }

int wide(const std::u16string& a, const std::u16string& b) {
  return compare_wide(rules, reinterpret_cast<const uint16_t*>(a.c_str()),
                      static_cast<int32_t>(a.size()),
                      reinterpret_cast<const uint16_t*>(b.c_str()),
                      static_cast<int32_t>(b.size()));
}

// The prefix comparison of two lines, as the fast sort makes it.
int by_prefix(const std::string& a, const std::string& b, bool fold) {
  uint64_t prefixes[2] = {
      narrow_line_prefix(a.c_str(), static_cast<int32_t>(a.size()), fold),
      narrow_line_prefix(b.c_str(), static_cast<int32_t>(b.size()), fold)};
  char* starts[2] = {const_cast<char*>(a.c_str()), const_cast<char*>(b.c_str())};
  return NarrowPrefixCompare{prefixes, starts, fold}(0, 1);
}

int by_prefix_wide(const std::u16string& a, const std::u16string& b) {
  const uint16_t* x = reinterpret_cast<const uint16_t*>(a.c_str());
  const uint16_t* y = reinterpret_cast<const uint16_t*>(b.c_str());
  uint64_t prefixes[2] = {wide_line_prefix(x, static_cast<int32_t>(a.size())),
                          wide_line_prefix(y, static_cast<int32_t>(b.size()))};
  char* starts[2] = {reinterpret_cast<char*>(const_cast<uint16_t*>(x)),
                     reinterpret_cast<char*>(const_cast<uint16_t*>(y))};
  return WidePrefixCompare{prefixes, starts}(0, 1);
}

class CompareTest : public ::testing::Test {
 protected:
  void SetUp() override { rules = CompareRules(); }
};

TEST_F(CompareTest, WholeLineNarrowByteOrderAndFolding) {
  EXPECT_EQ(narrow("abc", "abd"), -1);
  EXPECT_EQ(narrow("ab", "abc"), -1);
  EXPECT_EQ(narrow("abc", "ab"), 1);
  EXPECT_EQ(narrow("B", "a"), -1);
  EXPECT_EQ(narrow("A", "_"), -1);
  EXPECT_EQ(narrow("\x83\x41", "\x83\x60"), -1);  // ア before チ
  EXPECT_EQ(narrow("same", "same"), 0);

  rules.ignore_case = true;
  EXPECT_EQ(narrow("a", "B"), -1);
  EXPECT_EQ(narrow("_", "A"), -1);
  EXPECT_EQ(narrow("\x83\x41", "\x83\x60"), 1);  // the trail byte 41 folds to 61
  EXPECT_EQ(narrow("ABC", "abc"), 0);
}

TEST_F(CompareTest, WholeLineWideUnitOrderWithoutFolding) {
  rules.wide = true;
  rules.ignore_case = true;
  EXPECT_EQ(wide(u"B", u"a"), -1);
  EXPECT_EQ(wide(u"ab", u"abc"), -1);
  EXPECT_EQ(wide(u"abc", u"abc"), 0);
  // A surrogate pair (D83D DE00) sorts below U+E000..U+FFFF.
  EXPECT_EQ(wide(units({0xD83D, 0xDE00}), units({0xE000})), -1);
  EXPECT_EQ(wide(units({0xFF21}), units({0xD83D, 0xDE00})), 1);
}

TEST_F(CompareTest, NulByteEndsTheComparison) {
  std::string a("ab\0x", 4);
  std::string b("ab\0y", 4);
  EXPECT_EQ(narrow(a, b), 0);
  EXPECT_EQ(by_prefix(a, b, false), 0);
}

TEST(FoldWordTest, FoldsExactlyTheAsciiCapitals) {
  for (int c = 0; c < 256; ++c) {
    uint64_t word = 0;
    for (int k = 0; k < 8; ++k) word |= static_cast<uint64_t>((c + k * 37) & 0xFF) << (8 * k);
    uint64_t folded = fold_word(word);
    for (int k = 0; k < 8; ++k) {
      unsigned char in = static_cast<unsigned char>(word >> (8 * k));
      unsigned char want = (in >= 'A' && in <= 'Z') ? in + 32 : in;
      ASSERT_EQ(static_cast<unsigned char>(folded >> (8 * k)), want) << c << " " << k;
    }
  }
}

// The prefix form answers like the comparer for lines that differ before,
// at, and after byte 8, that hold NUL bytes, and that end within 8 bytes.
TEST_F(CompareTest, PrefixFormAgreesWithTheComparers) {
  std::vector<std::string> lines = {
      "",          "a",          "A",          "_",         "abcdefg",
      "abcdefgh",  "abcdefghi",  "abcdefgha",  "ABCDEFGHI", "abcdefgH",
      "abcdefgh_", "abcdefghZ",  "\x83\x41",   "\x83\x60",  "\xFF\xFF",
      std::string("abc\0def", 7), std::string("abc\0deg", 7),
      std::string("abcdefgh\0a", 10), std::string("abcdefgh\0b", 10),
      std::string("\0", 1),       "abcdefghijklmnopq", "abcdefghijklmnopQ",
      std::string("abc\0defghij", 11), std::string("abc\0defghik", 11),
      std::string("\0bcdefghij", 10)};
  for (int fold = 0; fold < 2; ++fold) {
    rules.ignore_case = fold != 0;
    for (const std::string& a : lines) {
      for (const std::string& b : lines) {
        ASSERT_EQ(by_prefix(a, b, fold), narrow(a, b))
            << "fold " << fold << " '" << a << "' '" << b << "'";
      }
    }
  }
  std::vector<std::u16string> wide_lines = {
      u"",     u"a",     u"abc",    u"abcd",   u"abcde", u"abcdf",
      u"abcD", u"\xFF21", units({0xD83D, 0xDE00}), std::u16string(u"ab\0c", 4),
      std::u16string(u"ab\0d", 4), std::u16string(u"abcd\0e", 6),
      std::u16string(u"\0bcde", 5), std::u16string(u"\0bcdf", 5),
      units({0x4100, 0x0041, 0x4100, 0x0041, 0x41}), units({0x4100, 0x0041, 0x4100, 0x0041, 0x42})};
  rules = CompareRules();
  rules.wide = true;
  for (const auto& a : wide_lines) {
    for (const auto& b : wide_lines) {
      ASSERT_EQ(by_prefix_wide(a, b), wide(a, b));
    }
  }
}

TEST_F(CompareTest, FastFormChosenFromTheRules) {
  SortJob job;
  EXPECT_EQ(whole_line_form(compare_rules_of(job)), WholeLineForm::kNarrow);
  job.ignore_case = true;
  EXPECT_EQ(whole_line_form(compare_rules_of(job)), WholeLineForm::kNarrowFolded);
  // Wide text is never folded.
  job.wide_mode = true;
  EXPECT_EQ(whole_line_form(compare_rules_of(job)), WholeLineForm::kWide);
  job.key_mode = true;
  job.conditions = {SortCondition{1, 2, 'A', 'S'}};
  const CompareRules keyed = compare_rules_of(job);
  EXPECT_EQ(whole_line_form(keyed), WholeLineForm::kNone);
  ASSERT_EQ(keyed.conditions.size(), 1u);
  EXPECT_EQ(keyed.conditions[0].length, 2);
}

}  // namespace
}  // namespace quarnel
