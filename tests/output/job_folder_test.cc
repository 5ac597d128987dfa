#include "output/job_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "options/sort_job.h"
#include "platform/platform.h"
#include "output/output_file.h"
#include "output/run_files.h"
#include "support/test_util.h"
#include "text/sjis.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::list_dir;
using testing::write_file;

class JobFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_sort_job(); }
  void TearDown() override {
    remove_job_folder();
    reset_sort_job();
  }
};

TEST_F(JobFolderTest, EachJobGetsItsOwnFolderAndLeavesNothingBehind) {
  TempDir work;
  sort_job.work_dir = with_trailing_separator(work.path());
  sort_job.input_path = "/a/sales.txt";
  ASSERT_EQ(make_job_folder(), 0);
  const std::string first = sort_job.job_dir;
  ASSERT_EQ(first.back(), '/');
  EXPECT_EQ(first.compare(0, work.path().size() + 1, work.path() + "/"), 0);
  EXPECT_TRUE(platform::is_directory(first));
  const std::string first_run = run_file_name(0);

  // A second job, same work directory, same base name.
  sort_job.job_dir.clear();
  sort_job.input_path = "/b/sales.txt";
  ASSERT_EQ(make_job_folder(), 0);
  const std::string second = sort_job.job_dir;
  EXPECT_NE(first, second);
  EXPECT_NE(first_run, std::string(run_file_name(0)));
  write_file(run_file_name(0), "second");
  write_file(second + "list.def", "list");

  remove_job_folder();
  EXPECT_TRUE(sort_job.job_dir.empty());
  EXPECT_FALSE(platform::exists(second));
  // The other job's folder is not touched.
  EXPECT_TRUE(platform::is_directory(first));

  sort_job.job_dir = first;
  write_file(first_run, "first");
  remove_job_folder();
  EXPECT_TRUE(list_dir(work.path()).empty());
  remove_job_folder();  // nothing left to do
}

TEST_F(JobFolderTest, MissingWorkDirectoryIsMadeAndAnUnusableOneIsReported) {
  TempDir work;
  sort_job.work_dir = with_trailing_separator(work.path() + "/made/here");
  ASSERT_EQ(make_job_folder(), 0);
  EXPECT_TRUE(platform::is_directory(sort_job.job_dir));
  remove_job_folder();
  EXPECT_TRUE(list_dir(work.path() + "/made/here").empty());

  sort_job.work_dir = "/dev/null/";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(make_job_folder(), -1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("/dev/null/"),
            std::string::npos);
  EXPECT_TRUE(sort_job.job_dir.empty());
}

// A child makes its folder, writes a run into it and is signalled.
int end_child_by(int signal_number, const std::string& work, bool ignored) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (ignored) signal(signal_number, SIG_IGN);
    reset_sort_job();
    sort_job.work_dir = with_trailing_separator(work);
    sort_job.input_path = "in.txt";
    if (make_job_folder() != 0) _exit(10);
    close_output_file();
    if (write_buffered(run_file_name(0), "data", 4) != 4) _exit(11);
    // Left open, as a job that is interrupted while writing.
    raise(signal_number);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(JobFolderTest, SignalRemovesTheFolderAndStillEndsTheProcess) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    TempDir work;
    EXPECT_EQ(end_child_by(signal_number, work.path(), false), 128 + signal_number);
    EXPECT_TRUE(list_dir(work.path()).empty()) << "signal " << signal_number;
  }
}

TEST_F(JobFolderTest, IgnoredSignalStaysIgnored) {
  // As under nohup: the job goes on and its folder with it.
  TempDir work;
  EXPECT_EQ(end_child_by(SIGHUP, work.path(), true), 0);
  EXPECT_EQ(list_dir(work.path()).size(), 1u);
}

volatile sig_atomic_t g_own_handler_ran = 0;
void own_handler(int) { g_own_handler_ran = 1; }

TEST_F(JobFolderTest, HandlersThatWereThereComeBack) {
  TempDir work;
  struct sigaction own = {}, before = {};
  own.sa_handler = own_handler;
  sigemptyset(&own.sa_mask);
  ASSERT_EQ(sigaction(SIGTERM, &own, &before), 0);
  sort_job.work_dir = with_trailing_separator(work.path());
  ASSERT_EQ(make_job_folder(), 0);
  remove_job_folder();
  g_own_handler_ran = 0;
  raise(SIGTERM);
  EXPECT_EQ(g_own_handler_ran, 1);
  sigaction(SIGTERM, &before, nullptr);
}

}  // namespace
}  // namespace quarnel
