#include "options/key_spec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "options/sort_job.h"
#include "platform/platform.h"

namespace quarnel {
namespace {

using platform::SystemEncoding;

class KeySpecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::set_system_encoding_for_test(SystemEncoding::kOther);
    key_text_ = std::make_unique<char[]>(kTextBufferSize);
    key_table_ = new_key_table();
  }
  void TearDown() override { platform::init_locale(); }

  // Rewrites and parses text as the sort conditions do.
  int parse(const std::string& text) {
    EXPECT_LT(text.size(), static_cast<size_t>(kTextBufferSize));
    memcpy(key_text_.get(), text.c_str(), text.size() + 1);
    return parse_key_spec(preprocess_key_spec(key_text_.get()), key_table_.get());
  }
  std::string rewritten() const { return key_text_.get(); }
  const KeyDefinition& entry(int n) const { return key_table_->entries[n]; }

  std::unique_ptr<char[]> key_text_;
  KeyTable key_table_;
};

TEST_F(KeySpecTest, LongFormIsRewrittenAndParsed) {
  ASSERT_EQ(parse("key(1,10)attr(D,I)"), 0);
  EXPECT_EQ(rewritten(), "(1,10)[D;I]");
  EXPECT_EQ(entry(0).values[0], 1);
  EXPECT_EQ(entry(0).values[1], 10);
  EXPECT_EQ(entry(0).column_count, 2);
  EXPECT_STREQ(entry(0).attributes[0], "D");
  EXPECT_STREQ(entry(0).qualifiers[0], "I");
  EXPECT_EQ(entry(0).attribute_count, 1);
  EXPECT_EQ(entry(1).values[0], 0);

  SetUp();
  ASSERT_EQ(parse("key(1,4)key(10,2)attr(A,S)"), 0);
  EXPECT_EQ(rewritten(), "(1,4)(10,2)[A;S]");
  EXPECT_EQ(entry(0).values[0], 1);
  EXPECT_EQ(entry(0).values[1], 4);
  EXPECT_EQ(entry(0).attribute_count, 0);
  EXPECT_EQ(entry(1).values[0], 10);
  EXPECT_EQ(entry(1).values[1], 2);
  EXPECT_STREQ(entry(1).attributes[0], "A");
  EXPECT_STREQ(entry(1).qualifiers[0], "S");
}

TEST_F(KeySpecTest, LongFormWordsAnywhereAndInAnyCase) {
  ASSERT_EQ(parse("KEY(1,10)ATTRIBUTE(D)"), 0);
  EXPECT_EQ(rewritten(), "(1,10)IBUTE[D]");
  EXPECT_STREQ(entry(0).attributes[0], "D");
  EXPECT_EQ(entry(0).attribute_count, 1);

  // The later qualifier of the same attribute replaces the earlier one.
  SetUp();
  ASSERT_EQ(parse("(1,2)attr(A,S,X)"), 0);
  EXPECT_EQ(rewritten(), "(1,2)[A;S;X]");
  EXPECT_STREQ(entry(0).attributes[0], "A");
  EXPECT_STREQ(entry(0).qualifiers[0], "X");
  EXPECT_EQ(entry(0).attribute_count, 1);

  // A second '(' before the group closes ends the rewriting: the '[' made
  // so far stays and "attr" is not removed.
  SetUp();
  EXPECT_EQ(parse("(1,2)attr((A)"), -1);
  EXPECT_EQ(rewritten(), "(1,2)attr[(A)");
  SetUp();
  EXPECT_EQ(parse("(1,2)attr)A("), -1);
  EXPECT_EQ(rewritten(), "(1,2)attr)A(");
}

TEST_F(KeySpecTest, BracketFormDetails) {
  ASSERT_EQ(parse("(1,10)[A,D;I]"), 0);
  EXPECT_STREQ(entry(0).attributes[0], "A");
  EXPECT_STREQ(entry(0).attributes[1], "D");
  EXPECT_STREQ(entry(0).qualifiers[0], "");
  EXPECT_STREQ(entry(0).qualifiers[1], "I");
  EXPECT_EQ(entry(0).attribute_count, 2);

  SetUp();
  ASSERT_EQ(parse("( 5 ,10)"), 0);
  EXPECT_EQ(entry(0).values[0], 5);
  EXPECT_EQ(entry(0).values[1], 10);

  // Ranges and plain numbers go into separate lists.
  SetUp();
  ASSERT_EQ(parse("(2-5,9){0x09}"), 0);
  EXPECT_EQ(entry(0).ranges[0][0], 2);
  EXPECT_EQ(entry(0).ranges[0][1], 5);
  EXPECT_EQ(entry(0).values[0], 9);
  EXPECT_EQ(entry(0).column_count, 5);
  EXPECT_EQ(entry(0).delimiters[0], '\t');

  // Text after the last column of a range is ignored.
  SetUp();
  ASSERT_EQ(parse("(3-4-9,7)"), 0);
  EXPECT_EQ(entry(0).ranges[0][0], 3);
  EXPECT_EQ(entry(0).ranges[0][1], 4);
  EXPECT_EQ(entry(0).values[0], 7);

  SetUp();
  ASSERT_EQ(parse("(1,99999999999,+7)"), 0);
  EXPECT_EQ(entry(0).values[1], INT32_MAX);
  EXPECT_EQ(entry(0).values[2], 7);

  SetUp();
  EXPECT_EQ(parse(""), 0);
  EXPECT_EQ(entry(0).values[0], 0);
}

TEST_F(KeySpecTest, Refusals) {
  for (const char* text :
       {"(1,10)[;S]", "(1,0)", "(5-2)", "[A]", "(1,10){|}[A]", "(1,10",
        "(1,10)[0x414]", "(0-4)", "(3-)", "(,5)", "(1,,2)", "()", "(1,10)[A;]",
        "(1,10)[A,]", "(1,10)[A", "(1,10)]", "(1;2)", "(1,2)(", "{a", "}",
        "(1,2)[A](3,4)[B][C]", "(1,2){ab}", "(1,2){0x}", "(\"5\",10)"}) {
    SetUp();
    EXPECT_EQ(parse(text), -1) << text;
  }
}

TEST_F(KeySpecTest, DelimiterGroups) {
  ASSERT_EQ(parse("(1,10){}"), 0);
  EXPECT_STREQ(entry(0).delimiters, ",");
  SetUp();
  ASSERT_EQ(parse("(1,10){0x2C}"), 0);
  EXPECT_STREQ(entry(0).delimiters, ",");
  SetUp();
  EXPECT_EQ(parse("(1,10){,}"), -1);
  SetUp();
  EXPECT_EQ(parse("(1,10){a,}"), -1);

  // Every group after the same key adds to one list.
  SetUp();
  ASSERT_EQ(parse("(1,10)[A]{a,b}{c}"), 0);
  EXPECT_STREQ(entry(0).delimiters, "abc");

  // A group before any key group belongs to entry 0; the key fills entry 1.
  SetUp();
  ASSERT_EQ(parse("{|}(1,10)"), 0);
  EXPECT_STREQ(entry(0).delimiters, "|");
  EXPECT_EQ(entry(0).values[0], 0);
  EXPECT_EQ(entry(1).values[0], 1);
  EXPECT_EQ(entry(1).values[1], 10);
}

TEST_F(KeySpecTest, HexadecimalAttributes) {
  ASSERT_EQ(parse("(1,10)[0x4142,0xZZ41,0x]"), 0);
  EXPECT_STREQ(entry(0).attributes[0], "AB");
  EXPECT_STREQ(entry(0).attributes[1], "");  // the first pair is no byte
  EXPECT_STREQ(entry(0).attributes[2], "0x");  // too short to be hex
  EXPECT_EQ(entry(0).attribute_count, 3);
}

TEST_F(KeySpecTest, SecondBytesOfDoubleByteCharactersAreText) {
  // ー is 81 5B: its second byte is '['. 81 5D ends in ']'.
  const std::string spec = "(1\x81\x5B,10)[x\x81\x5By,\x81\x5D;S]";
  platform::set_system_encoding_for_test(SystemEncoding::kShiftJis);
  ASSERT_EQ(parse(spec), 0);
  EXPECT_EQ(entry(0).values[0], 1);
  EXPECT_EQ(entry(0).values[1], 10);
  EXPECT_STREQ(entry(0).attributes[0], "x\x81\x5By");
  EXPECT_STREQ(entry(0).attributes[1], "\x81\x5D");
  EXPECT_STREQ(entry(0).qualifiers[1], "S");

  // Where system text has no lead bytes the same bytes are syntax.
  SetUp();
  EXPECT_EQ(parse(spec), -1);

  // 81 5B is one character, so the '[' right behind it is syntax.
  SetUp();
  platform::set_system_encoding_for_test(SystemEncoding::kShiftJis);
  ASSERT_EQ(parse("(1,2)\x81\x5B[A]"), 0);
  EXPECT_STREQ(entry(0).attributes[0], "A");
}

TEST_F(KeySpecTest, KeyGroupLimit) {
  std::string spec;
  for (int i = 0; i < 256; ++i) spec += "(" + std::to_string(i + 1) + ",1)";
  ASSERT_EQ(parse(spec), 0);
  EXPECT_EQ(entry(255).values[0], 256);
  SetUp();
  EXPECT_EQ(parse(spec + "(1,1)"), -1);
  // A leading delimiter group takes entry 0, so 256 key groups are too many.
  SetUp();
  EXPECT_EQ(parse("{|}" + spec), -1);
}

TEST_F(KeySpecTest, ListLimitsOfOneKey) {
  std::string values = "(1";
  for (int i = 2; i <= 256; ++i) values += "," + std::to_string(i);
  ASSERT_EQ(parse(values + ")"), 0);
  EXPECT_EQ(entry(0).values[255], 256);
  EXPECT_EQ(entry(0).column_count, 256);
  SetUp();
  EXPECT_EQ(parse(values + ",7)"), -1);

  std::string ranges = "(1,1";
  for (int i = 0; i < 256; ++i) ranges += ",2-3";
  SetUp();
  ASSERT_EQ(parse(ranges + ")"), 0);
  EXPECT_EQ(entry(0).ranges[255][1], 3);
  EXPECT_EQ(entry(0).column_count, 2 + 256 * 2);
  SetUp();
  EXPECT_EQ(parse(ranges + ",2-3)"), -1);

  std::string attributes = "(1,1)[A";
  for (int i = 1; i < 256; ++i) attributes += ",D";
  SetUp();
  ASSERT_EQ(parse(attributes + "]"), 0);
  EXPECT_EQ(entry(0).attribute_count, 256);
  SetUp();
  EXPECT_EQ(parse(attributes + ",A]"), -1);

  std::string delimiters = "(1,1){a";
  for (char c = 'b'; c < 'a' + 16; ++c) delimiters += std::string(",") + c;
  SetUp();
  ASSERT_EQ(parse(delimiters + "}"), 0);
  EXPECT_EQ(std::string(entry(0).delimiters, 16), "abcdefghijklmnop");
  EXPECT_EQ(entry(0).column_count, 2);  // the next field is untouched
  SetUp();
  EXPECT_EQ(parse(delimiters + ",q}"), -1);
  SetUp();
  EXPECT_EQ(parse(delimiters + "}{q}"), -1);
}

TEST_F(KeySpecTest, LongItemsAreCutAndQualifiersStayInTheirField) {
  const std::string long_word(70, 'w');
  ASSERT_EQ(parse("(1,1)[" + long_word + ";" + long_word + "]"), 0);
  EXPECT_EQ(std::string(entry(0).attributes[0]), std::string(63, 'w'));
  EXPECT_EQ(std::string(entry(0).qualifiers[0]), std::string(15, 'w'));
  for (char c : entry(0).qualifiers[1]) EXPECT_EQ(c, '\0');

  // The last qualifier field is followed by the delimiters and the counts.
  std::string spec = "(1,1)[A";
  for (int i = 1; i < 256; ++i) spec += ",D";
  spec += ";" + std::string(63, 'q') + "]";
  SetUp();
  ASSERT_EQ(parse(spec), 0);
  EXPECT_EQ(std::string(entry(0).qualifiers[255]), std::string(15, 'q'));
  for (char c : entry(0).delimiters) EXPECT_EQ(c, '\0');
  EXPECT_EQ(entry(0).column_count, 2);
  EXPECT_EQ(entry(0).attribute_count, 256);
}

TEST_F(KeySpecTest, ReadSpecTokenItems) {
  char out[64];
  const char* source = " a b \r\n,rest";
  EXPECT_EQ(read_spec_token(source, out, "(,)[,;]{,}"), source + 8);
  EXPECT_STREQ(out, "a b");

  // Quotes group delimiters and line ends; leading tabs stay.
  source = "\"x,\ny\"z\t,";
  EXPECT_EQ(read_spec_token(source, out, ","), source + 9);
  EXPECT_STREQ(out, "x,\nyz\t");

  // The 63-byte limit stops reading at the first byte not read.
  const std::string long_item = std::string(70, 'a') + ",";
  EXPECT_EQ(read_spec_token(long_item.c_str(), out, ","),
            long_item.c_str() + 63);
  EXPECT_EQ(std::string(out), std::string(63, 'a'));

  EXPECT_EQ(read_spec_token("", out, ","), nullptr);
  EXPECT_STREQ(out, "");
  source = "abc";
  EXPECT_EQ(read_spec_token(source, out, ","), source + 3);
  EXPECT_STREQ(out, "abc");
}

}  // namespace
}  // namespace quarnel
