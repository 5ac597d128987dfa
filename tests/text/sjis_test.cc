#include "text/sjis.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using platform::SystemEncoding;

// Forces the rule for system text and puts the locale's own back after.
class SjisTest : public ::testing::Test {
 protected:
  void SetUp() override { use(SystemEncoding::kShiftJis); }
  void TearDown() override { platform::init_locale(); }
  static void use(SystemEncoding e) { platform::set_system_encoding_for_test(e); }
};

// Every token of source, as successive calls take them.
std::vector<std::string> tokens(const char* source, const char* delimiters,
                                int capacity = 64) {
  std::vector<std::string> out;
  std::vector<char> buffer(static_cast<size_t>(capacity));
  const char* at = source;
  while ((at = next_token(at, buffer.data(), delimiters, capacity)) != nullptr) {
    out.emplace_back(buffer.data());
  }
  return out;
}

TEST_F(SjisTest, LeadBytesAndBoundaries) {
  EXPECT_FALSE(is_sjis_lead_byte(0x80));
  EXPECT_TRUE(is_sjis_lead_byte(0x81));
  EXPECT_TRUE(is_sjis_lead_byte(0x9F));
  EXPECT_FALSE(is_sjis_lead_byte(0xA0));
  EXPECT_FALSE(is_sjis_lead_byte(0xDF));
  EXPECT_TRUE(is_sjis_lead_byte(0xE0));
  EXPECT_TRUE(is_sjis_lead_byte(0xFC));
  EXPECT_FALSE(is_sjis_lead_byte(0xFD));
  // 81 81 is one character, so the 81 at position 1 is a trail byte and
  // position 2 starts a character although a lead-valued byte precedes it.
  const char text[] = "\x81\x81\x5c\x81\x5c";
  EXPECT_TRUE(is_char_boundary(text, 2));
  EXPECT_TRUE(is_char_boundary(text, 3));
  EXPECT_FALSE(is_char_boundary(text, 4));
  EXPECT_FALSE(is_char_boundary(text, 1));
  use(SystemEncoding::kUtf8);
  EXPECT_TRUE(is_char_boundary(text, 4));
}

TEST_F(SjisTest, LastSeparatorSkipsTrailBytes) {
  const char path[] = "\x95\x5c\x5c\x61";
  EXPECT_EQ(find_last_separator(path, '\\'), path + 2);
  EXPECT_EQ(find_last_separator("\x95\x5c", '\\'), nullptr);
  const char deeper[] = "a\\\x95\x5c";
  EXPECT_EQ(find_last_separator(deeper, '\\'), deeper + 1);
  EXPECT_EQ(find_last_separator("", '\\'), nullptr);
  const char slashes[] = "/a/b/c";
  EXPECT_EQ(find_last_separator(slashes), slashes + 4);
}

TEST_F(SjisTest, LastSeparatorWithoutLeadBytes) {
  // In a UTF-8 or ASCII locale no byte hides the one after it.
  use(SystemEncoding::kUtf8);
  const char path[] = "\x95\x5c\x5c\x61";
  EXPECT_EQ(find_last_separator(path, '\\'), path + 2);
  const char two[] = "\x95\x5c";
  EXPECT_EQ(find_last_separator(two, '\\'), two + 1);
}

TEST_F(SjisTest, NextTokenSplitsAndSkipsLeadingDelimiters) {
  EXPECT_EQ(tokens("  ab cd", " "), (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(tokens("a\tb\r\nc", nullptr), (std::vector<std::string>{"a", "b", "c"}));
  char out[8] = "zzz";
  EXPECT_EQ(next_token("   ", out, " ", 8), nullptr);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(next_token("", out, " ", 8), nullptr);
  EXPECT_STREQ(out, "");
  // The returned position is the delimiter that ended the token.
  const char src[] = " ab;cd";
  EXPECT_EQ(next_token(src, out, ";", 8), src + 3);
  EXPECT_STREQ(out, " ab");
}

TEST_F(SjisTest, NextTokenQuotes) {
  EXPECT_EQ(tokens("a\"b c\"d e", " "), (std::vector<std::string>{"ab cd", "e"}));
  EXPECT_EQ(tokens("\"a;b\";c", ";"), (std::vector<std::string>{"a;b", "c"}));
  // An unclosed quote runs to the end.
  EXPECT_EQ(tokens("x \"y z", " "), (std::vector<std::string>{"x", "y z"}));
  // A quoted empty first token ends the tokenizing although words follow.
  char out[8];
  EXPECT_EQ(next_token("\"\" abc", out, " ", 8), nullptr);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(tokens("\"\" abc", " "), std::vector<std::string>{});
}

TEST_F(SjisTest, NextTokenCapacityCut) {
  const char src[] = "abcdef";
  char out[4];
  EXPECT_EQ(next_token(src, out, " ", 4), src + 3);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(tokens("abcdef gh", " ", 4),
            (std::vector<std::string>{"abc", "def", "gh"}));
  // Capacity 1 leaves no room for a byte: nothing is found.
  EXPECT_EQ(next_token(src, out, " ", 1), nullptr);
  EXPECT_STREQ(out, "");
}

TEST_F(SjisTest, NextTokenKeepsDoubleByteCharactersWhole) {
  // 83 5C is one katakana whose trail byte is a backslash.
  EXPECT_EQ(tokens("c:\\a\x83\x5c\\b", ":\\"),
            (std::vector<std::string>{"c", "a\x83\x5c", "b"}));
  // Without lead bytes the same backslash is a delimiter.
  use(SystemEncoding::kUtf8);
  EXPECT_EQ(tokens("c:\\a\x83\x5c\\b", ":\\"),
            (std::vector<std::string>{"c", "a\x83", "b"}));
}

TEST_F(SjisTest, FindTextNocase) {
  const char path[] = "c:\\tools\\cmd.exe";
  EXPECT_EQ(find_text_nocase(path, "CMD"), path + 9);
  const char key[] = "KEY(1,2)";
  EXPECT_EQ(find_text_nocase(key, "key"), key);
  EXPECT_EQ(find_text_nocase("abc", ""), nullptr);
  EXPECT_EQ(find_text_nocase("", "a"), nullptr);
  EXPECT_EQ(find_text_nocase(nullptr, "a"), nullptr);
  EXPECT_EQ(find_text_nocase("abc", nullptr), nullptr);
  EXPECT_EQ(find_text_nocase("ab", "abc"), nullptr);
  // Trail bytes 41 ('A') and 62 ('b') are never the start of a match.
  const char kana[] = "\x83\x41\x83\x62";
  EXPECT_EQ(find_text_nocase(kana, "A"), nullptr);
  EXPECT_EQ(find_text_nocase(kana, "a"), nullptr);
  EXPECT_EQ(find_text_nocase(kana, "b"), nullptr);
  EXPECT_EQ(find_text_nocase(kana, "\x83\x62"), kana + 2);
  // Double-byte characters are compared exactly: fullwidth A is not a.
  EXPECT_EQ(find_text_nocase("\x82\x60", "\x82\x81"), nullptr);
  // The text decides the width: a word ending in half a character fails.
  EXPECT_EQ(find_text_nocase("\x83\x41", "\x83"), nullptr);
  // A lead byte that ends the text is a character of its own.
  const char cut[] = "ab\x83";
  EXPECT_EQ(find_text_nocase(cut, "B\x83"), cut + 1);
  // Without lead bytes the trail byte matches.
  use(SystemEncoding::kUtf8);
  EXPECT_EQ(find_text_nocase(kana, "a"), kana + 1);
}

TEST_F(SjisTest, RemoveWord) {
  struct Case {
    const char* text;
    const char* word;
    const char* left;
    int count;
  } cases[] = {
      {"kkeyey", "key", "key", 1},
      {"keykey", "key", "", 2},
      {"akeyb", "key", "ab", 1},
      {"Key(1,10)key(2,3)", "key", "(1,10)(2,3)", 2},
      {"(1,10)ATTR(D,I)", "attr", "(1,10)(D,I)", 1},
      {"abc", "key", "abc", 0},
      {"abc", "", "abc", 0},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(remove_word(text.data(), c.word), c.count) << c.text;
    EXPECT_STREQ(text.c_str(), c.left) << c.text;
  }
  // A word hidden in trail bytes stays.
  std::string kana = "\x83\x4b\x83\x45";  // trail bytes K and E
  EXPECT_EQ(remove_word(kana.data(), "K"), 0);
  EXPECT_EQ(kana, "\x83\x4b\x83\x45");
}

TEST_F(SjisTest, DirectoryOf) {
  testing::TempDir dir;
  std::string in = dir.path() + "/in.txt";
  EXPECT_STREQ(directory_of(in.c_str()), (dir.path() + "/").c_str());
  // An existing directory comes back unchanged, as the very same text.
  EXPECT_EQ(directory_of(dir.path().c_str()), dir.path().c_str());
  EXPECT_STREQ(directory_of("in.txt"), "./");
  EXPECT_STREQ(directory_of(""), "./");
  // A path ending in a separator that is no directory is kept whole.
  EXPECT_STREQ(directory_of("/no/such/dir/"), "/no/such/dir/");
  // Each call overwrites the one result buffer.
  std::string first = directory_of("a/b");
  directory_of("c/d/e");
  EXPECT_EQ(first, "a/");
}

TEST_F(SjisTest, DirectoryOfUtf8FolderName) {
  // A UTF-8 hiragana a (E3 81 82) read with the lead-byte rule swallows the
  // slash after it; in a UTF-8 locale the slash stays a separator.
  const char path[] = "dir/\xE3\x81\x82/x.txt";
  use(SystemEncoding::kUtf8);
  EXPECT_STREQ(directory_of(path), "dir/\xE3\x81\x82/");
  use(SystemEncoding::kShiftJis);
  EXPECT_STREQ(directory_of(path), "dir/");
}

}  // namespace
}  // namespace quarnel
