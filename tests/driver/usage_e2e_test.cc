#include <gtest/gtest.h>

#include "support/test_util.h"

namespace quarnel::testing {
namespace {

TEST(UsageEndToEnd, NoArgumentShowsUsageAndExits255) {
  ProgramResult r = run_program({built_program("Quarnel")}, {"LC_ALL=C"});
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("Quarnel"), std::string::npos);
}

}  // namespace
}  // namespace quarnel::testing
