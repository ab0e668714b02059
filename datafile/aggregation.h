// Condensing records over revolutions before they are stored. Blade records
// (type 3) of one channel merge into one revolution-range record and profiles
// (type 2) into one profile over a range of revolutions, each value weighted by
// the revolutions behind it. Profiles also pack to half their size and expand
// back.
//
// The revolution weight of a record is endRevolution - startRevolution + 1 on
// the low 32 bits of both (1 for a one-revolution blade record). Float means
// are computed in double; profile values and sample statistics use wrapping
// signed 32-bit arithmetic, truncating toward zero, stored in 16 bits.
//
// An accumulator is a RecordRef owned by the caller; it starts empty. It
// belongs to one thread. A record merged into is first made private, so other
// holders of a record never see it change.
#pragma once

#include "datafile/data_record.h"

namespace cdt {

// Merges `incoming` (borrowed: the caller keeps its reference) into the
// accumulator, or lets it replace the accumulator's record:
// - an empty accumulator takes a reference to `incoming` (stays empty for
//   nullptr); a nullptr `incoming` changes nothing;
// - two plain profiles are merged when the incoming sync is non-zero and both
//   syncs agree in bits 5 to 31;
// - two blade records with the same bladeCount are merged when their syncs
//   agree in bits 5 to 31; the result is a revolution-range record (a
//   one-revolution accumulator is converted first) that keeps the
//   accumulator's time, sync, channel and startRevolution;
// - anything else replaces: different types, a sync mismatch, types 0 and 1,
//   a packed profile, different blade counts, a record whose size does not
//   match its layout (a damaged record may claim more blades than it holds),
//   or revolution weights that add up to 0.
// No merge reads or writes outside either record.
void accumulateRecord(RecordRef& accumulator, DataRecord* incoming);

// When the accumulator's record has other holders, replaces it by a copy of
// its bytes (no completion callback) and drops the accumulator's reference to
// the original; otherwise, and for an empty handle, nothing.
void makeRecordPrivate(RecordRef& accumulator);

// Replaces a one-revolution blade record in the accumulator by the equivalent
// revolution-range record (every mean, minimum and maximum the single value;
// startRevolution and endRevolution both the record's revolution). Leaves any
// other record, one whose size does not match its bladeCount, and an empty
// handle as they are.
void toRevolutionRange(RecordRef& accumulator);

// For a plain profile, a new packed copy (kPackedProfileSize bytes, with the
// smallest shift that fits every deviation in 8 bits) with one holder, the
// caller. For anything else (a packed profile, another type, a profile whose
// size does not match its encoding) another reference to the same record;
// empty for nullptr.
[[nodiscard]] RecordRef packProfile(DataRecord* profile);

// For a packed profile, a new plain copy with one holder, the caller; packing
// loses the low `compressionShift` bits of every deviation. For anything else
// another reference to the same record; empty for nullptr.
[[nodiscard]] RecordRef expandProfile(DataRecord* profile);

}  // namespace cdt
