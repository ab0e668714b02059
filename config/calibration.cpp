#include "config/calibration.h"

#include <utility>

#include "foundation/byte_order.h"
#include "foundation/text_view.h"

namespace cdt {
namespace {

CountedString trimmedField(const unsigned char* image, uint32_t offset, uint32_t size) {
  TextBuffer field = trimText(TextBuffer(reinterpret_cast<const char*>(image) + offset, size));
  return CountedString(field.text, field.length);
}

bool allBytesAre(const unsigned char* image, unsigned char value) {
  for (uint32_t i = 0; i < kProbeMemorySize; ++i) {
    if (image[i] != value) return false;
  }
  return true;
}

}  // namespace

uint16_t crc16Xmodem(const unsigned char* bytes, std::size_t n) {
  uint32_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc = ((crc >> 8) | (crc << 8)) & 0xFFFF;
    crc ^= bytes[i];
    crc ^= (crc & 0xFF) >> 4;
    crc ^= (crc << 12) & 0xFFFF;
    crc ^= ((crc & 0xFF) << 5) & 0xFFFF;
  }
  return static_cast<uint16_t>(crc);
}

bool probeMemoryValid(const unsigned char image[kProbeMemorySize]) {
  // Erased or never-written memory would otherwise pass with a CRC of 0.
  if (allBytesAre(image, 0x00) || allBytesAre(image, 0xFF)) return false;
  uint32_t crc =
      crc16Xmodem(image + kProbeMemoryCheckedStart, kProbeMemorySize - kProbeMemoryCheckedStart);
  return crc == loadU16BE(image + kProbeMemoryCrcOffset);
}

void sealProbeMemory(unsigned char image[kProbeMemorySize]) {
  uint16_t crc =
      crc16Xmodem(image + kProbeMemoryCheckedStart, kProbeMemorySize - kProbeMemoryCheckedStart);
  storeU16BE(image + kProbeMemoryCrcOffset, crc);
}

uint32_t probeMemoryBaseValue(const unsigned char image[kProbeMemorySize]) {
  return image[0] * 25000u + 100000u;
}

uint32_t probeMemorySmallNumber(const unsigned char image[kProbeMemorySize]) {
  return image[3];
}

CountedString probeMemoryText(const unsigned char image[kProbeMemorySize], uint32_t which) {
  if (which >= 3) return {};
  return trimmedField(image, kProbeMemoryTextOffsets[which], kProbeMemoryTextSize);
}

CountedString probeMemoryDiscSerialNo(const unsigned char image[kProbeMemorySize]) {
  return trimmedField(image, kProbeMemorySerialOffset, kProbeMemorySerialSize);
}

CountedString probeMemoryCalDate(const unsigned char image[kProbeMemorySize]) {
  return trimmedField(image, kProbeMemoryDateOffset, kProbeMemoryDateSize);
}

CountedString probeMemoryComments(const unsigned char image[kProbeMemorySize]) {
  return trimmedField(image, kProbeMemoryCommentsOffset, kProbeMemoryCommentsSize);
}

int32_t probeMemoryCalGain(const unsigned char image[kProbeMemorySize]) {
  return image[kProbeMemoryGainOffset];
}

uint32_t probeMemoryPointCount(const unsigned char image[kProbeMemorySize]) {
  uint32_t n = image[kProbeMemoryCountOffset];
  return n < kProbeMemoryMaxPoints ? n : kProbeMemoryMaxPoints;
}

CalPoint probeMemoryPoint(const unsigned char image[kProbeMemorySize], uint32_t i) {
  if (i >= kProbeMemoryMaxPoints) return {};
  const unsigned char* p =
      image + kProbeMemoryPointsOffset + static_cast<std::size_t>(i) * kProbeMemoryPointSize;
  const double s0 = image[kProbeMemoryScaleOffset];
  const double s1 = image[kProbeMemoryScaleOffset + 1];
  const double s2 = image[kProbeMemoryScaleOffset + 2];
  const double a = loadU16BE(p);
  const double b = loadU16BE(p + 2);
  const double c = loadU16BE(p + 4);
  // The second value comes from the third word and the third from the second.
  return {s0 * a / 65536.0, s1 * c / 65536.0, s2 * b / 65536.0};
}

void applyProbeMemory(Probe& probe) {
  if (probe.calMode != CALMODE_DEFAULT) return;
  const unsigned char* image = probe.memoryImage;
  if (probeMemoryValid(image)) {
    probe.calGain = probeMemoryCalGain(image);
    probe.calDate = probeMemoryCalDate(image);
    probe.calDiscSerialNo = probeMemoryDiscSerialNo(image);
    probe.calComments = probeMemoryComments(image);
    const uint32_t n = probeMemoryPointCount(image);
    probe.calData.setLength(n);
    CalPoint* points = probe.calData.mutableData();
    for (uint32_t i = 0; i < n; ++i) points[i] = probeMemoryPoint(image, i);
  } else {
    probe.calGain = GAIN_NORMAL;
    probe.calDate = CountedString("N/A");
    probe.calDiscSerialNo = CountedString("N/A");
    const CalPoint fallback[2] = {{0.0, 0.0, 0.0}, {5.0, 5.0, 5.0}};
    probe.calData.assignFrom(fallback, 2);
  }
  sortCalData(probe);
}

void sortCalData(Probe& probe) {
  const uint32_t n = probe.calData.size();
  if (n < 2) return;
  CalPoint* points = probe.calData.mutableData();
  for (uint32_t i = 0; i + 1 < n; ++i) {
    for (uint32_t j = i + 1; j < n; ++j) {
      if (points[j].x < points[i].x) std::swap(points[i], points[j]);
    }
  }
}

}  // namespace cdt
