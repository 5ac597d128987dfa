// The built merge program on its own: its arguments, its failures, the
// open-file limit and standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

void platform_mkdir(const std::string& path) { mkdir(path.c_str(), 0700); }

ProgramResult tolvinar(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {built_program("Tolvinar")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, {"LC_ALL=C"});
}

std::string crlf(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

// Runs r0..r(n-1) in folder, run i holding the lines "<k><i>" for k in
// letters; the list names them in order.
std::string write_runs(const TempDir& dir, int n, const std::string& letters) {
  std::string list;
  for (int i = 0; i < n; ++i) {
    std::vector<std::string> lines;
    for (char k : letters) lines.push_back(std::string(1, k) + std::to_string(100 + i));
    std::string path = dir.file("r" + std::to_string(i));
    write_file(path, crlf(lines));
    list += path + "\r\n";
  }
  write_file(dir.file("list"), list);
  return dir.file("list");
}

TEST(TolvinarEndToEnd, UsageAndBadArguments) {
  ProgramResult r = tolvinar({});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Tolvinar"), std::string::npos);
  EXPECT_TRUE(r.out.empty());

  TempDir dir;
  std::string list = write_runs(dir, 2, "ab");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{list, dir.file("out"), "/X"},
        {list, dir.file("out"), "/W", "/Wide"},
        {list, dir.file("out"), "(1,2)", "(3,4)"},
        {list, dir.file("out"), "key(1"}}) {
    r = tolvinar(args);
    EXPECT_EQ(r.exit_code, 1) << args.back();
    EXPECT_NE(r.err.find("\x81\x9F"), std::string::npos) << args.back();  // ◆
    EXPECT_FALSE(file_exists(dir.file("out")));
  }
}

TEST(TolvinarEndToEnd, UnreadableListOrRunFailsWithTheOutputUntouched) {
  TempDir dir;
  write_file(dir.file("out"), "old\n");
  ProgramResult r = tolvinar({dir.file("nolist"), dir.file("out")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(dir.file("nolist")), std::string::npos);

  std::string list = write_runs(dir, 3, "ab");
  write_file(list, read_file(list) + dir.file("gone") + "\r\n");
  r = tolvinar({list, dir.file("out")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(dir.file("gone")), std::string::npos);
  EXPECT_EQ(read_file(dir.file("out")), "old\n");
  EXPECT_EQ(list_dir(dir.path()),
            (std::vector<std::string>{"list", "out", "r0", "r1", "r2"}));

  write_file(list, "\r\n");
  r = tolvinar({list, dir.file("out")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(read_file(dir.file("out")), "old\n");
}

TEST(TolvinarEndToEnd, MoreRunsThanTheOpenFileLimitAllows) {
  TempDir dir;
  std::string list = write_runs(dir, 40, "amz");
  // 16 descriptors leave room for a few runs at a time only.
  ProgramResult r = run_program(
      {"/bin/sh", "-c", "ulimit -n 16 && exec \"$0\" \"$1\" \"$2\"",
       built_program("Tolvinar"), list, dir.file("out")},
      {"LC_ALL=C"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> expected;
  for (char k : std::string("amz")) {
    for (int i = 0; i < 40; ++i) expected.push_back(std::string(1, k) + std::to_string(100 + i));
  }
  EXPECT_EQ(read_file(dir.file("out")), crlf(expected));
  EXPECT_EQ(list_dir(dir.path()).size(), 42u);  // the runs, the list, out
}

int64_t blocks_of(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_blocks) : -1;
}

// The runs' bytes are given back as they are read only when Quarnel's
// variable names this very list; a user's files stay whole otherwise.
TEST(TolvinarEndToEnd, OnlyTheNamedListsRunsAreGivenBack) {
  TempDir dir;
  std::vector<std::string> runs(3);
  std::vector<std::string> all;
  for (int n = 0; n < 300000; ++n) {
    char line[16];
    snprintf(line, sizeof(line), "%08d", n);
    runs[static_cast<size_t>(n % 3)] += std::string(line) + "\r\n";
    all.push_back(line);
  }
  std::string list;
  for (int i = 0; i < 3; ++i) list += dir.file("r" + std::to_string(i)) + "\r\n";
  write_file(dir.file("list"), list);
  const std::string expected = crlf(all);
  const char* variable = "QUARNEL_SPENT_RUN_LIST";
  for (std::string named : {std::string(), dir.file("list") + "x", dir.file("list")}) {
    for (int i = 0; i < 3; ++i) write_file(dir.file("r" + std::to_string(i)), runs[static_cast<size_t>(i)]);
    const int64_t before = blocks_of(dir.file("r0"));
    std::string setting = named.empty() ? variable : std::string(variable) + "=" + named;
    ProgramResult r = run_program({built_program("Tolvinar"), dir.file("list"), dir.file("out")},
                                  {"LC_ALL=C", setting});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(read_file(dir.file("out")) == expected) << "the variable at '" << named << "'";
    if (named != dir.file("list")) {
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(read_file(dir.file("r" + std::to_string(i))) == runs[static_cast<size_t>(i)])
            << "run " << i << " changed with the variable at '" << named << "'";
      }
      continue;
    }
    // Spent: the size stays, the bytes read are zeros and hold no blocks
    // (where the file system can make holes at all).
    std::string after = read_file(dir.file("r0"));
    ASSERT_EQ(after.size(), runs[0].size());
    int fd = open(dir.file("probe").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    bool holes = ftruncate(fd, 1 << 20) == 0 &&
                 fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 65536) == 0;
    close(fd);
    if (!holes) continue;
    EXPECT_EQ(after.substr(0, 65536), std::string(65536, '\0'));
    EXPECT_LT(blocks_of(dir.file("r0")), before / 4);
  }
}

TEST(TolvinarEndToEnd, KeyTextAndIgnoreCase) {
  TempDir dir;
  write_file(dir.file("r0"), crlf({"xB2", "ya1"}));
  write_file(dir.file("r1"), crlf({"zb9", "wA0"}));
  write_file(dir.file("list"), dir.file("r0") + "\r\n" + dir.file("r1") + "\r\n");
  // Column 2 descending, under /I: b and B are equal, the lower run first.
  ProgramResult r = tolvinar({dir.file("list"), dir.file("out"), "(2,1)[D;S]", "/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out")), crlf({"xB2", "zb9", "ya1", "wA0"}));
  // Quarnel joins words it does not know into the key text, which may so
  // begin with a slash; only the third argument is taken as key text.
  r = tolvinar({dir.file("list"), dir.file("out2"), "/X(2,1)[D;S]", "/I"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out2")), crlf({"xB2", "zb9", "ya1", "wA0"}));
  r = tolvinar({dir.file("list"), dir.file("out3"), "/I", "(2,1)"});
  EXPECT_EQ(r.exit_code, 1);
}

TEST(TolvinarEndToEnd, WideToStandardOutputBecomesShiftJis) {
  TempDir dir;
  // FF FE, then ア (30A2) / B; and 漢 (6F22) / U+1F600 as a surrogate pair.
  const std::string mark("\xFF\xFE", 2);
  const std::string line_end("\r\0\n\0", 4);
  write_file(dir.file("r0"), mark + std::string("\xA2\x30", 2) + line_end +
                                 std::string("\x22\x6F", 2) + line_end);
  write_file(dir.file("r1"), mark + std::string("B\0", 2) + line_end +
                                 std::string("\x3D\xD8\x00\xDE", 4) + line_end);
  write_file(dir.file("list"), dir.file("r0") + "\r\n" + dir.file("r1") + "\r\n");
  ProgramResult r = tolvinar({dir.file("list"), "stdout", "/Wide"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, to_cp932("B\r\nア\r\n漢\r\n") + "  \r\n");
  // The same runs into a file keep the mark and the units.
  r = tolvinar({dir.file("list"), dir.file("out"), "/Wide"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file(dir.file("out")),
            mark + std::string("B\0", 2) + line_end + std::string("\xA2\x30", 2) +
                line_end + std::string("\x22\x6F", 2) + line_end +
                std::string("\x3D\xD8\x00\xDE", 4) + line_end);
}

TEST(TolvinarEndToEnd, InterruptedMergeLeavesNothingBesideTheOutput) {
  TempDir dir;
  write_file(dir.file("r0"), crlf({"a"}));
  // Opening a named pipe with no writer blocks: the merge is caught with
  // its result folder made beside the output.
  ASSERT_EQ(mkfifo(dir.file("r1").c_str(), 0600), 0);
  write_file(dir.file("list"), dir.file("r0") + "\r\n" + dir.file("r1") + "\r\n");
  platform_mkdir(dir.file("outdir"));
  write_file(dir.file("outdir/out"), "old\n");
  EXPECT_EQ(stop_when({built_program("Tolvinar"), dir.file("list"), dir.file("outdir/out")},
                      SIGTERM, [&] { return list_dir(dir.file("outdir")).size() > 1; }),
            128 + SIGTERM);
  EXPECT_EQ(list_dir(dir.file("outdir")), std::vector<std::string>{"out"});
  EXPECT_EQ(read_file(dir.file("outdir/out")), "old\n");
}

}  // namespace
}  // namespace quarnel::testing
