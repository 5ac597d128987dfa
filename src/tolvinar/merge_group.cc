#include "tolvinar/merge_group.h"

#include <algorithm>
#include <utility>

#include "tolvinar/output_sink.h"
#include "tolvinar/run_reader.h"

namespace quarnel {

namespace {

const char kNarrowLineEnd[2] = {'\r', '\n'};
const char kWideLineEnd[4] = {'\r', '\0', '\n', '\0'};

// Among equal lines the lower-numbered run's comes first, which makes the
// order total; a used-up run sorts behind everything.
inline bool goes_first(const std::vector<RunReader>& runs, int a, int b,
                       const MergeMode& mode) {
  const RunReader& x = runs[static_cast<size_t>(a)];
  const RunReader& y = runs[static_cast<size_t>(b)];
  if (x.exhausted) return false;
  if (y.exhausted) return true;
  if (mode.prefixed) {
    // Equal first bytes with the line's end among them: equal lines.
    const uint64_t last = mode.wide ? 0xFFFF : 0xFF;
    for (int i = 0; i < 2; ++i) {
      // Under /R the first bytes decide the other way; the comparers
      // below turn their answers round themselves.
      if (x.prefix[i] != y.prefix[i]) {
        return (x.prefix[i] < y.prefix[i]) != mode.compare.reverse;
      }
      if ((x.prefix[i] & last) == 0) return a < b;
    }
    int c = mode.wide
                ? compare_wide(mode.compare,
                               reinterpret_cast<const uint16_t*>(x.line) + 8,
                               x.length - 8,
                               reinterpret_cast<const uint16_t*>(y.line) + 8,
                               y.length - 8)
                : compare_narrow(mode.compare, x.line + 16, x.length - 16,
                                 y.line + 16, y.length - 16);
    return c < 0 || (c == 0 && a < b);
  }
  int c = mode.wide
              ? compare_wide(mode.compare,
                             reinterpret_cast<const uint16_t*>(x.line),
                             x.length,
                             reinterpret_cast<const uint16_t*>(y.line),
                             y.length)
              : compare_narrow(mode.compare, x.line, x.length, y.line,
                               y.length);
  return c < 0 || (c == 0 && a < b);
}

// Merges the open runs into the sink; false after a reported failure.
bool merge_into(std::vector<RunReader>& runs, OutputSink* sink,
                const MergeMode& mode) {
  const bool wide = mode.wide;
  const int k = static_cast<int>(runs.size());
  const size_t unit = wide ? 2 : 1;
  const char* line_end = wide ? kWideLineEnd : kNarrowLineEnd;
  if (mode.marked) put_bytes(sink, kMark, 2);
  if (k == 0) return true;
  // loser[1..k-1] hold the losers of the inner nodes; leaf k + i is run i.
  std::vector<int> loser(static_cast<size_t>(k));
  std::vector<int> winner(2 * static_cast<size_t>(k));
  for (int i = 0; i < k; ++i) winner[static_cast<size_t>(k + i)] = i;
  for (int n = k - 1; n >= 1; --n) {
    int a = winner[2 * static_cast<size_t>(n)];
    int b = winner[2 * static_cast<size_t>(n) + 1];
    bool a_first = goes_first(runs, a, b, mode);
    winner[static_cast<size_t>(n)] = a_first ? a : b;
    loser[static_cast<size_t>(n)] = a_first ? b : a;
  }
  int top = winner[1];
  while (!runs[static_cast<size_t>(top)].exhausted && !sink->failed) {
    RunReader& r = runs[static_cast<size_t>(top)];
    put_bytes(sink, r.line, static_cast<size_t>(r.length) * unit);
    put_bytes(sink, line_end, 2 * unit);
    if (next_line(&r, mode) < 0) return false;
    int s = top;
    for (int t = (s + k) / 2; t > 0; t /= 2) {
      if (goes_first(runs, loser[static_cast<size_t>(t)], s, mode)) {
        std::swap(loser[static_cast<size_t>(t)], s);
      }
    }
    top = s;
  }
  return !sink->failed;
}

}  // namespace

bool merge_group(const std::vector<RunEntry>& entries, size_t first, size_t count,
                 int fd, const std::string& label, bool convert, int64_t read_budget,
                 const MergeMode& mode) {
  int64_t share = read_budget / static_cast<int64_t>(std::max<size_t>(count, 1));
  size_t capacity = static_cast<size_t>(
      std::clamp(share, kSmallestRunBuffer, kLargestRunBuffer));
  // Where the budget gives each run room for a second buffer, the next
  // piece of every run is read by a thread of its own while the merge
  // works through the one before.
  const bool read_ahead =
      count >= 2 && share >= 2 * static_cast<int64_t>(kHeadRoom + capacity);
  const size_t room = read_ahead ? kHeadRoom : 0;
  std::vector<RunReader> runs(count);
  bool ok = true;
  for (size_t i = 0; i < count && ok; ++i) {
    const RunEntry& e = entries[first + i];
    ok = open_run_reader(&runs[i], e.path, capacity, room,
                         e.intermediate || mode.spent_runs, mode);
  }
  ReadAhead reading;
  if (ok && read_ahead) start_read_ahead(&reading, &runs, capacity, !mode.wide);
  OutputSink sink;
  if (ok && open_sink(&sink, fd, label, convert)) {
    ok = merge_into(runs, &sink, mode);
    // Also after a failure: no write goes on once the merge returns.
    ok = close_sink(&sink, ok) && ok;
  } else {
    ok = false;
  }
  stop_read_ahead(&reading);
  for (RunReader& r : runs) close_run_reader(&r);
  return ok;
}

}  // namespace quarnel
