// Whole-line sorting by the built Quarnel, checked against `LC_ALL=C sort`
// of the same lines (narrow) or an independent model (wide, /I).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/same_bytes.h"
#include "support/test_util.h"

namespace quarnel::testing {
namespace {

using Lines = std::vector<std::string>;

std::string join(const Lines& lines, const std::string& end) {
  std::string text;
  for (const std::string& l : lines) text += l + end;
  return text;
}

class EngineEndToEnd : public ::testing::Test {
 protected:
  // Sorts the input with Quarnel into out.txt; the work folder is /T.
  ProgramResult quarnel(const std::string& input,
                        const std::vector<std::string>& options = {}) {
    write_file(dir_.file("in.txt"), input);
    std::vector<std::string> argv = {built_program("Quarnel"), dir_.file("in.txt"),
                                     dir_.file("out.txt"), "/T", work_.path()};
    argv.insert(argv.end(), options.begin(), options.end());
    return run_program(argv, {"LC_ALL=C"});
  }

  std::string output() const { return read_file(dir_.file("out.txt")); }

  // What `LC_ALL=C sort` makes of the lines, each ended with CR LF.
  std::string sorted_by_sort(const Lines& lines) {
    write_file(dir_.file("plain.txt"), join(lines, "\n"));
    return testing::sorted_by_c_sort(dir_.file("plain.txt"));
  }

  TempDir dir_;
  TempDir work_;
};

std::string random_line(std::mt19937* rng) {
  static const char* const pieces[] = {"a", "B", "_", "z", " ", "\r", "9",
                                       "\x83\x41", "\x83\x60", "\x8A\xBF", "\xE0\x40"};
  std::string line;
  int n = static_cast<int>((*rng)() % 30);
  for (int i = 0; i < n; ++i) line += pieces[(*rng)() % 11];
  return line;
}

TEST_F(EngineEndToEnd, NarrowLinesSortLikeSort) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 4; ++round) {
    Lines lines;
    std::string input;
    for (int i = 0; i < 3000; ++i) {
      std::string line = random_line(&rng);
      // A CR that ends a line is its line end, not part of it.
      while (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      bool last = i == 2999;
      int end = static_cast<int>(rng() % 3);
      input += line;
      if (last && round % 2 == 1) continue;  // a last line without LF
      input += end == 0 ? "\n" : (end == 1 ? "\r\n" : "\r\r\n");
    }
    ProgramResult r = quarnel(input);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(output(), sorted_by_sort(lines)) << "round " << round;
    EXPECT_TRUE(list_dir(work_.path()).empty());
  }
}

// More than the budget: several runs carried across buffer fills, merged.
TEST_F(EngineEndToEnd, InputLargerThanTheBudget) {
  std::mt19937 rng(31);
  Lines lines;
  std::string input;
  while (input.size() < 2500000) {
    std::string line = random_line(&rng) + random_line(&rng);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    input += line + (rng() % 2 ? "\r\n" : "\n");
  }
  ProgramResult r = quarnel(input, {"/M", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), sorted_by_sort(lines));
  EXPECT_TRUE(list_dir(work_.path()).empty());
}

TEST_F(EngineEndToEnd, NulBytesInsideLinesAreKept) {
  Lines lines;
  std::string input;
  for (int i = 0; i < 200; ++i) {
    std::string line = "k" + std::to_string((i * 7919) % 200) + std::string(1, '\0') +
                       "tail" + std::string(1, '\0') + std::to_string(i % 3);
    lines.push_back(line);
    input += line + "\r\n";
  }
  ProgramResult r = quarnel(input);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), sorted_by_sort(lines));
}

TEST_F(EngineEndToEnd, IgnoreCaseFoldsAsciiCapitalsToSmallLetters) {
  ProgramResult r = quarnel("A\r\n_\r\n\x83\x60\r\n\x83\x41\r\nb\r\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), "A\r\n_\r\nb\r\n\x83\x41\r\n\x83\x60\r\n");
  r = quarnel("A\r\n_\r\n\x83\x60\r\n\x83\x41\r\nb\r\n", {"/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), "_\r\nA\r\nb\r\n\x83\x60\r\n\x83\x41\r\n");

  // Random lines, no two of which fold alike, against a plain model.
  std::mt19937 rng(5);
  auto fold = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
  };
  Lines lines;
  std::vector<std::string> seen;
  while (lines.size() < 2000) {
    std::string line = random_line(&rng);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::find(seen.begin(), seen.end(), fold(line)) != seen.end()) continue;
    seen.push_back(fold(line));
    lines.push_back(line);
  }
  r = quarnel(join(lines, "\n"), {"/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::sort(lines.begin(), lines.end(), [&](const std::string& a, const std::string& b) {
    return fold(a) < fold(b);  // unsigned bytes: std::string compares as char_traits<char>
  });
  EXPECT_EQ(output(), join(lines, "\r\n"));
}

std::string utf16(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(EngineEndToEnd, WideLinesInCodeUnitOrder) {
  std::mt19937 rng(77);
  static const char16_t pieces[] = {u'a', u'B', u'_', u'\r', 0x30A2, 0x6F22,
                                    0xD83D, 0xDE00, 0xE000, 0xFF21, 0x0A0A};
  std::vector<std::u16string> lines;
  std::u16string text;
  for (int i = 0; i < 1500; ++i) {
    std::u16string line;
    int n = static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) line.push_back(pieces[rng() % 11]);
    while (!line.empty() && line.back() == u'\r') line.pop_back();
    lines.push_back(line);
    text += line + (i % 2 ? u"\r\n" : u"\n");
  }
  std::vector<std::u16string> sorted = lines;
  std::sort(sorted.begin(), sorted.end());  // char16_t: unsigned unit order
  std::u16string expected_units;
  for (const auto& l : sorted) expected_units += l + u"\r\n";

  ProgramResult r = quarnel("\xFF\xFE" + utf16(text), {"/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(same_bytes(output(), "\xFF\xFE" + utf16(expected_units))) << r.err;

  r = quarnel(utf16(text), {"/W"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(same_bytes(output(), utf16(expected_units))) << r.err;
}

TEST_F(EngineEndToEnd, OddLengthWideInput) {
  ProgramResult r = quarnel(utf16(u"c\r\nb\n") + "a", {"/W"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), utf16(u"a\r\nb\r\nc\r\n"));
  EXPECT_TRUE(list_dir(work_.path()).empty());
}

TEST_F(EngineEndToEnd, LongestLineSortsOneByteMoreFails) {
  std::string longest(65535, 'x');
  ProgramResult r = quarnel("b\r\n" + longest + "\r\na\r\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(output(), "a\r\nb\r\n" + longest + "\r\n");

  write_file(dir_.file("out.txt"), "before");
  r = quarnel("b\r\n" + longest + "x\r\na\r\n");
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(to_cp932("最大レコード長[65535]を越えています")), std::string::npos)
      << r.err;
  EXPECT_EQ(output(), "before");
  EXPECT_TRUE(list_dir(work_.path()).empty());
}

// Each byte as a unit of its own: lines whose unit order is their byte
// order.
std::string widened(const std::string& bytes) {
  std::string units;
  for (char c : bytes) {
    units += c;
    units += '\0';
  }
  return units;
}

// An input of several read pieces, the rest of the buffer read by a thread
// of its own while the lines are recorded: lines straddle the pieces, a
// read that fails halfway loses nothing (the next read takes it up), and
// a line too long ends the job while the reading goes on.
TEST_F(EngineEndToEnd, InputReadAheadInPieces) {
  std::mt19937 rng(5);
  Lines lines;
  std::string input;
  // Pieces are 4 MB: a LF ends the first piece, and the end of the second
  // falls between a CR and its LF (in wide text, the pieces' ends meet
  // the same line ends at twice the offsets).
  const size_t line_feeds[] = {(4u << 20) - 1, (8u << 20)};
  for (size_t at : line_feeds) {
    while (input.size() + 200 < at) {
      std::string line = random_line(&rng) + std::to_string(rng());
      lines.push_back(line);
      input += line + "\r\n";
    }
    std::string filler(at - input.size() - 1, 'f');
    lines.push_back(filler);
    input += filler + "\r\n";
    ASSERT_EQ(input[at], '\n');
  }
  while (input.size() < (13u << 20)) {
    std::string line = random_line(&rng) + std::to_string(rng());
    lines.push_back(line);
    input += line + "\r\n";
  }
  const std::string expected = sorted_by_sort(lines);
  for (bool wide : {false, true}) {
    const std::string text = wide ? widened(input) : input;
    const std::string want = wide ? widened(expected) : expected;
    ProgramResult r = quarnel(text, wide ? std::vector<std::string>{"/W"} : std::vector<std::string>{});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(same_bytes(output(), want)) << r.err;
    // Reads 1 to 3 look at the input's start, 4 is the first piece; the
    // reading thread makes 5 and on.
    for (const char* fault : {"Quarnel:read:5:EIO", "Quarnel:read:7:EIO"}) {
      std::vector<std::string> argv = {built_program("Quarnel"), dir_.file("in.txt"),
                                       dir_.file("out.txt"), "/T", work_.path()};
      if (wide) argv.push_back("/W");
      r = run_program(argv, {"LC_ALL=C", std::string("QUARNEL_FAULT=") + fault});
      ASSERT_EQ(r.exit_code, 0) << fault << "\n" << r.err;
      EXPECT_TRUE(same_bytes(output(), want)) << fault << "\n" << r.err;
      EXPECT_TRUE(list_dir(work_.path()).empty()) << fault;
    }
  }
  write_file(dir_.file("out.txt"), "before");
  ProgramResult r = quarnel(std::string(70000, 'x') + "\r\n" + input);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(to_cp932("最大レコード長[65535]を越えています")), std::string::npos)
      << r.err;
  EXPECT_EQ(output(), "before");
  EXPECT_TRUE(list_dir(work_.path()).empty());
}

// From 32 MB on, an input that fits the buffer whole is sorted in its own
// mapped pages: the lines are read and written from there, with no zero
// behind them.
TEST_F(EngineEndToEnd, LargeInputSortedWhereItLies) {
  std::mt19937 rng(11);
  Lines lines;
  std::string input;
  while (input.size() < (33u << 20)) {
    // Ending in a digit: CRs that end a line are not part of it.
    std::string line = random_line(&rng) + std::to_string(rng() % 100);
    lines.push_back(line);
    input += line + (rng() % 2 ? "\r\n" : "\n");
  }
  lines.push_back("last");
  input += "last";
  const std::string expected = sorted_by_sort(lines);
  for (bool wide : {false, true}) {
    ProgramResult r = quarnel(wide ? widened(input) : input,
                              wide ? std::vector<std::string>{"/W"} : std::vector<std::string>{});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(same_bytes(output(), wide ? widened(expected) : expected)) << wide;
    EXPECT_TRUE(list_dir(work_.path()).empty());
  }
}

}  // namespace
}  // namespace quarnel::testing
