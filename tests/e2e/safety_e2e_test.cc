// Wherever the output points, nothing is lost: devices and named pipes are
// written in place, links are followed, an old output's permissions and
// owner survive its replacement, input and output are compared by
// identity, standard output failures fail the job, and a stopped or
// killed job takes its merge program and its folders with it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

// Distinct lines in a fixed scrambled order: the input with LF ends, and
// the expected result with CR LF ends.
struct Data {
  std::string input;
  std::string sorted;
};

Data make_data(int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    unsigned v = static_cast<unsigned>(i) * 2654435761u;
    lines.push_back("line-" + std::to_string(v % 1000003u) + "-" +
                    std::to_string(i) + "-abcdefghijklmnopqrstuvwxyz");
  }
  Data d;
  for (const std::string& l : lines) d.input += l + "\n";
  std::sort(lines.begin(), lines.end());
  for (const std::string& l : lines) d.sorted += l + "\r\n";
  return d;
}

// One run: fits any budget. Several runs: larger than /M 1.
const Data& small_data() {
  static const Data d = make_data(3000);
  return d;
}
const Data& large_data() {
  static const Data d = make_data(60000);
  return d;
}

class SafetyEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(mkdir(work().c_str(), 0700), 0); }
  std::string work() const { return dir_.file("work"); }
  std::string file(const std::string& name) const { return dir_.file(name); }

  // Quarnel on the input (written first) to the output; a large input is
  // merged under /M 1.
  ProgramResult sort_to(const std::string& output, bool merged,
                        std::vector<std::string> extra = {}) {
    const Data& d = merged ? large_data() : small_data();
    if (!file_exists(file("in.txt")) || read_file(file("in.txt")) != d.input) {
      write_file(file("in.txt"), d.input);
    }
    std::vector<std::string> argv = {built_program("Quarnel"), file("in.txt"),
                                     output, "/T", work()};
    if (merged) argv.insert(argv.end(), {"/M", "1"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    return run_program(argv, {"LC_ALL=C"}, dir_.path());
  }

  const std::string& expected(bool merged) const {
    return merged ? large_data().sorted : small_data().sorted;
  }

  // Only the files the test made itself remain.
  void expect_clean(const std::vector<std::string>& names) {
    EXPECT_TRUE(list_dir(work()).empty());
    std::vector<std::string> left = list_dir(dir_.path());
    std::vector<std::string> want = names;
    want.push_back("work");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(left, want);
  }

  TempDir dir_;
};

struct stat stat_of(const std::string& path) {
  struct stat st;
  memset(&st, 0, sizeof(st));
  stat(path.c_str(), &st);
  return st;
}

bool is_link(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Reads a named pipe from another thread: every time it is opened for
// writing, what arrives until its end is one session. The pipe is opened
// through a handle on it, so that a file put in its place cannot hide it.
class PipeReader {
 public:
  explicit PipeReader(const std::string& path)
      : handle_(open(path.c_str(), O_PATH)),
        path_("/proc/self/fd/" + std::to_string(handle_)) {
    thread_ = std::thread([this] {
      for (;;) {
        int fd = open(path_.c_str(), O_RDONLY);
        if (fd < 0) break;
        std::string got;
        char buffer[65536];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof(buffer))) > 0) got.append(buffer, n);
        close(fd);
        // The empty session that finish() makes only wakes the thread.
        if (stop_ && got.empty()) break;
        sessions_.push_back(got);
      }
      done_ = true;
    });
  }
  // Ends the thread, which waits in open for a writer.
  std::vector<std::string> finish() {
    stop_ = true;
    // Until the thread has seen it: it may still be reading the last
    // session when the first empty one is offered.
    for (int i = 0; i < 3000 && !done_; ++i) {
      int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
    close(handle_);
    return sessions_;
  }

 private:
  int handle_;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::vector<std::string> sessions_;
};

TEST_F(SafetyEndToEnd, DeviceOutputIsWrittenInPlaceNeverReplaced) {
  if (mknod(file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod(file("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "cannot make device nodes here";
  }
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "one run");
    ProgramResult r = sort_to(file("null"), merged);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    struct stat st = stat_of(file("null"));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(1, 3));
    // A device that refuses the data fails the job, and stays a device.
    r = sort_to(file("full"), merged);
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find(file("full")), std::string::npos) << r.err;
    EXPECT_TRUE(S_ISCHR(stat_of(file("full")).st_mode));
    expect_clean({"full", "in.txt", "null"});
  }
}

TEST_F(SafetyEndToEnd, NamedPipeOutputGetsTheWholeResultInOneSession) {
  ASSERT_EQ(mkfifo(file("pipe").c_str(), 0600), 0);
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "one run");
    PipeReader reader(file("pipe"));
    ProgramResult r = sort_to(file("pipe"), merged);
    std::vector<std::string> sessions = reader.finish();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // The probe must not open the pipe: its reader would see an early end.
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0] == expected(merged));
    EXPECT_TRUE(S_ISFIFO(stat_of(file("pipe")).st_mode));
    expect_clean({"in.txt", "pipe"});
  }
}

TEST_F(SafetyEndToEnd, LinkedOutputReplacesTheFileItPointsTo) {
  ASSERT_EQ(mkdir(file("sub").c_str(), 0700), 0);
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "one run");
    write_file(file("sub/target.txt"), "old\n");
    // A chain: a relative link to a link inside another folder.
    ASSERT_EQ(symlink("sub/inner", file("outer").c_str()), 0);
    ASSERT_EQ(symlink("target.txt", file("sub/inner").c_str()), 0);
    ProgramResult r = sort_to(file("outer"), merged);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(is_link(file("outer")));
    EXPECT_TRUE(is_link(file("sub/inner")));
    EXPECT_TRUE(read_file(file("sub/target.txt")) == expected(merged));

    // A link whose file does not exist yet: the file is made, the link stays.
    ASSERT_EQ(symlink("sub/new.txt", file("dangling").c_str()), 0);
    r = sort_to(file("dangling"), merged);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(is_link(file("dangling")));
    EXPECT_TRUE(read_file(file("sub/new.txt")) == expected(merged));
    expect_clean({"dangling", "in.txt", "outer", "sub"});
    std::vector<std::string> sub = {"inner", "new.txt", "target.txt"};
    EXPECT_EQ(list_dir(file("sub")), sub);
    for (const char* name : {"outer", "dangling", "sub/inner", "sub/new.txt"}) {
      unlink(file(name).c_str());
    }
  }
}

TEST_F(SafetyEndToEnd, ReplacedOutputKeepsItsModeOwnerAndGroup) {
  const bool root = geteuid() == 0;
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "one run");
    write_file(file("out.txt"), "old\n");
    ASSERT_EQ(chmod(file("out.txt").c_str(), 0640), 0);
    if (root) {
      ASSERT_EQ(chown(file("out.txt").c_str(), 1234, 5678), 0);
    }
    ProgramResult r = sort_to(file("out.txt"), merged);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(read_file(file("out.txt")) == expected(merged));
    struct stat st = stat_of(file("out.txt"));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
      EXPECT_EQ(st.st_uid, 1234u);
      EXPECT_EQ(st.st_gid, 5678u);
    }
    expect_clean({"in.txt", "out.txt"});
  }
}

TEST_F(SafetyEndToEnd, SameFileIsFoundByIdentityNotBySpelling) {
  write_file(file("a.txt"), small_data().input);
  ASSERT_EQ(symlink("a.txt", file("link.txt").c_str()), 0);
  ASSERT_EQ(link(file("a.txt").c_str(), file("hard.txt").c_str()), 0);
  const std::string same = to_cp932("と出力ファイルが同じです");
  for (const std::string& output :
       {std::string("./a.txt"), file("a.txt"), std::string("link.txt"),
        std::string("hard.txt"), std::string("./hard.txt")}) {
    SCOPED_TRACE(output);
    ProgramResult r = run_program(
        {built_program("Quarnel"), "a.txt", output, "/T", work()}, {"LC_ALL=C"},
        dir_.path());
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find(same), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(file("a.txt")) == small_data().input);
  }
  // Two names that differ only in case are two files here.
  write_file(file("lower.txt"), small_data().input);
  ProgramResult r = run_program(
      {built_program("Quarnel"), "lower.txt", "LOWER.txt", "/T", work()},
      {"LC_ALL=C"}, dir_.path());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(read_file(file("LOWER.txt")) == small_data().sorted);
  EXPECT_TRUE(read_file(file("lower.txt")) == small_data().input);
}

TEST_F(SafetyEndToEnd, NonRegularInputIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo(file("pipe").c_str(), 0600), 0);
  const std::string bad = to_cp932("不当なファイル");
  // A named pipe with no writer must not block the open.
  for (const std::string& input : {file("pipe"), work()}) {
    SCOPED_TRACE(input);
    ProgramResult r = run_program(
        {"/usr/bin/timeout", "20", built_program("Quarnel"), input,
         file("out.txt"), "/T", work()},
        {"LC_ALL=C"});
    EXPECT_EQ(r.exit_code, 255);
    EXPECT_NE(r.err.find(bad + "\"" + input + "\""), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(file("out.txt")));
  }
  // Standard input that is a pipe, named as /dev/stdin.
  ProgramResult r = run_program(
      {built_program("Quarnel"), "/dev/stdin", file("out.txt"), "/T", work()},
      {"LC_ALL=C"}, "", "b\na\n");
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_NE(r.err.find(bad + "\"/dev/stdin\""), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(file("out.txt")));
}

// Runs a shell line with $0 Quarnel, $1 the input, $2 the work folder;
// the line prints the exit status it wants checked.
ProgramResult shell(const std::string& line, const std::string& input,
                    const std::string& work) {
  return run_program({"/bin/sh", "-c", line, built_program("Quarnel"), input,
                      work},
                     {"LC_ALL=C"});
}

TEST_F(SafetyEndToEnd, StandardOutputFailuresFailTheJob) {
  const std::string message = to_cp932("標準出力に書き込めません");
  for (bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "one run");
    const Data& d = merged ? large_data() : small_data();
    write_file(file("in.txt"), d.input);
    const std::string memory = merged ? " /M 1" : "";
    // A full disk behind the redirection.
    ProgramResult r = shell("\"$0\" \"$1\" stdout /T \"$2\"" + memory +
                                " > /dev/full; echo $?",
                            file("in.txt"), work());
    EXPECT_EQ(r.out, "255\n");
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(list_dir(work()).empty());

    // A reader that leaves early, SIGPIPE ignored: a write failure too.
    r = shell("{ env --ignore-signal=PIPE \"$0\" \"$1\" stdout /T \"$2\"" + memory +
                  "; echo $? > \"$2.status\"; } | head -c 10 > /dev/null; "
                  "cat \"$2.status\"; rm \"$2.status\"",
              file("in.txt"), work());
    EXPECT_EQ(r.out, "255\n");
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(list_dir(work()).empty());

    // SIGPIPE as usual: the job ends by it, quietly, in both paths.
    r = shell("{ env --default-signal=PIPE \"$0\" \"$1\" stdout /T \"$2\"" + memory +
                  "; echo $? > \"$2.status\"; } | head -c 10 > /dev/null; "
                  "cat \"$2.status\"; rm \"$2.status\"",
              file("in.txt"), work());
    EXPECT_EQ(r.out, "141\n");
    EXPECT_EQ(r.err.find(to_cp932("マージプログラム")), std::string::npos)
        << r.err;
    EXPECT_TRUE(list_dir(work()).empty());
  }
}

// A folder holding a copy of Quarnel beside a stand-in merge program that
// notes its process id and then waits, so that a job can be stopped while
// its merge runs.
class StoppedJob : public SafetyEndToEnd {
 protected:
  void SetUp() override {
    SafetyEndToEnd::SetUp();
    ASSERT_EQ(mkdir(file("bin").c_str(), 0700), 0);
    write_file(file("bin/Quarnel"), read_file(built_program("Quarnel")));
    ASSERT_EQ(chmod(file("bin/Quarnel").c_str(), 0700), 0);
    write_file(file("bin/Tolvinar"),
               "#!/bin/sh\necho $$ > \"" + file("merge.pid") +
                   ".tmp\"\nmv \"" + file("merge.pid") + ".tmp\" \"" +
                   file("merge.pid") + "\"\nexec sleep 60\n");
    ASSERT_EQ(chmod(file("bin/Tolvinar").c_str(), 0700), 0);
    write_file(file("in.txt"), large_data().input);
    write_file(file("out.txt"), "old\n");
  }

  // Starts the job and waits until the merge program runs; its pid.
  pid_t start(pid_t* job) {
    *job = start_program({file("bin/Quarnel"), file("in.txt"), file("out.txt"), "/T",
                          work(), "/M", "1"});
    wait_until([&] { return file_exists(file("merge.pid")); });
    return static_cast<pid_t>(atoi(read_file(file("merge.pid")).c_str()));
  }
};

TEST_F(StoppedJob, StopSignalEndsTheMergeProgramFirst) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    unlink(file("merge.pid").c_str());
    pid_t job;
    pid_t merge = start(&job);
    ASSERT_GT(merge, 0);
    ASSERT_EQ(kill(job, sig), 0);
    const int status = wait_program(job);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    // Already gone when the job has ended: the job waited for it.
    EXPECT_FALSE(still_runs(merge));
    if (!wait_until([&] { return !still_runs(merge); })) kill(merge, SIGKILL);
    EXPECT_TRUE(list_dir(work()).empty());
    EXPECT_EQ(read_file(file("out.txt")), "old\n");
  }
}

TEST_F(StoppedJob, KilledJobTakesItsMergeProgramAlong) {
  pid_t job;
  pid_t merge = start(&job);
  ASSERT_GT(merge, 0);
  ASSERT_EQ(kill(job, SIGKILL), 0);
  wait_program(job);
  // It is told at once, but a loaded machine may be slow to run it to its
  // end: a bound of seconds.
  const bool ended = wait_until([&] { return !still_runs(merge); });
  if (!ended) kill(merge, SIGKILL);
  EXPECT_TRUE(ended);
  EXPECT_EQ(read_file(file("out.txt")), "old\n");
}

TEST_F(SafetyEndToEnd, FoldersOfKilledJobsAreRemovedByTheNextJob) {
  // A job killed outright leaves its folder; the next job in the same work
  // folder removes it. A folder whose lock is held, and folders that are
  // not ours, stay. The job is long enough that its runs are seen before
  // it ends, however fast it is.
  std::string input;
  for (int i = 0; i < 20; ++i) input += large_data().input;
  write_file(file("in.txt"), input);
  // Killed once a run stands in its folder beside the hidden lock.
  auto run_made = [&] {
    for (const std::string& name : list_dir(work())) {
      for (const std::string& inner : list_dir(work() + "/" + name)) {
        if (inner[0] != '.') return true;
      }
    }
    return false;
  };
  EXPECT_EQ(stop_when({built_program("Quarnel"), file("in.txt"), file("out.txt"), "/T",
                       work(), "/M", "1"},
                      SIGKILL, run_made),
            128 + SIGKILL);
  std::vector<std::string> left = list_dir(work());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].rfind("quarnel-", 0), 0u);

  ASSERT_EQ(mkdir(file("work/quarnel-mine").c_str(), 0700), 0);
  write_file(file("work/quarnel-mine/keep"), "x");
  write_file(file("work/quarnel-file"), "x");
  // A live job's folder: its lock is held by a process that still runs.
  ASSERT_EQ(mkdir(file("work/quarnel-alive").c_str(), 0700), 0);
  write_file(file("work/quarnel-alive/run"), "x");
  const std::string lock = file("work/quarnel-alive/.lock"), locked = file("locked");
  pid_t holder = fork();
  if (holder == 0) {
    // Only the lock, no program of its own, and gone with the test.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || flock(fd, LOCK_EX) != 0) _exit(1);
    // The test goes on only once the lock is held.
    close(open(locked.c_str(), O_WRONLY | O_CREAT, 0600));
    for (;;) pause();
  }
  ASSERT_TRUE(wait_until([&] { return file_exists(locked); }));

  ProgramResult r = sort_to(file("out.txt"), true);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  std::vector<std::string> want = {"quarnel-alive", "quarnel-file",
                                   "quarnel-mine"};
  EXPECT_EQ(list_dir(work()), want);
  EXPECT_EQ(list_dir(file("work/quarnel-mine")), std::vector<std::string>{"keep"});
}

TEST(TolvinarSafety, FoldersOfKilledMergesBesideTheOutputAreRemoved) {
  TempDir dir;
  // A merge killed outright leaves its result folder beside the output.
  write_file(dir.file("r0"), "a\r\n");
  ASSERT_EQ(mkfifo(dir.file("r1").c_str(), 0600), 0);
  write_file(dir.file("list"), dir.file("r0") + "\r\n" + dir.file("r1") + "\r\n");
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
  EXPECT_EQ(stop_when({built_program("Tolvinar"), dir.file("list"), dir.file("out/o.txt")},
                      SIGKILL, [&] { return !list_dir(dir.file("out")).empty(); }),
            128 + SIGKILL);
  ASSERT_EQ(list_dir(dir.file("out")).size(), 1u);

  ASSERT_EQ(mkdir(dir.file("out/.tolvinar-user").c_str(), 0700), 0);
  unlink(dir.file("r1").c_str());
  write_file(dir.file("r1"), "b\r\n");
  ProgramResult r = run_program({built_program("Tolvinar"), dir.file("list"),
                                 dir.file("out/o.txt")},
                                {"LC_ALL=C"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> want = {".tolvinar-user", "o.txt"};
  EXPECT_EQ(list_dir(dir.file("out")), want);
  EXPECT_EQ(read_file(dir.file("out/o.txt")), "a\r\nb\r\n");
}

}  // namespace
}  // namespace quarnel::testing
