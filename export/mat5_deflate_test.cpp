// Streams of many chunks, deflated on several threads, inflate to the bytes
// as one zlib stream (small MAT-files hold one chunk per variable and never
// join any).
#if __has_include(<zlib.h>)
#include "export/mat5_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <vector>

namespace cdt {
namespace {

TEST(Mat5Deflate, ChunksJoinIntoOneStream) {
  // Floats that compress some, 3.5 chunks after a prefix left out.
  const std::size_t prefix = 100;
  std::vector<unsigned char> bytes(prefix + (7u << 19));
  uint32_t x = 1;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<unsigned char>(i % 4 == 3 ? 0x41 : (x >> 24) & 0x0F);
  }
  for (const uint64_t length : {uint64_t{0}, uint64_t{1000}, uint64_t{bytes.size() - prefix}}) {
    for (const unsigned threads : {1u, 3u}) {
      std::FILE* from = std::tmpfile();
      std::FILE* to = std::tmpfile();
      ASSERT_TRUE(from != nullptr && to != nullptr);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), from), bytes.size());
      ASSERT_EQ(std::fwrite("tag", 1, 3, to), 3u);  // written after what stands there
      const DeflateOutcome d = deflateRange({from, prefix, length, to, 6, threads});
      ASSERT_TRUE(d.ok) << d.error;
      std::vector<unsigned char> stream(d.written);
      std::fseek(to, 3, SEEK_SET);
      ASSERT_EQ(std::fread(stream.data(), 1, stream.size(), to), stream.size());
      std::vector<unsigned char> back(length + 1);
      uLongf backLength = static_cast<uLongf>(back.size());
      EXPECT_EQ(uncompress(back.data(), &backLength, stream.data(), static_cast<uLong>(d.written)),
                Z_OK)
          << length << " bytes, " << threads << " threads";
      back.resize(backLength);
      EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin() + prefix) &&
                  back.size() == length);
      if (length > 1000) {
        EXPECT_LT(d.written, length / 2);
      }
      std::fclose(from);
      std::fclose(to);
    }
  }
}

}  // namespace
}  // namespace cdt
#endif
