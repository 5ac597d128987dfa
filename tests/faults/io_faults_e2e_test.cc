// Every I/O call of a small job made to fail in turn (test builds with the
// fault-injection hook): the job must then fail cleanly, with exit code
// 255 (Tolvinar: its I/O failure code), a message, an existing output left
// as it was, and nothing left behind in the work folder or beside the
// output. The calls are counted first with a job that succeeds.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

const char* const kKinds[] = {"open",   "read",  "write", "fsync",
                              "rename", "close", "mkdir", "spawn"};
const char* const kErrors[] = {"EIO", "ENOSPC", "EACCES"};
constexpr int kTolvinarIoFailure = 2;
const std::string kOldOutput = "old output\r\n";

struct Job {
  bool wide = false;
  bool merged = false;      // several runs (/M 1)
  bool to_stdout = false;
  bool work_elsewhere = false;  // work folder on another file system
  bool tolvinar_alone = false;  // the merge program run by itself
};

// About bytes of random lines (narrow text, or UTF-16LE with a mark).
std::string input_text(size_t bytes, bool wide) {
  const std::vector<std::string> lines = random_lines(wide ? bytes / 2 : bytes, 7);
  if (!wide) return joined(lines, "\r\n");
  std::vector<std::u16string> wide_lines;
  for (const std::string& line : lines) wide_lines.emplace_back(line.begin(), line.end());
  return "\xFF\xFE" + utf16le_lines(wide_lines, u"\r\n");
}

// (program, kind) -> calls made.
using Counts = std::map<std::pair<std::string, std::string>, long>;

Counts parse_counts(const std::string& text) {
  Counts counts;
  std::istringstream in(text);
  std::string program, kind;
  long n;
  while (in >> program >> kind >> n) counts[{program, kind}] += n;
  return counts;
}

// At most seven call numbers out of 1..n: the first ones, the last ones
// and two between.
std::vector<long> sample(long n) {
  std::set<long> picked;
  if (n <= 0) return {};
  for (long i = 1; i <= n && i <= 3; ++i) picked.insert(i);
  for (long i = std::max(1L, n - 1); i <= n; ++i) picked.insert(i);
  for (long k = 1; k <= 2; ++k) picked.insert(std::max(1L, n * k / 3));
  return {picked.begin(), picked.end()};
}

// The lines of standard error with the time stamps and the job's folders
// masked, so that runs in different folders can be compared.
std::set<std::string> message_lines(const std::string& err,
                                    const std::vector<std::string>& folders) {
  std::string text = mask_times(err);
  for (const std::string& folder : folders) {
    for (size_t at; (at = text.find(folder)) != std::string::npos;) {
      text.replace(at, folder.size(), "<dir>");
    }
  }
  std::vector<std::string> lines = split_lines(text);
  return {lines.begin(), lines.end()};
}

class IoFaults : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!elsewhere_.empty()) rmdir(elsewhere_.c_str());
  }
  void SetUp() override {
#ifndef QUARNEL_FAULT_INJECTION
    GTEST_SKIP() << "built without QUARNEL_FAULT_INJECTION";
#endif
  }

  struct Outcome {
    ProgramResult result;
    std::string output;             // the output file, or standard output
    std::vector<std::string> work;  // left in the work folder
    std::vector<std::string> beside;  // the output's folder
    std::string counts;
    std::set<std::string> messages;
  };

  // Runs the job in a fresh folder, with the environment given.
  Outcome run(const Job& job, const std::vector<std::string>& env) {
    TempDir dir;
    std::string work = job.work_elsewhere ? elsewhere_ + "/work" : dir.file("work");
    mkdir(work.c_str(), 0700);
    write_file(dir.file("in.txt"), input_);
    std::vector<std::string> argv;
    if (job.tolvinar_alone) {
      std::string list;
      for (size_t i = 0; i < runs_.size(); ++i) {
        std::string run = work + "/run" + std::to_string(i);
        write_file(run, runs_[i]);
        list += run + "\r\n";
      }
      write_file(work + "/list", list);
      argv = {built_program("Tolvinar"), work + "/list",
              job.to_stdout ? "stdout" : dir.file("out.txt")};
      if (job.wide) argv.push_back("/Wide");
    } else {
      argv = {built_program("Quarnel"), dir.file("in.txt"),
              job.to_stdout ? "stdout" : dir.file("out.txt"), "/T", work};
      if (job.merged) argv.insert(argv.end(), {"/M", "1"});
    }
    if (!job.to_stdout) write_file(dir.file("out.txt"), kOldOutput);
    std::string counts_path = dir.file("counts");
    std::vector<std::string> full_env = {"LC_ALL=C",
                                         "QUARNEL_FAULT_COUNTS=" + counts_path};
    full_env.insert(full_env.end(), env.begin(), env.end());
    Outcome o;
    o.result = run_program(argv, full_env, dir.path());
    o.output = job.to_stdout ? o.result.out : read_file(dir.file("out.txt"));
    o.counts = read_file(counts_path);
    o.messages = message_lines(o.result.err, {work, dir.path()});
    o.work = list_dir(work);
    if (job.tolvinar_alone) {
      // The runs and the list are the caller's; only they may stay.
      o.work.erase(std::remove_if(o.work.begin(), o.work.end(),
                                  [](const std::string& n) {
                                    return n == "list" || n.rfind("run", 0) == 0;
                                  }),
                   o.work.end());
    }
    for (const std::string& name : list_dir(dir.path())) {
      if (name != "in.txt" && name != "out.txt" && name != "counts" &&
          name != "work") {
        o.beside.push_back(name);
      }
    }
    if (job.work_elsewhere) {
      for (const std::string& name : list_dir(work)) {
        std::string path = work + "/" + name;
        std::remove(path.c_str());
        rmdir(path.c_str());
      }
      rmdir(work.c_str());
    }
    return o;
  }

  void check_every_fault(const Job& job) {
    bool merged = job.merged || job.tolvinar_alone;
    input_ = input_text(merged ? 1600000 : 40000, job.wide);
    if (job.work_elsewhere) {
      // /dev/shm is a file system of its own: the single run is copied
      // beside the output, synced and renamed into place.
      char pattern[] = "/dev/shm/qfaults-XXXXXX";
      ASSERT_NE(mkdtemp(pattern), nullptr);
      elsewhere_ = pattern;
    }
    if (job.tolvinar_alone) {
      // Runs as Quarnel writes them: sorted pieces of the input.
      std::vector<std::string> lines = split_lines(input_.substr(job.wide ? 2 : 0),
                                                   job.wide ? std::string("\r\0\n\0", 4) : "\r\n");
      runs_.assign(3, job.wide ? "\xFF\xFE" : "");
      for (size_t part = 0; part < 3; ++part) {
        std::vector<std::string> piece;
        for (size_t i = part; i < lines.size(); i += 3) piece.push_back(lines[i]);
        std::sort(piece.begin(), piece.end());
        for (const std::string& l : piece) {
          runs_[part] += l + (job.wide ? std::string("\r\0\n\0", 4) : "\r\n");
        }
      }
    }
    Outcome good = run(job, {});
    ASSERT_EQ(good.result.exit_code, 0) << good.result.err;
    ASSERT_TRUE(good.work.empty());
    ASSERT_TRUE(good.beside.empty());
    const std::string expected = good.output;
    const std::set<std::string>& usual = good.messages;
    Counts counts = parse_counts(good.counts);
    // The merge program really ran: the job made several runs.
    if (job.merged) {
      ASSERT_GT((counts[{"Tolvinar", "open"}]), 0);
    }
    const int failure_code = job.tolvinar_alone ? kTolvinarIoFailure : 255;

    int tried = 0;
    int error_index = 0;
    for (const auto& [key, n] : counts) {
      const auto& [program, kind] = key;
      for (long nth : sample(n)) {
        const char* error = kErrors[error_index++ % 3];
        std::string fault = program + ":" + kind + ":" + std::to_string(nth) + ":" + error;
        Outcome o = run(job, {"QUARNEL_FAULT=" + fault});
        ++tried;
        // A failed open is retried once (after making the file writable);
        // a job that then succeeds must have made the whole output.
        if (kind == "open" && o.result.exit_code == 0 && o.output == expected &&
            o.work.empty() && o.beside.empty()) {
          continue;
        }
        EXPECT_EQ(o.result.exit_code, failure_code) << fault << "\n" << o.result.err;
        bool said_something = false;
        for (const std::string& line : o.messages) {
          if (usual.count(line) == 0) said_something = true;
        }
        EXPECT_TRUE(said_something) << fault << ": no message\n" << o.result.err;
        if (!job.to_stdout) {
          EXPECT_TRUE(o.output == kOldOutput) << fault << ": output changed";
        }
        EXPECT_TRUE(o.work.empty()) << fault << ": left in the work folder: " << o.work[0];
        EXPECT_TRUE(o.beside.empty()) << fault << ": left beside the output: " << o.beside[0];
      }
    }
    // Every kind the job uses was tried at least once.
    EXPECT_GT(tried, 0);
  }

  std::string input_;
  std::vector<std::string> runs_;
  std::string elsewhere_;
};

TEST_F(IoFaults, OneRunToAFile) { check_every_fault(Job{}); }
TEST_F(IoFaults, OneRunToAFileWide) { check_every_fault(Job{.wide = true}); }
TEST_F(IoFaults, OneRunMovedAcrossFileSystems) {
  check_every_fault(Job{.work_elsewhere = true});
}
TEST_F(IoFaults, OneRunToStandardOutput) { check_every_fault(Job{.to_stdout = true}); }
TEST_F(IoFaults, MergeToAFile) { check_every_fault(Job{.merged = true}); }
TEST_F(IoFaults, MergeToAFileWide) { check_every_fault(Job{.wide = true, .merged = true}); }
TEST_F(IoFaults, MergeToStandardOutput) {
  check_every_fault(Job{.merged = true, .to_stdout = true});
}
TEST_F(IoFaults, MergeToStandardOutputWide) {
  check_every_fault(Job{.wide = true, .merged = true, .to_stdout = true});
}
TEST_F(IoFaults, TolvinarToAFile) { check_every_fault(Job{.tolvinar_alone = true}); }
TEST_F(IoFaults, TolvinarToStandardOutputWide) {
  check_every_fault(Job{.wide = true, .to_stdout = true, .tolvinar_alone = true});
}

// A real full disk behind standard output, one run and merged alike: the
// job fails with the message, whatever the build.
TEST(StandardOutput, FullDiskFailsTheJob) {
  TempDir dir;
  write_file(dir.file("in.txt"), input_text(2500000, false));
  for (bool merged : {false, true}) {
    std::vector<std::string> argv = {built_program("Quarnel"), dir.file("in.txt"),
                                     "stdout", "/T", dir.path()};
    if (merged) argv.insert(argv.end(), {"/M", "1"});
    argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" > /dev/full"});
    ProgramResult r = run_program(argv, {"LC_ALL=C"});
    EXPECT_EQ(r.exit_code, 255) << (merged ? "merged" : "one run");
    // "標準出力に書き込めません" in Shift_JIS, the C locale's console text.
    EXPECT_NE(r.err.find(to_cp932("標準出力に書き込めません")), std::string::npos) << r.err;
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"in.txt"});
  }
}

}  // namespace
}  // namespace quarnel::testing
