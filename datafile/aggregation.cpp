#include "datafile/aggregation.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "datafile/record_constructors.h"

namespace cdt {

namespace {

// The sample statistics block: 13 i16 values in three groups (a mean, then
// minimum/maximum pairs), then the u16 weight of the means.
constexpr std::size_t kSampleMeans[] = {0, 5, 10};
constexpr std::size_t kSampleMinimums[] = {1, 3, 6, 8, 11};
constexpr std::size_t kSampleMaximums[] = {2, 4, 7, 9, 12};
constexpr uint32_t kSampleWeight = 2 * kSampleStatisticsValues;  // byte offset of the u16 weight

// Flags below this index follow the newest record; the others hold only while
// they hold in every merged record.
constexpr uint32_t kNewestFlags = 6;

// Syncs of records that may be merged differ at most in bits 0 to 4.
bool syncsAgree(uint32_t a, uint32_t b) {
  return ((a ^ b) >> 5) == 0;
}

// The value that signed 32-bit arithmetic would leave for `exact`: the low 32
// bits, read as two's complement. Working in 64 bits and wrapping afterwards
// gives the same bits without undefined overflow.
int32_t wrap32(int64_t exact) {
  return static_cast<int32_t>(static_cast<uint32_t>(exact));
}

// (wI * i + wA * a) / (wI + wA) in signed 32-bit arithmetic, truncated toward
// zero, stored in 16 bits. The divisor must not wrap to 0. The quotient is
// taken in 64 bits so that INT32_MIN / -1 does not trap.
int16_t weightedMean16(int64_t wI, int16_t i, int64_t wA, int16_t a) {
  const int32_t numerator = wrap32(wI * i + wA * a);
  const int32_t divisor = wrap32(wI + wA);
  return static_cast<int16_t>(int64_t{numerator} / divisor);
}

uint32_t revolutionWeight(uint64_t start, uint64_t end) {
  return static_cast<uint32_t>(end) - static_cast<uint32_t>(start) + 1u;
}

float smaller(float a, float b) {
  return b < a ? b : a;
}
float larger(float a, float b) {
  return b > a ? b : a;
}

// --- Blade records -------------------------------------------------------------

// The record holds exactly the blade entries its bladeCount claims.
bool hasExactBladeLayout(const DataRecord& record) {
  if (!hasBladeLayout(record)) return false;
  const uint16_t n = bladeCount(record);
  const uint32_t expected =
      isRevolutionRange(record) ? bladeRangeRecordSize(n) : bladeRevolutionRecordSize(n);
  return record.size() == expected;
}

uint32_t bladeWeight(const DataRecord& record) {
  if (!isRevolutionRange(record)) return 1;
  return revolutionWeight(bladeStartRevolution(record), bladeEndRevolution(record));
}

bool canMergeBlades(const DataRecord& a, const DataRecord& in) {
  if (!hasExactBladeLayout(a) || !hasExactBladeLayout(in)) return false;
  if (bladeCount(a) != bladeCount(in) || !syncsAgree(bladeSync(a), bladeSync(in))) return false;
  // A one-revolution accumulator becomes a range of weight 1 before the merge.
  return uint64_t{bladeWeight(a)} + bladeWeight(in) != 0;
}

void mergeSampleStatistics(unsigned char* a, const unsigned char* in) {
  const uint16_t weightIn = loadU16(in + kSampleWeight);
  if (weightIn == 0) return;
  const uint16_t weightA = loadU16(a + kSampleWeight);
  for (std::size_t k : kSampleMeans) {
    storeI16(a + 2 * k, weightedMean16(weightIn, loadI16(in + 2 * k), weightA, loadI16(a + 2 * k)));
  }
  for (std::size_t k : kSampleMinimums) {
    storeI16(a + 2 * k, std::min(loadI16(a + 2 * k), loadI16(in + 2 * k)));
  }
  for (std::size_t k : kSampleMaximums) {
    storeI16(a + 2 * k, std::max(loadI16(a + 2 * k), loadI16(in + 2 * k)));
  }
  storeU16(a + kSampleWeight, static_cast<uint16_t>(weightA + weightIn));
}

// Weighted mean of two floats in double precision: k * (wI * in + wA * a)
// with k = 1 / (wA + wI).
struct WeightedMean {
  double wA, wI, k;
  WeightedMean(uint32_t weightA, uint32_t weightIn)
      : wA(weightA), wI(weightIn), k(1.0 / (wA + wI)) {}
  float operator()(float a, float in) const {
    return static_cast<float>(k * (wI * double{in} + wA * double{a}));
  }
};

// One (mean, minimum, maximum) triple of a revolution-range blade entry.
struct BladeField {
  uint32_t mean, minimum, maximum;
};
constexpr BladeField kDnsField{kBladeDns, kBladeDnsMin, kBladeDnsMax};
constexpr BladeField kToaField{kBladeToa, kBladeToaMin, kBladeToaMax};

// Merges blade `blade` of `in` into the same blade of the range record `a`.
// A one-revolution entry is a range of one: its value is mean, minimum and
// maximum, and it sits where the range has its mean.
void mergeBladeField(DataRecord& a, const DataRecord& in, uint32_t blade, const BladeField& f,
                     const WeightedMean& mean) {
  unsigned char* entry = bladeEntry(a, blade);
  const unsigned char* entryIn = bladeEntry(in, blade);
  const bool range = isRevolutionRange(in);
  const float meanIn = loadF32(entryIn + f.mean);
  const float minimumIn = range ? loadF32(entryIn + f.minimum) : meanIn;
  const float maximumIn = range ? loadF32(entryIn + f.maximum) : meanIn;
  storeF32(entry + f.mean, mean(loadF32(entry + f.mean), meanIn));
  storeF32(entry + f.minimum, smaller(loadF32(entry + f.minimum), minimumIn));
  storeF32(entry + f.maximum, larger(loadF32(entry + f.maximum), maximumIn));
}

// Merges `in`, of either layout, into the revolution-range record `a`. The
// one-revolution rule is the range rule with a weight of 1 and minimum and
// maximum equal to the value, and gives the same floats.
void mergeBlades(DataRecord& a, const DataRecord& in) {
  const WeightedMean mean(bladeWeight(a), bladeWeight(in));
  const bool range = isRevolutionRange(in);
  // Without synchronisation the times of arrival do not line up over
  // revolutions; the accumulator keeps its own.
  const bool withToa = bladeSync(a) != 0;
  for (uint32_t blade = 0; blade < bladeCount(in); ++blade) {
    mergeBladeField(a, in, blade, kDnsField, mean);
    if (withToa) mergeBladeField(a, in, blade, kToaField, mean);
  }
  setBladeLatestWord1(a, bladeLatestWord1(in));
  setBladeLatestWord2(a, bladeLatestWord2(in));
  setBladeEndRevolution(a, range ? bladeEndRevolution(in) : bladeStartRevolution(in));
  setBladeAuxMean(a, mean(bladeAuxMean(a), bladeAuxMean(in)));
  setBladeSpeed(a, mean(bladeSpeed(a), bladeSpeed(in)));
  setBladeRms(a, mean(bladeRms(a), bladeRms(in)));
  setBladeRmsMin(a, smaller(bladeRmsMin(a), range ? bladeRmsMin(in) : bladeRms(in)));
  setBladeRmsMax(a, larger(bladeRmsMax(a), range ? bladeRmsMax(in) : bladeRms(in)));

  unsigned char* flags = bladeFlags(a);
  const unsigned char* flagsIn = bladeFlags(in);
  for (uint32_t k = 0; k < kBladesFlagCount; ++k) {
    flags[k] = k < kNewestFlags ? flagsIn[k] : (flags[k] != 0 && flagsIn[k] != 0 ? 1 : 0);
  }
  mergeSampleStatistics(sampleStatistics(a), sampleStatistics(in));
}

// --- Profiles -------------------------------------------------------------------

bool isPlainProfile(const DataRecord& record) {
  return hasProfileLayout(record) && !isPackedProfile(record);
}

uint32_t profileWeight(const DataRecord& record) {
  return revolutionWeight(profileStartRevolution(record), profileEndRevolution(record));
}

bool canMergeProfiles(const DataRecord& a, const DataRecord& in) {
  if (!isPlainProfile(a) || !isPlainProfile(in)) return false;
  if (profileSync(in) == 0 || !syncsAgree(profileSync(a), profileSync(in))) return false;
  // The point values divide by the total weight in 32 bits.
  return wrap32(int64_t{profileWeight(a)} + profileWeight(in)) != 0;
}

void mergeProfiles(DataRecord& a, const DataRecord& in) {
  const uint32_t wA = profileWeight(a);
  const uint32_t wI = profileWeight(in);
  unsigned char* point = profilePoints(a);
  const unsigned char* pointIn = profilePoints(in);
  for (uint32_t k = 0; k < kProfilePointCount; ++k) {
    storeI16(point + kPlainPointValue, weightedMean16(wI, loadI16(pointIn + kPlainPointValue), wA,
                                                      loadI16(point + kPlainPointValue)));
    storeI16(point + kPlainPointMinimum,
             std::min(loadI16(point + kPlainPointMinimum), loadI16(pointIn + kPlainPointMinimum)));
    storeI16(point + kPlainPointMaximum,
             std::max(loadI16(point + kPlainPointMaximum), loadI16(pointIn + kPlainPointMaximum)));
    point += kPlainPointSize;
    pointIn += kPlainPointSize;
  }
  // Divided by W, where blade means are scaled by 1 / W: the last bit may differ.
  const double total = static_cast<double>(wA) + wI;
  auto mean = [&](float valueA, float valueIn) {
    return static_cast<float>((wI * double{valueIn} + wA * double{valueA}) / total);
  };
  setProfileSpeed(a, mean(profileSpeed(a), profileSpeed(in)));
  setProfileAuxMean(a, mean(profileAuxMean(a), profileAuxMean(in)));
  setProfileLatestWord1(a, profileLatestWord1(in));
  setProfileLatestWord2(a, profileLatestWord2(in));
  setProfileSummedCount(a, profileSummedCount(a) + profileSummedCount(in));
  setProfileEndRevolution(a, profileEndRevolution(in));
}

// Every byte from `type` up to the first point: the header after `size` and
// the profile's fields.
void copyProfileFields(DataRecord& to, const DataRecord& from) {
  std::memcpy(to.fileBytes() + kRecordType, from.fileBytes() + kRecordType,
              kRecordBody + kProfilePoints - kRecordType);
}

}  // namespace

void accumulateRecord(RecordRef& accumulator, DataRecord* incoming) {
  if (!accumulator) {
    accumulator = RecordRef::share(incoming);
    return;
  }
  if (incoming == nullptr) return;
  // Our own reference keeps `incoming` alive even when it is the accumulator's
  // record and that reference is dropped below; it also makes such a record
  // count as shared, so it is copied before being merged into.
  RecordRef held = RecordRef::share(incoming);
  if (canMergeProfiles(*accumulator, *incoming)) {
    makeRecordPrivate(accumulator);
    mergeProfiles(*accumulator, *incoming);
    return;
  }
  if (canMergeBlades(*accumulator, *incoming)) {
    if (isRevolutionRange(*accumulator)) {
      makeRecordPrivate(accumulator);
    } else {
      toRevolutionRange(accumulator);
    }
    mergeBlades(*accumulator, *incoming);
    return;
  }
  accumulator = std::move(held);
}

void makeRecordPrivate(RecordRef& accumulator) {
  if (!accumulator || accumulator->referenceCount() <= 0) return;
  const DataRecord& shared = *accumulator;
  RecordRef copy = newRecord(shared.size());
  std::memcpy(copy->fileBytes() + kRecordType, shared.fileBytes() + kRecordType,
              shared.fileSize() - kRecordType);
  accumulator = std::move(copy);
}

void toRevolutionRange(RecordRef& accumulator) {
  if (!accumulator || !hasExactBladeLayout(*accumulator) || isRevolutionRange(*accumulator)) return;
  const DataRecord& single = *accumulator;
  const uint16_t n = bladeCount(single);
  RecordRef rangeRef = newBladeRangeRecord(single.hostIndex(), n);
  DataRecord& range = *rangeRef;
  range.setTime(single.time());
  setBladeChannel(range, bladeChannel(single));
  setBladeSync(range, bladeSync(single));
  setBladeSpeed(range, bladeSpeed(single));
  setBladeAuxMean(range, bladeAuxMean(single));
  setBladeLatestWord1(range, bladeLatestWord1(single));
  setBladeLatestWord2(range, bladeLatestWord2(single));
  std::memcpy(sampleStatistics(range), sampleStatistics(single), kSampleStatisticsSize);
  std::memcpy(bladeFlags(range), bladeFlags(single), kBladesFlagCount);
  setBladeRms(range, bladeRms(single));
  setBladeRmsMin(range, bladeRms(single));
  setBladeRmsMax(range, bladeRms(single));
  setBladeStartRevolution(range, bladeStartRevolution(single));
  setBladeEndRevolution(range, bladeStartRevolution(single));
  for (uint32_t blade = 0; blade < n; ++blade) {
    unsigned char* entry = bladeEntry(range, blade);
    for (const BladeField& f : {kDnsField, kToaField}) {
      const float value = loadF32(bladeEntry(single, blade) + f.mean);
      for (uint32_t offset : {f.mean, f.minimum, f.maximum}) storeF32(entry + offset, value);
    }
  }
  accumulator = std::move(rangeRef);
}

RecordRef packProfile(DataRecord* profile) {
  if (profile == nullptr || !isPlainProfile(*profile)) return RecordRef::share(profile);
  const unsigned char* points = profilePoints(*profile);
  int32_t deviation = 0;
  for (std::size_t k = 0; k < kProfilePointCount; ++k) {
    const unsigned char* point = points + k * kPlainPointSize;
    const int32_t value = loadI16(point + kPlainPointValue);
    const int32_t up = loadI16(point + kPlainPointMaximum) - value;
    const int32_t down = value - loadI16(point + kPlainPointMinimum);
    deviation = std::max({deviation, up, down});
  }
  int16_t shift = 0;
  while ((deviation >> shift) > 255) ++shift;

  RecordRef packed = newRecord(kPackedProfileSize);
  copyProfileFields(*packed, *profile);
  setProfileCompressionShift(*packed, shift);
  unsigned char* out = profilePoints(*packed);
  for (std::size_t k = 0; k < kProfilePointCount; ++k) {
    const unsigned char* point = points + k * kPlainPointSize;
    unsigned char* to = out + k * kPackedPointSize;
    const int16_t value = loadI16(point + kPlainPointValue);
    storeI16(to + kPackedPointValue, value);
    // The shifts are arithmetic: a bound on the wrong side of its value
    // leaves the low 8 bits of a negative step.
    storeU8(to + kPackedPointUp,
            static_cast<uint8_t>((loadI16(point + kPlainPointMaximum) - value) >> shift));
    storeU8(to + kPackedPointDown,
            static_cast<uint8_t>((value - loadI16(point + kPlainPointMinimum)) >> shift));
  }
  return packed;
}

RecordRef expandProfile(DataRecord* profile) {
  if (profile == nullptr || !hasProfileLayout(*profile) || !isPackedProfile(*profile)) {
    return RecordRef::share(profile);
  }
  // Any shift from 0 up may come from a file; in 16 bits a step shifted by 16
  // or more is 0, and checking first keeps the shift itself defined.
  const int16_t shift = profileCompressionShift(*profile);
  auto step = [shift](uint8_t packed) -> uint16_t {
    return shift >= 16 ? 0 : static_cast<uint16_t>(uint32_t{packed} << shift);
  };
  RecordRef plain = newProfileRecord(profile->hostIndex());
  copyProfileFields(*plain, *profile);
  setProfileCompressionShift(*plain, kProfilePlainShift);
  const unsigned char* points = profilePoints(*profile);
  unsigned char* out = profilePoints(*plain);
  for (std::size_t k = 0; k < kProfilePointCount; ++k) {
    const unsigned char* point = points + k * kPackedPointSize;
    unsigned char* to = out + k * kPlainPointSize;
    const uint16_t value = loadU16(point + kPackedPointValue);
    storeU16(to + kPlainPointValue, value);
    storeU16(to + kPlainPointMaximum,
             static_cast<uint16_t>(value + step(loadU8(point + kPackedPointUp))));
    storeU16(to + kPlainPointMinimum,
             static_cast<uint16_t>(value - step(loadU8(point + kPackedPointDown))));
  }
  return plain;
}

}  // namespace cdt
