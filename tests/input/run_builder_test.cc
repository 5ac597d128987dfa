#include "input/run_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "options/sort_job.h"
#include "order/compare_rules.h"
#include "order/string_sort.h"
#include "order/table_slots.h"
#include "text/ascii.h"
#include "support/test_util.h"

namespace quarnel {
namespace {

class RunBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (run_ != nullptr) close_run_input(run_.get());
    job_ = SortJob();
    tuning_ = RunTuning();
    run_ = std::make_unique<RunState>();
    runs.clear();
    run_->run_writer = [this](const LineTable& table, int32_t count, int32_t index) {
      capture_run(table, count, index);
    };
  }
  void TearDown() override { close_run_input(run_.get()); }

  // Notes the run as the builder hands it to the writer, in table order.
  void capture_run(const LineTable& table, int32_t count, int32_t run_index) {
    EXPECT_EQ(run_index, static_cast<int32_t>(runs.size()));
    captured_bounded = table.bounded;
    const bool wide = job_.wide_mode;
    std::vector<std::string> lines;
    for (int32_t i = 0; i < count; ++i) {
      int32_t bytes = table.line_lengths[i] * (wide ? 2 : 1);
      const char* start = table.line_starts[i];
      lines.emplace_back(start, bytes);
      // Every line is followed by its zero byte (unit), unless it is read
      // where the input lies.
      if (table.bounded) continue;
      EXPECT_EQ(start[bytes], 0);
      if (wide) {
        EXPECT_EQ(start[bytes + 1], 0);
      }
    }
    runs.push_back(lines);
  }

  // What plan_memory leaves for the builder.
  void prepare(const std::string& bytes, int64_t budget, int32_t block_size,
               bool wide = false) {
    path_ = dir_.file("input.txt");
    testing::write_file(path_, bytes);
    job_.wide_mode = wide;
    job_.input_path = path_;
    run_->sort_buffer.reset(new char[budget + 2]);
    run_->sort_buffer_size = budget + 2;
    run_->reader.buffer_capacity = budget;
    run_->table.block_size = block_size;
    run_->remaining_bytes = static_cast<int64_t>(bytes.size());
  }

  int call() {
    const RunSettings settings{job_, compare_rules_of(job_), tuning_};
    return build_run(settings, run_.get());
  }

  // Calls until the builder has finished; the values it returned.
  std::vector<int> drain() {
    std::vector<int> results;
    for (int guard = 0; guard < 100000; ++guard) {
      int r = call();
      results.push_back(r);
      if (r <= 0) break;
    }
    return results;
  }

  std::vector<int32_t> lengths() const {
    return std::vector<int32_t>(run_->table.line_lengths.get(),
                                run_->table.line_lengths.get() + run_->table.last_line + 1);
  }

  testing::TempDir dir_;
  std::string path_;
  SortJob job_;
  RunTuning tuning_;
  std::unique_ptr<RunState> run_;
  // The runs as the builder hands them to the writer.
  std::vector<std::vector<std::string>> runs;
  // Whether the last run's lines were still in the input's mapped pages.
  bool captured_bounded = false;
};

using Lines = std::vector<std::string>;
using Runs = std::vector<Lines>;

TEST_F(RunBuilderTest, CutsLinesInPlaceAndWritesOneRun) {
  prepare("abc\r\n\r\nxyz\r\n", 100, 10);
  EXPECT_EQ(call(), 5);
  EXPECT_EQ(call(), 2);
  EXPECT_EQ(call(), 5);
  EXPECT_EQ(lengths(), (std::vector<int32_t>{3, 0, 3}));
  char* buffer = run_->sort_buffer.get();
  EXPECT_EQ(run_->table.line_starts[0], buffer);
  EXPECT_EQ(run_->table.line_starts[2], buffer + 7);
  EXPECT_TRUE(runs.empty());
  EXPECT_EQ(call(), 0);
  EXPECT_EQ(runs, (Runs{{"", "abc", "xyz"}}));
  EXPECT_EQ(run_->run_count, 1);
  EXPECT_EQ(run_->remaining_bytes, 0);
  EXPECT_EQ(run_->reader.input_closed, true);
  EXPECT_EQ(run_->table.last_line, -1);
  EXPECT_EQ(run_->failed, false);
}

TEST_F(RunBuilderTest, LineEndsAtTheEndOfTheInput) {
  prepare("b\na", 100, 10);
  EXPECT_EQ(drain(), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(runs, (Runs{{"a", "b"}}));

  SetUp();
  prepare("b\na\n", 100, 10);  // no empty line behind the last LF
  EXPECT_EQ(drain(), (std::vector<int>{2, 2, 0}));
  EXPECT_EQ(runs, (Runs{{"a", "b"}}));

  SetUp();
  prepare("b\na\r\r", 100, 10);  // CRs that end the input end the line
  EXPECT_EQ(drain(), (std::vector<int>{2, 3, 0}));
  EXPECT_EQ(runs, (Runs{{"a", "b"}}));
}

TEST_F(RunBuilderTest, KeepsInnerCrsAndDropsTheCrsThatEndALine) {
  prepare("a\rb\r\r\nc\r\n\rd\n", 100, 10);
  EXPECT_EQ(drain(), (std::vector<int>{6, 3, 3, 0}));
  EXPECT_EQ(runs, (Runs{{"\rd", "a\rb", "c"}}));
}

TEST_F(RunBuilderTest, NulBytesStayInsideLines) {
  prepare(std::string("b\0z\na\0\n", 7), 100, 10);
  EXPECT_EQ(drain(), (std::vector<int>{4, 3, 0}));
  EXPECT_EQ(runs, (Runs{{std::string("a\0", 2), std::string("b\0z", 3)}}));
}

TEST_F(RunBuilderTest, CarriesTheLineThatReachesPastTheBuffer) {
  // The first fill ends on the CR of "abcd"; its LF comes with the next.
  prepare("ab\nabcd\r\nxy\n", 8, 2);
  EXPECT_EQ(drain(), (std::vector<int>{3, 6, 3, 0}));
  EXPECT_EQ(runs, (Runs{{"ab"}, {"abcd"}, {"xy"}}));
}

TEST_F(RunBuilderTest, LineFeedAtTheLastByteOfAFullBuffer) {
  prepare("cd\nab\nef\n", 6, 2);
  EXPECT_EQ(drain(), (std::vector<int>{3, 3, 3, 0}));
  EXPECT_EQ(runs, (Runs{{"ab", "cd"}, {"ef"}}));
  EXPECT_EQ(run_->run_count, 2);
}

// A larger input in a small buffer: every run is the sorted slice of the
// input lines that filled the buffer, and together they hold every line.
TEST_F(RunBuilderTest, InputLargerThanTheBudgetGivesRunsInOrder) {
  std::mt19937 rng(7);
  Lines lines;
  std::string input;
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) line.push_back(static_cast<char>("ab\rcXY\x83\x41"[rng() % 8]));
    while (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    input += line + (rng() % 2 ? "\r\n" : "\n");
  }
  prepare(input, 300, 3);
  std::vector<int> results = drain();
  ASSERT_EQ(results.back(), 0);
  EXPECT_EQ(run_->failed, false);
  ASSERT_GT(runs.size(), 50u);
  size_t next = 0;
  for (const Lines& run : runs) {
    Lines slice(lines.begin() + next, lines.begin() + next + run.size());
    std::sort(slice.begin(), slice.end());
    EXPECT_EQ(run, slice);
    next += run.size();
  }
  EXPECT_EQ(next, lines.size());
  EXPECT_EQ(run_->run_count, static_cast<int32_t>(runs.size()));
  // The lines that one call each consumed add up to the input.
  int64_t total = 0;
  for (int r : results) total += r;
  EXPECT_EQ(total, static_cast<int64_t>(input.size()));
}

TEST_F(RunBuilderTest, TableGrowsGeometrically) {
  std::string input;
  for (int i = 0; i < 1000; ++i) input += std::to_string(i % 97) + "\n";
  prepare(input, 10000, 1);
  for (int i = 0; i < 1000; ++i) ASSERT_GT(call(), 0);
  EXPECT_EQ(run_->table.block_count, 1024);  // 1, 2, 4, ... blocks of 1
  EXPECT_EQ(run_->table.last_line, 999);
  EXPECT_EQ(run_->table.line_lengths[998], static_cast<int32_t>(std::to_string(998 % 97).size()));
  EXPECT_EQ(call(), 0);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].size(), 1000u);
  EXPECT_TRUE(std::is_sorted(runs[0].begin(), runs[0].end()));
}

TEST_F(RunBuilderTest, LongestLineIsAcceptedOneMoreIsRefused) {
  std::string longest(65535, 'x');
  prepare("a\n" + longest + "\r\nb\n", 70000, 4);
  EXPECT_EQ(drain(), (std::vector<int>{2, 65537, 2, 0}));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0][2], longest);
  EXPECT_EQ(run_->failed, false);

  for (int64_t budget : {70000, 66000}) {  // found at its LF; found at a carry
    SetUp();
    prepare("a\n" + longest + "y\nb\n", budget, 4);
    ::testing::internal::CaptureStderr();
    std::vector<int> results = drain();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(results.back(), 0);
    EXPECT_EQ(results.size(), 2u);
    EXPECT_EQ(run_->failed, true);
    EXPECT_TRUE(runs.empty() || budget == 66000);
    EXPECT_NE(err.find("65535"), std::string::npos) << err;
    EXPECT_EQ(run_->reader.input_closed, true);
  }
}

std::string utf16(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST_F(RunBuilderTest, ZerosReadAreNotedForTheStringSort) {
  // A line holding a zero must not pass for one that ends there: in wide
  // mode only a zero unit counts, not two zero bytes across units.
  std::u16string across(40, u'\x4100');
  for (size_t i = 0; i < across.size(); i += 2) across[i] = u'\x0041';
  struct Case {
    std::string bytes;
    bool wide;
    bool zero_free;
  } cases[] = {
      {"b\nz\n", false, true},
      {std::string("b\0z\n", 4), false, false},
      {utf16(u"A\nB\n"), true, true},
      {utf16(std::u16string(u"a\0b\n", 4)), true, false},
      {utf16(across + u"\n" + across + u"\n"), true, true},
      {utf16(across + std::u16string(1, u'\0') + u"\n"), true, false},
      // A zero unit among the first 64 bytes, looked at 32 at a time.
      {utf16(across.substr(0, 9) + std::u16string(1, u'\0') + across + u"\n"), true, false},
      {utf16(across.substr(0, 31) + std::u16string(1, u'\0') + across + u"\n"), true, false},
      {utf16(u"b\n") + "a", true, true},
      {utf16(u"b\n") + std::string(1, '\0'), true, false},
  };
  for (const Case& c : cases) {
    SetUp();
    prepare(c.bytes, 1000, 4, c.wide);
    drain();
    EXPECT_EQ(run_->table.zero_free, c.zero_free) << ::testing::PrintToString(c.bytes);
  }
}

TEST_F(RunBuilderTest, WideLinesAndTheByteOrderMark) {
  prepare("\xFF\xFE" + utf16(u"b\na\r\n\xFEFF" u"c\n"), 100, 4, true);
  EXPECT_EQ(call(), 3);  // the mark is consumed with the first line
  EXPECT_EQ(run_->table.line_starts[0], run_->sort_buffer.get() + 2);
  EXPECT_EQ(run_->table.line_lengths[0], 1);
  EXPECT_EQ(drain(), (std::vector<int>{3, 3, 0}));
  EXPECT_EQ(runs, (Runs{{utf16(u"a"), utf16(u"b"), utf16(u"c")}}));
}

TEST_F(RunBuilderTest, WideLineFeedOnlyAsAWholeUnit) {
  // 0A as a high byte or at an odd offset is no line feed.
  prepare(utf16(u"\x0A41\x300A" u"b\n") + utf16(u"a\n"), 100, 4, true);
  EXPECT_EQ(drain(), (std::vector<int>{4, 2, 0}));
  EXPECT_EQ(runs, (Runs{{utf16(u"a"), utf16(u"\x0A41\x300A" u"b")}}));
}

TEST_F(RunBuilderTest, OddLengthWideInput) {
  // The last byte is read as a unit with a zero high byte, in the same run.
  for (int64_t budget : {5, 7, 100}) {
    SetUp();
    prepare(utf16(u"b\n") + "a", budget, 1, true);
    EXPECT_EQ(drain(), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(runs, (Runs{{utf16(u"a"), utf16(u"b")}})) << budget;
  }
  SetUp();
  prepare(utf16(u"ab") + "c", 3 + 2, 1, true);  // one line filling the buffer
  EXPECT_EQ(drain(), (std::vector<int>{3, 0}));
  EXPECT_EQ(runs, (Runs{{utf16(u"abc")}}));
}

TEST_F(RunBuilderTest, WideLongestLine) {
  std::u16string longest(65535, u'x');
  prepare(utf16(longest + u"\n"), 140000, 1, true);
  EXPECT_EQ(drain(), (std::vector<int>{65536, 0}));
  EXPECT_EQ(run_->failed, false);
  SetUp();
  prepare(utf16(longest + u"x\n"), 140000, 1, true);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(drain(), (std::vector<int>{0}));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(run_->failed, true);
  EXPECT_TRUE(runs.empty());
}

TEST_F(RunBuilderTest, InputThatCannotBeReadFailsTheJob) {
  prepare("abc\n", 100, 1);
  testing::write_file(path_, "");
  ASSERT_EQ(unlink(path_.c_str()), 0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(call(), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(run_->failed, true);

  SetUp();
  prepare("abc\n", 100, 1);
  job_.input_path = dir_.path();  // a folder opens, but does not read
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(call(), 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(run_->failed, true);
  EXPECT_TRUE(runs.empty());
}

TEST_F(RunBuilderTest, InputShorterThanItsSizeEndsWithWhatWasRead) {
  prepare("b\na\n", 100, 1);
  run_->remaining_bytes = 50;  // the file shrank after it was measured
  EXPECT_EQ(drain(), (std::vector<int>{2, 2, 0}));
  EXPECT_EQ(runs, (Runs{{"a", "b"}}));
  EXPECT_EQ(run_->failed, false);
}

// Random lines with many ties, line ends of every kind, inner CRs, empty
// lines, and (wide) marks and units whose bytes look like line feeds.
std::string random_input(std::mt19937* rng, bool wide, bool zeros) {
  const std::vector<std::string> ends = {"\n", "\r\n", "\r\r\n"};
  std::string text = wide ? "\xFF\xFE" : "";
  const int lines = 3000;
  for (int i = 0; i < lines; ++i) {
    const int length = static_cast<int>((*rng)() % 24);
    std::u16string line;
    for (int k = 0; k < length; ++k) {
      // Few distinct characters, so that lines share long beginnings; one
      // below the line ends' bytes, so that a line end read as part of a
      // line shows in the order.
      static const char16_t kPick[] = u"0a\rA\x0A30\x300A\xFEFF\x01";
      char16_t c = kPick[(*rng)() % 8];
      if (!wide && c > 0x7F) c = static_cast<char16_t>(0x80 + (c & 0x3F));
      if (zeros && (*rng)() % 200 == 0) c = 0;
      line += c;
    }
    std::string end = ends[(*rng)() % ends.size()];
    if (i == lines - 1 && (*rng)() % 2 == 0) end = (*rng)() % 2 ? "" : "\r";
    for (char e : end) line += static_cast<char16_t>(e);
    if (wide) {
      text += utf16(line);
    } else {
      for (char16_t c : line) text += static_cast<char>(c);
    }
  }
  return text;
}

// Windows maps only a file whose last page leaves 8 bytes behind it.
bool mappable(size_t size) {
#ifdef _WIN32
  return size % 4096 != 0 && size % 4096 <= 4088;
#else
  (void)size;
  return true;
#endif
}

TEST_F(RunBuilderTest, MappedInputSortsAsTheReadInputDoes) {
  std::mt19937 rng(20261210);
  // Mapped and sorted in place; with zeros inside lines, a string sort
  // that gives up, or no room for the lengths it needs, the lines move into
  // the buffer before the other sorts.
  struct Case {
    bool wide;
    bool zeros;
    bool give_up;
    bool no_lengths;
  } cases[] = {{false, false, false, false}, {true, false, false, false},
               {false, true, false, false},  {true, true, false, false},
               {false, false, true, false},  {true, false, true, false},
               {true, false, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "wide " << c.wide << " zeros " << c.zeros
                                      << " give up " << c.give_up << " no lengths "
                                      << c.no_lengths);
    const std::string input = random_input(&rng, c.wide, c.zeros);
    Runs read_runs;
    for (int64_t from : {int64_t{1} << 40, int64_t{1}}) {
      SetUp();
      tuning_.map_input_from = from;
      tuning_.sort.string_sort_split_limit = c.give_up ? 0 : -1;
      tuning_.sort.keep_lengths_aside = !c.no_lengths;
      prepare(input, static_cast<int64_t>(input.size()) + 16, 64, c.wide);
      drain();
      ASSERT_EQ(runs.size(), 1u);
      EXPECT_EQ(run_->failed, false);
      EXPECT_EQ(run_->reader.mapped, nullptr);  // given back once written
      if (from > 1) {
        EXPECT_FALSE(captured_bounded);
        read_runs = runs;
      } else {
        EXPECT_EQ(captured_bounded,
                  !c.zeros && !c.give_up && !c.no_lengths && mappable(input.size()));
        EXPECT_TRUE(runs == read_runs);
      }
    }
  }
}

TEST_F(RunBuilderTest, InputIsReadWhereTheSortNeedsItsZeros) {
  // /I, an odd wide input, one that does not fit whole: read.
  const std::string narrow = "b\nA\na\n";
  for (int which : {0, 2, 3}) {
    SetUp();
    tuning_.map_input_from = 1;
    const bool wide = which == 2;
    const std::string input = wide ? utf16(u"b\na") + "c" : narrow;
    prepare(input, which == 3 ? 4 : 100, 4, wide);
    if (which == 0) job_.ignore_case = true;
    drain();
    EXPECT_FALSE(captured_bounded) << which;
    EXPECT_EQ(run_->failed, false) << which;
  }
}

}  // namespace
}  // namespace quarnel
