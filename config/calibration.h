// Probe calibration: the 512-byte image of a probe's on-board memory, its
// CRC-16 integrity check, loading a probe's calibration from it, and the
// ordering of calibration points.
//
// Image layout (byte numbers, multi-byte numbers big-endian):
//   0        a base value (read as byte * 25000 + 100000)
//   1..2     CRC-16/XMODEM of bytes 3..511, high byte first
//   3        a small number
//   20..67   three 16-character texts
//   68..83   calibration disc serial number
//   84..89   calibration date
//   90..206  comments
//   207..209 scale factors s0, s1, s2
//   210      calibration gain (a GainValue)
//   211      number of calibration points
//   212..    points of three 16-bit words a, b, c each
// Texts are returned without white space at either end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "config/model.h"
#include "foundation/counted_string.h"

namespace cdt {

inline constexpr uint32_t kProbeMemoryCrcOffset = 1;
inline constexpr uint32_t kProbeMemoryCheckedStart = 3;  // first byte the CRC covers
inline constexpr uint32_t kProbeMemoryTextOffsets[3] = {20, 36, 52};
inline constexpr uint32_t kProbeMemoryTextSize = 16;
inline constexpr uint32_t kProbeMemorySerialOffset = 68;
inline constexpr uint32_t kProbeMemorySerialSize = 16;
inline constexpr uint32_t kProbeMemoryDateOffset = 84;
inline constexpr uint32_t kProbeMemoryDateSize = 6;
inline constexpr uint32_t kProbeMemoryCommentsOffset = 90;
inline constexpr uint32_t kProbeMemoryCommentsSize = 117;
inline constexpr uint32_t kProbeMemoryScaleOffset = 207;
inline constexpr uint32_t kProbeMemoryGainOffset = 210;
inline constexpr uint32_t kProbeMemoryCountOffset = 211;
inline constexpr uint32_t kProbeMemoryPointsOffset = 212;
inline constexpr uint32_t kProbeMemoryPointSize = 6;
// Points that fit between the first point and the end of the image.
inline constexpr uint32_t kProbeMemoryMaxPoints =
    (kProbeMemorySize - kProbeMemoryPointsOffset) / kProbeMemoryPointSize;
static_assert(kProbeMemoryMaxPoints == 50);

// CRC-16/XMODEM (polynomial 0x1021, start 0, no reflection, no final XOR).
uint16_t crc16Xmodem(const unsigned char* bytes, std::size_t n);

// False for an image of all 0x00 or all 0xFF bytes; otherwise whether bytes
// 1..2 hold the CRC-16/XMODEM of bytes 3..511. Byte 0 is not checked.
bool probeMemoryValid(const unsigned char image[kProbeMemorySize]);

// Writes the CRC of bytes 3..511 into bytes 1..2, making the image valid
// unless it is all 0x00 or all 0xFF.
void sealProbeMemory(unsigned char image[kProbeMemorySize]);

// Field accessors. They read the image as it is, valid or not, and never
// outside its 512 bytes.
uint32_t probeMemoryBaseValue(const unsigned char image[kProbeMemorySize]);
uint32_t probeMemorySmallNumber(const unsigned char image[kProbeMemorySize]);
// One of the three texts at bytes 20, 36 and 52 (`which` 0..2; others give
// the empty string).
CountedString probeMemoryText(const unsigned char image[kProbeMemorySize], uint32_t which);
CountedString probeMemoryDiscSerialNo(const unsigned char image[kProbeMemorySize]);
CountedString probeMemoryCalDate(const unsigned char image[kProbeMemorySize]);
CountedString probeMemoryComments(const unsigned char image[kProbeMemorySize]);
int32_t probeMemoryCalGain(const unsigned char image[kProbeMemorySize]);
// Byte 211, limited to the 50 points the image has room for.
uint32_t probeMemoryPointCount(const unsigned char image[kProbeMemorySize]);
// Point i (i < 50): (s0 * a / 65536, s1 * c / 65536, s2 * b / 65536).
CalPoint probeMemoryPoint(const unsigned char image[kProbeMemorySize], uint32_t i);

// In CALMODE_DEFAULT, replaces the probe's calibration gain, date, disc
// serial number, comments and points by those of its memory image; an
// invalid image gives GAIN_NORMAL, "N/A", "N/A", the comments unchanged and
// the points (0,0,0), (5,5,5). The points are sorted. Other modes: nothing.
void applyProbeMemory(Probe& probe);

// Orders the probe's calibration points by their first value with an
// exchange sort: each position in turn takes every later point whose first
// value is smaller. Two points with equal first values are never exchanged
// with each other (their order may still change through a third point).
void sortCalData(Probe& probe);

}  // namespace cdt
