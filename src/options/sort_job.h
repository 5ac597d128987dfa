// What a job is asked to do: the SortJob settings, the sort conditions of
// its keys, and the table the key language is parsed into.
#ifndef QUARNEL_OPTIONS_SORT_JOB_H_
#define QUARNEL_OPTIONS_SORT_JOB_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// The settings one job runs by, as the command line (and the look at the
// input's first bytes that completes it) produce them. Made once, then
// only read: the phases get it as a const reference, and the state of the
// run lives apart from it, with the driver.
struct SortJob {
  std::string input_path;
  std::string output_path;  // a path, or "stdout"
  bool to_stdout = false;
  bool wide_mode = false;
  bool ignore_case = false;
  bool key_mode = false;
  bool reverse = false;      // /R: every comparison's answer turned round
  std::string input_bom;     // empty, or the two bytes FF FE
  int64_t memory_limit = 0;  // /M bytes; 0 when not given
  std::string work_dir;      // ends with the path separator
  // The key text in its bracket form, as the merge program is given it,
  // and the conditions compiled from it (key mode only).
  std::string key_text;
  std::vector<SortCondition> conditions;
};

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_SORT_JOB_H_
