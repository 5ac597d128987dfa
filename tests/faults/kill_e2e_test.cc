// A merged job stopped by a signal at random moments: the output is
// either the old file or the complete new one, the merge program does not
// outlive the job, and the next job in the same places succeeds and
// leaves its work folder and the output's folder clean.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

const std::string kOldOutput = "old output\r\n";

class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(work().c_str(), 0700), 0);
    write_file(dir_.file("in.txt"), joined(random_lines(6000000, 11), "\r\n"));
  }
  std::string work() const { return dir_.file("work"); }
  std::vector<std::string> job() const {
    return {built_program("Quarnel"), dir_.file("in.txt"), dir_.file("out.txt"),
            "/T", work(), "/M", "1"};
  }
  // What the output's folder holds besides the input and the output.
  std::vector<std::string> beside() const {
    std::vector<std::string> extra;
    for (const std::string& name : list_dir(dir_.path())) {
      if (name != "in.txt" && name != "out.txt" && name != "work") extra.push_back(name);
    }
    return extra;
  }

  void stop_at_random_moments(int signal_number) {
    write_file(dir_.file("out.txt"), kOldOutput);
    auto began = std::chrono::steady_clock::now();
    ProgramResult good = run_program(job(), {"LC_ALL=C"});
    double seconds = std::chrono::duration<double>(
                         std::chrono::steady_clock::now() - began).count();
    ASSERT_EQ(good.exit_code, 0) << good.err;
    const std::string expected = read_file(dir_.file("out.txt"));
    ASSERT_NE(expected, kOldOutput);

    std::mt19937 rng(static_cast<unsigned>(signal_number));
    std::uniform_real_distribution<double> moment(0.0, seconds * 1.1);
    for (int trial = 0; trial < 20; ++trial) {
      write_file(dir_.file("out.txt"), kOldOutput);
      double at = moment(rng);
      std::string where = "signal " + std::to_string(signal_number) + " after " +
                          std::to_string(at) + " s of about " + std::to_string(seconds);
      const int pid = start_program(job(), {.env = {"LC_ALL=C"}});
      ASSERT_GT(pid, 0);
      std::this_thread::sleep_for(std::chrono::duration<double>(at));
      kill(pid, signal_number);
      const int status = wait_program(pid);
      const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      EXPECT_TRUE(finished || (WIFSIGNALED(status) && WTERMSIG(status) == signal_number))
          << where << ": status " << status;
      // The merge program is stopped with the job, not left to finish it.
      // It is told at once, but on a loaded machine it may take a while to
      // run to its end, and once ended it waits for an init that reaps it
      // late: hence a bound of seconds, and an ended process counts as gone.
      if (!wait_until([&] { return !still_runs(pid, true); })) {
        ADD_FAILURE() << where << ": the merge program outlived the job";
        kill(-pid, SIGKILL);
      }

      std::string output = read_file(dir_.file("out.txt"));
      EXPECT_TRUE(output == kOldOutput || output == expected)
          << where << ": output of " << output.size() << " bytes, neither old nor new";
      if (finished) {
        EXPECT_EQ(output, expected) << where;
      }
      if (signal_number != SIGKILL) {
        // A handler ran: it removed what the job had made.
        EXPECT_TRUE(list_dir(work()).empty()) << where << ": work folder not empty";
        EXPECT_TRUE(beside().empty()) << where << ": left beside the output";
      }

      // A job killed after making its folder but before its lock was in
      // place leaves a folder that no job can tell from one being made by
      // a live job at that moment: it is not the next job's to remove.
      if (signal_number == SIGKILL) {
        for (const std::string& name : list_dir(work())) {
          const std::string folder = work() + "/" + name;
          if (file_exists(folder + "/.lock")) continue;
          for (const std::string& inner : list_dir(folder)) unlink((folder + "/" + inner).c_str());
          EXPECT_EQ(rmdir(folder.c_str()), 0) << where << ": " << name;
        }
      }

      // The next job cleans up after one that could not.
      write_file(dir_.file("out.txt"), kOldOutput);
      ProgramResult next = run_program(job(), {"LC_ALL=C"});
      EXPECT_EQ(next.exit_code, 0) << where << "\n" << next.err;
      EXPECT_EQ(read_file(dir_.file("out.txt")), expected) << where;
      std::vector<std::string> left = list_dir(work());
      EXPECT_TRUE(left.empty()) << where << ": after the next job, the work folder holds "
                                << left[0];
      std::vector<std::string> extra = beside();
      std::string held;
      if (!extra.empty()) {
        for (const std::string& name : list_dir(dir_.file(extra[0]))) held += " " + name;
      }
      EXPECT_TRUE(extra.empty()) << where << ": after the next job, beside the output: "
                                 << extra[0] << ", holding" << held;
      if (::testing::Test::HasFailure()) return;
    }
  }

  TempDir dir_;
};

TEST_F(KillTest, StoppedBySigkill) { stop_at_random_moments(SIGKILL); }
TEST_F(KillTest, StoppedBySigterm) { stop_at_random_moments(SIGTERM); }

}  // namespace
}  // namespace quarnel::testing
