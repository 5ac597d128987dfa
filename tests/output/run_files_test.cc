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
  void SetUp() override {
    reset_sort_job();
    close_output_file();
    line_table = LineTable();
  }
  void TearDown() override {
    close_output_file();
    line_table = LineTable();
  }

  // Lays the lines into the table the way the run builder leaves them:
  // pointers into one buffer, lengths in bytes or units.
  void set_lines(const std::vector<std::string>& lines, int unit_size) {
    storage_ = lines;
    line_table.line_starts.reset(new char*[lines.size() + 1]);
    line_table.line_lengths.reset(new int32_t[lines.size() + 1]);
    for (size_t i = 0; i < lines.size(); ++i) {
      line_table.line_starts[i] = storage_[i].data();
      line_table.line_lengths[i] = static_cast<int32_t>(lines[i].size()) / unit_size;
    }
  }

 private:
  std::vector<std::string> storage_;
};

TEST_F(RunFilesTest, NameIsFolderDigestBaseNameAndNumber) {
  sort_job.work_dir = with_trailing_separator("/tmp/x");
  sort_job.input_path = "/data/in/sales.txt";
  // MD5 of the seven bytes "/tmp/x/".
  EXPECT_EQ(std::string(run_file_name(0)), "/tmp/x/B122CF74A67FFA45sales.txt.000");
  EXPECT_EQ(sort_job.work_dir, "/tmp/x/");
  EXPECT_EQ(std::string(work_dir_digest()), "B122CF74A67FFA4513FA54EEC8D3265B");
  EXPECT_EQ(std::string(run_file_name(7)), "/tmp/x/B122CF74A67FFA45sales.txt.007");
  EXPECT_EQ(std::string(run_file_name(1000)), "/tmp/x/B122CF74A67FFA45sales.txt.1000");
  // A separator already there is not doubled.
  EXPECT_EQ(with_trailing_separator(sort_job.work_dir), "/tmp/x/");

  // The job's own folder holds the runs; the digest stays the work
  // directory's.
  sort_job.job_dir = "/tmp/x/quarnel-abc123/";
  EXPECT_EQ(std::string(run_file_name(1)),
            "/tmp/x/quarnel-abc123/B122CF74A67FFA45sales.txt.001");
}

TEST_F(RunFilesTest, BaseNameIsCutAt32BytesOrIsTheWholePath) {
  sort_job.work_dir = with_trailing_separator("C:\\TEMP\\");
  sort_job.input_path = "relative-name.txt";
  std::string name = run_file_name(0);
  // The backslash is no separator here: a '/' is appended after it.
  EXPECT_EQ(sort_job.work_dir, "C:\\TEMP\\/");
  EXPECT_EQ(name.substr(name.size() - 21), "relative-name.txt.000");

  sort_job.work_dir = "C:\\TEMP\\";
  EXPECT_EQ(std::string(work_dir_digest()), "16C02E8EEF353C9C34D48EDCB08ABE52");

  sort_job.work_dir = "/w/";
  sort_job.input_path = "/d/0123456789abcdefghij0123456789TAIL.txt";
  name = run_file_name(2);
  EXPECT_EQ(name.substr(3 + 16), "0123456789abcdefghij0123456789TA.002");
  // Cut inside a double-byte character all the same.
  sort_job.input_path = "/d/" + std::string(31, 'a') + "\x83\x41\x83\x41";
  name = run_file_name(0);
  EXPECT_EQ(name.substr(3 + 16), std::string(31, 'a') + "\x83" + ".000");
}

TEST_F(RunFilesTest, NarrowRunEndsEveryLineWithCrLf) {
  TempDir dir;
  sort_job.work_dir = with_trailing_separator(dir.path());
  sort_job.input_path = "in.txt";
  set_lines({"banana", "", std::string("a\0b", 3), "cherry"}, 1);
  EXPECT_EQ(write_run_narrow(4, 0), 0);
  EXPECT_EQ(read_file(run_file_name(0)),
            std::string("banana\r\n\r\na\0b\r\ncherry\r\n", 23));
  EXPECT_TRUE(needs_open);
  EXPECT_EQ(sort_job.failed, 0);

  // Only the lines asked for.
  EXPECT_EQ(write_run_narrow(1, 1), 0);
  EXPECT_EQ(read_file(run_file_name(1)), "banana\r\n");

  // No lines: no file.
  EXPECT_EQ(write_run_narrow(0, 2), 0);
  EXPECT_FALSE(file_exists(run_file_name(2)));
}

TEST_F(RunFilesTest, WideRunHasTheMarkAndWideLineEnds) {
  TempDir dir;
  sort_job.work_dir = with_trailing_separator(dir.path());
  sort_job.input_path = "in.txt";
  sort_job.input_bom = "\xFF\xFE";
  set_lines({std::string("A\0B\0", 4), "", std::string("\xA2\x30", 2)}, 2);
  EXPECT_EQ(write_run_wide(3, 0), 0);
  EXPECT_EQ(read_file(run_file_name(0)),
            std::string("\xFF\xFE" "A\0B\0\r\0\n\0" "\r\0\n\0" "\xA2\x30\r\0\n\0", 20));

  EXPECT_EQ(write_run_wide(0, 1), 0);
  EXPECT_EQ(read_file(run_file_name(1)), "\xFF\xFE");

  sort_job.input_bom.clear();
  EXPECT_EQ(write_run_wide(0, 2), 0);
  EXPECT_TRUE(file_exists(run_file_name(2)));
  EXPECT_EQ(read_file(run_file_name(2)), "");
  EXPECT_EQ(write_run_wide(1, 3), 0);
  EXPECT_EQ(read_file(run_file_name(3)), std::string("A\0B\0\r\0\n\0", 8));
  EXPECT_EQ(sort_job.failed, 0);
}

TEST_F(RunFilesTest, ManyLinesCopiedByTwoThreadsArriveWholeAndInOrder) {
  // Enough lines that a second thread copies half of each piece; lengths
  // that vary, and lines as long as they may be, so that the pieces are
  // cut at every kind of place.
  TempDir dir;
  sort_job.work_dir = with_trailing_separator(dir.path());
  sort_job.input_path = "in.txt";
  const int32_t saved_threads = sort_thread_count;
  sort_thread_count = 2;
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
    sort_job.input_bom = unit == 2 ? "\xFF\xFE" : "";
    if (unit == 2) {
      EXPECT_EQ(write_run_wide(60000, unit), 0);
    } else {
      EXPECT_EQ(write_run_narrow(60000, unit), 0);
    }
    EXPECT_TRUE(read_file(run_file_name(unit)) == expected) << "unit " << unit;
#ifndef _WIN32
    // The space set aside for the run is what it holds: none is left
    // taken behind its end.
    struct stat st;
    ASSERT_EQ(stat(run_file_name(unit), &st), 0);
    EXPECT_LE(int64_t{st.st_blocks} * 512, st.st_size + (64 << 10)) << "unit " << unit;
#endif
  }
  sort_thread_count = saved_threads;
  EXPECT_EQ(sort_job.failed, 0);
}

TEST_F(RunFilesTest, OnlyTheRunRenamedIntoPlaceIsHandedBackAndItKeepsEveryByte) {
  TempDir dir;
  sort_job.work_dir = with_trailing_separator(dir.path());
  sort_job.input_path = "in.txt";
  sort_job.output_path = dir.file("out.txt");
  sort_job.remaining_bytes = 0;
  const WriteBehindTuning saved_tuning = output_file.behind_tuning;
  // Small windows, every write counted as slow: the file is handed back
  // while it is written, through the real calls.
  output_file.behind_tuning.window = 64 << 10;
  output_file.behind_tuning.fast_rate = INT64_MAX;
  std::vector<std::string> lines;
  std::string expected;
  for (int i = 0; i < 40000; ++i) {
    lines.push_back(std::string(static_cast<size_t>(i * 7919 % 97), static_cast<char>('a' + i % 26)));
    expected += lines.back() + "\r\n";
  }
  set_lines(lines, 1);
  EXPECT_EQ(write_run_narrow(40000, 0), 0);
  EXPECT_TRUE(output_file.behind.allowed);
  EXPECT_TRUE(read_file(run_file_name(0)) == expected);

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
    sort_job.remaining_bytes = c.remaining;
    sort_job.to_stdout = c.to_stdout;
    sort_job.output_path = c.output;
    EXPECT_EQ(write_run_narrow(40000, c.run), 0);
    EXPECT_FALSE(output_file.behind.allowed) << c.what;
  }
  output_file.behind_tuning = saved_tuning;
  EXPECT_EQ(sort_job.failed, 0);
}

TEST_F(RunFilesTest, MissingWorkDirectoryIsMade) {
  TempDir dir;
  sort_job.work_dir = with_trailing_separator(dir.path() + "/not/yet");
  sort_job.input_path = "in.txt";
  set_lines({"x"}, 1);
  write_run_narrow(1, 0);
  EXPECT_EQ(read_file(run_file_name(0)), "x\r\n");
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
  sort_job.work_dir = "/dev/null/";
  sort_job.input_path = "in.txt";
  set_lines({"abcd", "efgh"}, 2);
  const std::string quoted = std::string("(") + run_file_name(0) + ")";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(write_run_narrow(2, 0), 0);
  EXPECT_EQ(count_of(::testing::internal::GetCapturedStderr(), quoted), 2u);
  EXPECT_EQ(sort_job.failed, 1);
  EXPECT_TRUE(needs_open);

  reset_sort_job();
  sort_job.work_dir = "/dev/null/";
  sort_job.input_path = "in.txt";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(write_run_wide(1, 0), 0);
  EXPECT_EQ(count_of(::testing::internal::GetCapturedStderr(), quoted), 3u);
  EXPECT_EQ(sort_job.failed, 1);
}

}  // namespace
}  // namespace quarnel
