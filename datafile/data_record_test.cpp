#include "datafile/data_record.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "datafile/format.h"
#include "foundation/byte_order.h"

namespace cdt {
namespace {

TEST(ByteOrder, LoadsAndStoresLittleEndianAtAnyPosition) {
  unsigned char bytes[16] = {0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  EXPECT_EQ(loadU16(bytes + 1), 0x0201);
  EXPECT_EQ(loadU32(bytes + 1), 0x04030201u);
  EXPECT_EQ(loadU64(bytes + 1), 0x0807060504030201u);
  EXPECT_EQ(loadI16(bytes), static_cast<int16_t>(0x01FF));

  storeI64(bytes + 3, -2);
  EXPECT_EQ(bytes[3], 0xFE);
  EXPECT_EQ(bytes[10], 0xFF);
  EXPECT_EQ(loadI64(bytes + 3), -2);
  storeF32(bytes + 5, 1.0f);  // 0x3F800000
  EXPECT_EQ(loadU32(bytes + 5), 0x3F800000u);
  EXPECT_EQ(bytes[8], 0x3F);
  EXPECT_EQ(loadF32(bytes + 5), 1.0f);
}

TEST(DataRecord, NewRecordHasOneHolderItsSizeAndAClearedReservedWord) {
  RecordRef record = newRecord(576);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->size(), 576u);
  EXPECT_EQ(record->fileSize(), 572u);
  EXPECT_EQ(record->bodySize(), 552u);
  EXPECT_EQ(record->referenceCount(), 0);
  EXPECT_EQ(loadU32(record->fileBytes() + kRecordReserved), 0u);
  EXPECT_EQ(record->body(), record->bytes() + 24);
  EXPECT_FALSE(hasCompletionCallback(*record));

  EXPECT_FALSE(newRecord(kMinRecordSize - 1));
  EXPECT_TRUE(newRecord(kMinRecordSize));
}

TEST(DataRecord, HeaderFieldsSitAtTheFileOffsets) {
  RecordRef record = newRecord(96);
  record->setType(3);
  record->setHostIndex(0x0102);
  record->setTime(0x1122334455667788);
  const unsigned char* file = record->fileBytes();
  const unsigned char expected[20] = {96, 0, 0,    0,    3,    0,    0x02, 0x01, 0,    0,
                                      0,  0, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(std::memcmp(file, expected, sizeof expected), 0);
  EXPECT_EQ(record->type(), 3);
  EXPECT_EQ(record->hostIndex(), 0x0102);
  EXPECT_EQ(record->time(), 0x1122334455667788u);
}

// Counts the calls of a completion callback and keeps the last value.
struct Completion {
  int calls = 0;
  uint32_t value = 0;
  static void run(uint32_t value, void* context) {
    auto* self = static_cast<Completion*>(context);
    ++self->calls;
    self->value = value;
  }
};

RecordRef fixedRecord(uint32_t completion) {
  RecordRef record = newRecord(kFixedRecordSize);
  record->setType(kRecordTypeFixed);
  setCompletionValue(*record, completion);
  return record;
}

TEST(DataRecord, LastReleaseFreesAndRunsTheCompletionOnce) {
  Completion completion;
  RecordRef first = fixedRecord(4711);
  // The reserved tail of the body is not where the callback lives.
  std::memset(first->body() + kFixedReserved, 0xAB, 8);
  setCompletionCallback(*first, &Completion::run, &completion);
  EXPECT_TRUE(hasCompletionCallback(*first));

  RecordRef second = first;
  RecordRef third = RecordRef::share(first.get());
  EXPECT_EQ(first->referenceCount(), 2);
  first.reset();
  second = RecordRef();
  EXPECT_EQ(third->referenceCount(), 0);
  EXPECT_EQ(completion.calls, 0);
  third.reset();
  EXPECT_EQ(completion.calls, 1);
  EXPECT_EQ(completion.value, 4711u);
}

TEST(DataRecord, CompletionRunsOnlyForATypeZeroRecordOfTheTypeZeroSize) {
  Completion completion;
  {
    RecordRef retyped = fixedRecord(1);
    setCompletionCallback(*retyped, &Completion::run, &completion);
    retyped->setType(kRecordTypeEntries);
    RecordRef small = newRecord(64);
    small->setType(kRecordTypeFixed);
    setCompletionCallback(*small, &Completion::run, &completion);
    RecordRef plain = fixedRecord(2);  // no callback attached
  }
  EXPECT_EQ(completion.calls, 0);
}

TEST(DataRecord, HandlesMoveAndSelfAssignWithoutChangingTheCount) {
  RecordRef a = newRecord(32);
  DataRecord* raw = a.get();
  RecordRef b = std::move(a);
  EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): a moved-from handle is empty
  EXPECT_EQ(b.get(), raw);
  const RecordRef& alias = b;
  b = alias;
  EXPECT_EQ(b->referenceCount(), 0);
  DataRecord* detached = b.detach();
  EXPECT_EQ(detached, raw);
  releaseRecord(detached);
  releaseRecord(nullptr);
  acquireRecord(nullptr);
}

TEST(DataRecord, ConcurrentHoldersLeaveTheCountBalanced) {
  Completion completion;
  RecordRef record = fixedRecord(9);
  setCompletionCallback(*record, &Completion::run, &completion);
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&record] {
      // The copies are the holders being counted.
      for (int i = 0; i < 20000; ++i) {
        RecordRef copy = record;  // NOLINT(performance-unnecessary-copy-initialization)
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(record->referenceCount(), 0);
  record.reset();
  EXPECT_EQ(completion.calls, 1);
}

TEST(DataRecord, BladeLayoutAccessorsAndChecks) {
  // One revolution with 60 blades: 96 + 8 x 60 bytes.
  RecordRef record = newRecord(kBladesRevolutionSize + 60 * kBladesRevolutionEntrySize);
  EXPECT_EQ(record->size(), 576u);
  EXPECT_EQ(record->fileSize(), 572u);
  record->setType(kRecordTypeBlades);
  setBladeAggregated(*record, 0);
  setBladeChannel(*record, 2);
  setBladeCount(*record, 60);
  setBladeSpeed(*record, 3000.0f);
  setBladeStartRevolution(*record, 1200);
  storeF32(bladeEntry(*record, 59) + kBladeToa, 0.75f);
  EXPECT_TRUE(hasBladeLayout(*record));
  EXPECT_EQ(bladeEntryCapacity(*record), 60u);
  EXPECT_EQ(bladeChannel(*record), 2);
  EXPECT_EQ(loadF32(record->body() + 8), 3000.0f);
  EXPECT_EQ(loadU64(record->body() + 64), 1200u);
  EXPECT_EQ(bladeToa(*record, 59), 0.75f);
  EXPECT_EQ(bladeEntry(*record, 59) + 8, record->bytes() + record->size());

  // The same bytes read as a range hold fewer, larger entries.
  setBladeAggregated(*record, 1);
  EXPECT_EQ(bladeEntryCapacity(*record), (576u - 112u) / 24u);

  RecordRef shortRecord = newRecord(kBladesRevolutionSize - 4);
  shortRecord->setType(kRecordTypeBlades);
  EXPECT_FALSE(hasBladeLayout(*shortRecord));
  EXPECT_EQ(bladeEntryCapacity(*shortRecord), 0u);
  RecordRef empty = newRecord(kMinRecordSize);
  empty->setType(kRecordTypeBlades);
  EXPECT_FALSE(hasBladeLayout(*empty));
}

TEST(DataRecord, ProfileEntriesAndFixedLayoutChecks) {
  RecordRef plain = newRecord(kPlainProfileSize);
  plain->setType(kRecordTypeProfile);
  setProfileCompressionShift(*plain, kProfilePlainShift);
  EXPECT_TRUE(hasProfileLayout(*plain));
  setProfileCompressionShift(*plain, 2);  // packed points need the packed size
  EXPECT_FALSE(hasProfileLayout(*plain));
  RecordRef packed = newRecord(kPackedProfileSize);
  packed->setType(kRecordTypeProfile);
  setProfileCompressionShift(*packed, 2);
  setProfileSummedCount(*packed, 7);
  EXPECT_TRUE(hasProfileLayout(*packed));
  EXPECT_EQ(loadU64(packed->body() + 48), 7u);
  EXPECT_EQ(profilePoints(*packed) + std::size_t{kProfilePointCount} * kPackedPointSize,
            packed->bytes() + packed->size());

  RecordRef entries = newRecord(kEntriesBaseSize + 2 * kEntrySize);
  entries->setType(kRecordTypeEntries);
  setEntryCount(*entries, 2);
  EXPECT_TRUE(hasEntriesLayout(*entries));
  setEntryCount(*entries, 3);
  EXPECT_FALSE(hasEntriesLayout(*entries));

  EXPECT_TRUE(hasFixedLayout(*fixedRecord(0)));
  EXPECT_EQ(kFixedReserved + 8 + kMinRecordSize, kFixedRecordSize);
}

}  // namespace
}  // namespace cdt
