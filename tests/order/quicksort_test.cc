#include "order/quicksort.h"
#include "order/sort_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "options/sort_job.h"
#include "order/compare.h"
#include "order/key_compare.h"
#include "order/string_sort.h"
#include "order/table_slots.h"
#include "support/killer_input.h"
#include "text/ascii.h"

namespace quarnel {
namespace {

// Lines whose first byte is their key; the rest tells equal keys apart.
// Every call is noted.
struct FirstByteCompare {
  const LineTable* table;
  std::vector<std::pair<int32_t, int32_t>>* calls;
  int operator()(int32_t a, int32_t b) const {
    calls->emplace_back(a, b);
    unsigned char x = table->line_starts[a][0];
    unsigned char y = table->line_starts[b][0];
    return x > y ? 1 : (x < y ? -1 : 0);
  }
};

class QuicksortTest : public ::testing::Test {
 protected:
  // The quicksort's own steps over a comparator of the test's.
  template <typename Compare>
  void sort_by(int32_t count, Compare cmp) {
    TableSwap swap{table_.line_starts.get(), table_.line_lengths.get()};
    quicksort::sort_entries(count, cmp, swap);
  }
  void sort_by_first_byte(int32_t count) {
    sort_by(count, FirstByteCompare{&table_, &calls});
  }
  // The order every fast form must give, and the sort with its fast forms.
  void sort_plain(int32_t count, bool wide) {
    rules_.wide = wide;
    sort_lines_plain(&table_, count, rules_);
  }
  void sort_fast(int32_t count, bool wide) {
    rules_.wide = wide;
    ASSERT_TRUE(sort_lines(&table_, count, rules_, tuning_, nullptr, 0));
  }
  bool string_sort(int32_t count, bool wide, bool fold = false) {
    return string_sort_lines(&table_, count, wide, fold, tuning_);
  }

  // Puts the lines into the table, in order, from one block laid out as
  // the run builder's buffer: each line, its ending zero (unit), a line
  // feed (starts_ holds where each line went). Wide lines hold their
  // units, perhaps with a zero byte behind them.
  void load(const std::vector<std::string>& lines, bool wide = false) {
    storage_ = lines;
    lengths_.clear();
    block_.clear();
    std::vector<size_t> at;
    for (const std::string& l : lines) {
      lengths_.push_back(static_cast<int32_t>(wide ? (l.size() - 1) / 2 : l.size()));
      at.push_back(block_.size());
      block_ += l;
      if (wide) {
        block_.append(l.size() % 2 == 1 ? 1 : 2, '\0');
        block_ += std::string("\n\0", 2);
      } else {
        block_ += std::string("\0\n", 2);
      }
    }
    block_.append(8, '\0');
    starts_.clear();
    for (size_t a : at) starts_.push_back(&block_[a]);
    table_ = LineTable();
    table_.block_size = static_cast<int32_t>(lines.size()) + 1;
    ASSERT_GT(grow_line_table(&table_), 0);
    for (size_t i = 0; i < storage_.size(); ++i) {
      table_.line_starts[i] = starts_[i];
      table_.line_lengths[i] = lengths_[i];
    }
    table_.last_line = static_cast<int32_t>(lines.size()) - 1;
  }

  // The lines in table order, by their index in storage_.
  std::vector<int> order() const {
    std::map<const char*, int> index;
    for (size_t j = 0; j < storage_.size(); ++j) {
      index[starts_[j]] = static_cast<int>(j);
    }
    std::vector<int> result;
    for (size_t i = 0; i < storage_.size(); ++i) {
      auto found = index.find(table_.line_starts[i]);
      if (found == index.end()) continue;
      EXPECT_EQ(table_.line_lengths[i], lengths_[found->second]);
      result.push_back(found->second);
    }
    return result;
  }

  // The bytes each table entry would write, in table order.
  std::vector<std::string> written(bool wide) const {
    std::vector<std::string> out;
    for (size_t i = 0; i < storage_.size(); ++i) {
      out.emplace_back(table_.line_starts[i],
                       static_cast<size_t>(table_.line_lengths[i]) * (wide ? 2 : 1));
    }
    return out;
  }

  std::vector<std::string> sorted_texts() const {
    std::vector<std::string> result;
    for (size_t i = 0; i < storage_.size(); ++i) {
      result.emplace_back(table_.line_starts[i]);
    }
    return result;
  }

  std::vector<std::string> storage_;
  std::string block_;
  std::vector<char*> starts_;
  std::vector<int32_t> lengths_;
  LineTable table_;
  CompareRules rules_;
  SortTuning tuning_;
  std::vector<std::pair<int32_t, int32_t>> calls;
};

TEST_F(QuicksortTest, DocumentedOutcomesOfEqualKeys) {
  load({"B1", "B2", "A"});
  sort_by_first_byte(3);
  EXPECT_EQ(sorted_texts(), (std::vector<std::string>{"A", "B2", "B1"}));
  EXPECT_EQ(calls, (std::vector<std::pair<int32_t, int32_t>>{
                       {0, 1}, {0, 2}, {1, 2}, {2, 1}}));

  load({"B1", "A", "B2"});
  sort_by_first_byte(3);
  EXPECT_EQ(sorted_texts(), (std::vector<std::string>{"A", "B1", "B2"}));

  load({"C", "A1", "B", "A2", "A3"});
  sort_by_first_byte(5);
  EXPECT_EQ(sorted_texts(),
            (std::vector<std::string>{"A3", "A1", "A2", "B", "C"}));

  load({"b1", "a1", "b2", "a2", "b3", "a3"});
  sort_by_first_byte(6);
  EXPECT_EQ(sorted_texts(), (std::vector<std::string>{"a2", "a1", "a3", "b2",
                                                      "b3", "b1"}));
}

TEST_F(QuicksortTest, TwoEntriesTakeExactlyThreeCalls) {
  load({"b", "a"});
  sort_by_first_byte(2);
  EXPECT_EQ(calls, (std::vector<std::pair<int32_t, int32_t>>{
                       {0, 1}, {0, 1}, {1, 1}}));
  EXPECT_EQ(sorted_texts(), (std::vector<std::string>{"a", "b"}));

  calls.clear();
  load({"x1", "x2"});
  sort_by_first_byte(2);
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(order(), (std::vector<int>{0, 1}));
}

TEST_F(QuicksortTest, NothingToSortCallsNothing) {
  load({"z"});
  sort_by_first_byte(0);
  sort_by_first_byte(1);
  EXPECT_TRUE(calls.empty());

  // All equal: one partition, nothing moves.
  load({"k1", "k2", "k3", "k4", "k5", "k6", "k7"});
  sort_by_first_byte(7);
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  for (const auto& call : calls) {
    EXPECT_LE(call.first, 6);
    EXPECT_LE(call.second, 6);
  }
}

// Random lines over a small alphabet: many whole ties, ties within the
// 8-byte prefix, NUL bytes, case pairs, double-byte characters.
std::vector<std::string> random_lines(std::mt19937* rng, int count, bool wide,
                                      bool nul = true) {
  static const char* const pieces[] = {"a", "A", "_", "b", "B", "\x83\x41",
                                       "\x83\x60", "z"};
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line;
    int length = static_cast<int>((*rng)() % 14);
    if ((*rng)() % 4 == 0) line = "abcdefgh";  // a shared long prefix
    for (int k = 0; k < length; ++k) {
      int which = static_cast<int>((*rng)() % 9);
      if (which == 8) {
        line.push_back(nul ? '\0' : 'q');
      } else {
        line += pieces[which];
      }
    }
    if (wide) {
      std::string units;
      for (unsigned char c : line) {
        units.push_back(static_cast<char>(c));
        units.push_back(static_cast<char>(c == 'z' ? 0xD8 : (c == '_' ? 0xE0 : 0)));
      }
      line = units;
    }
    lines.push_back(line);
  }
  return lines;
}

// Equal lines of the same bytes may change places; what is written must
// be the plain quicksort's, ties of different bytes (under /I) included.
TEST_F(QuicksortTest, FastPathWritesTheSameBytes) {
  std::mt19937 rng(1234);
  // Without room for the lengths aside, they are found again from the
  // lines' zeros (and key sorts go without their cache).
  // /R in every second form: the fast forms' answers turned round too.
  for (int form = 0; form < 12; ++form) {
    tuning_.keep_lengths_aside = form % 6 < 3;
    bool wide = form % 3 == 2;
    rules_.ignore_case = form % 3 == 1;
    rules_.reverse = form >= 6;
    for (int round = 0; round < 20; ++round) {
      std::vector<std::string> lines =
          random_lines(&rng, 1 + round * 37, wide, form % 3 != 1 || round % 2 == 0);
      int32_t n = static_cast<int32_t>(lines.size());
      if (wide) {
        // Wide lines are counted in units and end in a zero unit.
        for (std::string& l : lines) l.push_back('\0');
      }
      load(lines, wide);
      sort_plain(n, wide);
      std::vector<std::string> expected = written(wide);

      load(lines, wide);
      rules_.wide = wide;
      ASSERT_NE(whole_line_form(rules_), WholeLineForm::kNone);
      sort_fast(n, wide);
      ASSERT_EQ(written(wide), expected) << "form " << form << " round " << round;
    }
  }
}

// Without /I the string sort may put equal lines in another order, but
// the bytes written must be the quicksort's; a tie between lines that go
// on behind a zero must leave the table to the quicksort, untouched.
TEST_F(QuicksortTest, StringSortWritesTheSameBytes) {
  std::mt19937 rng(4321);
  for (int round = 0; round < 24; ++round) {
    bool wide = round % 2 == 1;
    bool nul = round % 3 == 0;
    tuning_.keep_lengths_aside = round % 5 >= 2;
    std::vector<std::string> lines =
        random_lines(&rng, 30 + round * 400, wide, nul);
    int32_t n = static_cast<int32_t>(lines.size());
    if (wide) {
      for (std::string& l : lines) l.push_back('\0');
    }
    load(lines, wide);
    sort_plain(n, wide);
    std::vector<std::string> expected = written(wide);

    tuning_.parallel_min_count = round % 4 < 2 ? 2 : 100000;
    tuning_.thread_count = 2;
    load(lines, wide);
    sort_fast(n, wide);
    ASSERT_EQ(written(wide), expected) << "round " << round;
    if (!nul) {
      load(lines, wide);
      ASSERT_TRUE(string_sort(n, wide)) << "round " << round;
      ASSERT_EQ(written(wide), expected) << "round " << round;

      // Giving up midway leaves every line in the table with its own
      // length, and the quicksort that takes over writes the same bytes.
      tuning_.string_sort_split_limit = 0;
      load(lines, wide);
      ASSERT_FALSE(string_sort(n, wide)) << "round " << round;
      std::vector<int> held = order();
      std::sort(held.begin(), held.end());
      for (int i = 0; i < n; ++i) ASSERT_EQ(held[i], i) << "round " << round;
      load(lines, wide);
      sort_fast(n, wide);
      ASSERT_EQ(written(wide), expected) << "round " << round;
      tuning_.string_sort_split_limit = -1;
    }
  }

  // Folded, a tie of different bytes, or giving up, leaves the lines in
  // the order they were recorded, for the quicksort to take from there.
  rules_.ignore_case = true;
  std::vector<std::string> cased = {"Ab", "zz", "aB", "ab", "q"};
  load(cased);
  EXPECT_FALSE(string_sort(5, false, true));
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3, 4}));
  std::vector<std::string> plain = random_lines(&rng, 3000, false, false);
  for (std::string& l : plain) {
    for (char& c : l) c = static_cast<char>(fold_ascii(static_cast<unsigned char>(c)));
  }
  load(plain);
  sort_plain(3000, false);
  std::vector<std::string> folded_order = written(false);
  load(plain);
  EXPECT_TRUE(string_sort(3000, false, true));
  EXPECT_EQ(written(false), folded_order);
  tuning_.string_sort_split_limit = 0;
  load(plain);
  EXPECT_FALSE(string_sort(3000, false, true));
  std::vector<int> recorded(3000);
  for (int i = 0; i < 3000; ++i) recorded[i] = i;
  EXPECT_EQ(order(), recorded);
  tuning_.string_sort_split_limit = -1;

  // "ab" and "ab\0y" compare equal: the table must stay as it was.
  for (bool wide : {false, true}) {
    std::vector<std::string> lines = {std::string("ab\0y", 4), "zz", "ab",
                                      "aa"};
    if (wide) {
      for (std::string& l : lines) {
        std::string units;
        for (char c : l) units += std::string(1, c) + '\0';
        l = units + '\0';
      }
    }
    load(lines, wide);
    EXPECT_FALSE(string_sort(4, wide));
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3}));
  }
}

// Large ranges are split a key byte at a time: lines that all open alike
// (the keys taken again, on every thread, before the sort starts), bytes
// of every value, lines ending inside the shared opening, and folded ties
// of different bytes found there.
TEST_F(QuicksortTest, StringSortSplitsLargeRangesByKeyBytes) {
  std::mt19937 rng(2024);
  tuning_.parallel_min_count = 2;
  tuning_.thread_count = 2;
  for (int form = 0; form < 8; ++form) {
    const bool wide = form % 2 == 1;
    // Some lines end inside the opening: the last one alone, or others too.
    const bool cut_short = form % 4 >= 2;
    tuning_.keep_lengths_aside = form < 4;
    const std::string opening = "K00000000000000000000";
    std::vector<std::string> lines;
    for (int i = 0; i < 6000; ++i) {
      std::string line = opening;
      const bool cut = cut_short && (i == 5999 || (form >= 4 && i % 500 == 0));
      if (cut) line.resize(i == 5999 ? 5 : static_cast<size_t>(rng() % opening.size()));
      const int tail = cut ? 0 : static_cast<int>(rng() % 7);
      for (int k = 0; k < tail; ++k) {
        line.push_back(static_cast<char>(1 + rng() % 255));
        if (wide) line.push_back(static_cast<char>(rng() % 4 == 0 ? 0 : rng() % 256));
      }
      if (wide) {
        std::string units;
        for (size_t k = 0; k < opening.size() && k < line.size(); ++k) {
          units += std::string(1, line[k]) + '\0';
        }
        if (line.size() > opening.size()) units += line.substr(opening.size());
        line = units + '\0';
      }
      lines.push_back(line);
    }
    const int32_t n = static_cast<int32_t>(lines.size());
    load(lines, wide);
    sort_plain(n, wide);
    std::vector<std::string> expected = written(wide);
    load(lines, wide);
    ASSERT_TRUE(string_sort(n, wide)) << "form " << form;
    ASSERT_EQ(written(wide), expected) << "form " << form;
  }

  rules_.ignore_case = true;
  std::vector<std::string> cased;
  for (int i = 0; i < 4000; ++i) cased.push_back("code" + std::to_string(i % 1000));
  cased[1234] = "CODE234";
  load(cased);
  EXPECT_FALSE(string_sort(4000, false, true));
  std::vector<int> recorded(4000);
  for (int i = 0; i < 4000; ++i) recorded[i] = i;
  EXPECT_EQ(order(), recorded);
}

TEST_F(QuicksortTest, ThreadsGiveTheSamePermutation) {
  std::mt19937 rng(99);
  std::vector<std::string> lines = random_lines(&rng, 20000, false);
  int32_t n = static_cast<int32_t>(lines.size());
  tuning_.thread_count = 1;
  load(lines);
  sort_fast(n, false);
  std::vector<int> single = order();

  tuning_.parallel_min_count = 2;
  for (int threads : {2, 3}) {
    tuning_.thread_count = threads;
    load(lines);
    sort_fast(n, false);
    EXPECT_EQ(order(), single) << threads << " threads";
  }
}

// Answers as the rules do, counting the calls.
struct CountingCompare {
  TableCompare compare;
  int64_t* calls;
  int operator()(int32_t a, int32_t b) const {
    ++*calls;
    return compare(a, b);
  }
};

std::vector<std::string> numbered_lines(const std::vector<int32_t>& values) {
  std::vector<std::string> lines;
  char text[16];
  for (int32_t v : values) {
    snprintf(text, sizeof(text), "%08d", static_cast<int>(v));
    lines.emplace_back(text);
  }
  return lines;
}

class HostileInputTest : public QuicksortTest {
 protected:
  // The lines in table order, by their index in storage_.
  std::vector<int> fast_order() const {
    std::unordered_map<const char*, int> index;
    for (size_t j = 0; j < storage_.size(); ++j) index[starts_[j]] = static_cast<int>(j);
    std::vector<int> result;
    for (size_t i = 0; i < storage_.size(); ++i) {
      result.push_back(index.at(table_.line_starts[i]));
    }
    return result;
  }

  // The order the quicksort's own steps give, with no way out of deep
  // splits, against the order sort_lines gives (one thread and
  // shared between threads).
  void expect_plain_order(const std::vector<std::string>& lines) {
    int32_t n = static_cast<int32_t>(lines.size());
    load(lines);
    TableCompare cmp{&rules_, table_.line_starts.get(), table_.line_lengths.get()};
    TableSwap swap{table_.line_starts.get(), table_.line_lengths.get()};
    quicksort::sort_range(0, n - 1, cmp, swap, 0, INT32_MAX);
    std::vector<int> plain = fast_order();
    std::vector<std::string> plain_texts = sorted_texts();
    // Whole lines without /I may take the string sort, which leaves equal
    // lines (equal bytes) in an order of its own.
    bool same_bytes_suffice = !rules_.key_mode;
    for (int threads : {1, 2}) {
      tuning_.thread_count = threads;
      tuning_.parallel_min_count = 2;
      load(lines);
      sort_fast(n, false);
      if (same_bytes_suffice) {
        EXPECT_EQ(sorted_texts(), plain_texts) << threads << " threads";
      } else {
        EXPECT_EQ(fast_order(), plain) << threads << " threads";
      }
      load(lines);
      sort_plain(n, false);
      EXPECT_EQ(fast_order(), plain) << "the plain entry point";
    }
  }
};

TEST_F(HostileInputTest, KillerInputTakesFewComparisons) {
  const int32_t n = 20000;
  std::vector<std::string> lines = numbered_lines(testing::killer_values(n));
  load(lines);
  int64_t comparisons = 0;
  sort_by(n, CountingCompare{
                 TableCompare{&rules_, table_.line_starts.get(), table_.line_lengths.get()},
                 &comparisons});
  // The plain quicksort makes about n * n / 4 here, nine times as many.
  EXPECT_LT(static_cast<double>(comparisons), 40.0 * n * std::log2(n));
  for (int32_t i = 0; i < n; ++i) {
    ASSERT_EQ(atoi(table_.line_starts[i]), i);
  }
}

TEST_F(HostileInputTest, KillerInputKeepsThePlainQuicksortsOrder) {
  const int32_t n = 5000;
  std::vector<int32_t> values = testing::killer_values(n);
  expect_plain_order(numbered_lines(values));

  // Ties everywhere: no deep range is ever free of them.
  std::vector<int32_t> coarse = values;
  for (int32_t& v : coarse) v /= 4;
  expect_plain_order(numbered_lines(coarse));

  // A few ties: some deep ranges hold them, the ranges split off later
  // do not.
  std::vector<std::string> sparse = numbered_lines(values);
  for (int32_t i = 0; i + 1 < n; i += 97) sparse[i] = sparse[i + 1];
  expect_plain_order(sparse);

  // Case-blind: the same words in mixed case tie.
  rules_.ignore_case = true;
  std::vector<std::string> words;
  for (int32_t i = 0; i < n; ++i) {
    std::string w;
    for (int32_t v = values[i] / 2, k = 0; k < 4; ++k, v /= 26) {
      char c = static_cast<char>('a' + v % 26);
      w.insert(w.begin(), (i + k) % 3 == 0 ? static_cast<char>(c - 'a' + 'A') : c);
    }
    words.push_back(w);
  }
  expect_plain_order(words);

  // Key mode: the first 8 columns, the rest tells lines apart.
  rules_.ignore_case = false;
  rules_.key_mode = true;
  rules_.conditions = {SortCondition{1, 8, 'A', 'S'}};
  std::vector<std::string> keyed = numbered_lines(coarse);
  for (int32_t i = 0; i < n; ++i) keyed[i] += "|" + std::to_string(i % 5);
  expect_plain_order(keyed);
  expect_plain_order(numbered_lines(values));
}

}  // namespace
}  // namespace quarnel

namespace quarnel {
namespace {

// Business-like records: a code, a signed amount with commas and blanks,
// then text; lengths from 0 up, so that many lines cut the key fields
// short (some right at the terminator). Few distinct values: many ties.
std::vector<std::string> random_records(std::mt19937* rng, int count,
                                        bool wide) {
  static const char* const pieces[] = {"1", "2", "-", ",", ".", " ", "a",
                                       "A", "_", "\x83\x41", "0"};
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line;
    int length = static_cast<int>((*rng)() % 16);
    for (int k = 0; k < length; ++k) {
      int which = static_cast<int>((*rng)() % 12);
      if (which == 11) {
        line.push_back('\0');
      } else {
        line += pieces[which];
      }
    }
    if (wide) {
      std::string units;
      for (unsigned char c : line) {
        units.push_back(static_cast<char>(c));
        units.push_back(static_cast<char>(c == 'a' ? 0xD8 : 0));
      }
      line = units;
      line.push_back('\0');
    }
    lines.push_back(line);
  }
  return lines;
}

// Key mode: the cached first condition (text narrow and wide, folded or
// not, A and D; numbers) and the threads must order every run exactly as
// the plain function-pointer quicksort does.
TEST_F(QuicksortTest, KeyCacheGivesTheSamePermutation) {
  std::mt19937 rng(777);
  for (int round = 0; round < 160; ++round) {
    bool wide = round % 2 == 1;
    rules_ = CompareRules();
    rules_.key_mode = true;
    rules_.ignore_case = (round / 2) % 2 == 1;
    rules_.reverse = (round / 4) % 2 == 1;
    rules_.conditions.resize(1 + rng() % 2);
    for (SortCondition& cond : rules_.conditions) {
      cond.start = 1 + static_cast<int32_t>(rng() % 6);
      cond.length = 1 + static_cast<int32_t>(rng() % 12);
      cond.order = rng() % 2 ? 'D' : 'A';
      cond.type = "SSIZ"[rng() % 4];
    }
    std::vector<std::string> lines =
        random_records(&rng, 50 + static_cast<int>(rng() % 400), wide);
    int32_t n = static_cast<int32_t>(lines.size());
    load(lines, wide);
    sort_plain(n, wide);
    std::vector<int> expected = order();

    tuning_.parallel_min_count = round % 3 == 0 ? 2 : 100000;
    tuning_.thread_count = 2;
    load(lines, wide);
    sort_fast(n, wide);
    ASSERT_EQ(order(), expected) << "round " << round;
    ASSERT_NE(key_cache_form(rules_), KeyCacheForm::kNone);
  }
}

}  // namespace
}  // namespace quarnel
