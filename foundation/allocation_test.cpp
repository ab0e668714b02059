#include "foundation/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

// Every test program links test/support.cpp, whose sanitizer defaults make an
// impossible request fail the way it does in production (the allocator
// returns nothing) rather than stop in the sanitizer's own report.

namespace cdt {
namespace {

TEST(CheckedAllocation, ZeroSizedRequestsYieldNone) {
  void* none = checkedAlloc(0);
  EXPECT_EQ(none, nullptr);
  EXPECT_FALSE(checkedFree(none));
  EXPECT_EQ(checkedCalloc(3, 0), nullptr);
  EXPECT_EQ(checkedCalloc(0, 3), nullptr);
}

TEST(CheckedAllocation, ReallocGrowsShrinksAndFrees) {
  auto* block = static_cast<unsigned char*>(checkedRealloc(nullptr, 16));
  ASSERT_NE(block, nullptr);
  std::memset(block, 0xAB, 16);
  block = static_cast<unsigned char*>(checkedRealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0xAB);
  EXPECT_EQ(checkedRealloc(block, 0), nullptr);  // freed: the leak checker would see it otherwise
  EXPECT_EQ(checkedRealloc(nullptr, 0), nullptr);
}

TEST(CheckedAllocation, StatisticsCountRequests) {
  resetAllocationStats();
  void* a = checkedAlloc(100);
  void* b = checkedCalloc(10, 30);
  a = checkedRealloc(a, 50);
  void* none = checkedAlloc(0);
  AllocationStats stats = allocationStats();
  EXPECT_EQ(stats.requests, 3u);
  EXPECT_EQ(stats.requestedBytes, 450u);
  EXPECT_EQ(stats.largestRequest, 300u);
  EXPECT_EQ(none, nullptr);
  checkedFree(a);
  checkedFree(b);
  resetAllocationStats();
  EXPECT_EQ(allocationStats().requests, 0u);
}

TEST(CheckedAllocation, CallocZeroFills) {
  auto* block = static_cast<unsigned char*>(checkedCalloc(8, 8));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_TRUE(checkedFree(block));
}

using CheckedAllocationDeathTest = ::testing::Test;

TEST_F(CheckedAllocationDeathTest, ExhaustionPrintsTheFixedMessageAndAborts) {
  EXPECT_DEATH(allocationFailed(), "^Bad allocation, aborting\n$");
}

TEST_F(CheckedAllocationDeathTest, ImpossibleRequestsAreFatal) {
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_DEATH(
      {
        void* p = checkedCalloc(huge, 4);
        checkedFree(p);
      },
      "Bad allocation, aborting");
}

}  // namespace
}  // namespace cdt
