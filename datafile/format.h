// The byte layout of a data file ("cdt"): the header, the index entries, the
// record header and the record bodies. Constants only; the reader, the writer,
// the record accessors and the tests all take their offsets from here.
//
// A file is: header (56 bytes) | configuration text | zero padding up to a
// multiple of 8 | records back to back | index. Everything is little-endian;
// floats are IEEE 754 single precision; positions are absolute 64-bit offsets.
#pragma once

#include <cstdint>

namespace cdt {

// --- File header -------------------------------------------------------------

inline constexpr uint32_t kMagic1 = 0x19590214;  // first word of every data file
inline constexpr uint32_t kMagic2 = 0x19700302;  // second word of every data file

inline constexpr uint32_t kFileHeaderSize = 56;  // bytes of the header; the text follows

inline constexpr uint32_t kHeaderMagic1 = 0;         // u32 kMagic1
inline constexpr uint32_t kHeaderMagic2 = 4;         // u32 kMagic2
inline constexpr uint32_t kHeaderConfigOffset = 8;   // u64 position of the text, always 56
inline constexpr uint32_t kHeaderConfigLength = 16;  // u64 text length; readers use the low 32 bits
inline constexpr uint32_t kHeaderDataOffset = 24;    // u64 first record: text end rounded up to 8
inline constexpr uint32_t kHeaderIndexOffset =
    32;  // u64 index start = end of records; 0 while written
inline constexpr uint32_t kHeaderIndexEnd = 40;  // u64 just past the index; 0 while written
inline constexpr uint32_t kHeaderTimeZoneBias =
    48;  // i64 writer's UTC minus local time, microseconds

inline constexpr uint32_t kDataAlignment = 8;  // records start at a multiple of this

// --- Index entries -------------------------------------------------------------

inline constexpr uint32_t kIndexEntrySize = 16;     // bytes of one entry
inline constexpr uint32_t kIndexEntryShift = 4;     // log2 of kIndexEntrySize
inline constexpr uint32_t kIndexEntryTime = 0;      // u64 time of the record
inline constexpr uint32_t kIndexEntryPosition = 8;  // u64 end of that record (next record's start)

// --- Record header ---------------------------------------------------------------
// In a file a record is a 20-byte header and its body. In memory a 4-byte
// reference count precedes exactly those bytes, so a record's `size` field is
// its length in memory and the file holds `size` - 4 bytes of it.

inline constexpr uint32_t kRecordCountSize = 4;  // in-memory reference count before the file bytes
inline constexpr uint32_t kRecordHeaderSize = 20;  // bytes of the header in a file

inline constexpr uint32_t kRecordSize = 0;       // u32 4 + bytes in the file; multiple of 4
inline constexpr uint32_t kRecordType = 4;       // u16 record type, 0 to 3
inline constexpr uint32_t kRecordHostIndex = 6;  // u16 host of the record in the configuration
inline constexpr uint32_t kRecordReserved = 8;   // 4 bytes, ignored by readers
inline constexpr uint32_t kRecordTime = 12;      // u64 microseconds since 1970 UTC
inline constexpr uint32_t kRecordBody = 20;      // first body byte (file offsets above)

// Smallest `size`: the reference count and the header, with an empty body.
inline constexpr uint32_t kMinRecordSize = kRecordCountSize + kRecordHeaderSize;

// Record types; every other value marks a damaged record.
inline constexpr uint16_t kRecordTypeFixed = 0;    // fixed-size record with a completion value
inline constexpr uint16_t kRecordTypeEntries = 1;  // n opaque 32-byte entries
inline constexpr uint16_t kRecordTypeProfile = 2;  // a 4096-point profile
inline constexpr uint16_t kRecordTypeBlades = 3;   // blade measurements of one channel
inline constexpr uint16_t kRecordTypeCount = 4;    // first invalid type

// --- Type 3: blade measurements (body offsets) -----------------------------------

inline constexpr uint32_t kBladesChannel = 0;            // u8 channel slot 0 to 3 of the host
inline constexpr uint32_t kBladesAggregated = 1;         // u8 0 one revolution, else a range
inline constexpr uint32_t kBladesBladeCount = 2;         // u16 number of blade entries
inline constexpr uint32_t kBladesSync = 4;               // u32 synchronisation word
inline constexpr uint32_t kBladesSpeed = 8;              // f32 shaft speed
inline constexpr uint32_t kBladesAuxMean = 12;           // f32 second mean, merged like speed
inline constexpr uint32_t kBladesLatestWord1 = 16;       // u32 taken from the newest record
inline constexpr uint32_t kBladesLatestWord2 = 20;       // u32 taken from the newest record
inline constexpr uint32_t kBladesRms = 24;               // f32 RMS of the channel
inline constexpr uint32_t kBladesSampleStatistics = 28;  // 13 x i16 then u16 weight
inline constexpr uint32_t kSampleStatisticsSize = 28;    // bytes of the statistics block
inline constexpr uint32_t kSampleStatisticsValues = 13;  // i16 values before the weight
inline constexpr uint32_t kBladesFlags = 56;             // 8 one-byte flags
inline constexpr uint32_t kBladesFlagCount = 8;          // number of flags
inline constexpr uint32_t kBladesStartRevolution = 64;   // u64 (first) revolution

// One-revolution layout: size = kBladesRevolutionSize + 8 x bladeCount.
inline constexpr uint32_t kBladesRevolutionEntries = 72;   // first blade entry
inline constexpr uint32_t kBladesRevolutionEntrySize = 8;  // f32 dns, f32 toa
inline constexpr uint32_t kBladesRevolutionSize = 96;      // size with no blades

// Revolution-range layout: size = kBladesRangeSize + 24 x bladeCount.
inline constexpr uint32_t kBladesEndRevolution = 72;   // u64 last revolution, inclusive
inline constexpr uint32_t kBladesRmsMin = 80;          // f32 smallest rms of the range
inline constexpr uint32_t kBladesRmsMax = 84;          // f32 largest rms of the range
inline constexpr uint32_t kBladesRangeEntries = 88;    // first blade entry
inline constexpr uint32_t kBladesRangeEntrySize = 24;  // six f32, below
inline constexpr uint32_t kBladesRangeSize = 112;      // size with no blades

// Fields of a blade entry (the range layout has all six, the other the first two).
inline constexpr uint32_t kBladeDns = 0;      // f32 dns (mean in a range)
inline constexpr uint32_t kBladeToa = 4;      // f32 toa (mean in a range)
inline constexpr uint32_t kBladeDnsMin = 8;   // f32 smallest dns of the range
inline constexpr uint32_t kBladeDnsMax = 12;  // f32 largest dns of the range
inline constexpr uint32_t kBladeToaMin = 16;  // f32 smallest toa of the range
inline constexpr uint32_t kBladeToaMax = 20;  // f32 largest toa of the range

// --- Type 2: profile (body offsets) ------------------------------------------------

inline constexpr uint32_t kProfileCompressionShift = 2;  // i16 -1 plain, else packed with shift
inline constexpr uint32_t kProfileSync = 4;              // u32 synchronisation word
inline constexpr uint32_t kProfileSpeed = 8;             // f32 mean shaft speed
inline constexpr uint32_t kProfileAuxMean = 12;          // f32 merged like speed
inline constexpr uint32_t kProfileLatestWord1 = 16;      // u32 newest record's value
inline constexpr uint32_t kProfileLatestWord2 = 20;      // u32 newest record's value
inline constexpr uint32_t kProfileStartRevolution = 24;  // u64 first revolution
inline constexpr uint32_t kProfileEndRevolution = 32;    // u64 last revolution
inline constexpr uint32_t kProfileSummedCount = 48;      // u64 summed when merged
inline constexpr uint32_t kProfilePoints = 56;           // first point

inline constexpr uint32_t kProfilePointCount = 4096;  // points per profile
inline constexpr int16_t kProfilePlainShift = -1;     // compressionShift of plain points

inline constexpr uint32_t kPlainPointSize = 8;     // bytes of a plain point
inline constexpr uint32_t kPlainPointValue = 0;    // i16 value
inline constexpr uint32_t kPlainPointMaximum = 2;  // i16 maximum
inline constexpr uint32_t kPlainPointMinimum = 4;  // i16 minimum; 2 unused bytes follow

inline constexpr uint32_t kPackedPointSize = 4;   // bytes of a packed point
inline constexpr uint32_t kPackedPointValue = 0;  // i16 value
inline constexpr uint32_t kPackedPointDown = 2;   // u8 (value - minimum) >> shift
inline constexpr uint32_t kPackedPointUp = 3;     // u8 (maximum - value) >> shift

inline constexpr uint32_t kPlainProfileSize = 32848;   // size of a plain profile record
inline constexpr uint32_t kPackedProfileSize = 16464;  // size of a packed profile record

// --- Type 1: opaque entries (body offsets) -------------------------------------------

inline constexpr uint32_t kEntriesCount = 4;      // u32 n
inline constexpr uint32_t kEntriesFirst = 8;      // first entry
inline constexpr uint32_t kEntrySize = 32;        // bytes of one entry
inline constexpr uint32_t kEntriesBaseSize = 32;  // size with no entries

// --- Type 0: fixed-size record (body offsets) ------------------------------------------

inline constexpr uint32_t kFixedRecordSize = 4512;       // the one size of a type-0 record
inline constexpr uint32_t kFixedWord0 = 0;               // u32 zero when created
inline constexpr uint32_t kFixedWord1 = 4;               // u32 zero when created
inline constexpr uint32_t kFixedWord2 = 8;               // u32 zero when created
inline constexpr uint32_t kFixedCompletionValue = 4364;  // u32 handed to the completion callback
inline constexpr uint32_t kFixedReserved = 4480;         // last 8 body bytes, reserved in a file

}  // namespace cdt
