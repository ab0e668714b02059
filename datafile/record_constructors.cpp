#include "datafile/record_constructors.h"

#include <cstring>
#include <limits>

namespace cdt {

namespace {

// Zeroed rather than left as heap garbage: a record is written to a file as a
// whole, and a field the producer forgets must not leak old memory there.
RecordRef newZeroedRecord(uint32_t size, uint16_t type, uint16_t hostIndex) {
  RecordRef record = newRecord(size);
  std::memset(record->fileBytes() + kRecordType, 0, record->fileSize() - kRecordType);
  record->setType(type);
  record->setHostIndex(hostIndex);
  return record;
}

RecordRef newBladeLayoutRecord(uint32_t size, uint16_t hostIndex, uint16_t n, uint8_t aggregated) {
  RecordRef record = newZeroedRecord(size, kRecordTypeBlades, hostIndex);
  setBladeAggregated(*record, aggregated);
  setBladeCount(*record, n);
  return record;
}

}  // namespace

RecordRef newType0Record(uint16_t hostIndex) {
  return newZeroedRecord(kFixedRecordSize, kRecordTypeFixed, hostIndex);
}

RecordRef newType1Record(uint16_t hostIndex, uint32_t n) {
  const uint64_t size = kEntriesBaseSize + uint64_t{kEntrySize} * n;
  if (size > std::numeric_limits<uint32_t>::max()) return {};
  RecordRef record = newZeroedRecord(static_cast<uint32_t>(size), kRecordTypeEntries, hostIndex);
  setEntryCount(*record, n);
  return record;
}

RecordRef newProfileRecord(uint16_t hostIndex) {
  RecordRef record = newZeroedRecord(kPlainProfileSize, kRecordTypeProfile, hostIndex);
  // A zero shift would claim packed points in a record sized for plain ones.
  setProfileCompressionShift(*record, kProfilePlainShift);
  return record;
}

RecordRef newBladeRecord(uint16_t hostIndex, uint16_t n) {
  return newBladeLayoutRecord(bladeRevolutionRecordSize(n), hostIndex, n, 0);
}

RecordRef newBladeRangeRecord(uint16_t hostIndex, uint16_t n) {
  return newBladeLayoutRecord(bladeRangeRecordSize(n), hostIndex, n, 1);
}

}  // namespace cdt
