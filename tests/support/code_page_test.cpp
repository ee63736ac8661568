// The code page 932 run is only worth something if the process really has code page 932.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/platform.h"

TEST(CodePage, IsTheOneTheRunAskedFor) {
  const char* expected = std::getenv("QB_EXPECT_ACP");
  if (!expected) GTEST_SKIP() << "no code page asked for";
  EXPECT_EQ(GetACP(), static_cast<UINT>(std::strtoul(expected, nullptr, 10)));
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
}
