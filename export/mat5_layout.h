// The layout of a level-5 MAT-file of cdt export's variables for a known
// number of lines: every byte that does not depend on the lines (the
// 128-byte header, the data elements' tags, array flags, dimensions, names,
// texts and blade numbers), and where each line column's values go. Since
// every tag holds its element's byte count, the layout is complete before
// the first line comes, and the lines are then written in place, column by
// column, at positions computed from it.
//
// Format: after the header, one data element per variable: an 8-byte tag
// (type, byte count) and its bytes padded to 8. A variable is a miMATRIX
// whose elements are its array flags (class, logical flag), dimensions,
// name and real part, values column after column; a struct has instead its
// field name length, its field names and one nameless miMATRIX per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "export/column_sink.h"

namespace cdt {

// Data types of the elements.
inline constexpr uint32_t kMiInt8 = 1;
inline constexpr uint32_t kMiUint8 = 2;
inline constexpr uint32_t kMiInt32 = 5;
inline constexpr uint32_t kMiUint32 = 6;
inline constexpr uint32_t kMiSingle = 7;
inline constexpr uint32_t kMiDouble = 9;
inline constexpr uint32_t kMiUint64 = 13;
inline constexpr uint32_t kMiMatrix = 14;
inline constexpr uint32_t kMiCompressed = 15;
inline constexpr uint32_t kMiUtf16 = 17;
inline constexpr uint32_t kMiUtf32 = 18;
// Array classes, in the low byte of the array flags.
inline constexpr uint8_t kMxStruct = 2;
inline constexpr uint8_t kMxChar = 4;
inline constexpr uint8_t kMxDouble = 6;
inline constexpr uint8_t kMxSingle = 7;
inline constexpr uint8_t kMxUint8 = 9;
inline constexpr uint8_t kMxUint64 = 15;
// The logical flag, in the second byte of the array flags.
inline constexpr uint8_t kMxLogicalFlag = 0x02;
inline constexpr std::size_t kMat5HeaderSize = 128;
// A tag's byte count is 32 bits: no element can hold more.
inline constexpr uint64_t kMat5MostElementBytes = 0xFFFFFFFFu;

// Where a batch of lines (lines/line_columns.h) holds a column's values.
// Status: a set's status rows (ColumnSink::writeSet), one per host.
// Deflection: doubles computed from a probe's blade TOA (sinkDeflection).
enum class Mat5Source : uint8_t {
  Seconds,
  Sync,
  StartRevolution,
  EndRevolution,
  Floats,
  Doubles,
  Status,
  Deflection
};
// Bytes per value of a column from `source` in the file.
std::size_t mat5ValueBytes(Mat5Source source);

// Row r of a line column goes to offset + r * mat5ValueBytes(source).
struct Mat5Column {
  Mat5Source source;
  // Of the float or double block, the host of a status, or the kept blade
  // (from 0) of a deflection.
  uint32_t row = 0;
  uint64_t offset = 0;
  uint32_t probe = 0;  // a deflection's: its place in the description's probes
};

// Bytes fixed by the layout, at their offset.
struct Mat5Run {
  uint64_t offset = 0;
  std::string bytes;
};

// A variable's whole element, tag included (what a compressed file holds
// compressed).
struct Mat5Variable {
  std::string name;
  uint64_t offset = 0;
  uint64_t bytes = 0;
};

struct Mat5Layout {
  std::vector<Mat5Run> runs;  // the header first; in increasing offsets
  std::vector<Mat5Column> columns;
  std::vector<Mat5Variable> variables;  // in file order
  uint64_t size = 0;                    // of the whole file
  // The first element too large for its tag, empty when none is: such a
  // file cannot be written at level 5.
  std::string tooLarge;
};

// The file of `lines` lines of `description`: time (double seconds), speed
// (single), sync (logical), start_rev and end_rev (uint64), configuration
// (UTF-16 text) and the struct probes, one field per probe holding name,
// stage, blades, and rms, dns, blade_dns, blade_toa and deflection (lines x
// blades), or an empty double for a quantity left out; for a set, then sources (the
// hosts' files, a line each) and per host HOST_Status (uint8).
Mat5Layout planMat5File(const SinkDescription& description, uint64_t lines);

}  // namespace cdt
