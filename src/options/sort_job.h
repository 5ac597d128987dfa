// The process-wide job record: what the command line asked for, what the
// probe found, and the buffers the job owns. Every phase reads and sets its
// own fields; the driver frees the buffers at the end of the run.
#ifndef QUARNEL_OPTIONS_SORT_JOB_H_
#define QUARNEL_OPTIONS_SORT_JOB_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quarnel {

inline constexpr int kTextBufferSize = 65535;
inline constexpr int kMaxKeys = 256;

// One parsed key group of the key specification language.
struct KeyDefinition {
  int32_t ranges[256][2];
  int32_t values[256];
  char attributes[256][64];
  char qualifiers[256][16];
  char delimiters[16];
  int32_t column_count;
  int32_t attribute_count;
};

struct KeyDefinitionTable {
  KeyDefinition entries[kMaxKeys];
};

// The table is large (about 6 MB) and mostly unused: taken zeroed from the
// system rather than cleared, its untouched pages cost no memory.
struct KeyTableRelease {
  void operator()(KeyDefinitionTable* table) const;
};
using KeyTable = std::unique_ptr<KeyDefinitionTable, KeyTableRelease>;
// A zeroed table, or null when memory is short.
KeyTable new_key_table();

// One compiled sort key.
struct SortCondition {
  int32_t start;   // first column, from 1
  int32_t length;  // columns compared
  char order;      // 'A' or 'D'
  char type;       // 'S', 'I' or 'Z'
};

using RunBuilder = int (*)(const char* input_path, int mode);
using LineComparer = int (*)(const char* a, const char* b);
using FieldComparer = int (*)(const void* a, const void* b, size_t n);

struct SortJob {
  std::string input_path;
  std::string output_path;  // a path, or "stdout"
  int32_t to_stdout = 0;
  int32_t wide_mode = 0;
  int32_t ignore_case = 0;
  int32_t key_mode = 0;
  std::string input_bom;     // empty, or the two bytes FF FE
  int64_t memory_limit = 0;  // /M bytes, then the chosen budget
  std::string work_dir;      // ends with the path separator

  RunBuilder build_run = nullptr;  // the mode's, chosen after the command line
  LineComparer line_comparer = nullptr;
  FieldComparer field_comparer = nullptr;

  // Text buffers of kTextBufferSize bytes; null until allocated.
  std::unique_ptr<char[]> option_text;
  std::unique_ptr<char[]> key_text;
  std::unique_ptr<char[]> token_buffer;
  KeyTable key_table;

  SortCondition conditions[kMaxKeys] = {};
  int32_t condition_count = 0;

  int32_t line_length_estimate = 0;
  int64_t remaining_bytes = 0;
  int32_t run_count = 0;

  // The SortBuffer: budget + 2 bytes, null until plan_memory allocates it.
  std::unique_ptr<char[]> sort_buffer;
  int64_t sort_buffer_size = 0;

  // The job's own folder inside work_dir, ending with '/'. Run files and
  // the merge list live there, so that jobs sharing a work directory never
  // touch each other's files. Empty until it is made.
  std::string job_dir;

  // Set by whichever phase meets a failure that must not pass as success
  // (a line too long, memory, a run or output not written completely).
  // The driver then produces no output and ends with -1.
  int32_t failed = 0;
};

extern SortJob sort_job;

// Puts the job record back to its state at program start (for tests).
void reset_sort_job();

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_SORT_JOB_H_
