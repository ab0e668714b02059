// A damaged header must never make the open allocate what the file does not
// hold. The global allocation functions are replaced here to watch the
// largest single request made during an open.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "datafile/byte_order.h"
#include "datafile/data_file.h"
#include "test/support.h"

namespace {

std::atomic<std::size_t> largestRequest{0};

void* allocate(std::size_t size) {
  std::size_t seen = largestRequest.load();
  while (size > seen && !largestRequest.compare_exchange_weak(seen, size)) {
  }
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}

namespace cdt {
namespace {

TEST(DataFileBounds, DamagedSizesFailTheOpenWithoutLargeAllocations) {
  testing::TempDir dir;
  const std::string path = dir.file("f.cdt");
  std::string good(kFileHeaderSize, '\0');
  storeU32(good.data() + kHeaderMagic1, kMagic1);
  storeU32(good.data() + kHeaderMagic2, kMagic2);
  storeU64(good.data() + kHeaderConfigLength, 6);
  storeU64(good.data() + kHeaderDataOffset, 64);
  storeU64(good.data() + kHeaderIndexOffset, 64);
  storeU64(good.data() + kHeaderIndexEnd, 64);
  good += "config";
  good.resize(64, '\0');

  struct Case {
    uint32_t field;
    uint64_t value;
  };
  for (const Case& c : {Case{kHeaderConfigLength, 0xFFFFFFF8}, Case{kHeaderIndexOffset, 80},
                        Case{kHeaderIndexEnd, uint64_t{1} << 40}}) {
    std::string bytes = good;
    storeU64(bytes.data() + c.field, c.value);
    testing::writeFile(path, bytes);
    largestRequest = 0;
    EXPECT_EQ(openDataFile(path.c_str()), nullptr) << c.field;
    EXPECT_LT(largestRequest.load(), std::size_t{1} << 20) << c.field;
  }
  testing::writeFile(path, good);
  EXPECT_NE(openDataFile(path.c_str()), nullptr);
}

}  // namespace
}  // namespace cdt
