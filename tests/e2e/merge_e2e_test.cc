// Quarnel with inputs larger than its budget: several runs, merged by the
// merge program into a file or onto standard output, and nothing left in
// the work directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

using Lines = std::vector<std::string>;

Lines split_crlf(const std::string& text) {
  return testing::split_lines(text, "\r\n");
}

class MergeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mkdir(work().c_str(), 0700), 0); }

  std::string work() const { return dir_.file("work"); }

  ProgramResult quarnel(std::vector<std::string> args,
                        const std::string& program = built_program("Quarnel")) {
    args.insert(args.begin(), program);
    args.insert(args.end(), {"/M", "1", "/T", work()});
    return run_program(args, {"LC_ALL=C"}, dir_.path());
  }

  // The work directory holds no run, no list and no job folder.
  void expect_clean_work() { EXPECT_TRUE(list_dir(work()).empty()); }

  TempDir dir_;
};

TEST_F(MergeEndToEnd, WholeLinesEqualTheByteOrderOfTheSameLines) {
  Lines lines = random_lines(3 << 20, 1u, "abcXYZ_ 019~\x83\x41\x8A\xBF");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(read_file(dir_.file("out.txt")) ==
              testing::sorted_by_c_sort(dir_.file("in.txt")));
  expect_clean_work();
}

TEST_F(MergeEndToEnd, IgnoreCaseAndKeysGiveASortedPermutation) {
  Lines lines = random_lines(3 << 20, 2u, "aAbB_0123456789 ");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  Lines input_sorted = lines;
  std::sort(input_sorted.begin(), input_sorted.end());
  auto fold = [](std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
  };

  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt"), "/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Lines out = split_crlf(read_file(dir_.file("out.txt")));
  for (size_t i = 1; i < out.size(); ++i) {
    ASSERT_LE(fold(out[i - 1]), fold(out[i])) << "line " << i;
  }
  std::sort(out.begin(), out.end());
  EXPECT_EQ(out, input_sorted);
  expect_clean_work();

  // Columns 3 to 6 as a number, descending; then columns 1 and 2 as text.
  r = quarnel({dir_.file("in.txt"), dir_.file("out.txt"), "key(3,4)attr(D,I)",
               "key(1,2)"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  out = split_crlf(read_file(dir_.file("out.txt")));
  auto number = [](const std::string& line) {
    std::string kept;
    for (char c : line.substr(2, 4)) {
      if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.') kept += c;
    }
    return atof(kept.c_str());
  };
  for (size_t i = 1; i < out.size(); ++i) {
    double a = number(out[i - 1]);
    double b = number(out[i]);
    ASSERT_GE(a, b) << "line " << i;
    if (a == b) {
      ASSERT_LE(out[i - 1].substr(0, 2), out[i].substr(0, 2)) << "line " << i;
    }
  }
  std::sort(out.begin(), out.end());
  EXPECT_EQ(out, input_sorted);
  expect_clean_work();
}

// /R in any of its forms turns every comparison round, merged (/M 1) and
// in memory alike: whole lines in descending byte order; with /I
// descending folded; with keys each condition's order the other way.
TEST_F(MergeEndToEnd, ReverseTurnsEveryComparisonRound) {
  Lines lines = random_lines(3 << 20, 3u, "aAbB_0123456789 ");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  Lines input_sorted = lines;
  std::sort(input_sorted.begin(), input_sorted.end());
  Lines descending(input_sorted.rbegin(), input_sorted.rend());
  auto fold = [](std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return s;
  };
  for (const bool merged : {true, false}) {
    auto run = [&](std::vector<std::string> words) {
      words.insert(words.begin(), {built_program("Quarnel"), dir_.file("in.txt"),
                                   dir_.file("out.txt"), "/T", work()});
      if (merged) words.insert(words.end(), {"/M", "1"});
      ProgramResult r = run_program(words, {"LC_ALL=C.UTF-8"}, dir_.path());
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_NE(r.err.find("(/R)"), std::string::npos) << r.err;
      expect_clean_work();
      return split_crlf(read_file(dir_.file("out.txt")));
    };
    EXPECT_TRUE(run({"/R"}) == descending) << "merged " << merged;
    EXPECT_TRUE(run({"-reverse"}) == descending) << "merged " << merged;

    Lines out = run({"-r", "/I"});
    for (size_t i = 1; i < out.size(); ++i) {
      ASSERT_GE(fold(out[i - 1]), fold(out[i])) << "line " << i;
    }
    std::sort(out.begin(), out.end());
    EXPECT_EQ(out, input_sorted);

    // Columns 1 and 2 ascending become descending, 3 to 6 descending
    // become ascending; -R beside a key is an option, not key text.
    out = run({"(1,2)", "-R", "(3,4)[D]"});
    for (size_t i = 1; i < out.size(); ++i) {
      const std::string a = out[i - 1].substr(0, 2);
      const std::string b = out[i].substr(0, 2);
      ASSERT_GE(a, b) << "line " << i;
      if (a == b) {
        ASSERT_LE(out[i - 1].substr(2, 4), out[i].substr(2, 4)) << "line " << i;
      }
    }
  }
}

// Random UTF-16LE lines of ASCII letters and katakana.
std::vector<std::u16string> random_wide_lines(size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::u16string> lines(count);
  for (std::u16string& l : lines) {
    size_t len = 2 + rng() % 20;
    for (size_t i = 0; i < len; ++i) {
      l += (rng() % 2) ? static_cast<char16_t>(u'a' + rng() % 26)
                       : static_cast<char16_t>(0x30A2 + rng() % 80);
    }
  }
  return lines;
}


TEST_F(MergeEndToEnd, WideWithAndWithoutTheMark) {
  std::vector<std::u16string> lines = random_wide_lines(120000, 3u);
  std::vector<std::u16string> sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  const std::string mark("\xFF\xFE", 2);
  const std::string expected = testing::utf16le_lines(sorted, u"\r\n");

  write_file(dir_.file("marked.txt"), mark + testing::utf16le_lines(lines, u"\n"));
  ProgramResult r = quarnel({dir_.file("marked.txt"), dir_.file("out.txt")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(read_file(dir_.file("out.txt")) == mark + expected);
  expect_clean_work();

  write_file(dir_.file("plain.txt"), testing::utf16le_lines(lines, u"\r\n"));
  r = quarnel({dir_.file("plain.txt"), dir_.file("out.txt"), "/W"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(read_file(dir_.file("out.txt")) == expected);
  expect_clean_work();
}

TEST_F(MergeEndToEnd, StandardOutputLeavesAUsersFileNamedStdoutAlone) {
  Lines lines = random_lines(3 << 20, 4u, "abcdefgh");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  write_file(dir_.file("stdout"), "mine\n");
  ProgramResult r = quarnel({dir_.file("in.txt"), "stdout"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Lines sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_TRUE(r.out == joined(sorted, "\r\n"));
  EXPECT_EQ(read_file(dir_.file("stdout")), "mine\n");
  expect_clean_work();

  // Wide text leaves as Shift_JIS.
  std::vector<std::u16string> wide_lines = random_wide_lines(150000, 5u);
  write_file(dir_.file("wide.txt"), std::string("\xFF\xFE", 2) + testing::utf16le_lines(wide_lines, u"\n"));
  r = quarnel({dir_.file("wide.txt"), "stdout"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::sort(wide_lines.begin(), wide_lines.end());
  write_file(dir_.file("expected.utf16"), testing::utf16le_lines(wide_lines, u"\r\n"));
  ProgramResult reference = run_program(
      {"/usr/bin/iconv", "-f", "UTF-16LE", "-t", "CP932", dir_.file("expected.utf16")});
  ASSERT_EQ(reference.exit_code, 0);
  EXPECT_TRUE(r.out == reference.out);
  EXPECT_EQ(read_file(dir_.file("stdout")), "mine\n");
  expect_clean_work();
}

TEST_F(MergeEndToEnd, MoreRunsThanTheOpenFileLimitAllowsAtOnce) {
  Lines lines = random_lines(8 << 20, 6u, "abcdefghijklmnop");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  // Under 14 descriptors the merge program takes four runs at a time.
  ProgramResult r = run_program(
      {"/bin/sh", "-c", "ulimit -n 14 && exec \"$@\"", "sh", built_program("Quarnel"),
       dir_.file("in.txt"), dir_.file("out.txt"), "/M", "1", "/T", work()},
      {"LC_ALL=C"}, dir_.path());
  ASSERT_EQ(r.exit_code, 0) << r.err;
  Lines sorted = lines;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_TRUE(read_file(dir_.file("out.txt")) == joined(sorted, "\r\n"));
  expect_clean_work();
}

// A copy of the build folder's Quarnel and manual, with or without a
// merge program of one's own making.
std::string copy_quarnel(const TempDir& dir) {
  namespace fs = std::filesystem;
  fs::create_directory(dir.file("bin"));
  fs::copy_file(built_program("Quarnel"), dir.file("bin/Quarnel"));
  fs::copy_file(built_program("Jman.doc"), dir.file("bin/Jman.doc"));
  return dir.file("bin/Quarnel");
}

TEST_F(MergeEndToEnd, MissingMergeProgramLeavesNoOutputAndNoRuns) {
  std::string program = copy_quarnel(dir_);
  Lines lines = random_lines(3 << 20, 7u, "abcdefgh");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt")}, program);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(to_cp932("マージプログラム\"Tolvinar\"が存在しません")),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(file_exists(dir_.file("out.txt")));
  expect_clean_work();
}

TEST_F(MergeEndToEnd, FailingMergeProgramLeavesTheOldOutput) {
  std::string program = copy_quarnel(dir_);
  write_file(dir_.file("bin/Tolvinar"), "#!/bin/sh\nexit 2\n");
  chmod(dir_.file("bin/Tolvinar").c_str(), 0755);
  Lines lines = random_lines(3 << 20, 8u, "abcdefgh");
  write_file(dir_.file("in.txt"), joined(lines, "\n"));
  write_file(dir_.file("out.txt"), "old\n");
  ProgramResult r = quarnel({dir_.file("in.txt"), dir_.file("out.txt")}, program);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(read_file(dir_.file("out.txt")), "old\n");
  expect_clean_work();
}

}  // namespace
}  // namespace quarnel::testing
