#include "text/sjis.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace quarnel {
namespace {

TEST(SjisTest, LastSeparatorSkipsTrailBytes) {
  platform::set_system_encoding_for_test(platform::SystemEncoding::kShiftJis);
  const char path[] = "\x95\x5c\x5c\x61";
  EXPECT_EQ(find_last_separator(path, '\\'), path + 2);
  EXPECT_EQ(find_last_separator("\x95\x5c", '\\'), nullptr);
  platform::init_locale();
}

}  // namespace
}  // namespace quarnel
