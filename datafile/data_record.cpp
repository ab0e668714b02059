#include "datafile/data_record.h"

#include <new>

#include "foundation/allocation.h"

namespace cdt {

namespace {

// The completion callback lives in a prefix in front of the record, not in the
// record's bytes: a type-0 record read from a file carries arbitrary data in
// its reserved tail, and that must never be taken for a function to call.
struct RecordAttachment {
  CompletionCallback callback;
  void* context;
};

// A multiple of the allocator's alignment, so the record stays as aligned as
// the block.
constexpr std::size_t kAttachmentSize = 16;
static_assert(sizeof(RecordAttachment) <= kAttachmentSize);

RecordAttachment* attachmentOf(const DataRecord* record) {
  auto* block = const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(record));
  return reinterpret_cast<RecordAttachment*>(block - kAttachmentSize);
}

}  // namespace

RecordRef newRecord(uint32_t size) {
  if (size < kMinRecordSize) return {};
  auto* block = static_cast<unsigned char*>(checkedAlloc(kAttachmentSize + std::size_t{size}));
  ::new (static_cast<void*>(block)) RecordAttachment{nullptr, nullptr};
  // Holders minus one: the caller is the only holder.
  auto* record = ::new (static_cast<void*>(block + kAttachmentSize)) DataRecord();
  storeU32(record->fileBytes() + kRecordSize, size);
  // Cleared so that a written record never carries stale heap bytes.
  storeU32(record->fileBytes() + kRecordReserved, 0);
  return RecordRef::adopt(record);
}

void acquireRecord(DataRecord* record) {
  if (record == nullptr) return;
  // A new holder only ever comes from an existing one, which keeps the record
  // alive: no ordering is needed here.
  record->count_.fetch_add(1, std::memory_order_relaxed);
}

void releaseRecord(DataRecord* record) {
  if (record == nullptr) return;
  // acq_rel: every holder's writes happen before the free by the last one.
  if (record->count_.fetch_sub(1, std::memory_order_acq_rel) <= 0) freeRecord(record);
}

void freeRecord(DataRecord* record) {
  if (record == nullptr) return;
  RecordAttachment* attachment = attachmentOf(record);
  if (attachment->callback != nullptr && hasFixedLayout(*record)) {
    attachment->callback(completionValue(*record), attachment->context);
  }
  checkedFree(attachment);
}

void setCompletionCallback(DataRecord& record, CompletionCallback callback, void* context) {
  RecordAttachment* attachment = attachmentOf(&record);
  attachment->callback = callback;
  attachment->context = context;
}

bool hasCompletionCallback(const DataRecord& record) {
  return attachmentOf(&record)->callback != nullptr;
}

RecordRef::RecordRef(const RecordRef& other) : p_(other.p_) {
  acquireRecord(p_);
}

// Acquire first: `other` may hold the last reference to what we release, and
// a self-assignment then leaves the count as it was.
// NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
RecordRef& RecordRef::operator=(const RecordRef& other) {
  acquireRecord(other.p_);
  releaseRecord(p_);
  p_ = other.p_;
  return *this;
}

RecordRef& RecordRef::operator=(RecordRef&& other) noexcept {
  if (this != &other) {
    releaseRecord(p_);
    p_ = other.p_;
    other.p_ = nullptr;
  }
  return *this;
}

RecordRef::~RecordRef() {
  releaseRecord(p_);
}

RecordRef RecordRef::share(DataRecord* record) {
  acquireRecord(record);
  return adopt(record);
}

void RecordRef::reset() {
  releaseRecord(p_);
  p_ = nullptr;
}

namespace {

// The size of a type-3 record without blade entries; 0 when the record is too
// short to say which layout it has.
uint32_t bladeFixedSize(const DataRecord& record) {
  if (record.size() < kBladesRevolutionSize) return 0;
  return isRevolutionRange(record) ? kBladesRangeSize : kBladesRevolutionSize;
}

}  // namespace

bool hasBladeLayout(const DataRecord& record) {
  return hasBladeLayout(record.fileBytes());
}

bool hasBladeLayout(const unsigned char* fileBytes) {
  if (loadU16(fileBytes + kRecordType) != kRecordTypeBlades) return false;
  const uint32_t size = loadU32(fileBytes + kRecordSize);
  if (size < kBladesRevolutionSize) return false;
  const bool range = fileBytes[kRecordBody + kBladesAggregated] != 0;
  return size >= (range ? kBladesRangeSize : kBladesRevolutionSize);
}

uint32_t bladeEntryCapacity(const DataRecord& record) {
  const uint32_t fixed = bladeFixedSize(record);
  if (fixed == 0 || record.size() < fixed) return 0;
  return (record.size() - fixed) / bladeEntrySize(record);
}

bool hasProfileLayout(const DataRecord& record) {
  if (record.type() != kRecordTypeProfile || record.bodySize() <= kProfileCompressionShift + 1) {
    return false;
  }
  return record.size() == (isPackedProfile(record) ? kPackedProfileSize : kPlainProfileSize);
}

bool hasEntriesLayout(const DataRecord& record) {
  if (record.type() != kRecordTypeEntries || record.size() < kEntriesBaseSize) return false;
  return (record.size() - kEntriesBaseSize) / kEntrySize >= entryCount(record);
}

bool hasFixedLayout(const DataRecord& record) {
  return record.type() == kRecordTypeFixed && record.size() == kFixedRecordSize;
}

}  // namespace cdt
