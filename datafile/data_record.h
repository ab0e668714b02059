// DataRecord: one record of a data file, held in memory as a single block
// whose first four bytes are an atomic reference count, followed by exactly
// the record's bytes as stored in a file (size, type, hostIndex, reserved
// word, time, body). A record of `size` bytes therefore occupies `size` - 4
// bytes in a file. The layout constants are in datafile/format.h.
//
// Ownership: the count is the number of holders minus one. Every function
// that yields a record yields one reference; RecordRef is the owning handle
// (copy acquires, destruction releases) and the last release frees the
// record. The count is changed only atomically, so holders may live on
// different threads; the record's bytes themselves are not synchronised.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "datafile/format.h"
#include "foundation/byte_order.h"

namespace cdt {

class RecordRef;

// Called once when a type-0 record made in memory is freed, with the u32 at
// body offset kFixedCompletionValue and the context given with the callback.
using CompletionCallback = void (*)(uint32_t value, void* context);

class DataRecord {
 public:
  DataRecord(const DataRecord&) = delete;
  DataRecord& operator=(const DataRecord&) = delete;

  // The whole object: the count, then the file bytes; size() bytes in all.
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(this); }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(this); }
  // The bytes a file holds, from the size field on: fileSize() of them.
  unsigned char* fileBytes() { return bytes() + kRecordCountSize; }
  const unsigned char* fileBytes() const { return bytes() + kRecordCountSize; }
  uint32_t fileSize() const { return size() - kRecordCountSize; }

  // Fixed by newRecord; at least kMinRecordSize.
  uint32_t size() const { return loadU32(fileBytes() + kRecordSize); }
  uint16_t type() const { return loadU16(fileBytes() + kRecordType); }
  void setType(uint16_t type) { storeU16(fileBytes() + kRecordType, type); }
  uint16_t hostIndex() const { return loadU16(fileBytes() + kRecordHostIndex); }
  void setHostIndex(uint16_t host) { storeU16(fileBytes() + kRecordHostIndex, host); }
  uint64_t time() const { return loadU64(fileBytes() + kRecordTime); }
  void setTime(uint64_t time) { storeU64(fileBytes() + kRecordTime, time); }

  // The body: bodySize() bytes, laid out by type.
  unsigned char* body() { return fileBytes() + kRecordBody; }
  const unsigned char* body() const { return fileBytes() + kRecordBody; }
  uint32_t bodySize() const { return size() - kMinRecordSize; }

  // Holders minus one (0: the caller's reference is the only one). A snapshot:
  // other holders may change it at any time.
  int32_t referenceCount() const { return count_.load(std::memory_order_acquire); }

 private:
  friend RecordRef newRecord(uint32_t size);
  friend void acquireRecord(DataRecord* record);
  friend void releaseRecord(DataRecord* record);

  DataRecord() = default;
  ~DataRecord() = default;

  std::atomic<int32_t> count_{0};
};

static_assert(sizeof(DataRecord) == kRecordCountSize);
static_assert(std::atomic<int32_t>::is_always_lock_free);

// --- Reference counting ----------------------------------------------------

// An owning handle on one reference; its layout is the raw pointer.
class RecordRef {
 public:
  RecordRef() = default;
  RecordRef(std::nullptr_t) {}  // NOLINT(google-explicit-constructor)
  RecordRef(const RecordRef& other);
  RecordRef(RecordRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  RecordRef& operator=(const RecordRef& other);
  RecordRef& operator=(RecordRef&& other) noexcept;
  ~RecordRef();

  // Takes over a reference that the caller holds.
  static RecordRef adopt(DataRecord* record) {
    RecordRef ref;
    ref.p_ = record;
    return ref;
  }
  // Takes a new reference to `record` (nullptr gives an empty handle).
  static RecordRef share(DataRecord* record);

  DataRecord* get() const { return p_; }
  DataRecord& operator*() const { return *p_; }
  DataRecord* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Releases the reference; the handle is empty afterwards.
  void reset();
  // Gives up the reference without releasing it.
  [[nodiscard]] DataRecord* detach() {
    DataRecord* record = p_;
    p_ = nullptr;
    return record;
  }

  friend bool operator==(const RecordRef& a, const RecordRef& b) { return a.p_ == b.p_; }

 private:
  DataRecord* p_ = nullptr;
};

static_assert(sizeof(RecordRef) == sizeof(void*));

// A record of `size` bytes with one holder, the caller (count 0), and no
// completion callback. Sets `size` and clears the reserved header word; every
// other byte is undefined. An empty handle when `size` is below
// kMinRecordSize. Memory exhaustion ends the process (checked allocation).
[[nodiscard]] RecordRef newRecord(uint32_t size);

// Atomically adds one holder; nothing for nullptr.
void acquireRecord(DataRecord* record);
// Atomically drops one holder and frees the record when that was the last;
// nothing for nullptr.
void releaseRecord(DataRecord* record);
// Runs a type-0 record's completion callback, if one is attached, then frees
// the block. For the last holder only; releaseRecord calls it.
void freeRecord(DataRecord* record);

// Attaches the callback run when this record is freed. It is kept apart from
// the record's bytes, so no record read from a file ever carries one, and
// copies of the bytes do not take it along. Takes effect only while the
// record is of type 0 and has the type-0 size when it is freed.
void setCompletionCallback(DataRecord& record, CompletionCallback callback, void* context);
bool hasCompletionCallback(const DataRecord& record);

// --- Body fields -------------------------------------------------------------
// Typed loads and stores at a body offset of format.h. The named accessors
// below read at fixed offsets: call them only on a record whose layout check
// holds (hasBladeLayout, hasProfileLayout, ...), since a record read from a
// file may be of any size from kMinRecordSize on.

template <class T>
T bodyField(const DataRecord& record, uint32_t offset) {
  const unsigned char* p = record.body() + offset;
  if constexpr (sizeof(T) == 1) {
    return static_cast<T>(loadU8(p));
  } else if constexpr (std::is_same_v<T, float>) {
    return loadF32(p);
  } else if constexpr (sizeof(T) == 2) {
    return static_cast<T>(loadU16(p));
  } else if constexpr (sizeof(T) == 4) {
    return static_cast<T>(loadU32(p));
  } else {
    static_assert(sizeof(T) == 8);
    return static_cast<T>(loadU64(p));
  }
}

template <class T>
void setBodyField(DataRecord& record, uint32_t offset, T value) {
  unsigned char* p = record.body() + offset;
  if constexpr (sizeof(T) == 1) {
    storeU8(p, static_cast<uint8_t>(value));
  } else if constexpr (std::is_same_v<T, float>) {
    storeF32(p, value);
  } else if constexpr (sizeof(T) == 2) {
    storeU16(p, static_cast<uint16_t>(value));
  } else if constexpr (sizeof(T) == 4) {
    storeU32(p, static_cast<uint32_t>(value));
  } else {
    static_assert(sizeof(T) == 8);
    storeU64(p, static_cast<uint64_t>(value));
  }
}

// --- Type 3: blade measurements ---------------------------------------------

// True for a type-3 record that holds at least the fixed part of its layout
// (96 bytes for one revolution, 112 for a range). Its blade entries may still
// be fewer than bladeCount says: see bladeEntryCapacity.
bool hasBladeLayout(const DataRecord& record);
// The same on a record's first kRecordHeaderSize + 2 file bytes.
bool hasBladeLayout(const unsigned char* fileBytes);
inline bool isRevolutionRange(const DataRecord& r) {
  return bodyField<uint8_t>(r, kBladesAggregated) != 0;
}
// Bytes of one blade entry and the offset of the first, by layout.
inline uint32_t bladeEntrySize(const DataRecord& r) {
  return isRevolutionRange(r) ? kBladesRangeEntrySize : kBladesRevolutionEntrySize;
}
inline uint32_t bladeEntriesOffset(const DataRecord& r) {
  return isRevolutionRange(r) ? kBladesRangeEntries : kBladesRevolutionEntries;
}
// How many whole blade entries the record's size holds (requires hasBladeLayout).
uint32_t bladeEntryCapacity(const DataRecord& record);

inline uint8_t bladeChannel(const DataRecord& r) {
  return bodyField<uint8_t>(r, kBladesChannel);
}
inline void setBladeChannel(DataRecord& r, uint8_t v) {
  setBodyField(r, kBladesChannel, v);
}
inline uint8_t bladeAggregated(const DataRecord& r) {
  return bodyField<uint8_t>(r, kBladesAggregated);
}
inline void setBladeAggregated(DataRecord& r, uint8_t v) {
  setBodyField(r, kBladesAggregated, v);
}
inline uint16_t bladeCount(const DataRecord& r) {
  return bodyField<uint16_t>(r, kBladesBladeCount);
}
inline void setBladeCount(DataRecord& r, uint16_t v) {
  setBodyField(r, kBladesBladeCount, v);
}
inline uint32_t bladeSync(const DataRecord& r) {
  return bodyField<uint32_t>(r, kBladesSync);
}
inline void setBladeSync(DataRecord& r, uint32_t v) {
  setBodyField(r, kBladesSync, v);
}
inline float bladeSpeed(const DataRecord& r) {
  return bodyField<float>(r, kBladesSpeed);
}
inline void setBladeSpeed(DataRecord& r, float v) {
  setBodyField(r, kBladesSpeed, v);
}
inline float bladeAuxMean(const DataRecord& r) {
  return bodyField<float>(r, kBladesAuxMean);
}
inline void setBladeAuxMean(DataRecord& r, float v) {
  setBodyField(r, kBladesAuxMean, v);
}
inline uint32_t bladeLatestWord1(const DataRecord& r) {
  return bodyField<uint32_t>(r, kBladesLatestWord1);
}
inline void setBladeLatestWord1(DataRecord& r, uint32_t v) {
  setBodyField(r, kBladesLatestWord1, v);
}
inline uint32_t bladeLatestWord2(const DataRecord& r) {
  return bodyField<uint32_t>(r, kBladesLatestWord2);
}
inline void setBladeLatestWord2(DataRecord& r, uint32_t v) {
  setBodyField(r, kBladesLatestWord2, v);
}
inline float bladeRms(const DataRecord& r) {
  return bodyField<float>(r, kBladesRms);
}
inline void setBladeRms(DataRecord& r, float v) {
  setBodyField(r, kBladesRms, v);
}
// kSampleStatisticsSize bytes: 13 i16 values, then the u16 weight.
inline unsigned char* sampleStatistics(DataRecord& r) {
  return r.body() + kBladesSampleStatistics;
}
inline const unsigned char* sampleStatistics(const DataRecord& r) {
  return r.body() + kBladesSampleStatistics;
}
// kBladesFlagCount one-byte flags.
inline unsigned char* bladeFlags(DataRecord& r) {
  return r.body() + kBladesFlags;
}
inline const unsigned char* bladeFlags(const DataRecord& r) {
  return r.body() + kBladesFlags;
}
inline uint64_t bladeStartRevolution(const DataRecord& r) {
  return bodyField<uint64_t>(r, kBladesStartRevolution);
}
inline void setBladeStartRevolution(DataRecord& r, uint64_t v) {
  setBodyField(r, kBladesStartRevolution, v);
}

// Revolution-range layout only.
inline uint64_t bladeEndRevolution(const DataRecord& r) {
  return bodyField<uint64_t>(r, kBladesEndRevolution);
}
inline void setBladeEndRevolution(DataRecord& r, uint64_t v) {
  setBodyField(r, kBladesEndRevolution, v);
}
inline float bladeRmsMin(const DataRecord& r) {
  return bodyField<float>(r, kBladesRmsMin);
}
inline void setBladeRmsMin(DataRecord& r, float v) {
  setBodyField(r, kBladesRmsMin, v);
}
inline float bladeRmsMax(const DataRecord& r) {
  return bodyField<float>(r, kBladesRmsMax);
}
inline void setBladeRmsMax(DataRecord& r, float v) {
  setBodyField(r, kBladesRmsMax, v);
}

// Blade entry i (i below bladeEntryCapacity); its fields are at kBladeDns,
// kBladeToa and, in the range layout, kBladeDnsMin to kBladeToaMax.
inline unsigned char* bladeEntry(DataRecord& r, uint32_t i) {
  return r.body() + bladeEntriesOffset(r) + std::size_t{i} * bladeEntrySize(r);
}
inline const unsigned char* bladeEntry(const DataRecord& r, uint32_t i) {
  return r.body() + bladeEntriesOffset(r) + std::size_t{i} * bladeEntrySize(r);
}
// The dns (mean) and toa (mean) of blade i, in either layout.
inline float bladeDns(const DataRecord& r, uint32_t i) {
  return loadF32(bladeEntry(r, i) + kBladeDns);
}
inline float bladeToa(const DataRecord& r, uint32_t i) {
  return loadF32(bladeEntry(r, i) + kBladeToa);
}

// --- Type 2: profile -----------------------------------------------------------

// True for a type-2 record of the size its compressionShift calls for
// (plain: kPlainProfileSize; packed, shift 0 or more: kPackedProfileSize).
bool hasProfileLayout(const DataRecord& record);
inline int16_t profileCompressionShift(const DataRecord& r) {
  return bodyField<int16_t>(r, kProfileCompressionShift);
}
inline void setProfileCompressionShift(DataRecord& r, int16_t v) {
  setBodyField(r, kProfileCompressionShift, v);
}
inline bool isPackedProfile(const DataRecord& r) {
  return profileCompressionShift(r) >= 0;
}
inline uint32_t profileSync(const DataRecord& r) {
  return bodyField<uint32_t>(r, kProfileSync);
}
inline void setProfileSync(DataRecord& r, uint32_t v) {
  setBodyField(r, kProfileSync, v);
}
inline float profileSpeed(const DataRecord& r) {
  return bodyField<float>(r, kProfileSpeed);
}
inline void setProfileSpeed(DataRecord& r, float v) {
  setBodyField(r, kProfileSpeed, v);
}
inline float profileAuxMean(const DataRecord& r) {
  return bodyField<float>(r, kProfileAuxMean);
}
inline void setProfileAuxMean(DataRecord& r, float v) {
  setBodyField(r, kProfileAuxMean, v);
}
inline uint32_t profileLatestWord1(const DataRecord& r) {
  return bodyField<uint32_t>(r, kProfileLatestWord1);
}
inline void setProfileLatestWord1(DataRecord& r, uint32_t v) {
  setBodyField(r, kProfileLatestWord1, v);
}
inline uint32_t profileLatestWord2(const DataRecord& r) {
  return bodyField<uint32_t>(r, kProfileLatestWord2);
}
inline void setProfileLatestWord2(DataRecord& r, uint32_t v) {
  setBodyField(r, kProfileLatestWord2, v);
}
inline uint64_t profileStartRevolution(const DataRecord& r) {
  return bodyField<uint64_t>(r, kProfileStartRevolution);
}
inline void setProfileStartRevolution(DataRecord& r, uint64_t v) {
  setBodyField(r, kProfileStartRevolution, v);
}
inline uint64_t profileEndRevolution(const DataRecord& r) {
  return bodyField<uint64_t>(r, kProfileEndRevolution);
}
inline void setProfileEndRevolution(DataRecord& r, uint64_t v) {
  setBodyField(r, kProfileEndRevolution, v);
}
inline uint64_t profileSummedCount(const DataRecord& r) {
  return bodyField<uint64_t>(r, kProfileSummedCount);
}
inline void setProfileSummedCount(DataRecord& r, uint64_t v) {
  setBodyField(r, kProfileSummedCount, v);
}
// The kProfilePointCount points: kPlainPointSize or kPackedPointSize bytes each.
inline unsigned char* profilePoints(DataRecord& r) {
  return r.body() + kProfilePoints;
}
inline const unsigned char* profilePoints(const DataRecord& r) {
  return r.body() + kProfilePoints;
}

// --- Type 1 and type 0 ---------------------------------------------------------

// True for a type-1 record whose size holds the count and that many entries.
bool hasEntriesLayout(const DataRecord& record);
inline uint32_t entryCount(const DataRecord& r) {
  return bodyField<uint32_t>(r, kEntriesCount);
}
inline void setEntryCount(DataRecord& r, uint32_t v) {
  setBodyField(r, kEntriesCount, v);
}

// True for a type-0 record of kFixedRecordSize bytes.
bool hasFixedLayout(const DataRecord& record);
inline uint32_t completionValue(const DataRecord& r) {
  return bodyField<uint32_t>(r, kFixedCompletionValue);
}
inline void setCompletionValue(DataRecord& r, uint32_t v) {
  setBodyField(r, kFixedCompletionValue, v);
}

}  // namespace cdt
