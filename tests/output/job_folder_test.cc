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
  void TearDown() override { remove_job_folder(&job_dir_); }
  std::string first_run_name() {
    OutputFile file;
    return run_file_name(RunTarget{job_, job_dir_, &file, false}, 0);
  }
  SortJob job_;
  std::string job_dir_;
};

TEST_F(JobFolderTest, EachJobGetsItsOwnFolderAndLeavesNothingBehind) {
  TempDir work;
  job_.work_dir = with_trailing_separator(work.path());
  job_.input_path = "/a/sales.txt";
  ASSERT_EQ(make_job_folder(job_.work_dir, &job_dir_), 0);
  const std::string first = job_dir_;
  ASSERT_EQ(first.back(), '/');
  EXPECT_EQ(first.compare(0, work.path().size() + 1, work.path() + "/"), 0);
  EXPECT_TRUE(platform::is_directory(first));
  const std::string first_run = first_run_name();

  // A second job, same work directory, same base name.
  job_dir_.clear();
  job_.input_path = "/b/sales.txt";
  ASSERT_EQ(make_job_folder(job_.work_dir, &job_dir_), 0);
  const std::string second = job_dir_;
  EXPECT_NE(first, second);
  EXPECT_NE(first_run, first_run_name());
  write_file(first_run_name(), "second");
  write_file(second + "list.def", "list");

  remove_job_folder(&job_dir_);
  EXPECT_TRUE(job_dir_.empty());
  EXPECT_FALSE(platform::exists(second));
  // The other job's folder is not touched.
  EXPECT_TRUE(platform::is_directory(first));

  job_dir_ = first;
  write_file(first_run, "first");
  remove_job_folder(&job_dir_);
  EXPECT_TRUE(list_dir(work.path()).empty());
  remove_job_folder(&job_dir_);  // nothing left to do
}

TEST_F(JobFolderTest, MissingWorkDirectoryIsMadeAndAnUnusableOneIsReported) {
  TempDir work;
  job_.work_dir = with_trailing_separator(work.path() + "/made/here");
  ASSERT_EQ(make_job_folder(job_.work_dir, &job_dir_), 0);
  EXPECT_TRUE(platform::is_directory(job_dir_));
  remove_job_folder(&job_dir_);
  EXPECT_TRUE(list_dir(work.path() + "/made/here").empty());

  job_.work_dir = "/dev/null/";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(make_job_folder(job_.work_dir, &job_dir_), -1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("/dev/null/"),
            std::string::npos);
  EXPECT_TRUE(job_dir_.empty());
}

// A child makes its folder, writes a run into it and is signalled.
int end_child_by(int signal_number, const std::string& work, bool ignored) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (ignored) signal(signal_number, SIG_IGN);
    SortJob job;
    job.work_dir = with_trailing_separator(work);
    job.input_path = "in.txt";
    std::string job_dir;
    if (make_job_folder(job.work_dir, &job_dir) != 0) _exit(10);
    OutputFile file;
    const std::string run = run_file_name(RunTarget{job, job_dir, &file, false}, 0);
    if (write_buffered(&file, run.c_str(), "data", 4) != 4) _exit(11);
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
  job_.work_dir = with_trailing_separator(work.path());
  ASSERT_EQ(make_job_folder(job_.work_dir, &job_dir_), 0);
  remove_job_folder(&job_dir_);
  g_own_handler_ran = 0;
  raise(SIGTERM);
  EXPECT_EQ(g_own_handler_ran, 1);
  sigaction(SIGTERM, &before, nullptr);
}

}  // namespace
}  // namespace quarnel
