#include "datafile/aggregation.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "datafile/record_constructors.h"

namespace cdt {
namespace {

constexpr uint32_t kSynced = 0x20;

// A one-revolution blade record; blade b has dns `dns[b]` and toa 10 x dns.
RecordRef single(uint64_t revolution, std::vector<float> dns, uint32_t sync = kSynced) {
  RecordRef r = newBladeRecord(1, static_cast<uint16_t>(dns.size()));
  r->setTime(revolution * 100);
  setBladeSync(*r, sync);
  setBladeStartRevolution(*r, revolution);
  setBladeRms(*r, dns.empty() ? 0.0f : dns[0]);
  setBladeLatestWord1(*r, static_cast<uint32_t>(revolution));
  for (uint32_t b = 0; b < dns.size(); ++b) {
    storeF32(bladeEntry(*r, b) + kBladeDns, dns[b]);
    storeF32(bladeEntry(*r, b) + kBladeToa, 10 * dns[b]);
  }
  return r;
}

// A revolution-range record of one blade: dns mean, minimum, maximum.
RecordRef range(uint64_t start, uint64_t end, float mean, float low, float high,
                uint32_t sync = kSynced) {
  RecordRef r = single(start, {mean}, sync);
  toRevolutionRange(r);
  setBladeEndRevolution(*r, end);
  storeF32(bladeEntry(*r, 0) + kBladeDnsMin, low);
  storeF32(bladeEntry(*r, 0) + kBladeDnsMax, high);
  setBladeRms(*r, mean);
  setBladeRmsMin(*r, low);
  setBladeRmsMax(*r, high);
  return r;
}

float field(const RecordRef& r, uint32_t offset) {
  return loadF32(bladeEntry(*r, 0) + offset);
}

// A plain profile over revolutions start..end whose point k is (value,
// value + up(k), value - down(k)).
RecordRef profile(uint64_t start, uint64_t end, int16_t value, int up = 0, int down = 0,
                  uint32_t sync = kSynced) {
  RecordRef r = newProfileRecord(2);
  setProfileSync(*r, sync);
  setProfileStartRevolution(*r, start);
  setProfileEndRevolution(*r, end);
  for (std::size_t k = 0; k < kProfilePointCount; ++k) {
    unsigned char* p = profilePoints(*r) + k * kPlainPointSize;
    storeI16(p + kPlainPointValue, value);
    storeI16(p + kPlainPointMaximum, static_cast<int16_t>(value + (k % 2 ? up : 0)));
    storeI16(p + kPlainPointMinimum, static_cast<int16_t>(value - (k % 3 ? down : 0)));
  }
  return r;
}

int16_t point(const RecordRef& r, uint32_t k, uint32_t offset) {
  return loadI16(profilePoints(*r) + std::size_t{k} * kPlainPointSize + offset);
}

TEST(RecordConstructors, GiveRecordsOfTheirLayoutsSize) {
  EXPECT_TRUE(hasFixedLayout(*newType0Record(7)));
  EXPECT_TRUE(hasEntriesLayout(*newType1Record(7, 3)));
  EXPECT_FALSE(newType1Record(7, 0x8000000));  // 32 + 32 n does not fit in 32 bits
  RecordRef plain = newProfileRecord(7);
  EXPECT_TRUE(hasProfileLayout(*plain) && !isPackedProfile(*plain));
  EXPECT_EQ(newBladeRecord(7, 60)->size(), 576u);
  RecordRef ranged = newBladeRangeRecord(7, 60);
  EXPECT_EQ(ranged->size(), 1552u);
  EXPECT_TRUE(isRevolutionRange(*ranged));
  EXPECT_EQ(ranged->hostIndex(), 7);
  EXPECT_EQ(bladeCount(*ranged), 60);
}

TEST(AccumulateBlades, ThreeRevolutionsBecomeOneRange) {
  RecordRef acc;
  accumulateRecord(acc, nullptr);
  EXPECT_FALSE(acc);
  RecordRef first = single(10, {1.0f, 4.0f});
  for (const RecordRef& r : {first, single(11, {2.0f, 4.0f}), single(12, {3.0f, 4.0f})}) {
    accumulateRecord(acc, r.get());
  }
  ASSERT_TRUE(isRevolutionRange(*acc));
  EXPECT_EQ(bladeStartRevolution(*acc), 10u);
  EXPECT_EQ(bladeEndRevolution(*acc), 12u);
  EXPECT_EQ(acc->time(), 1000u);
  EXPECT_EQ(bladeLatestWord1(*acc), 12u);
  EXPECT_EQ(field(acc, kBladeDns), 2.0f);
  EXPECT_EQ(field(acc, kBladeDnsMin), 1.0f);
  EXPECT_EQ(field(acc, kBladeDnsMax), 3.0f);
  EXPECT_EQ(field(acc, kBladeToaMax), 30.0f);
  EXPECT_EQ(loadF32(bladeEntry(*acc, 1) + kBladeDnsMin), 4.0f);
  EXPECT_EQ(bladeRmsMax(*acc), 3.0f);
  // The first record, still held here, was converted, not changed.
  EXPECT_FALSE(isRevolutionRange(*first));
}

TEST(AccumulateBlades, SyncBitsFiveUpReplaceLowerBitsMerge) {
  RecordRef acc;
  accumulateRecord(acc, single(1, {1.0f}, 0x21).get());
  RecordRef lowBits = single(2, {3.0f}, 0x3F);
  accumulateRecord(acc, lowBits.get());
  EXPECT_EQ(bladeEndRevolution(*acc), 2u);
  EXPECT_EQ(bladeSync(*acc), 0x21u);  // the accumulator's sync stays
  RecordRef bit5 = single(3, {5.0f}, 0x01);
  accumulateRecord(acc, bit5.get());
  EXPECT_EQ(acc, bit5);
  // Unsynchronised: the times of arrival are not merged.
  RecordRef unsynced = single(1, {1.0f}, 0);
  accumulateRecord(unsynced, single(2, {3.0f}, 0).get());
  EXPECT_EQ(field(unsynced, kBladeDns), 2.0f);
  EXPECT_EQ(field(unsynced, kBladeToa), 10.0f);
  EXPECT_EQ(field(unsynced, kBladeToaMax), 10.0f);
}

TEST(AccumulateBlades, RangeIntoRangeWeighsRevolutions) {
  RecordRef acc = range(10, 12, 1.0f, 0.5f, 2.0f);  // weight 3
  RecordRef in = range(13, 14, 6.0f, 5.0f, 9.0f);   // weight 2
  std::memcpy(bladeFlags(*acc), "\1\0\1\0\1\0\1\1", 8);
  std::memcpy(bladeFlags(*in), "\0\2\0\2\0\2\3\0", 8);
  accumulateRecord(acc, in.get());
  EXPECT_EQ(bladeEndRevolution(*acc), 14u);
  EXPECT_EQ(field(acc, kBladeDns), 3.0f);  // (3 x 1 + 2 x 6) / 5
  EXPECT_EQ(field(acc, kBladeDnsMin), 0.5f);
  EXPECT_EQ(field(acc, kBladeDnsMax), 9.0f);
  EXPECT_EQ(bladeRms(*acc), 3.0f);
  EXPECT_EQ(bladeRmsMin(*acc), 0.5f);
  EXPECT_EQ(bladeRmsMax(*acc), 9.0f);
  // Flags 0 to 5 follow the newest record, 6 and 7 hold only if set in both.
  EXPECT_EQ(std::memcmp(bladeFlags(*acc), "\0\2\0\2\0\2\1\0", 8), 0);
  // A single revolution after a range of 5 counts once.
  accumulateRecord(acc, single(15, {9.0f}).get());
  EXPECT_EQ(field(acc, kBladeDns), 4.0f);  // (5 x 3 + 9) / 6
  EXPECT_EQ(bladeEndRevolution(*acc), 15u);
}

TEST(AccumulateBlades, SampleStatisticsWeighMeansAndWrapLikeThirtyTwoBits) {
  using Stats = std::vector<int16_t>;  // the 13 values, then the weight
  auto withStats = [](Stats values) {
    RecordRef r = range(1, 1, 0, 0, 0);
    for (std::size_t k = 0; k < 14; ++k) storeI16(sampleStatistics(*r) + 2 * k, values[k]);
    return r;
  };
  auto stats = [](const RecordRef& r) {
    Stats values(14);
    for (std::size_t k = 0; k < 14; ++k) values[k] = loadI16(sampleStatistics(*r) + 2 * k);
    return values;
  };
  const Stats before{10, 0, 20, 0, 20, -7, 0, 0, 0, 0, 100, 50, 150, 3};
  RecordRef acc = withStats(before);
  accumulateRecord(acc, withStats({-20, -5, 10, 1, 30, 0, 0, 0, 0, 0, 101, 60, 140, 0}).get());
  EXPECT_EQ(stats(acc), before);  // an incoming weight of 0 changes nothing
  accumulateRecord(acc, withStats({-20, -5, 10, 1, 30, 0, 0, 0, 0, 0, 101, 60, 140, 1}).get());
  // Means (1 x in + 3 x acc) / 4 truncated toward zero: 2.5 and -5.25.
  EXPECT_EQ(stats(acc), (Stats{2, -5, 20, 0, 30, -5, 0, 0, 0, 0, 100, 50, 150, 4}));
  // 65535 x -32768 twice overflows 32 bits: the sum wraps to 65536, over
  // 131070 gives 0, and the weight keeps its low 16 bits.
  const Stats extreme{-32768, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1};
  RecordRef big = withStats(extreme);
  accumulateRecord(big, withStats(extreme).get());
  EXPECT_EQ(stats(big), (Stats{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -2}));
}

TEST(AccumulateBlades, MergesNeverChangeAnotherHoldersRecord) {
  RecordRef acc = range(1, 2, 1.0f, 1.0f, 1.0f);
  DataRecord* alone = acc.get();
  makeRecordPrivate(acc);
  EXPECT_EQ(acc.get(), alone);  // sole holder: no copy
  RecordRef other = acc;
  makeRecordPrivate(acc);
  ASSERT_NE(acc, other);
  EXPECT_EQ(acc->size(), other->size());
  EXPECT_EQ(std::memcmp(acc->fileBytes(), other->fileBytes(), acc->fileSize()), 0);
  EXPECT_EQ(other->referenceCount(), 0);
  RecordRef shared = acc;
  accumulateRecord(acc, single(3, {4.0f}).get());
  EXPECT_EQ(field(shared, kBladeDns), 1.0f);
  EXPECT_EQ(field(acc, kBladeDns), 2.0f);
  // A record merged into itself is copied first and stays alive.
  RecordRef self = single(5, {2.0f});
  accumulateRecord(self, self.get());
  EXPECT_EQ(bladeEndRevolution(*self), 5u);
  EXPECT_EQ(field(self, kBladeDns), 2.0f);
}

TEST(AccumulateBlades, MismatchedOrDamagedLayoutsReplaceInsteadOfMerging) {
  RecordRef acc = single(1, {1.0f, 2.0f});
  RecordRef three = single(2, {1.0f, 2.0f, 3.0f});
  accumulateRecord(acc, three.get());
  EXPECT_EQ(acc, three);
  // Damaged records: 3 blades claimed in a record sized for 2, and a
  // one-revolution record marked as a range; as incoming and as accumulator.
  RecordRef shortOne = single(3, {1.0f, 2.0f});
  setBladeCount(*shortOne, 3);
  RecordRef relabelled = single(4, {1.0f, 2.0f, 3.0f});
  setBladeAggregated(*relabelled, 1);
  for (const RecordRef* damaged : {&shortOne, &relabelled}) {
    accumulateRecord(acc, damaged->get());
    EXPECT_EQ(acc, *damaged);
    RecordRef next = single(5, {1.0f, 2.0f, 3.0f});
    accumulateRecord(acc, next.get());
    EXPECT_EQ(acc, next);
  }
  toRevolutionRange(shortOne);
  EXPECT_FALSE(isRevolutionRange(*shortOne));
  RecordRef zeroWeight = range(5, 4, 1.0f, 1.0f, 1.0f);  // end = start - 1
  RecordRef alsoZero = range(9, 8, 1.0f, 1.0f, 1.0f);
  accumulateRecord(zeroWeight, alsoZero.get());
  EXPECT_EQ(zeroWeight, alsoZero);
  // Other types never merge.
  for (const RecordRef& other : {newType1Record(1, 2), newType1Record(1, 2), profile(1, 1, 0)}) {
    accumulateRecord(acc, other.get());
    EXPECT_EQ(acc, other);
  }
}

TEST(AccumulateProfiles, MergeWeighsValuesAndWidensBounds) {
  RecordRef acc = profile(1, 1, -10, 5, 5);  // weight 1
  setProfileSummedCount(*acc, 4);
  setProfileSpeed(*acc, 100.0f);
  RecordRef in = profile(2, 4, 3, 2, 9);  // weight 3
  setProfileSummedCount(*in, 6);
  setProfileSpeed(*in, 200.0f);
  setProfileLatestWord2(*in, 77);
  RecordRef shared = acc;
  accumulateRecord(acc, in.get());
  EXPECT_NE(acc, shared);
  EXPECT_EQ(point(acc, 1, kPlainPointValue), 0);  // (3 x 3 + 1 x -10) / 4 = -0.25
  EXPECT_EQ(point(acc, 1, kPlainPointMaximum), 5);
  EXPECT_EQ(point(acc, 1, kPlainPointMinimum), -15);
  EXPECT_EQ(point(acc, 3, kPlainPointMinimum), -10);
  EXPECT_EQ(profileSpeed(*acc), 175.0f);
  EXPECT_EQ(profileSummedCount(*acc), 10u);
  EXPECT_EQ(profileStartRevolution(*acc), 1u);
  EXPECT_EQ(profileEndRevolution(*acc), 4u);
  EXPECT_EQ(profileLatestWord2(*acc), 77u);
  EXPECT_EQ(point(shared, 1, kPlainPointValue), -10);  // the other holder's record is unchanged

  RecordRef lowBits = profile(5, 5, 0, 0, 0, kSynced | 0x1F);
  accumulateRecord(acc, lowBits.get());
  EXPECT_EQ(profileEndRevolution(*acc), 5u);
  for (uint32_t sync : {0u, kSynced | 0x40}) {  // sync 0, or bit 6 differs
    RecordRef other = profile(6, 6, 0, 0, 0, sync);
    accumulateRecord(acc, other.get());
    EXPECT_EQ(acc, other);
  }
}

TEST(AccumulateProfiles, PackedProfilesAreNotMerged) {
  RecordRef plain = profile(1, 1, 0);
  RecordRef packed = packProfile(plain.get());
  RecordRef acc = plain;
  accumulateRecord(acc, packed.get());
  EXPECT_EQ(acc, packed);
  RecordRef packedToo = packProfile(profile(2, 2, 0).get());
  accumulateRecord(acc, packedToo.get());
  EXPECT_EQ(acc, packedToo);
  accumulateRecord(acc, plain.get());
  EXPECT_EQ(acc, plain);
}

TEST(ProfilePacking, ShiftFitsTheLargestDeviationInEightBits) {
  struct Case {
    int deviation;
    int16_t shift;
    uint8_t stored;
  };
  for (const Case& c : {Case{255, 0, 255}, Case{256, 1, 128}, Case{300, 1, 150}}) {
    RecordRef packed = packProfile(profile(1, 1, -100, 0, c.deviation).get());
    ASSERT_EQ(packed->size(), kPackedProfileSize);
    EXPECT_EQ(profileCompressionShift(*packed), c.shift);
    EXPECT_EQ(loadU8(profilePoints(*packed) + kPackedPointSize + kPackedPointDown), c.stored);
    EXPECT_EQ(packProfile(packed.get()), packed);
  }
}

TEST(ProfilePacking, RoundTripIsExactForMultiplesOfTheShift) {
  RecordRef plain = profile(3, 9, 1234, 4 * 200, 4 * 3);
  plain->setTime(42);
  setProfileSummedCount(*plain, 17);
  RecordRef packed = packProfile(plain.get());
  EXPECT_EQ(profileCompressionShift(*packed), 2);
  RecordRef back = expandProfile(packed.get());
  EXPECT_EQ(std::memcmp(back->fileBytes(), plain->fileBytes(), plain->fileSize()), 0);
  EXPECT_EQ(expandProfile(back.get()), back);
  EXPECT_FALSE(packProfile(nullptr));
}

TEST(ProfilePacking, ExpandDecodesInSixteenBits) {
  RecordRef packed = packProfile(profile(1, 1, 0).get());
  unsigned char* p = profilePoints(*packed);
  storeI16(p + kPackedPointValue, 100);
  storeU8(p + kPackedPointDown, 3);
  storeU8(p + kPackedPointUp, 5);
  setProfileCompressionShift(*packed, 2);
  RecordRef plain = expandProfile(packed.get());
  EXPECT_EQ(point(plain, 0, kPlainPointMaximum), 120);
  EXPECT_EQ(point(plain, 0, kPlainPointMinimum), 88);
  // A damaged shift from a file: the steps vanish in 16 bits.
  setProfileCompressionShift(*packed, 300);
  plain = expandProfile(packed.get());
  EXPECT_EQ(point(plain, 0, kPlainPointMaximum), 100);
  EXPECT_EQ(point(plain, 0, kPlainPointMinimum), 100);
}

}  // namespace
}  // namespace cdt
