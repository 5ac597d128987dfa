// Key-mode comparison: the conditions walked in order, each comparing one
// field as characters or as a number.
#ifndef QUARNEL_SORT_KEY_COMPARE_H_
#define QUARNEL_SORT_KEY_COMPARE_H_

#include <cstdint>

#include "options/sort_job.h"

namespace quarnel {

// Under the SortJob's conditions and field comparer.
int compare_keys_narrow(const char* a, int32_t length_a, const char* b,
                        int32_t length_b);
int compare_keys_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                      int32_t length_b);

// Under conditions given as a value; narrow character fields go through
// field_comparer, wide ones compare by unit, never folded.
int compare_keys_narrow(const char* a, int32_t length_a, const char* b,
                        int32_t length_b, const SortCondition* conditions,
                        int32_t count, FieldComparer field_comparer);
int compare_keys_wide(const uint16_t* a, int32_t length_a, const uint16_t* b,
                      int32_t length_b, const SortCondition* conditions,
                      int32_t count);

// The value of a numeric field: '+', '-', '.' and digits of its first
// min(count, 256) characters, read as atof reads them.
double numeric_key_value(const uint16_t* field, int32_t count);
double numeric_key_value_narrow(const char* field, int32_t count);

}  // namespace quarnel

#endif  // QUARNEL_SORT_KEY_COMPARE_H_
