#include "options/command_line.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "options/sort_job.h"
#include "platform/platform.h"
#include "input/run_state.h"
#include "order/compare.h"
#include "order/compare_rules.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::file_exists;
using testing::write_file;

// Runs the command-line phase on "Quarnel input output" and the given words.
class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = dir_.file("in.txt");
    output_ = dir_.file("out.txt");
    write_file(input_, "b\r\na\r\n");
  }
  int parse(const std::vector<std::string>& words) {
    return parse_with(input_, output_, words);
  }
  int parse_with(const std::string& in, const std::string& out,
                 const std::vector<std::string>& words) {
    job_ = SortJob();
    run_ = std::make_unique<RunState>();
    args_ = {"Quarnel", in, out};
    args_.insert(args_.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& a : args_) argv.push_back(a.data());
    argv.push_back(nullptr);
    return read_command_line(static_cast<int>(args_.size()), argv.data(), &job_, run_.get());
  }
  std::string key_text() const { return job_.key_text; }
  // How the rules chosen from the job compare two whole lines.
  int compare_lines(const char* a, const char* b) const {
    const CompareRules rules = compare_rules_of(job_);
    return compare_narrow(rules, a, static_cast<int32_t>(strlen(a)), b,
                          static_cast<int32_t>(strlen(b)));
  }

  TempDir dir_;
  std::string input_;
  std::string output_;
  std::vector<std::string> args_;
  SortJob job_;
  std::unique_ptr<RunState> run_ = std::make_unique<RunState>();
};

TEST_F(CommandLine, WholeLineDefaults) {
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(job_.input_path, input_);
  EXPECT_EQ(job_.output_path, output_);
  EXPECT_EQ(job_.to_stdout, false);
  EXPECT_EQ(job_.wide_mode, false);
  EXPECT_EQ(job_.key_mode, false);
  EXPECT_EQ(job_.memory_limit, 0);
  EXPECT_TRUE(job_.input_bom.empty());
  EXPECT_LT(compare_lines("A", "a"), 0);
  EXPECT_EQ(run_->line_length_estimate, 3);
  // The probe's output file is not left behind.
  EXPECT_FALSE(file_exists(output_));
}

TEST_F(CommandLine, OptionsSetModeAndComparers) {
  ASSERT_EQ(parse({"/W", "/I"}), 0);
  EXPECT_EQ(job_.wide_mode, true);
  EXPECT_EQ(job_.ignore_case, true);
  job_.wide_mode = false;  // the narrow comparison of the same rules
  EXPECT_EQ(compare_lines("ABC", "abc"), 0);
  job_.wide_mode = true;
  EXPECT_TRUE(key_text().empty());

  ASSERT_EQ(parse({"/m", "7", "-I", "/WIDE", "-tmp", dir_.path()}), 0);
  EXPECT_EQ(job_.memory_limit, 7000000);
  EXPECT_EQ(job_.ignore_case, true);
  EXPECT_EQ(job_.wide_mode, true);
  EXPECT_EQ(job_.work_dir, dir_.path() + platform::kPathSeparator);
  EXPECT_TRUE(key_text().empty());
}

TEST_F(CommandLine, MemoryValueReadLikeAtoi) {
  const struct {
    const char* token;
    int result;
    int64_t limit;
  } cases[] = {
      {"2000", 0, 2000000000},       {"1", 0, 1000000},
      {"100MB", 0, 100000000},       {"\" +7\"", 0, 7000000},
      {"2001", -1, 2001000000},      {"0", -1, 0},
      {"-5", -1, -5000000},          {"abc", -1, 0},
      {"99999999999", -1, int64_t{INT32_MAX} * 1000000},
      {"-99999999999", -1, int64_t{INT32_MIN} * 1000000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse({"/M", c.token}), c.result) << c.token;
    EXPECT_EQ(job_.memory_limit, c.limit) << c.token;
  }
}

TEST_F(CommandLine, OptionNamesInterruptAwaitedValues) {
  // The /T takes over from /M; 5 is key text.
  EXPECT_EQ(parse({"/M", "/T", dir_.path(), "5"}), -1);
  EXPECT_EQ(job_.memory_limit, 0);
  EXPECT_EQ(job_.work_dir, dir_.path() + platform::kPathSeparator);
  EXPECT_EQ(key_text(), "5");
  EXPECT_EQ(job_.key_mode, true);

  // A /M or /T at the end has no effect.
  EXPECT_EQ(parse({"/T", "/M"}), 0);
  EXPECT_EQ(job_.memory_limit, 0);
}

TEST_F(CommandLine, AwaitedWorkFolderThatSpellsAnOptionIsTheFolder) {
  // /tmp reads as the option /Tmp, but where a folder is awaited and /tmp
  // is one, it is the folder.
  ASSERT_EQ(parse({"/T", "/tmp", "(1,2)"}), 0);
  EXPECT_EQ(job_.work_dir, "/tmp/");
  EXPECT_EQ(key_text(), "(1,2)");
  // Anywhere else it is still the option, which then awaits its value.
  ASSERT_EQ(parse({"/tmp", dir_.path()}), 0);
  EXPECT_EQ(job_.work_dir, dir_.path() + platform::kPathSeparator);
  // After /M the option name still wins over an awaited memory value.
  EXPECT_EQ(parse({"/M", "/tmp", dir_.path(), "5"}), -1);
  EXPECT_EQ(job_.memory_limit, 0);
  EXPECT_EQ(job_.work_dir, dir_.path() + platform::kPathSeparator);
}

TEST_F(CommandLine, RepeatedWideOptionKeepsTheAwaitedValue) {
  // Without a mark the first /W ends the wait: 100 is key text.
  EXPECT_EQ(parse({"/M", "/W", "100"}), -1);
  EXPECT_EQ(job_.memory_limit, 0);
  EXPECT_EQ(key_text(), "100");

  // With the mark the /W is the second wide option: 100 is the memory.
  std::string marked = dir_.file("wide.txt");
  write_file(marked, std::string("\xFF\xFE" "a\0\n\0", 6));
  EXPECT_EQ(parse_with(marked, output_, {"/M", "/W", "100"}), 0);
  EXPECT_EQ(job_.memory_limit, 100000000);
  EXPECT_EQ(job_.input_bom, "\xFF\xFE");
  EXPECT_EQ(job_.wide_mode, true);
  EXPECT_EQ(run_->line_length_estimate, 4);
  EXPECT_TRUE(key_text().empty());
}

TEST_F(CommandLine, OtherWordsJoinTheKeyText) {
  // Words that are no option join the key text as they come; words that
  // look like options and are none ("/X", "/Iz") are set aside.
  EXPECT_EQ(parse({"(1,", "/X", "10)", "/Iz", "-w"}), 0);
  EXPECT_EQ(key_text(), "(1,10)");
  EXPECT_EQ(job_.key_mode, true);
  EXPECT_EQ(job_.wide_mode, true);
  EXPECT_EQ(parse({"(1,", "x", "10)", "z"}), -1);
  EXPECT_EQ(key_text(), "(1,x10)z");
}

TEST_F(CommandLine, WorkDirFromOptionThenEnvironment) {
  std::string other = dir_.file("other");
  ASSERT_EQ(mkdir(other.c_str(), 0777), 0);
  const char* saved_tmp = getenv("TMP");
  const char* saved_tmpdir = getenv("TMPDIR");
  std::string tmp_value = saved_tmp ? saved_tmp : "";
  std::string tmpdir_value = saved_tmpdir ? saved_tmpdir : "";

  setenv("TMP", "/from/tmp", 1);
  setenv("TMPDIR", "/from/tmpdir", 1);
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(job_.work_dir, "/from/tmp/");
  ASSERT_EQ(parse({"/T", dir_.path(), "/T", other}), 0);
  EXPECT_EQ(job_.work_dir, other + "/");
  unsetenv("TMP");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(job_.work_dir, "/from/tmpdir/");
  unsetenv("TMPDIR");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(job_.work_dir, "/tmp/");
  EXPECT_EQ(parse({"/T", input_}), -1);
  EXPECT_EQ(job_.work_dir, input_ + "/");

  if (saved_tmp) setenv("TMP", tmp_value.c_str(), 1);
  if (saved_tmpdir) setenv("TMPDIR", tmpdir_value.c_str(), 1);
}

TEST_F(CommandLine, OnlyLowerCaseStdoutIsStandardOutput) {
  ASSERT_EQ(parse_with(input_, "stdout", {}), 0);
  EXPECT_EQ(job_.to_stdout, true);
  EXPECT_EQ(job_.output_path, "stdout");

  std::string upper = dir_.file("STDOUT");
  ASSERT_EQ(parse_with(input_, upper, {}), 0);
  EXPECT_EQ(job_.to_stdout, false);
  EXPECT_FALSE(file_exists(upper));
}

TEST_F(CommandLine, ExistingOutputKeptAndMissingOneNotLeft) {
  write_file(output_, "precious\n");
  EXPECT_EQ(parse({"/M", "abc"}), -1);
  EXPECT_EQ(testing::read_file(output_), "precious\n");
  ASSERT_EQ(parse({}), 0);
  EXPECT_EQ(testing::read_file(output_), "precious\n");

  std::string missing = dir_.file("new.txt");
  EXPECT_EQ(parse_with(input_, missing, {"/M", "0"}), -1);
  EXPECT_FALSE(file_exists(missing));
  EXPECT_EQ(parse_with(input_, dir_.file("no/such/dir.txt"), {}), -1);
  EXPECT_EQ(parse_with(input_, dir_.path(), {}), -1);
}

TEST_F(CommandLine, LongCommandLineIsNotCut) {
  // Longer than the usual text buffers: the words are kept whole; a token
  // is cut at the token buffer's size.
  std::string word(70000, 'k');
  EXPECT_EQ(parse({word, "/W"}), -1);
  EXPECT_EQ(key_text(), word);
  EXPECT_EQ(job_.wide_mode, true);
}

// A word that looks like an option and is none is never key text: alone it
// is refused by its name, beside a key the job goes on and says so; a word
// like "-5" is still key text.
TEST_F(CommandLine, UnknownOptionIsNamedAloneAndSetAsideBesideAKey) {
  platform::set_system_encoding_for_test(platform::SystemEncoding::kUtf8);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parse({"-k2"}), -1);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("オプション\"-k2\"は使えません"), std::string::npos) << err;
  EXPECT_EQ(err.find("開始カラム"), std::string::npos) << err;

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(parse({"(1,3)", "--foo", "/?x", "-5"}), 0);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(key_text(), "(1,3)-5");
  EXPECT_NE(err.find("◇\"--foo\"は使えないオプションのため無視しました\n"), std::string::npos);
  EXPECT_NE(err.find("◇\"/?x\""), std::string::npos);
  EXPECT_EQ(err.find("\"-5\""), std::string::npos);
  platform::init_locale();
}

}  // namespace
}  // namespace quarnel
