// The state of one sort run, owned by the driver from the input's probe
// to the placing of the result, and the settings it runs by: the job, the
// comparison rules chosen from it once, and the tuning. The phases get the
// settings as a const reference and the state by pointer; nothing of
// either lives anywhere else.
#ifndef QUARNEL_INPUT_RUN_STATE_H_
#define QUARNEL_INPUT_RUN_STATE_H_

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "options/sort_job.h"
#include "order/compare_rules.h"
#include "order/line_table.h"
#include "order/sort_tuning.h"
#include "output/output_file.h"
#include "platform/worker.h"

namespace quarnel {

// What may change how fast a job runs, never what it writes.
struct RunTuning {
  SortTuning sort;
  // An input of this many bytes or more that fits the buffer whole is
  // sorted in its own mapped pages where the sort allows it (whole lines
  // without /I, no zero byte or unit in the input), which spares filling
  // fresh memory with a copy of it.
  int64_t map_input_from = int64_t{32} << 20;
};

struct RunSettings {
  const SortJob& job;
  CompareRules rules;
  RunTuning tuning;
};

// Where the reading of the input stands.
struct ReaderState {
  int32_t input_fd = 0;
  bool input_closed = true;
  char* buffer_start = nullptr;
  int64_t buffer_capacity = 0;
  char* next_line = nullptr;
  char* data_end = nullptr;
  int64_t last_read = 0;
  // The input mapped whole in place of the buffer, or null.
  const char* mapped = nullptr;
  int64_t mapped_size = 0;
};

// The rest of a large fill is read by a thread of its own, a piece at a
// time, while the lines of the pieces already there are recorded.
struct FillReadAhead {
  Worker worker;
  std::mutex lock;
  std::condition_variable wake;
  bool active = false;  // a fill is being read on the worker
  int64_t offset = 0;   // the fill's carried bytes at the buffer's start
  int64_t request = 0;  // the bytes the fill asked for
  int64_t got = 0;      // of which read so far
  bool done = true;     // nothing more comes
};

// A mapped input is looked through for zeros on a thread of its own while
// its lines are recorded; the answer is needed only once they are sorted.
struct ZeroScan {
  Worker worker;
  bool found = false;
};

struct RunState {
  LineTable table;
  ReaderState reader;
  FillReadAhead ahead;
  ZeroScan zero_scan;
  // The SortBuffer: the budget's bytes and a few more, null until the
  // memory plan allocates it.
  std::unique_ptr<char[]> sort_buffer;
  int64_t sort_buffer_size = 0;
  // The budget chosen by the memory plan.
  int64_t budget = 0;
  int32_t line_length_estimate = 0;
  int64_t remaining_bytes = 0;  // of the input, not yet consumed
  int32_t run_count = 0;
  // The writer of the runs and the merge list.
  OutputFile output;
  // The job's own folder, with its trailing separator; empty until made.
  std::string job_dir;
  // Set by whichever phase meets a failure that must not pass as success
  // (a line too long, memory, a read error); a run or list not written
  // completely marks the output instead. Either way the driver then
  // produces no output and ends with -1.
  bool failed = false;
  // Where each sorted run goes: the next run file, unless a test looks at
  // the runs instead.
  std::function<void(const LineTable& table, int32_t count, int32_t run_index)> run_writer;
};

// Whether the run has failed, by its own flag or its writer's.
inline bool run_failed(const RunState& run) { return run.failed || run.output.failed; }

}  // namespace quarnel

#endif  // QUARNEL_INPUT_RUN_STATE_H_
