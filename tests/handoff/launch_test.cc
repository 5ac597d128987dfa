#include "handoff/launch.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/module_path.h"
#include "platform/platform.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

using testing::read_file;
using testing::split_lines;
using testing::TempDir;
using testing::write_file;

// A shell script that writes its argument count and each argument on a
// line of its own (and its folder, for the interpreter route) to record.
std::string make_recorder(const std::string& path, const std::string& record,
                          bool executable) {
  write_file(path,
             "#!/bin/sh\n"
             "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; pwd; } > '" +
                 record + "'\n");
  chmod(path.c_str(), executable ? 0755 : 0644);
  return path;
}

// Sets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_.c_str(), old_.c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

// module_path names this executable; the fallback of the search uses its
// folder, so tests point it at a folder of their own.
class ScopedModulePath {
 public:
  explicit ScopedModulePath(const std::string& path) : old_(module_path) {
    module_path = path;
  }
  ~ScopedModulePath() { module_path = old_; }

 private:
  std::string old_;
};

TEST(LaunchCommand, ArgumentsArriveWholeWithoutQuotes) {
  TempDir dir;
  std::string record = dir.file("record");
  std::string program = make_recorder(dir.file("args.sh"), record, true);
  int r = launch_command(
      ("\"" + program + "\" a \"b c\" d\"e f\"g   \"\"x").c_str());
  EXPECT_EQ(r, 0);
  std::vector<std::string> got = split_lines(read_file(record));
  ASSERT_GE(got.size(), 5u);
  EXPECT_EQ(got[0], "4");
  EXPECT_EQ(got[1], "[a]");
  EXPECT_EQ(got[2], "[b c]");
  EXPECT_EQ(got[3], "[de fg]");
  // An empty pair of quotes that starts a token still starts it.
  EXPECT_EQ(got[4], "[x]");
}

TEST(LaunchCommand, SixteenSlotsAtMostFurtherTokensIgnored) {
  TempDir dir;
  std::string record = dir.file("record");
  std::string command = make_recorder(dir.file("args.sh"), record, true);
  for (int i = 1; i <= 20; ++i) command += " t" + std::to_string(i);
  EXPECT_EQ(launch_command(command.c_str()), 0);
  std::vector<std::string> got = split_lines(read_file(record));
  ASSERT_GE(got.size(), 16u);
  EXPECT_EQ(got[0], "15");
  EXPECT_EQ(got[1], "[t1]");
  EXPECT_EQ(got[15], "[t15]");
}

TEST(LaunchCommand, ExitStatusesAndSignals) {
  TempDir dir;
  std::string ok = dir.file("ok.sh");
  std::string three = dir.file("three.sh");
  std::string killed = dir.file("killed.sh");
  write_file(ok, "#!/bin/sh\nexit 0\n");
  write_file(three, "#!/bin/sh\nexit 3\n");
  write_file(killed, "#!/bin/sh\nkill -TERM $$\nexit 0\n");
  for (const std::string& p : {ok, three, killed}) chmod(p.c_str(), 0755);
  EXPECT_EQ(launch_command((ok + " x").c_str()), 0);
  EXPECT_EQ(launch_command((three + " x").c_str()), 3);
  int r = launch_command((killed + " x").c_str());
  EXPECT_NE(r, 0);
  EXPECT_NE(r, -1);
}

TEST(LaunchCommand, UnusableCommandLinesAndMissingPrograms) {
  TempDir dir;
  EXPECT_EQ(launch_command(nullptr), -1);
  EXPECT_EQ(launch_command(""), -1);
  EXPECT_EQ(launch_command("ab"), -1);
  EXPECT_EQ(launch_command("     "), -1);
  EXPECT_EQ(launch_command("\"\" abc"), -1);
  EXPECT_EQ(launch_command((dir.file("missing") + " a b").c_str()), -1);
  // A folder is no program.
  EXPECT_EQ(launch_command((dir.path() + " a b").c_str()), -1);
  ScopedEnv path("PATH", dir.path().c_str());
  ScopedModulePath module(dir.file("nothing/here"));
  EXPECT_EQ(launch_command("no-such-tool arg"), -1);
}

TEST(LaunchCommand, BareNameSearchedAlongPathThenBesideTheExecutable) {
  TempDir dir;
  std::string record = dir.file("record");
  platform::make_directory(dir.file("bin"));
  platform::make_directory(dir.file("home"));
  platform::make_directory(dir.file("empty"));
  make_recorder(dir.file("bin/tool"), record, true);
  make_recorder(dir.file("home/helper"), record, true);
  ScopedModulePath module(dir.file("home/Quarnel"));
  {
    std::string value = "/nonexistent::" + dir.file("empty") + ":" + dir.file("bin");
    ScopedEnv path("PATH", value.c_str());
    EXPECT_EQ(launch_command("tool one"), 0);
    EXPECT_EQ(split_lines(read_file(record))[1], "[one]");
    // Not along PATH: the executable's own folder.
    EXPECT_EQ(launch_command("helper two"), 0);
    EXPECT_EQ(split_lines(read_file(record))[1], "[two]");
  }
  {
    // A blank inside a PATH entry is part of the folder's name.
    platform::make_directory(dir.file("my bin"));
    make_recorder(dir.file("my bin/spaced"), record, true);
    std::string value = dir.file("my bin");
    ScopedEnv path("PATH", value.c_str());
    EXPECT_EQ(launch_command("spaced three"), 0);
    EXPECT_EQ(split_lines(read_file(record))[1], "[three]");
  }
}

TEST(LaunchCommand, EmptyPathSearchesTheCurrentFolder) {
  TempDir dir;
  std::string record = dir.file("record");
  make_recorder(dir.file("local"), record, true);
  ScopedModulePath module(dir.file("elsewhere/Quarnel"));
  ScopedEnv path("PATH", "");
  std::string before = platform::current_directory();
  ASSERT_EQ(platform::change_directory(dir.path()), 0);
  int r = launch_command("local four");
  platform::change_directory(before);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(split_lines(read_file(record))[1], "[four]");
}

TEST(LaunchCommand, ScriptWithoutExecutePermissionRunsThroughTheShellInItsFolder) {
  TempDir dir;
  std::string record = dir.file("record");
  platform::make_directory(dir.file("jobs"));
  make_recorder(dir.file("jobs/run.sh"), record, false);
  std::string before = platform::current_directory();
  int r = launch_command((dir.file("jobs/run.sh") + " \"an arg\" b").c_str());
  EXPECT_EQ(r, 0);
  std::vector<std::string> got = split_lines(read_file(record));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "2");
  EXPECT_EQ(got[1], "[an arg]");
  EXPECT_EQ(got[2], "[b]");
  // The script ran from its own folder; this process stayed where it was.
  char* folder = realpath(dir.file("jobs").c_str(), nullptr);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(got[3], folder);
  free(folder);
  EXPECT_EQ(platform::current_directory(), before);
}

TEST(LaunchCommand, ScriptExitStatusComesBackThroughTheShell) {
  TempDir dir;
  write_file(dir.file("fail.sh"), "exit 7\n");
  chmod(dir.file("fail.sh").c_str(), 0644);
  EXPECT_EQ(launch_command((dir.file("fail.sh") + " x").c_str()), 7);
}

}  // namespace
}  // namespace quarnel
