// The key specification language: the long form key(1,10)attr(D,I) is
// rewritten in place into the bracket form (1,10)[D;I], which is parsed
// into the KeyDefinitionTable.
#ifndef QUARNEL_OPTIONS_KEY_SPEC_H_
#define QUARNEL_OPTIONS_KEY_SPEC_H_

#include "options/sort_job.h"

namespace quarnel {

enum class SpecState {
  kIdle = 0,
  kInKey = 1,
  kAfterKey = 2,
  kInAttributes = 3,
  kAfterAttributes = 4,
  kInDelimiters = 5,
};

// Rewrites text (NUL-terminated) in place and returns it.
char* preprocess_key_spec(char* text);

// Reads one item (at most 63 bytes and a NUL into out) from source up to a
// byte of delimiters; returns where reading goes on, or null when source
// is empty.
const char* read_spec_token(const char* source, char* out,
                            const char* delimiters);

// Parses text into table (zeroed by the caller); 0, or -1 at the first
// error.
int parse_key_spec(const char* text, KeyDefinitionTable* table);

}  // namespace quarnel

#endif  // QUARNEL_OPTIONS_KEY_SPEC_H_
