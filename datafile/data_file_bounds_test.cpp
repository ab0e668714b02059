// A damaged header or record header must never make the reader allocate what
// the file does not hold. The global allocation functions are replaced here,
// and the checked allocator's statistics read, to watch the largest single
// request made while a file is opened or read.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "datafile/data_file.h"
#include "foundation/allocation.h"
#include "foundation/byte_order.h"
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

// The largest single request made while `run` ran, through operator new or
// through the checked allocator that holds the library's own blocks.
template <class Run>
std::size_t largestRequestDuring(Run run) {
  largestRequest = 0;
  resetAllocationStats();
  run();
  return std::max<std::size_t>(largestRequest.load(), allocationStats().largestRequest);
}

// A header of a file with a 6-byte configuration, records from 64 on and
// `records` bytes of them.
std::string goodFile(const std::string& records = "") {
  std::string bytes(kFileHeaderSize, '\0');
  storeU32(bytes.data() + kHeaderMagic1, kMagic1);
  storeU32(bytes.data() + kHeaderMagic2, kMagic2);
  storeU64(bytes.data() + kHeaderConfigLength, 6);
  storeU64(bytes.data() + kHeaderDataOffset, 64);
  storeU64(bytes.data() + kHeaderIndexOffset, 64 + records.size());
  storeU64(bytes.data() + kHeaderIndexEnd, 64 + records.size());
  bytes += "config";
  bytes.resize(64, '\0');
  return bytes + records;
}

TEST(DataFileBounds, DamagedSizesFailTheOpenWithoutLargeAllocations) {
  testing::TempDir dir;
  const std::string path = dir.file("f.cdt");
  struct Case {
    uint32_t field;
    uint64_t value;
  };
  for (const Case& c : {Case{kHeaderConfigLength, 0xFFFFFFF8}, Case{kHeaderIndexOffset, 80},
                        Case{kHeaderIndexEnd, uint64_t{1} << 40}}) {
    std::string bytes = goodFile();
    storeU64(bytes.data() + c.field, c.value);
    testing::writeFile(path, bytes);
    EXPECT_LT(largestRequestDuring([&] { EXPECT_EQ(openDataFile(path.c_str()), nullptr); }),
              std::size_t{1} << 20)
        << c.field;
  }
  testing::writeFile(path, goodFile());
  EXPECT_NE(openDataFile(path.c_str()), nullptr);
}

TEST(DataFileBounds, RecordSizesBeyondTheRecordsAreNeverAllocated) {
  testing::TempDir dir;
  const std::string path = dir.file("f.cdt");
  for (uint32_t size : {0xFFFFFFFCu, 0x10000000u, 72u}) {
    std::string record(64, 'r');
    storeU32(record.data() + kRecordSize, size);
    storeU16(record.data() + kRecordType, kRecordTypeEntries);
    testing::writeFile(path, goodFile(record));
    std::unique_ptr<DataFile> file = openDataFile(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_LT(largestRequestDuring([&] { EXPECT_FALSE(readNextRecord(*file)); }), 64u) << size;
    EXPECT_EQ(file->lastReadStatus().status, DataFileStatus::CutRecord);
  }
}

TEST(DataFileBounds, TheConfigurationBlockComesFromTheCheckedAllocator) {
  // So that a block too large for memory ends in the allocation message, as
  // records and the index do, and memory-bound tests see it.
  testing::TempDir dir;
  const std::string path = dir.file("f.cdt");
  const std::string text(100000, '\n');
  std::string bytes = goodFile();
  storeU64(bytes.data() + kHeaderConfigLength, text.size());
  const uint64_t dataOffset = dataOffsetFor(text.size());
  storeU64(bytes.data() + kHeaderDataOffset, dataOffset);
  storeU64(bytes.data() + kHeaderIndexOffset, dataOffset);
  storeU64(bytes.data() + kHeaderIndexEnd, dataOffset);
  bytes.resize(kFileHeaderSize);
  bytes += text;
  bytes.resize(dataOffset, '\0');
  testing::writeFile(path, bytes);
  resetAllocationStats();
  EXPECT_NE(openDataFile(path.c_str()), nullptr);
  EXPECT_GE(allocationStats().largestRequest, text.size());
}

}  // namespace
}  // namespace cdt
