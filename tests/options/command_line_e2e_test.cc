// The command-line phase and the memory budget as the built program shows
// them on standard error. Later phases may add lines after the budget
// line; these tests look at what comes before it, or at whole outputs of
// runs that stop in this phase.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

ProgramResult quarnel(const std::vector<std::string>& args,
                      const std::string& cwd = "") {
  std::vector<std::string> argv = {built_program("Quarnel")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, {"LC_ALL=C"}, cwd);
}

// The start line and then the given lines, in the console's bytes.
std::string opening(const std::string& utf8_lines) {
  return to_cp932("□開始 <time>\n" + utf8_lines);
}
std::string ending() { return to_cp932("□終了 <time>\n"); }

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

#define EXPECT_STARTS_WITH(text, prefix) \
  EXPECT_EQ((text).substr(0, (prefix).size()), (prefix))

class CommandLineEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    in_ = dir_.file("in.txt");
    out_ = dir_.file("out.txt");
    write_file(in_, "b\r\na\r\n");
  }
  TempDir dir_;
  std::string in_;
  std::string out_;
};

TEST_F(CommandLineEndToEnd, SettingsReportedInOrder) {
  std::string work = dir_.file("work");
  ASSERT_EQ(mkdir(work.c_str(), 0777), 0);
  ProgramResult r = quarnel({in_, out_, "/T", work, "/I", "/W"});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"
                             "◇ソート用の作業領域は " + work + " です\n"
                             "◇ワイド文字を扱います\n"
                             "◇大文字・小文字の区別をします(/Iオプションは無効)\n"
                             "◇行全体を昇順にソート対象にします\n"
                             "◇ソート用のメモリを 0MB使用します(A)\n"));

  r = quarnel({in_, "stdout", "-i"});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇標準出力に出力します\n"
                             "◇大文字・小文字の区別はしません\n"
                             "◇行全体を昇順にソート対象にします\n"
                             "◇ソート用のメモリを 0MB使用します(A)\n"));
}

TEST_F(CommandLineEndToEnd, MissingInputOrUnusableOutput) {
  std::string missing = dir_.file("missing.txt");
  ProgramResult r = quarnel({missing, out_});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◆<time> \"" + missing + "\"は存在しません\n") + ending());

  std::string nowhere = dir_.file("no-such-folder/out.txt");
  r = quarnel({in_, nowhere});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は " + in_ + " です\n"
                    "◆<time> 不当なファイル\"" + nowhere + "\"です\n") +
                ending());
  EXPECT_EQ(list_dir(dir_.path()), std::vector<std::string>{"in.txt"});
}

TEST_F(CommandLineEndToEnd, SameFileByIdentityNotByName) {
  write_file(dir_.file("a.txt"), "z\na\n");
  // Another spelling of the same path is the same file.
  ProgramResult r = quarnel({"a.txt", "./a.txt", "/M", "0"}, dir_.path());
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は a.txt です\n"
                    "◆<time> 入力ファイル\"a.txt\"と出力ファイルが同じです\n") +
                ending());
  EXPECT_EQ(read_file(dir_.file("a.txt")), "z\na\n");

  // Names apart only in ASCII case are two files here; the output check
  // goes on to the next step.
  r = quarnel({"a.txt", "A.TXT", "/M", "0"}, dir_.path());
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は a.txt です\n"
                    "◇出力ファイル名は A.TXT です\n"
                    "◆<time> メモリの指定\"0\"に誤りがあります\n") +
                ending());
  EXPECT_EQ(read_file(dir_.file("a.txt")), "z\na\n");
}

TEST_F(CommandLineEndToEnd, MemoryValues) {
  ProgramResult r = quarnel({in_, out_, "/M", "2000"});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"
                             "◇行全体を昇順にソート対象にします\n"
                             "◇ソート用のメモリを 0MB使用します(A)\n"));
  for (const char* bad : {"2001", "0", "-5", "abc"}) {
    r = quarnel({in_, out_, "/M", bad});
    EXPECT_EQ(r.exit_code, 255) << bad;
    EXPECT_EQ(mask_times(r.err),
              opening("◇入力ファイル名は " + in_ + " です\n"
                      "◇出力ファイル名は " + out_ + " です\n"
                      "◆<time> メモリの指定\"" + bad + "\"に誤りがあります\n") +
                  ending())
        << bad;
  }
}

TEST_F(CommandLineEndToEnd, MemoryValueWithTrailingText) {
  // A first line of one byte makes 6,000,000 bytes need a line table of
  // 96,000,000 bytes besides, so the budget is the limit, 100,000,000.
  // (The rest is one line too long to sort, so that the run stays short.)
  write_file(in_, "\n" + std::string(5999999, 'x'));
  ProgramResult r = quarnel({in_, out_, "/M", "100MB"});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"
                             "◇行全体を昇順にソート対象にします\n"
                             "◇ソート用のメモリを 100MB使用します(A)\n"));
}

TEST_F(CommandLineEndToEnd, WorkDirectoryOption) {
  ProgramResult r = quarnel({in_, out_, "/T", in_});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は " + in_ + " です\n"
                    "◇出力ファイル名は " + out_ + " です\n"
                    "◆<time> [" + in_ + "] はディレクトリではありません\n") +
                ending());

  std::string first = dir_.file("first");
  std::string second = dir_.file("second");
  ASSERT_EQ(mkdir(first.c_str(), 0777), 0);
  ASSERT_EQ(mkdir(second.c_str(), 0777), 0);
  r = quarnel({in_, out_, "/T", first, "-Tmp", second});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"
                             "◇ソート用の作業領域は " + first + " です\n"
                             "◇ソート用の作業領域は " + second + " です\n"
                             "◇行全体を昇順にソート対象にします\n"));
}

TEST_F(CommandLineEndToEnd, ByteOrderMarkTurnsOnWideMode) {
  std::string wide = dir_.file("wide.txt");
  write_file(wide, std::string("\xFF\xFE" "b\0\n\0a\0\n\0", 10));
  const std::string wide_line = to_cp932("◇ワイド文字を扱います\n");
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, std::vector<std::string>{"/W", "-wide"}}) {
    std::vector<std::string> args = {wide, out_};
    args.insert(args.end(), options.begin(), options.end());
    ProgramResult r = quarnel(args);
    EXPECT_STARTS_WITH(mask_times(r.err),
                       opening("◇入力ファイル名は " + wide + " です\n"
                               "◇出力ファイル名は " + out_ + " です\n"
                               "◇ワイド文字を扱います\n"
                               "◇行全体を昇順にソート対象にします\n"
                               "◇ソート用のメモリを 0MB使用します(A)\n"));
    EXPECT_EQ(count(r.err, wide_line), 1);
  }

  // "/M /W 100": with the mark the /W is a repeat and 100 is the memory
  // value; without it 100 is key text, in which no start column is found.
  const std::string whole_line = to_cp932("◇行全体を昇順にソート対象にします\n");
  const std::string budget = to_cp932("◇ソート用のメモリを");
  ProgramResult r = quarnel({wide, out_, "/M", "/W", "100"});
  EXPECT_EQ(count(r.err, whole_line), 1);
  EXPECT_EQ(count(r.err, budget), 1);
  r = quarnel({in_, out_, "/M", "/W", "100"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は " + in_ + " です\n"
                    "◇出力ファイル名は " + out_ + " です\n"
                    "◇ワイド文字を扱います\n"
                    "◆<time> 開始カラムが指定されていません\n") +
                ending());
}

TEST_F(CommandLineEndToEnd, OptionFormsAndOtherWords) {
  std::string work = dir_.file("work");
  ASSERT_EQ(mkdir(work.c_str(), 0777), 0);
  ProgramResult r = quarnel({in_, out_, "/m", "5", "/w", "-I", "/WIDE", "-tmp", work});
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"
                             "◇ワイド文字を扱います\n"
                             "◇ソート用の作業領域は " + work + " です\n"
                             "◇大文字・小文字の区別をします(/Iオプションは無効)\n"
                             "◇行全体を昇順にソート対象にします\n"
                             "◇ソート用のメモリを 0MB使用します(A)\n"));

  // /X is no option: it is key text, so no whole-line sort is announced.
  r = quarnel({in_, out_, "/X"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(count(r.err, to_cp932("◇行全体を昇順にソート対象にします\n")), 0);
  EXPECT_STARTS_WITH(mask_times(r.err),
                     opening("◇入力ファイル名は " + in_ + " です\n"
                             "◇出力ファイル名は " + out_ + " です\n"));
}

TEST_F(CommandLineEndToEnd, EmptyInputRefused) {
  write_file(in_, "");
  ProgramResult r = quarnel({in_, out_});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(mask_times(r.err),
            opening("◇入力ファイル名は " + in_ + " です\n"
                    "◇出力ファイル名は " + out_ + " です\n"
                    "◇行全体を昇順にソート対象にします\n"
                    "◆<time> \"" + in_ + "\"はShift_JISファイルではありません\n") +
                ending());
  EXPECT_FALSE(file_exists(out_));
}

TEST_F(CommandLineEndToEnd, ExistingOutputSurvivesAFailure) {
  const std::string precious("keep\r\n\x83\x41\0tail", 13);
  write_file(out_, precious);
  ProgramResult r = quarnel({in_, out_, "/M", "abc"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(read_file(out_), precious);

  std::string fresh = dir_.file("fresh.txt");
  r = quarnel({in_, fresh, "/M", "abc"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_FALSE(file_exists(fresh));
}

}  // namespace
}  // namespace quarnel::testing
