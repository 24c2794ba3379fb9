// The safety options that the browser sets on the component.
#include <gtest/gtest.h>

#include <cstdint>

#include "object_safety.h"

namespace {

TEST(RelaySafety, RefusesUnknownOptionBits) {
  std::uint32_t current = 2;
  EXPECT_FALSE(bvx::ApplySafetyOptions(&current, 4, 0));
  EXPECT_FALSE(bvx::ApplySafetyOptions(&current, 0x80000003u, 3));
  EXPECT_EQ(current, 2u);
  // Enabled bits outside the supported ones are not refused; they only
  // clear, and there is nothing of them to clear.
  EXPECT_TRUE(bvx::ApplySafetyOptions(&current, 1, 0xFFFFFFFCu));
  EXPECT_EQ(current, 3u);
}

}  // namespace
