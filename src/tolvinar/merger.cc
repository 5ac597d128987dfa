// The passes of a merge and where its result goes: more runs than may be
// merged at once go through intermediate files, a group at a time; the
// last merge writes to standard output, to a device in place, or to a
// file made beside the output's path and renamed into place.
#include "tolvinar/merger.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "console/console.h"
#include "console/progress.h"
#include "platform/platform.h"
#include "text/ascii.h"
#include "text/sjis.h"
#include "tolvinar/merge_group.h"
#include "tolvinar/merge_mode.h"
#include "tolvinar/run_reader.h"
#include "tolvinar/tolvinar_messages.h"

namespace quarnel {

namespace {

// Standard input, output and error, the output file, and a margin for
// whatever else the process holds.
constexpr int64_t kReservedDescriptors = 10;
constexpr int kStandardOutput = 1;
constexpr const char* kResultFolderPrefix = ".tolvinar-";

MergeMode mode_of(const CompareRules& rules, const MergeSettings& settings) {
  MergeMode mode;
  mode.wide = rules.wide;
  mode.marked = rules.wide && settings.marked;
  mode.spent_runs = settings.spent_runs;
  mode.prefixed = !rules.key_mode;
  mode.fold = rules.ignore_case && !rules.wide;
  mode.compare = rules;
  return mode;
}

void delete_intermediates(const std::vector<RunEntry>& entries) {
  for (const RunEntry& e : entries) {
    if (e.intermediate) platform::delete_file(e.path);
  }
}

// A new file in folder, merged from entries[first, first + count).
bool merge_to_intermediate(const std::vector<RunEntry>& entries, size_t first,
                           size_t count, const std::string& folder,
                           int64_t read_budget, const MergeMode& mode,
                           RunEntry* made) {
  std::string path;
  int fd = platform::create_unique_file(folder + ".tolvinar-", &path);
  if (fd < 0) {
    report_error(tolvinar_msg::kCannotCreate, (folder + ".tolvinar-").c_str());
    return false;
  }
  bool ok = merge_group(entries, first, count, fd, path, false, read_budget,
                          mode);
  if (platform::close_fd(fd) != 0 && ok) {
    report_error(tolvinar_msg::kWriteFailed, path.c_str());
    ok = false;
  }
  if (!ok) {
    platform::delete_file(path);
    return false;
  }
  made->path = path;
  made->intermediate = true;
  return true;
}

// How many of the left runs the next group of a pass takes when made
// groups are already merged; 0 when the pass is done.
size_t next_group(size_t made, size_t left, size_t fan_in) {
  if (made + left <= fan_in || left < 2) return 0;
  return std::min({fan_in, made + left - fan_in + 1, left});
}

// The passes a merge takes and the bytes it reads in all of them, for the
// status line.
void plan_merge(const std::vector<RunEntry>& runs, size_t fan_in, int32_t* passes,
                int64_t* bytes) {
  std::vector<int64_t> sizes;
  for (const RunEntry& run : runs) {
    sizes.push_back(std::max<int64_t>(platform::file_size(run.path), 0));
  }
  *passes = 1;
  *bytes = 0;
  while (sizes.size() > fan_in) {
    std::vector<int64_t> next;
    size_t i = 0;
    size_t group;
    while ((group = next_group(next.size(), sizes.size() - i, fan_in)) > 0) {
      int64_t sum = 0;
      for (size_t k = i; k < i + group; ++k) sum += sizes[k];
      *bytes += sum;
      next.push_back(sum);
      i += group;
    }
    next.insert(next.end(), sizes.begin() + static_cast<std::ptrdiff_t>(i), sizes.end());
    sizes.swap(next);
    ++*passes;
  }
  for (int64_t size : sizes) *bytes += size;
}

// One pass: consecutive groups of runs become intermediate files, just
// enough of them that what is left can be merged at once when possible.
// Keeping the groups consecutive and in place keeps the order of equal
// lines.
bool merge_pass(std::vector<RunEntry>* current, size_t fan_in,
                const std::string& folder, int64_t read_budget,
                const MergeMode& mode) {
  std::vector<RunEntry> next;
  size_t i = 0;
  size_t group;
  bool ok = true;
  while (ok && (group = next_group(next.size(), current->size() - i, fan_in)) > 0) {
    RunEntry made;
    ok = merge_to_intermediate(*current, i, group, folder, read_budget, mode,
                               &made);
    if (ok) {
      delete_intermediates(std::vector<RunEntry>(
          current->begin() + static_cast<std::ptrdiff_t>(i),
          current->begin() + static_cast<std::ptrdiff_t>(i + group)));
      next.push_back(made);
      i += group;
    }
  }
  if (!ok) {
    delete_intermediates(next);
    return false;
  }
  next.insert(next.end(), current->begin() + static_cast<std::ptrdiff_t>(i),
              current->end());
  *current = std::move(next);
  return true;
}

bool merge_to_output(const std::vector<RunEntry>& entries,
                     const MergeSettings& settings, const MergeMode& mode) {
  const int64_t budget = settings.read_budget;
  if (settings.to_stdout) {
    return merge_group(entries, 0, entries.size(), kStandardOutput, "",
                         mode.wide, budget, mode);
  }
  const platform::FileIdentity target = platform::identify_file(settings.output);
  if (target.kind == platform::FileKind::kOther) {
    // A device or a named pipe is written in place: replacing it would
    // put a plain file where the device was.
    int fd = platform::open_write(settings.output, false, false);
    if (fd < 0) {
      report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
      return false;
    }
    bool ok = merge_group(entries, 0, entries.size(), fd, settings.output,
                            false, budget, mode);
    if (platform::close_fd(fd) != 0 && ok) {
      report_error(tolvinar_msg::kWriteFailed, settings.output.c_str());
      ok = false;
    }
    return ok;
  }
  // The result is complete before it replaces anything at its path. It is
  // made in a private folder beside the file the path leads to (links
  // followed, so that the rename stays on one file system), which a signal
  // removes with what is in it; a folder left by a merge killed outright
  // is unlocked, and the next merge there removes it.
  const std::string beside = containing_folder(platform::follow_links(settings.output));
  platform::remove_abandoned_folders(beside, kResultFolderPrefix);
  std::string folder = platform::make_locked_folder(beside + kResultFolderPrefix);
  if (folder.empty()) {
    report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
    return false;
  }
  const std::string temp = folder + "/result";
  int fd = platform::open_write(temp, true, true);
  bool ok = fd >= 0;
  if (!ok) report_error(tolvinar_msg::kCannotCreate, settings.output.c_str());
  if (ok) {
    ok = merge_group(entries, 0, entries.size(), fd, settings.output, false,
                       budget, mode);
    if (platform::close_fd(fd) != 0 && ok) {
      report_error(tolvinar_msg::kWriteFailed, settings.output.c_str());
      ok = false;
    }
  }
  if (ok && platform::move_file(temp, settings.output) != 0) {
    report_error(tolvinar_msg::kCannotPlace, settings.output.c_str());
    ok = false;
  }
  platform::remove_locked_folder(folder);
  return ok;
}

}  // namespace

int32_t fan_in_for_open_limit(int64_t limit) {
  int64_t fan_in = limit - kReservedDescriptors;
  if (fan_in < 2) return 2;
  return static_cast<int32_t>(std::min<int64_t>(fan_in, INT32_MAX));
}

int merge_runs(const std::vector<std::string>& runs, const CompareRules& rules,
               const MergeSettings& settings) {
  const MergeMode mode = mode_of(rules, settings);
  int64_t budget = std::max(settings.read_budget, kSmallestRunBuffer * 2);
  size_t fan_in;
  if (settings.fan_in > 0) {
    fan_in = static_cast<size_t>(std::max(settings.fan_in, 2));
  } else {
    // Beyond what the read budget feeds with buffers of a useful size,
    // more runs at once would only shrink every read.
    int64_t by_memory = budget / kSmallestRunBuffer;
    fan_in = static_cast<size_t>(std::min<int64_t>(
        fan_in_for_open_limit(platform::open_file_limit()), by_memory));
  }
  std::vector<RunEntry> current;
  for (const std::string& path : runs) current.push_back(RunEntry{path, false});
  const std::string folder =
      runs.empty() ? std::string(platform::kCurrentDirectory) : containing_folder(runs[0]);
  int32_t passes = 1;
  int64_t bytes = 0;
  plan_merge(current, fan_in, &passes, &bytes);
  progress_start(bytes, ProgressPhase::kMerge, 1, passes, settings.to_stdout);
  int32_t pass = 1;
  while (current.size() > fan_in) {
    if (!merge_pass(&current, fan_in, folder, budget, mode)) {
      delete_intermediates(current);
      progress_stop();
      return kMergeIoFailure;
    }
    progress_phase(ProgressPhase::kMerge, ++pass, passes);
  }
  bool ok = merge_to_output(current, settings, mode);
  delete_intermediates(current);
  progress_stop();
  return ok ? kMergeOk : kMergeIoFailure;
}

}  // namespace quarnel
