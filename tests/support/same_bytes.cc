#include "support/same_bytes.h"

#include <algorithm>
#include <cstdio>

namespace quarnel::testing {

namespace {

std::string hex_around(const std::string& s, size_t at) {
  size_t from = at > 16 ? at - 16 : 0;
  size_t to = std::min(s.size(), at + 16);
  std::string out;
  char piece[4];
  for (size_t i = from; i < to; ++i) {
    if (i == at) out += "| ";
    snprintf(piece, sizeof(piece), "%02X ", static_cast<unsigned char>(s[i]));
    out += piece;
  }
  return out;
}

}  // namespace

::testing::AssertionResult same_bytes(const std::string& actual,
                                      const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin(),
                              expected.end());
  size_t at = static_cast<size_t>(differ.first - actual.begin());
  return ::testing::AssertionFailure()
         << "got " << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << at << "\n  got:      "
         << hex_around(actual, at) << "\n  expected: " << hex_around(expected, at);
}

}  // namespace quarnel::testing
