#include "input/memory_plan.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "console/console.h"
#include "console/messages.h"
#include "platform/platform.h"
#include "input/run_state.h"

namespace quarnel {

namespace {

// How much of the input the probe looks at.
constexpr int64_t kProbeBytes = 65535;
constexpr int64_t kTypeProbeBytes = 4096;
constexpr int64_t kLongestLine = 65535;

// Every expected line costs 16 bytes of line table besides its text.
int64_t with_line_table(int64_t bytes, int64_t estimate) {
  return bytes + (bytes / estimate) * 16;
}

int32_t block_size_for(int64_t bytes, int64_t estimate) {
  int64_t lines = bytes / estimate;
  return lines > 0 ? static_cast<int32_t>(lines) : 1;
}

}  // namespace

int32_t estimate_line_length(const unsigned char* bytes, int64_t count,
                             bool wide, int bom_length) {
  int64_t estimate = 0;
  if (wide) {
    for (int64_t i = 0; i + 1 < count; i += 2) {
      unsigned unit = bytes[i] | (static_cast<unsigned>(bytes[i + 1]) << 8);
      if (unit == 0) break;
      if (unit == 0x000A) {
        estimate = i + 2 - bom_length;
        break;
      }
    }
  } else {
    for (int64_t i = 0; i < count; ++i) {
      if (bytes[i] == 0) break;
      if (bytes[i] == 0x0A) {
        estimate = i + 1;
        break;
      }
    }
  }
  return estimate < 1 ? kDefaultLineEstimate : static_cast<int32_t>(estimate);
}

bool check_input_type(const std::string& path) {
  int fd = platform::open_read(path);
  if (fd < 0) return false;
  unsigned char bytes[kTypeProbeBytes];
  int64_t got = platform::read_fd(fd, bytes, kTypeProbeBytes);
  platform::close_fd(fd);
  return got > 0;
}

int probe_input(const SortJob& job, RunState* run) {
  int fd = platform::open_read(job.input_path);
  if (fd < 0) {
    report_error(msg::kNotFound, job.input_path.c_str());
    return -1;
  }
  std::unique_ptr<unsigned char[]> bytes(new (std::nothrow)
                                             unsigned char[kProbeBytes]);
  int64_t got = 0;
  if (bytes != nullptr) got = platform::read_fd(fd, bytes.get(), kProbeBytes);
  platform::close_fd(fd);
  if (got < 0) {
    report_error(msg::kReadFailed, job.input_path.c_str());
    return -1;
  }
  run->line_length_estimate = estimate_line_length(
      bytes.get(), got > 0 ? got : 0, job.wide_mode,
      static_cast<int>(job.input_bom.size()));
  if (!check_input_type(job.input_path)) {
    report_error(msg::kNotShiftJis, job.input_path.c_str());
    return -1;
  }
  return 0;
}

int64_t choose_budget(int64_t file_size, int32_t estimate, int64_t limit,
                      int64_t available, const AllocationHook& try_allocate) {
  const int64_t e = std::max<int64_t>(estimate, 1);
  const int64_t n = file_size;
  int64_t budget;
  if (limit != 0) {
    budget = with_line_table(n, e) < limit ? n : limit;
  } else {
    int64_t usable = kUnknownAvailableMemory;
    if (available >= 0) {
      usable = available / 100;
      for (int64_t p = 100; p >= 1; --p) {
        if (try_allocate((available / 100) * p)) {
          usable = (available / 100) * p;
          break;
        }
      }
    }
    const int64_t half = (usable / 100) * 50;
    if (with_line_table(n, e) < half) {
      budget = n;
    } else {
      budget = half;
      for (int64_t p = 100; p >= 1; --p) {
        int64_t share = (n / 100) * p;
        if (with_line_table(share, e) < half) {
          budget = share;
          break;
        }
      }
    }
  }
  return std::min(budget, kBudgetCap);
}

int64_t carry_over_need(bool wide) {
  int64_t units = kLongestLine + 2;  // the line and its CR LF
  return wide ? units * 2 : units;
}

BufferChoice allocate_sort_buffer(int64_t budget, int64_t file_size,
                           int32_t estimate, int64_t need,
                           const AllocationHook& allocate) {
  const int64_t e = std::max<int64_t>(estimate, 1);
  // A buffer smaller than the longest line could not carry a line that
  // reaches past its end; once the whole file fits, no line is carried.
  auto capacity_for = [&](int64_t bytes) {
    return std::max(bytes, std::min(need, file_size));
  };
  BufferChoice choice;
  choice.budget = budget;
  choice.capacity = capacity_for(budget);
  if (allocate(choice.capacity + 2)) {
    choice.mark = 'A';
    return choice;
  }
  const int64_t tenth = budget / 10;
  for (int64_t k = 9; k >= 1; --k) {
    int64_t share = k * tenth;
    int64_t b = share - (share / e) * 16;
    choice.budget = b;
    if (b <= 0) break;
    choice.capacity = capacity_for(b);
    if (allocate(choice.capacity + 2)) {
      choice.mark = 'B';
      return choice;
    }
  }
  choice.capacity = 0;
  return choice;
}

int plan_memory(const SortJob& job, RunState* run) {
  run->reader = ReaderState();
  run->remaining_bytes = 0;
  run->sort_buffer.reset();
  run->sort_buffer_size = 0;

  int64_t n = platform::file_size(job.input_path);
  if (n < 0) {
    report_error(msg::kNotFound, job.input_path.c_str());
    return -1;
  }
  if (n == 0) {
    report_error(msg::kZeroSize, nullptr);
    return -1;
  }
  run->remaining_bytes = n;
  const int32_t e = std::max(run->line_length_estimate, 1);

  // Trial blocks are given back at once: they only show what could be had.
  auto trial = [](int64_t bytes) { return platform::can_allocate(bytes); };
  int64_t budget = choose_budget(n, e, job.memory_limit,
                                 job.memory_limit == 0 ? platform::available_memory() : -1,
                                 trial);
  run->budget = budget;

  auto keep = [run](int64_t bytes) {
    run->sort_buffer.reset(new (std::nothrow) char[static_cast<size_t>(bytes)]);
    if (run->sort_buffer == nullptr) return false;
    run->sort_buffer_size = bytes;
    return true;
  };
  BufferChoice choice = allocate_sort_buffer(budget, n, e, carry_over_need(job.wide_mode), keep);
  run->budget = choice.budget;
  if (choice.mark == 0) {
    report_error(msg::kNoMemory, nullptr);
    return -1;
  }
  run->reader.buffer_capacity = choice.capacity;
  run->table.block_size = block_size_for(choice.budget, e);
  report_info(choice.mark == 'A' ? msg::kBudgetA : msg::kBudgetB,
              static_cast<int>(choice.budget / 1000000));
  return 0;
}

}  // namespace quarnel
