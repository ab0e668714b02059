#include "foundation/byte_order.h"

#include <gtest/gtest.h>

namespace cdt {
namespace {

// The same bytes read in both orders, at an odd position, and written back.
TEST(ByteOrder, LoadsAndStoresEachOrderAtAnyPosition) {
  const unsigned char bytes[] = {0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  const unsigned char* at = bytes + 1;
  EXPECT_EQ(loadU16(at), 0x0201u);
  EXPECT_EQ(loadU32(at), 0x04030201u);
  EXPECT_EQ(loadU64(at), 0x8807060504030201u);
  EXPECT_EQ(loadI16(bytes + 7), int16_t{-30713});  // 0x8807
  EXPECT_EQ(loadU16BE(at), 0x0102u);
  EXPECT_EQ(loadU16BE(bytes + 7), 0x0788u);

  unsigned char out[9] = {};
  storeU16BE(out + 1, 0xABCD);
  storeU16(out + 3, 0xABCD);
  storeU32(out + 5, 0x01020304);
  const unsigned char expected[] = {0x00, 0xAB, 0xCD, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(out[i], expected[i]) << i;
  EXPECT_EQ(loadU16BE(out + 1), 0xABCDu);
  storeF32(out, -1.5f);
  EXPECT_EQ(loadF32(out), -1.5f);
}

}  // namespace
}  // namespace cdt
