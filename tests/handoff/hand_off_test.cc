#include "handoff/hand_off.h"

#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options/sort_job.h"
#include "platform/module_path.h"
#include "platform/platform.h"
#include "input/run_state.h"
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
    saved_module_path_ = module_path;
    platform::make_directory(dir_.file("bin"));
    platform::make_directory(dir_.file("work"));
    platform::make_directory(dir_.file("work/job"));
    module_path = dir_.file("bin/Quarnel");
    job_.work_dir = dir_.file("work/");
    run_.job_dir = dir_.file("work/job/");
    job_.input_path = "/data/sales.txt";
    job_.output_path = dir_.file("out.txt");
    run_.run_count = 2;
  }
  void TearDown() override { module_path = saved_module_path_; }

  int hand_over() { return hand_to_merge(job_, &run_); }
  std::string run_name(int32_t i) {
    return run_file_name(RunTarget{job_, run_.job_dir, &run_.output, false}, i);
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
    return run_.job_dir + work_dir_digest(job_.work_dir).substr(0, 20) + ".def";
  }

  TempDir dir_;
  std::string saved_module_path_;
  SortJob job_;
  RunState run_;
};

TEST_F(HandOffTest, WholeLinesNarrowPassListAndOutputOnly) {
  install_merge_program(0);
  EXPECT_EQ(hand_over(), 0);
  std::string expected_list = list_path();
  EXPECT_EQ(arguments(), (std::vector<std::string>{"[" + expected_list + "]",
                                                   "[" + job_.output_path + "]"}));
  std::string runs = run_name(0) + "\r\n";
  runs += run_name(1) + "\r\n";
  EXPECT_EQ(read_file(dir_.file("list")), runs);
  // The list lives only while the merge program runs.
  EXPECT_FALSE(file_exists(expected_list));
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
  EXPECT_EQ(run_failed(run_), false);
}

TEST_F(HandOffTest, KeyTextThenTheModeOptions) {
  install_merge_program(5);
  job_.key_mode = true;
  job_.key_text = "(1,10)[A;S] (3,2)";
  job_.wide_mode = true;
  job_.input_bom = std::string("\xFF\xFE", 2);
  job_.ignore_case = true;
  job_.output_path = dir_.file("my data/out put.txt");
  // The merge program's status comes back as it is.
  EXPECT_EQ(hand_over(), 5);
  EXPECT_EQ(arguments(),
            (std::vector<std::string>{"[" + list_path() + "]",
                                      "[" + job_.output_path + "]",
                                      "[(1,10)[A;S] (3,2)]", "[/Wide]", "[/I]"}));
}

TEST_F(HandOffTest, WideWithoutMarkAndIgnoreCaseAlone) {
  install_merge_program(0);
  job_.wide_mode = true;
  EXPECT_EQ(hand_over(), 0);
  EXPECT_EQ(arguments().back(), "[/W]");
  EXPECT_EQ(arguments().size(), 3u);
  job_.wide_mode = false;
  job_.ignore_case = true;
  EXPECT_EQ(hand_over(), 0);
  EXPECT_EQ(arguments().back(), "[/I]");
  EXPECT_EQ(arguments().size(), 3u);
  job_.reverse = true;
  EXPECT_EQ(hand_over(), 0);
  EXPECT_EQ(arguments().back(), "[/R]");
  EXPECT_EQ(arguments().size(), 4u);
}

TEST_F(HandOffTest, ListInTheWorkDirectoryWhenThereIsNoJobFolder) {
  install_merge_program(0);
  run_.job_dir.clear();
  job_.work_dir = with_trailing_separator(dir_.file("work"));
  EXPECT_EQ(hand_over(), 0);
  std::string expected =
      dir_.file("work/") + work_dir_digest(job_.work_dir).substr(0, 20) + ".def";
  EXPECT_EQ(arguments()[0], "[" + expected + "]");
  EXPECT_FALSE(file_exists(expected));
}

TEST_F(HandOffTest, MissingMergeProgramGivesMinusOneAndNoList) {
  EXPECT_EQ(hand_over(), -1);
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
}

TEST_F(HandOffTest, ListThatCannotBeWrittenFailsTheJobAndStartsNothing) {
  install_merge_program(0);
  // A plain file stands where the job's folder should be.
  write_file(dir_.file("work/blocker"), "x");
  run_.job_dir = dir_.file("work/blocker/");
  int r = hand_over();
  EXPECT_NE(r, 0);
  EXPECT_NE(r, -1);
  EXPECT_EQ(run_failed(run_), true);
  EXPECT_FALSE(file_exists(dir_.file("args")));
}

TEST_F(HandOffTest, NameWithADoubleQuoteIsRefused) {
  install_merge_program(0);
  job_.output_path = dir_.file("a\"b");
  int r = hand_over();
  EXPECT_NE(r, 0);
  EXPECT_EQ(run_failed(run_), true);
  EXPECT_FALSE(file_exists(dir_.file("args")));
  EXPECT_TRUE(list_dir(dir_.file("work/job")).empty());
}

}  // namespace
}  // namespace quarnel
