// The installed layout, used as a user uses it: installed into a fresh
// prefix, run from another folder through a symbolic link on PATH, with
// the merge program and the manual found from the real executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

TEST(InstallEndToEnd, InstalledQuarnelRunsThroughALinkOnPath) {
  TempDir root;
  const std::string prefix = root.file("prefix");
  ProgramResult install = run_program(
      {QUARNEL_CMAKE_COMMAND, "--install", QUARNEL_BUILD_DIR, "--prefix", prefix});
  ASSERT_EQ(install.exit_code, 0) << install.out << install.err;
  for (const char* path :
       {"bin/Quarnel", "bin/Tolvinar", "share/quarnel/Jman.doc",
        "share/man/man1/quarnel.1", "share/man/man1/tolvinar.1",
        "share/man/ja/man1/quarnel.1", "share/man/ja/man1/tolvinar.1",
        "share/doc/quarnel/README.md", "share/doc/quarnel/LICENSE"}) {
    EXPECT_TRUE(file_exists(prefix + "/" + path)) << path;
  }
  EXPECT_FALSE(file_exists(prefix + "/bin/Jman.doc"));

  const std::string links = root.file("links");
  const std::string work = root.file("work");
  ASSERT_EQ(mkdir(links.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
  ASSERT_EQ(symlink((prefix + "/bin/Quarnel").c_str(), (links + "/Quarnel").c_str()), 0);
  write_file(work + "/in.txt", joined(random_lines(3 << 20, 1), "\n"));
  const std::string expected = sorted_by_c_sort(work + "/in.txt");
  const std::vector<std::string> env = {"PATH=" + links + ":/usr/bin:/bin",
                                        "LC_ALL=C", "TMP=" + work};
  auto shell = [&](const std::string& command) {
    return run_program({"/bin/sh", "-c", command}, env, work);
  };

  ProgramResult to_file = shell("Quarnel in.txt out.txt /M 1");
  EXPECT_EQ(to_file.exit_code, 0) << to_file.err;
  EXPECT_TRUE(read_file(work + "/out.txt") == expected);
  ProgramResult to_stdout = shell("Quarnel in.txt stdout /M 1");
  EXPECT_EQ(to_stdout.exit_code, 0) << to_stdout.err;
  EXPECT_TRUE(to_stdout.out == expected);

  // The usage text comes from share/quarnel, as the build folder's does
  // from beside the program.
  ProgramResult usage = shell("Quarnel");
  EXPECT_EQ(usage.exit_code, 255);
  ProgramResult built_usage = run_program({built_program("Quarnel")}, {"LC_ALL=C"});
  EXPECT_FALSE(usage.err.empty());
  EXPECT_EQ(usage.err, built_usage.err);

  // Those jobs needed the merge program beside the installed Quarnel.
  ASSERT_EQ(rename((prefix + "/bin/Tolvinar").c_str(), (prefix + "/Tolvinar").c_str()), 0);
  ProgramResult no_merge = shell("Quarnel in.txt out2.txt /M 1");
  EXPECT_EQ(no_merge.exit_code, 255);
  EXPECT_NE(no_merge.err.find(to_cp932("マージプログラム")), std::string::npos) << no_merge.err;
  EXPECT_FALSE(file_exists(work + "/out2.txt"));
  EXPECT_EQ(list_dir(work), (std::vector<std::string>{"in.txt", "out.txt"}));
}

}  // namespace
}  // namespace quarnel::testing
