#include "handoff/hand_off.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options/sort_job.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "output/output_file.h"
#include "output/run_files.h"
#include "support/test_util.h"
#include "text/sjis.h"

namespace quarnel {
namespace {

using testing::file_exists;
using testing::list_dir;
using testing::read_file;
using testing::split_lines;
using testing::TempDir;
using testing::write_file;

// A stand-in merge program beside a stand-in Quarnel: it records its
// arguments and a copy of the list file, then exits with the given status.
class HandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_sort_job();
    close_output_file();
    saved_module_path_ = module_path;
    platform::make_directory(dir_.file("bin"));
    platform::make_directory(dir_.file("work"));
    platform::make_directory(dir_.file("work/job"));
    module_path = dir_.file("bin/Quarnel");
    sort_job.work_dir = dir_.file("work/");
    sort_job.job_dir = dir_.file("work/job/");
    sort_job.input_path = "/data/sales.txt";
    sort_job.output_path = dir_.file("out.txt");
    sort_job.run_count = 2;
  }
  void TearDown() override {
    module_path = saved_module_path_;
    close_output_file();
  }

  void install_merge_program(int status) {
    std::string program = dir_.file("bin/Tolvinar");
    write_file(program, "#!/bin/sh\n"
                        "{ for a in \"$@\"; do echo \"[$a]\"; done; } > '" +
                            dir_.file("args") + "'\n"
                            "cat \"$1\" > '" + dir_.file("list") + "'\n"
                            "exit " + std::to_string(status) + "\n");
    chmod(program.c_str(), 0755);
  }

  std::vector<std::string> arguments() { return split_lines(read_file(dir_.file("args"))); }

  std::string list_path() {
    return sort_job.job_dir + std::string(work_dir_digest()).substr(0, 20) + ".def";
  }

  TempDir dir_;
  std::string saved_module_path_;
};

TEST_F(HandOffTest, WholeLinesNarrowPassListAndOutputOnly) {
  install_merge_program(0);
  EXPECT_EQ(hand_to_merge(), 0);
  std::string expected_list = list_path();
  EXPECT_EQ(arguments(), (std::vector<std::string>{"[" + expected_list + "]",
                                                   "[" + sort_job.output_path + "]"}));
  std::string runs = std::string(run_file_name(0)) + "\r\n";
  runs += std::string(run_file_name(1)) + "\r\n";
  EXPECT_EQ(read_file(dir_.file("list")), runs);
  // The list lives only while the merge program runs.
  EXPECT_FALSE(file_exists(expected_list));
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
  EXPECT_EQ(sort_job.failed, 0);
}

TEST_F(HandOffTest, KeyTextThenTheModeOptions) {
  install_merge_program(5);
  sort_job.key_mode = 1;
  sort_job.key_text.reset(new char[kTextBufferSize]);
  snprintf(sort_job.key_text.get(), kTextBufferSize, "%s", "(1,10)[A;S] (3,2)");
  sort_job.wide_mode = 1;
  sort_job.input_bom = std::string("\xFF\xFE", 2);
  sort_job.ignore_case = 1;
  sort_job.output_path = dir_.file("my data/out put.txt");
  // The merge program's status comes back as it is.
  EXPECT_EQ(hand_to_merge(), 5);
  EXPECT_EQ(arguments(),
            (std::vector<std::string>{"[" + list_path() + "]",
                                      "[" + sort_job.output_path + "]",
                                      "[(1,10)[A;S] (3,2)]", "[/Wide]", "[/I]"}));
}

TEST_F(HandOffTest, WideWithoutMarkAndIgnoreCaseAlone) {
  install_merge_program(0);
  sort_job.wide_mode = 1;
  EXPECT_EQ(hand_to_merge(), 0);
  EXPECT_EQ(arguments().back(), "[/W]");
  EXPECT_EQ(arguments().size(), 3u);
  sort_job.wide_mode = 0;
  sort_job.ignore_case = 1;
  EXPECT_EQ(hand_to_merge(), 0);
  EXPECT_EQ(arguments().back(), "[/I]");
  EXPECT_EQ(arguments().size(), 3u);
}

TEST_F(HandOffTest, ListInTheWorkDirectoryWhenThereIsNoJobFolder) {
  install_merge_program(0);
  sort_job.job_dir.clear();
  sort_job.work_dir = with_trailing_separator(dir_.file("work"));
  EXPECT_EQ(hand_to_merge(), 0);
  std::string expected =
      dir_.file("work/") + std::string(work_dir_digest()).substr(0, 20) + ".def";
  EXPECT_EQ(arguments()[0], "[" + expected + "]");
  EXPECT_FALSE(file_exists(expected));
}

TEST_F(HandOffTest, MissingMergeProgramGivesMinusOneAndNoList) {
  EXPECT_EQ(hand_to_merge(), -1);
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
}

TEST_F(HandOffTest, ListThatCannotBeWrittenFailsTheJobAndStartsNothing) {
  install_merge_program(0);
  // A plain file stands where the job's folder should be.
  write_file(dir_.file("work/blocker"), "x");
  sort_job.job_dir = dir_.file("work/blocker/");
  int r = hand_to_merge();
  EXPECT_NE(r, 0);
  EXPECT_NE(r, -1);
  EXPECT_EQ(sort_job.failed, 1);
  EXPECT_FALSE(file_exists(dir_.file("args")));
}

TEST_F(HandOffTest, NameWithADoubleQuoteIsRefused) {
  install_merge_program(0);
  sort_job.output_path = dir_.file("a\"b");
  int r = hand_to_merge();
  EXPECT_NE(r, 0);
  EXPECT_EQ(sort_job.failed, 1);
  EXPECT_FALSE(file_exists(dir_.file("args")));
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
}

}  // namespace
}  // namespace quarnel
