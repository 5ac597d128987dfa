#include "tolvinar/merger.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options/sort_job.h"
#include "platform/platform.h"
#include "order/compare.h"
#include "support/test_util.h"
#include "text/ascii.h"

namespace quarnel {
namespace {

using testing::file_exists;
using testing::list_dir;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using Lines = std::vector<std::string>;

// The rules the merges of a test run by, and whether wide runs are
// marked, set by each test.
CompareRules rules;
bool marked = false;

void set_narrow(bool ignore_case) {
  rules = CompareRules();
  rules.ignore_case = ignore_case;
  marked = false;
}

void set_wide(bool mark) {
  set_narrow(false);
  rules.wide = true;
  marked = mark;
}

// Narrow lines joined with CR LF, as a run file holds them.
std::string narrow_file(const Lines& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

// ASCII text as UTF-16LE units; "\x01" stands for a unit given apart.
std::string wide(const std::u16string& text) {
  std::string bytes;
  for (char16_t u : text) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

std::string wide_file(const std::vector<std::u16string>& lines, bool mark) {
  std::string bytes = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (const std::u16string& l : lines) bytes += wide(l + u"\r\n");
  return bytes;
}

// The order a merge must produce: the runs one after another, stably
// sorted by the job's comparison (equal lines keep the lower run first).
Lines expected_narrow(const std::vector<Lines>& runs) {
  Lines all;
  for (const Lines& r : runs) all.insert(all.end(), r.begin(), r.end());
  std::stable_sort(all.begin(), all.end(),
                   [](const std::string& a, const std::string& b) {
                     return compare_narrow(rules, a.c_str(), static_cast<int32_t>(a.size()),
                                           b.c_str(), static_cast<int32_t>(b.size())) < 0;
                   });
  return all;
}

// Each run sorted by the job's comparison, so that it is a valid run.
void sort_run(Lines* run) {
  std::stable_sort(run->begin(), run->end(),
                   [](const std::string& a, const std::string& b) {
                     return compare_narrow(rules, a.c_str(), static_cast<int32_t>(a.size()),
                                           b.c_str(), static_cast<int32_t>(b.size())) < 0;
                   });
}

std::vector<std::string> write_runs(const TempDir& dir,
                                    const std::vector<std::string>& contents) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < contents.size(); ++i) {
    std::string path = dir.file("run." + std::to_string(i));
    write_file(path, contents[i]);
    paths.push_back(path);
  }
  return paths;
}

std::vector<Lines> random_runs(int count, int lines_each, unsigned seed) {
  std::mt19937 rng(seed);
  const std::string letters = "aAbBcC_z0 \x83\x41";
  std::vector<Lines> runs(static_cast<size_t>(count));
  for (Lines& run : runs) {
    int n = static_cast<int>(rng() % static_cast<unsigned>(lines_each + 1));
    for (int i = 0; i < n; ++i) {
      std::string line;
      int len = static_cast<int>(rng() % 6);
      for (int j = 0; j < len; ++j) line += letters[rng() % letters.size()];
      run.push_back(line);
    }
    sort_run(&run);
  }
  return runs;
}

int merge_into_file(const std::vector<std::string>& paths,
                    const std::string& output, int32_t fan_in = 0) {
  MergeSettings settings;
  settings.marked = marked;
  settings.output = output;
  settings.fan_in = fan_in;
  return merge_runs(paths, rules, settings);
}

TEST(MergeRuns, EqualLinesComeFromTheLowerRunFirst) {
  TempDir dir;
  set_narrow(true);
  // Under /I the two spellings are equal, so the run number decides.
  std::vector<std::string> paths = write_runs(
      dir, {narrow_file({"Apple", "b"}), narrow_file({"APPLE", "apple", "B"}),
            narrow_file({"aPPle"})});
  ASSERT_EQ(merge_into_file(paths, dir.file("out")), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")),
            narrow_file({"Apple", "APPLE", "apple", "aPPle", "b", "B"}));

  // Byte order without /I: 'B' (0x42) before 'a', '_' after 'A'.
  set_narrow(false);
  paths = write_runs(dir, {narrow_file({"A", "a"}), narrow_file({"B", "_"})});
  ASSERT_EQ(merge_into_file(paths, dir.file("out")), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")), narrow_file({"A", "B", "_", "a"}));
}

TEST(MergeRuns, RandomRunsMatchAStableSortOfTheirConcatenation) {
  // Under /R the runs come in descending order, and equal lines still
  // come from the lower run first.
  for (int form = 0; form < 4; ++form) {
    const bool ignore_case = form % 2 == 1;
    TempDir dir;
    set_narrow(ignore_case);
    rules.reverse = form >= 2;
    std::vector<Lines> runs = random_runs(9, 300, ignore_case ? 7u : 3u);
    std::vector<std::string> contents;
    for (const Lines& r : runs) contents.push_back(narrow_file(r));
    std::vector<std::string> paths = write_runs(dir, contents);
    ASSERT_EQ(merge_into_file(paths, dir.file("out")), kMergeOk);
    EXPECT_EQ(read_file(dir.file("out")), narrow_file(expected_narrow(runs))) << "form " << form;
  }
}

TEST(MergeRuns, MoreRunsThanMayBeOpenGoThroughIntermediateFiles) {
  set_narrow(true);
  std::vector<Lines> runs = random_runs(23, 60, 11u);
  std::string expected = narrow_file(expected_narrow(runs));
  for (int32_t fan_in : {2, 3, 5, 22, 23}) {
    TempDir dir;
    platform::make_directory(dir.file("runs"));
    std::vector<std::string> paths;
    for (size_t i = 0; i < runs.size(); ++i) {
      paths.push_back(dir.file("runs/r" + std::to_string(i)));
      write_file(paths.back(), narrow_file(runs[i]));
    }
    ASSERT_EQ(merge_into_file(paths, dir.file("out"), fan_in), kMergeOk);
    EXPECT_EQ(read_file(dir.file("out")), expected) << "fan-in " << fan_in;
    // Only the runs are left: every intermediate file is gone, and the
    // runs themselves are the caller's to delete.
    EXPECT_EQ(list_dir(dir.file("runs")).size(), runs.size());
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out", "runs"}));
  }
}

TEST(MergeRuns, EmptyRunsLastLinesWithoutLineEndAndInnerCarriageReturns) {
  TempDir dir;
  set_narrow(false);
  std::vector<std::string> paths =
      write_runs(dir, {"", "b\r\nd", "\r\na\rx\r\nc\r\n", ""});
  ASSERT_EQ(merge_into_file(paths, dir.file("out")), kMergeOk);
  // The empty line sorts first; every line leaves with CR LF.
  EXPECT_EQ(read_file(dir.file("out")), "\r\na\rx\r\nb\r\nc\r\nd\r\n");
}

TEST(MergeRuns, LinesLongerThanTheReadBufferGrowIt) {
  TempDir dir;
  set_narrow(false);
  std::string long_a(700000, 'a');
  std::string long_b = std::string(600000, 'a') + "b";
  std::vector<std::string> paths =
      write_runs(dir, {narrow_file({long_a, "c"}), narrow_file({long_b})});
  MergeSettings settings;
  settings.marked = marked;
  settings.output = dir.file("out");
  settings.read_budget = 1;  // the smallest buffers
  ASSERT_EQ(merge_runs(paths, rules, settings), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")), narrow_file({long_a, long_b, "c"}));
}

// With the budget's room, each run's next piece is read ahead into a
// second buffer; lines longer than the room kept in front of a piece, or
// than a whole piece, send the run back to reading for itself.
TEST(MergeRuns, ReadAheadKeepsLinesThatCrossPieces) {
  TempDir dir;
  set_narrow(false);
  std::mt19937 rng(9);
  // Run 0 only short lines, run 1 a long one now and then, run 2 often.
  const unsigned long_every[3] = {0, 4000, 400};
  std::vector<Lines> runs(3);
  for (int k = 0; k < 3; ++k) {
    Lines& run = runs[static_cast<size_t>(k)];
    for (int i = 0; i < 12000; ++i) {
      const bool long_line = long_every[k] != 0 && rng() % long_every[k] == 0;
      size_t n = long_line ? 50000 + rng() % 550000 : 20 + rng() % 200;
      run.push_back(std::string(n, static_cast<char>('a' + rng() % 26)) +
                    std::to_string(rng()));
    }
    sort_run(&run);
  }
  std::vector<std::string> contents;
  for (const Lines& r : runs) contents.push_back(narrow_file(r));
  ASSERT_GT(contents[0].size(), size_t{1} << 20);  // many pieces a run
  ASSERT_EQ(merge_into_file(write_runs(dir, contents), dir.file("out")), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")), narrow_file(expected_narrow(runs)));
}

TEST(MergeRuns, WideRunsWithAndWithoutTheMark) {
  for (bool mark : {false, true}) {
    TempDir dir;
    set_wide(mark);
    // Code-unit order: U+D83D (a surrogate) sorts below U+E000, and 'B'
    // before 'a' (no folding in wide mode even with /I).
    rules.ignore_case = true;
    std::u16string surrogate = {0xD83D, 0xDE00};
    std::u16string private_use = {0xE000};
    std::u16string unit_0a0d = {0x0A0D, u'x'};  // bytes 0D 0A inside a unit
    std::vector<std::string> paths = write_runs(
        dir, {wide_file({u"B", u"a", private_use}, mark),
              wide_file({u"", unit_0a0d, surrogate}, mark), wide_file({}, mark),
              wide_file({u"a"}, mark)});
    ASSERT_EQ(merge_into_file(paths, dir.file("out")), kMergeOk);
    EXPECT_EQ(read_file(dir.file("out")),
              wide_file({u"", u"B", u"a", u"a", unit_0a0d, surrogate, private_use},
                        mark))
        << "mark " << mark;
  }
}

// Lines that agree in their first 6 to 18 characters, so that the
// comparison is decided just before, at and behind the 8th and 16th, some
// with a zero there (the comparison ends at it: the run number decides).
TEST(MergeRuns, LinesAgreeingAroundTheirFirstSixteenCharacters) {
  std::mt19937 rng(5);
  auto line_of = [&rng](const std::string& letters) {
    std::string line(6 + rng() % 13, 'k');
    for (int i = 0; i < 3; ++i) line[rng() % line.size()] = 'K';
    int tail = static_cast<int>(rng() % 4);
    for (int i = 0; i < tail; ++i) line += letters[rng() % letters.size()];
    if (rng() % 8 == 0) line[rng() % line.size()] = '\0';
    return line;
  };
  // Past the cached first sixteen bytes, and with /R both there and behind.
  for (int form = 0; form < 4; ++form) {
    const bool ignore_case = form % 2 == 1;
    TempDir dir;
    set_narrow(ignore_case);
    rules.reverse = form >= 2;
    std::vector<Lines> runs(7);
    for (Lines& run : runs) {
      for (int i = 0; i < 150; ++i) run.push_back(line_of("kKz\x83"));
      sort_run(&run);
    }
    std::vector<std::string> contents;
    for (const Lines& r : runs) contents.push_back(narrow_file(r));
    ASSERT_EQ(merge_into_file(write_runs(dir, contents), dir.file("out")), kMergeOk);
    EXPECT_EQ(read_file(dir.file("out")), narrow_file(expected_narrow(runs))) << "form " << form;
  }
  // Wide: the same lines as units, with 0x4B00 above and 0x006B below 'k'
  // in one of the two bytes only.
  TempDir dir;
  set_wide(false);
  auto less = [](const std::u16string& a, const std::u16string& b) {
    return compare_wide(rules, reinterpret_cast<const uint16_t*>(a.c_str()),
                        static_cast<int32_t>(a.size()),
                        reinterpret_cast<const uint16_t*>(b.c_str()),
                        static_cast<int32_t>(b.size())) < 0;
  };
  std::vector<std::vector<std::u16string>> runs(5);
  std::vector<std::u16string> all;
  std::vector<std::string> contents;
  for (auto& run : runs) {
    for (int i = 0; i < 150; ++i) {
      std::string narrow = line_of("kKz");
      std::u16string line;
      for (char c : narrow) line += c == 'z' ? char16_t{0x4B00} : char16_t(c);
      run.push_back(line);
    }
    std::stable_sort(run.begin(), run.end(), less);
    all.insert(all.end(), run.begin(), run.end());
    contents.push_back(wide_file(run, false));
  }
  std::stable_sort(all.begin(), all.end(), less);
  ASSERT_EQ(merge_into_file(write_runs(dir, contents), dir.file("out")), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")), wide_file(all, false));
}

TEST(MergeRuns, KeyModeFollowsTheSortConditions) {
  TempDir dir;
  set_narrow(false);
  rules.key_mode = true;
  rules.conditions = {SortCondition{3, 2, 'D', 'S'}, SortCondition{1, 2, 'A', 'I'}};
  std::vector<Lines> runs = {{"10zz", "02zz", "01yy", "9 aa"},
                             {"01zz", "3 yy", "00xx"},
                             {"07zz", "07zz-2", "05bb", "11"}};
  for (Lines& r : runs) sort_run(&r);
  std::vector<std::string> contents;
  for (const Lines& r : runs) contents.push_back(narrow_file(r));
  std::vector<std::string> paths = write_runs(dir, contents);
  ASSERT_EQ(merge_into_file(paths, dir.file("out"), 2), kMergeOk);
  EXPECT_EQ(read_file(dir.file("out")), narrow_file(expected_narrow(runs)));
}

TEST(MergeRuns, FailureLeavesTheOutputAndNoTemporaryFiles) {
  TempDir dir;
  set_narrow(false);
  write_file(dir.file("out"), "precious\n");
  std::vector<std::string> paths = write_runs(dir, {narrow_file({"a"}), narrow_file({"b"})});
  paths.push_back(dir.file("missing"));
  EXPECT_EQ(merge_into_file(paths, dir.file("out")), kMergeIoFailure);
  EXPECT_EQ(read_file(dir.file("out")), "precious\n");
  // The same with intermediate files: the missing run is met in a later
  // pass, after some intermediate files were made.
  paths.insert(paths.begin(), paths.begin(), paths.end());
  EXPECT_EQ(merge_into_file(paths, dir.file("out"), 2), kMergeIoFailure);
  EXPECT_EQ(read_file(dir.file("out")), "precious\n");
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out", "run.0", "run.1"}));
  // An output in a folder that does not exist.
  EXPECT_EQ(merge_into_file({dir.file("run.0")}, dir.file("no/out")), kMergeIoFailure);
  EXPECT_FALSE(file_exists(dir.file("no")));
}

TEST(MergeRuns, FanInFollowsTheOpenFileLimit) {
  EXPECT_EQ(fan_in_for_open_limit(1024), 1014);
  EXPECT_EQ(fan_in_for_open_limit(20), 10);
  EXPECT_EQ(fan_in_for_open_limit(3), 2);
}

}  // namespace
}  // namespace quarnel
