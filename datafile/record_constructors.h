// Constructors of the four record types, used by the recorder and by the
// aggregation. Each yields a record with one holder, the caller, whose bytes
// after `size` are zero except for the fields named below; the producer fills
// in the rest (time, measurements, entries).
#pragma once

#include <cstdint>

#include "datafile/data_record.h"
#include "datafile/format.h"

namespace cdt {

// Size of a one-revolution blade record with n blades.
constexpr uint32_t bladeRevolutionRecordSize(uint16_t n) {
  return kBladesRevolutionSize + kBladesRevolutionEntrySize * n;
}
// Size of a revolution-range blade record with n blades.
constexpr uint32_t bladeRangeRecordSize(uint16_t n) {
  return kBladesRangeSize + kBladesRangeEntrySize * n;
}

// Type 0 of kFixedRecordSize bytes, without a completion callback.
[[nodiscard]] RecordRef newType0Record(uint16_t hostIndex);
// Type 1 with entryCount n; empty when its size (32 + 32 n) does not fit in
// 32 bits.
[[nodiscard]] RecordRef newType1Record(uint16_t hostIndex, uint32_t n);
// A plain profile (type 2, kPlainProfileSize bytes, compressionShift -1).
[[nodiscard]] RecordRef newProfileRecord(uint16_t hostIndex);
// Type 3, one-revolution layout (aggregated 0) with bladeCount n.
[[nodiscard]] RecordRef newBladeRecord(uint16_t hostIndex, uint16_t n);
// Type 3, revolution-range layout (aggregated 1) with bladeCount n.
[[nodiscard]] RecordRef newBladeRangeRecord(uint16_t hostIndex, uint16_t n);

}  // namespace cdt
