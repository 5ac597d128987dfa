// Comparing large outputs: on a mismatch, where the bytes first differ,
// not two whole files in the failure message (which a CI log cuts off).
#ifndef QUARNEL_TESTS_SUPPORT_SAME_BYTES_H_
#define QUARNEL_TESTS_SUPPORT_SAME_BYTES_H_

#include <gtest/gtest.h>

#include <string>

namespace quarnel::testing {

// Success when the strings are equal; else both sizes, the first offset at
// which they differ and the bytes around it in hex.
::testing::AssertionResult same_bytes(const std::string& actual,
                                      const std::string& expected);

}  // namespace quarnel::testing

#endif  // QUARNEL_TESTS_SUPPORT_SAME_BYTES_H_
