// The built Quarnel with key specifications: what it accepts and refuses,
// the condition lines it writes, and the order of lines in key mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

struct Sorted {
  ProgramResult result;
  std::string err;  // standard error with the times masked
  std::string output;
  bool output_exists = false;
};

// Sorts input (written as in.txt) into out.txt with the extra arguments.
Sorted sort_bytes(const std::string& input,
                  const std::vector<std::string>& args) {
  TempDir dir;
  write_file(dir.file("in.txt"), input);
  std::vector<std::string> argv = {built_program("Quarnel"),
                                   dir.file("in.txt"), dir.file("out.txt")};
  // A small memory limit keeps the runs quick under the sanitizers; the
  // inputs are a few lines.
  argv.insert(argv.end(), {"/M", "1"});
  argv.insert(argv.end(), args.begin(), args.end());
  Sorted s;
  s.result = run_program(argv, {"LC_ALL=C"}, dir.path());
  s.err = mask_times(s.result.err);
  s.output_exists = file_exists(dir.file("out.txt"));
  if (s.output_exists) s.output = read_file(dir.file("out.txt"));
  return s;
}

std::string lines_crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

std::string lines_lf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// UTF-16LE bytes of lines; end is the line end in code units.

std::string error_line(const std::string& utf8) {
  return to_cp932("◆") + "<time> " + to_cp932(utf8) + "\n";
}

std::string condition_line(const std::string& utf8) {
  return to_cp932("◇ソート条件" + utf8 + " ソートします\n");
}

TEST(KeysEndToEnd, RefusedSpecificationsEndTheJobWithTheirMessage) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string range =
      "カラムと長さの指定は1～65536の範囲で指定してください";
  const Case cases[] = {
      // The message shows the text as it was rewritten.
      {{"key(1,0)"}, "\"(1,0)\"の指定に誤りがあります"},
      {{"KEY(1,10)ATTRIBUTE(D)(0)"},
       "\"(1,10)IBUTE[D](0)\"の指定に誤りがあります"},
      {{"(1,10)[;S]"}, "\"(1,10)[;S]\"の指定に誤りがあります"},
      {{"(1,10){|}[A]"}, "\"(1,10){|}[A]\"の指定に誤りがあります"},
      {{"(5)"}, "比較する長さが指定されていません"},
      {{"(3-4)"}, "開始カラムが指定されていません"},
      {{"{|}(1,10)"}, "開始カラムが指定されていません"},
      {{"(1,10)[Desc]"}, "キーの昇順・降順の指定が誤っています"},
      {{"(1,10)[A;Number]"}, "キーの比較タイプ指定が誤っています"},
      {{"(1,65537)"}, range},
      {{"(65537,1)"}, range},
      {{"(1,99999999999)"}, range},
  };
  for (const Case& c : cases) {
    Sorted s = sort_bytes("b\na\n", c.args);
    EXPECT_EQ(s.result.exit_code, 255) << c.args[0];
    EXPECT_NE(s.err.find(error_line(c.message)), std::string::npos)
        << c.args[0] << "\n" << s.err;
    EXPECT_EQ(s.err.find(to_cp932("◇ソート条件")), std::string::npos)
        << c.args[0];
    EXPECT_FALSE(s.output_exists) << c.args[0];
  }

  // The conditions before the failing one are written first.
  Sorted s = sort_bytes("b\na\n", {"(1,10)(5)"});
  EXPECT_EQ(s.result.exit_code, 255);
  const std::string first =
      condition_line("[01]は 01 カラム目から 10 バイトを文字として昇順で");
  EXPECT_NE(s.err.find(first + error_line(range)), std::string::npos)
      << s.err;
  EXPECT_FALSE(s.output_exists);
}

TEST(KeysEndToEnd, ConditionLines) {
  Sorted s = sort_bytes("b\na\n", {"key(1,", "10)attr(D,I)", "(3,4)[a;z]"});
  EXPECT_EQ(s.result.exit_code, 0) << s.err;
  EXPECT_NE(s.err.find(
                condition_line(
                    "[01]は 01 カラム目から 10 バイトを実数として降順で") +
                condition_line(
                    "[02]は 03 カラム目から 04 バイトを実数として昇順で")),
            std::string::npos)
      << s.err;

  // The key with no start ends the list: one condition only.
  s = sort_bytes("b\na\n", {"(1,10)(3-4)(5,6)"});
  EXPECT_EQ(s.result.exit_code, 0);
  EXPECT_NE(s.err.find(condition_line(
                "[01]は 01 カラム目から 10 バイトを文字として昇順で")),
            std::string::npos);
  EXPECT_EQ(s.err.find("[02]"), std::string::npos);
  EXPECT_EQ(s.output, lines_crlf({"a", "b"}));

  s = sort_bytes("b\na\n", {"(1,65536)"});
  EXPECT_EQ(s.result.exit_code, 0);
  EXPECT_NE(s.err.find(condition_line(
                "[01]は 01 カラム目から 65536 バイトを文字として昇順で")),
            std::string::npos);
  EXPECT_EQ(s.output, lines_crlf({"a", "b"}));

  s = sort_bytes("b\na\n", {"/W", "(2,3)[D]"});
  EXPECT_NE(s.err.find(condition_line(
                "[01]は 02 文字目から 03 文字を文字として降順で")),
            std::string::npos);
}

TEST(KeysEndToEnd, CharacterKeysNarrow) {
  const std::string input = lines_lf({"3|pear", "1|apple", "2|fig", "4|kiwi"});
  Sorted s = sort_bytes(input, {"(3,5)"});
  EXPECT_EQ(s.output, lines_crlf({"1|apple", "2|fig", "4|kiwi", "3|pear"}));
  s = sort_bytes(input, {"key(3,5)attr(D,S)"});
  EXPECT_EQ(s.output, lines_crlf({"3|pear", "4|kiwi", "2|fig", "1|apple"}));

  // Fields cut by the shorter line of each pair: the shorter line comes
  // first when the two agree up to its end, and 'w' has no field at all.
  const std::string cut = lines_lf({"xxabc", "yyab", "zzb", "w", "vvabd"});
  s = sort_bytes(cut, {"(3,5)"});
  EXPECT_EQ(s.output, lines_crlf({"w", "yyab", "xxabc", "vvabd", "zzb"}));
  s = sort_bytes(cut, {"(3,5)[D]"});
  EXPECT_EQ(s.output, lines_crlf({"zzb", "vvabd", "xxabc", "yyab", "w"}));

  // /I folds the letters of key fields; '_' lies between 'Z' and 'a'.
  s = sort_bytes(lines_lf({"_2", "A1"}), {"(1,1)"});
  EXPECT_EQ(s.output, lines_crlf({"A1", "_2"}));
  s = sort_bytes(lines_lf({"_2", "A1"}), {"(1,1)", "/I"});
  EXPECT_EQ(s.output, lines_crlf({"_2", "A1"}));
}

TEST(KeysEndToEnd, NumericKeysNarrow) {
  const std::string input =
      lines_lf({"12-5|a", "1e3|b", "-1,234.5|c", "7|d", "abc|e", "0.5|f"});
  // Each pair's fields are cut by its shorter line; the '|' and the
  // letters in them are dropped.
  Sorted s = sort_bytes(input, {"(1,8)[A;I]"});
  EXPECT_EQ(s.output, lines_crlf({"-1,234.5|c", "abc|e", "0.5|f", "7|d",
                                  "12-5|a", "1e3|b"}));
  s = sort_bytes(input, {"(1,8)[D;Integer]"});
  EXPECT_EQ(s.output, lines_crlf({"1e3|b", "12-5|a", "7|d", "0.5|f", "abc|e",
                                  "-1,234.5|c"}));
  // As characters the same fields sort otherwise.
  s = sort_bytes(input, {"(1,8)"});
  EXPECT_EQ(s.output, lines_crlf({"-1,234.5|c", "0.5|f", "12-5|a", "1e3|b",
                                  "7|d", "abc|e"}));
}

TEST(KeysEndToEnd, KeysWide) {
  const std::string bom = "\xFF\xFE";
  const std::vector<std::u16string> input = {u"3|\u68A8", u"1|apple",
                                             u"2|\uFF46ig", u"4|-1,5"};
  Sorted s = sort_bytes(bom + testing::utf16le_lines(input, u"\n"), {"(3,5)"});
  EXPECT_EQ(s.output, bom + testing::utf16le_lines({u"4|-1,5", u"1|apple", u"3|\u68A8",
                                        u"2|\uFF46ig"},
                                       u"\r\n"));
  s = sort_bytes(bom + testing::utf16le_lines(input, u"\r\n"), {"(3,5)[D]"});
  EXPECT_EQ(s.output, bom + testing::utf16le_lines({u"2|\uFF46ig", u"3|\u68A8",
                                        u"1|apple", u"4|-1,5"},
                                       u"\r\n"));

  // Numbers: only ASCII digits count, so the fullwidth nine reads 0.
  const std::vector<std::u16string> numbers = {
      u"12      ", u"-1,234.5", u"\uFF19       ", u"1e3     ", u"5       "};
  s = sort_bytes(testing::utf16le_lines(numbers, u"\n"), {"/W", "(1,8)[A;I]"});
  EXPECT_EQ(s.output, testing::utf16le_lines({u"-1,234.5", u"\uFF19       ", u"5       ",
                                  u"12      ", u"1e3     "},
                                 u"\r\n"));
  s = sort_bytes(testing::utf16le_lines(numbers, u"\n"), {"/W", "(1,8)[D;Z]"});
  EXPECT_EQ(s.output, testing::utf16le_lines({u"1e3     ", u"12      ", u"5       ",
                                  u"\uFF19       ", u"-1,234.5"},
                                 u"\r\n"));

  // /I has no effect on wide lines.
  s = sort_bytes(testing::utf16le_lines({u"_2", u"A1"}, u"\n"), {"/W", "/I", "(1,1)"});
  EXPECT_EQ(s.output, testing::utf16le_lines({u"A1", u"_2"}, u"\r\n"));
}

// Lines with equal keys keep the order the quicksort leaves them in. For
// the keys b a c a b a c b (tags 1 to 3 by first appearance) the steps
// are: range 0-7, pivot b2 at 4; up stops at c1 (2), down at a3 (5), swap;
// up passes a2 and the pivot and stops at c1 (5), down meets the pivot;
// left 0-3 is pushed, right 5-7 sorted: median b3 c2 c1 and no swap in the
// partition. Then 0-3 (b1 a1 a3 a2): median swaps give a3 a1 a2 b1 and the
// partition changes nothing. Descending works the same way with the
// comparisons turned round.
TEST(KeysEndToEnd, EqualKeysFollowTheQuicksort) {
  const std::vector<std::string> input = {"b1", "a1", "c1", "a2",
                                          "b2", "a3", "c2", "b3"};
  Sorted s = sort_bytes(lines_lf(input), {"(1,1)"});
  EXPECT_EQ(s.output,
            lines_crlf({"a3", "a1", "a2", "b1", "b2", "b3", "c2", "c1"}));
  s = sort_bytes(lines_lf(input), {"(1,1)[D]"});
  EXPECT_EQ(s.output,
            lines_crlf({"c2", "c1", "b1", "b2", "b3", "a3", "a1", "a2"}));

  std::vector<std::u16string> wide_input;
  for (const std::string& line : input) {
    wide_input.emplace_back(line.begin(), line.end());
  }
  s = sort_bytes(testing::utf16le_lines(wide_input, u"\n"), {"/W", "(1,1)"});
  EXPECT_EQ(s.output, testing::utf16le_lines({u"a3", u"a1", u"a2", u"b1", u"b2", u"b3",
                                  u"c2", u"c1"},
                                 u"\r\n"));

  // Numeric ties, the same values written differently (1 -2 1 -2 1):
  // the pivot 01 gathers +1 behind it; 0-3 then has its ends swapped by
  // the median step, and the pair -2.0 -2 is left as it stands.
  s = sort_bytes(lines_lf({"1.0 ", "-2  ", "01  ", "-2.0", "+1  "}),
                 {"(1,4)[A;I]"});
  EXPECT_EQ(s.output, lines_crlf({"-2.0", "-2  ", "01  ", "1.0 ", "+1  "}));
}

}  // namespace
}  // namespace quarnel::testing
