#include "output/run_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "options/sort_job.h"
#include "output/output_file.h"
#include "order/quicksort.h"
#include "input/run_builder.h"
#include "output/write_behind.h"
#include "support/test_util.h"
#include "text/sjis.h"

namespace quarnel {
namespace {

using testing::TempDir;
using testing::file_exists;
using testing::read_file;

class RunFilesTest : public ::testing::Test {
 protected:
  void TearDown() override { close_output_file(&file_); }

  RunTarget to() { return RunTarget{job_, job_dir_, &file_, more_input_, threads_}; }
  std::string run_name(int32_t run) { return run_file_name(to(), run); }
  void write_narrow(int32_t count, int32_t run) {
    job_.wide_mode = false;
    write_run(to(), table_, count, run);
  }
  void write_wide(int32_t count, int32_t run) {
    job_.wide_mode = true;
    write_run(to(), table_, count, run);
  }

  // Lays the lines into the table the way the run builder leaves them:
  // pointers into one buffer, lengths in bytes or units.
  void set_lines(const std::vector<std::string>& lines, int unit_size) {
    storage_ = lines;
    table_.line_starts.reset(new char*[lines.size() + 1]);
    table_.line_lengths.reset(new int32_t[lines.size() + 1]);
    for (size_t i = 0; i < lines.size(); ++i) {
      table_.line_starts[i] = storage_[i].data();
      table_.line_lengths[i] = static_cast<int32_t>(lines[i].size()) / unit_size;
    }
  }

  SortJob job_;
  std::string job_dir_;
  LineTable table_;
  OutputFile file_;
  bool more_input_ = false;
  int32_t threads_ = 1;

 private:
  std::vector<std::string> storage_;
};

TEST_F(RunFilesTest, NameIsFolderDigestBaseNameAndNumber) {
  job_.work_dir = with_trailing_separator("/tmp/x");
  job_.input_path = "/data/in/sales.txt";
  // MD5 of the seven bytes "/tmp/x/".
  EXPECT_EQ(run_name(0), "/tmp/x/B122CF74A67FFA45sales.txt.000");
  EXPECT_EQ(job_.work_dir, "/tmp/x/");
  EXPECT_EQ(work_dir_digest(job_.work_dir), "B122CF74A67FFA4513FA54EEC8D3265B");
  EXPECT_EQ(run_name(7), "/tmp/x/B122CF74A67FFA45sales.txt.007");
  EXPECT_EQ(run_name(1000), "/tmp/x/B122CF74A67FFA45sales.txt.1000");
  // A separator already there is not doubled.
  EXPECT_EQ(with_trailing_separator(job_.work_dir), "/tmp/x/");

  // The job's own folder holds the runs; the digest stays the work
  // directory's.
  job_dir_ = "/tmp/x/quarnel-abc123/";
  EXPECT_EQ(run_name(1),
            "/tmp/x/quarnel-abc123/B122CF74A67FFA45sales.txt.001");
}

TEST_F(RunFilesTest, BaseNameIsCutAt32BytesOrIsTheWholePath) {
  job_.work_dir = with_trailing_separator("C:\\TEMP\\");
  job_.input_path = "relative-name.txt";
  std::string name = run_name(0);
  // The backslash is no separator here: a '/' is appended after it.
  EXPECT_EQ(job_.work_dir, "C:\\TEMP\\/");
  EXPECT_EQ(name.substr(name.size() - 21), "relative-name.txt.000");

  job_.work_dir = "C:\\TEMP\\";
  EXPECT_EQ(work_dir_digest(job_.work_dir), "16C02E8EEF353C9C34D48EDCB08ABE52");

  job_.work_dir = "/w/";
  job_.input_path = "/d/0123456789abcdefghij0123456789TAIL.txt";
  name = run_name(2);
  EXPECT_EQ(name.substr(3 + 16), "0123456789abcdefghij0123456789TA.002");
  // Cut inside a double-byte character all the same.
  job_.input_path = "/d/" + std::string(31, 'a') + "\x83\x41\x83\x41";
  name = run_name(0);
  EXPECT_EQ(name.substr(3 + 16), std::string(31, 'a') + "\x83" + ".000");
}

TEST_F(RunFilesTest, NarrowRunEndsEveryLineWithCrLf) {
  TempDir dir;
  job_.work_dir = with_trailing_separator(dir.path());
  job_.input_path = "in.txt";
  set_lines({"banana", "", std::string("a\0b", 3), "cherry"}, 1);
  write_narrow(4, 0);
  EXPECT_EQ(read_file(run_name(0)),
            std::string("banana\r\n\r\na\0b\r\ncherry\r\n", 23));
  EXPECT_TRUE(file_.needs_open);
  EXPECT_EQ(file_.failed, false);

  // Only the lines asked for.
  write_narrow(1, 1);
  EXPECT_EQ(read_file(run_name(1)), "banana\r\n");

  // No lines: no file.
  write_narrow(0, 2);
  EXPECT_FALSE(file_exists(run_name(2)));
}

TEST_F(RunFilesTest, WideRunHasTheMarkAndWideLineEnds) {
  TempDir dir;
  job_.work_dir = with_trailing_separator(dir.path());
  job_.input_path = "in.txt";
  job_.input_bom = "\xFF\xFE";
  set_lines({std::string("A\0B\0", 4), "", std::string("\xA2\x30", 2)}, 2);
  write_wide(3, 0);
  EXPECT_EQ(read_file(run_name(0)),
            std::string("\xFF\xFE" "A\0B\0\r\0\n\0" "\r\0\n\0" "\xA2\x30\r\0\n\0", 20));

  write_wide(0, 1);
  EXPECT_EQ(read_file(run_name(1)), "\xFF\xFE");

  job_.input_bom.clear();
  write_wide(0, 2);
  EXPECT_TRUE(file_exists(run_name(2)));
  EXPECT_EQ(read_file(run_name(2)), "");
  write_wide(1, 3);
  EXPECT_EQ(read_file(run_name(3)), std::string("A\0B\0\r\0\n\0", 8));
  EXPECT_EQ(file_.failed, false);
}

TEST_F(RunFilesTest, ManyLinesCopiedByTwoThreadsArriveWholeAndInOrder) {
  // Enough lines that a second thread copies half of each piece; lengths
  // that vary, and lines as long as they may be, so that the pieces are
  // cut at every kind of place.
  TempDir dir;
  job_.work_dir = with_trailing_separator(dir.path());
  job_.input_path = "in.txt";
  threads_ = 2;
  for (int unit : {1, 2}) {
    std::vector<std::string> lines;
    std::string expected = unit == 2 ? "\xFF\xFE" : "";
    for (int i = 0; i < 60000; ++i) {
      int32_t units = i % 20011 == 7 ? 65535 : (i * 7919) % 300;
      std::string line(static_cast<size_t>(units * unit), static_cast<char>('a' + i % 26));
      lines.push_back(line);
      expected += line + (unit == 2 ? std::string("\r\0\n\0", 4) : "\r\n");
    }
    set_lines(lines, unit);
    job_.input_bom = unit == 2 ? "\xFF\xFE" : "";
    if (unit == 2) {
      write_wide(60000, unit);
    } else {
      write_narrow(60000, unit);
    }
    EXPECT_TRUE(read_file(run_name(unit)) == expected) << "unit " << unit;
#ifndef _WIN32
    // The space set aside for the run is what it holds: none is left
    // taken behind its end.
    struct stat st;
    ASSERT_EQ(stat(run_name(unit).c_str(), &st), 0);
    EXPECT_LE(int64_t{st.st_blocks} * 512, st.st_size + (64 << 10)) << "unit " << unit;
#endif
  }
  EXPECT_EQ(file_.failed, false);
}

TEST_F(RunFilesTest, OnlyTheRunRenamedIntoPlaceIsHandedBackAndItKeepsEveryByte) {
  TempDir dir;
  job_.work_dir = with_trailing_separator(dir.path());
  job_.input_path = "in.txt";
  job_.output_path = dir.file("out.txt");
  more_input_ = false;
  // Small windows, every write counted as slow: the file is handed back
  // while it is written, through the real calls.
  file_.behind_tuning.window = 64 << 10;
  file_.behind_tuning.fast_rate = INT64_MAX;
  std::vector<std::string> lines;
  std::string expected;
  for (int i = 0; i < 40000; ++i) {
    lines.push_back(std::string(static_cast<size_t>(i * 7919 % 97), static_cast<char>('a' + i % 26)));
    expected += lines.back() + "\r\n";
  }
  set_lines(lines, 1);
  write_narrow(40000, 0);
  EXPECT_TRUE(file_.behind.allowed);
  EXPECT_TRUE(read_file(run_name(0)) == expected);

  // Runs that are read again: one of several, the first with more input
  // behind it, one copied to standard output or to a device.
  struct Case {
    const char* what;
    int32_t run;
    int64_t remaining;
    int32_t to_stdout;
    std::string output;
  };
  const Case cases[] = {
      {"second run", 1, 0, 0, dir.file("out.txt")},
      {"more input", 0, 5, 0, dir.file("out.txt")},
      {"standard output", 0, 0, 1, "stdout"},
      {"device", 0, 0, 0, "/dev/null"},
  };
  for (const Case& c : cases) {
    more_input_ = c.remaining > 0;
    job_.to_stdout = c.to_stdout != 0;
    job_.output_path = c.output;
    write_narrow(40000, c.run);
    EXPECT_FALSE(file_.behind.allowed) << c.what;
  }
  EXPECT_EQ(file_.failed, false);
}

TEST_F(RunFilesTest, MissingWorkDirectoryIsMade) {
  TempDir dir;
  job_.work_dir = with_trailing_separator(dir.path() + "/not/yet");
  job_.input_path = "in.txt";
  set_lines({"x"}, 1);
  write_narrow(1, 0);
  EXPECT_EQ(read_file(run_name(0)), "x\r\n");
}

size_t count_of(const std::string& text, const std::string& word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string::npos;
       at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(RunFilesTest, RunThatCannotBeOpenedIsReportedAndFailsTheJob) {
  job_.work_dir = "/dev/null/";
  job_.input_path = "in.txt";
  set_lines({"abcd", "efgh"}, 2);
  const std::string quoted = std::string("(") + run_name(0) + ")";
  ::testing::internal::CaptureStderr();
  write_narrow(2, 0);
  EXPECT_EQ(count_of(::testing::internal::GetCapturedStderr(), quoted), 2u);
  EXPECT_EQ(file_.failed, true);
  EXPECT_TRUE(file_.needs_open);

  job_ = SortJob();
  file_.failed = false;
  job_.work_dir = "/dev/null/";
  job_.input_path = "in.txt";
  ::testing::internal::CaptureStderr();
  write_wide(1, 0);
  EXPECT_EQ(count_of(::testing::internal::GetCapturedStderr(), quoted), 3u);
  EXPECT_EQ(file_.failed, true);
}

}  // namespace
}  // namespace quarnel
