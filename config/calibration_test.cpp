#include "config/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/model.h"
#include "foundation/byte_order.h"

namespace cdt {
namespace {

void putText(unsigned char* image, uint32_t offset, const char* text, uint32_t size) {
  std::memset(image + offset, ' ', size);
  std::copy_n(text, std::strlen(text), image + offset);
}

// A valid image with three points stored out of order, CRC written by hand.
std::vector<unsigned char> validImage() {
  std::vector<unsigned char> image(kProbeMemorySize, 0);
  image[0] = 4;
  image[3] = 9;
  putText(image.data(), 20, "alpha", 16);
  putText(image.data(), 36, "", 16);
  putText(image.data(), 68, "  SN-0042", 16);
  putText(image.data(), 84, "150311", 6);
  putText(image.data(), 90, "\tfirst disc ", 117);
  image[207] = 2;  // s0
  image[208] = 4;  // s1
  image[209] = 8;  // s2
  image[210] = GAIN_LOW;
  image[211] = 3;
  const uint32_t words[3][3] = {{0x8000, 0x1000, 0x2000}, {0x4000, 0x0100, 0x0200}, {0xC000, 0, 1}};
  for (uint32_t i = 0; i < 3; ++i) {
    for (uint32_t w = 0; w < 3; ++w)
      storeU16BE(image.data() + 212 + 6 * i + 2 * w, static_cast<uint16_t>(words[i][w]));
  }
  const uint16_t crc = crc16Xmodem(image.data() + 3, kProbeMemorySize - 3);
  storeU16BE(image.data() + 1, crc);
  return image;
}

Configuration withOneRack() {
  Configuration c;
  c.insertRack(0, nullptr);
  c.modified = false;
  return c;
}

void expectDefaultCalibration(const Probe& p) {
  EXPECT_EQ(p.calGain, GAIN_NORMAL);
  EXPECT_EQ(p.calDate, "N/A");
  EXPECT_EQ(p.calDiscSerialNo, "N/A");
  ASSERT_EQ(p.calData.size(), 2u);
  EXPECT_EQ(p.calData[0].x, 0.0);
  EXPECT_EQ(p.calData[0].z, 0.0);
  EXPECT_EQ(p.calData[1].x, 5.0);
  EXPECT_EQ(p.calData[1].y, 5.0);
  EXPECT_EQ(p.calData[1].z, 5.0);
}

TEST(ProbeMemory, Crc16Xmodem) {
  EXPECT_EQ(crc16Xmodem(reinterpret_cast<const unsigned char*>("123456789"), 9), 0x31C3);
  EXPECT_EQ(crc16Xmodem(nullptr, 0), 0);
}

TEST(ProbeMemory, ValidityCoversBytesThreeToEnd) {
  std::vector<unsigned char> image = validImage();
  EXPECT_TRUE(probeMemoryValid(image.data()));
  image[0] ^= 0xFF;  // outside the checked range
  EXPECT_TRUE(probeMemoryValid(image.data()));
  image[511] ^= 1;
  EXPECT_FALSE(probeMemoryValid(image.data()));
  image[511] ^= 1;
  std::swap(image[1], image[2]);  // the CRC is stored high byte first
  EXPECT_FALSE(probeMemoryValid(image.data()));
  sealProbeMemory(image.data());
  EXPECT_TRUE(probeMemoryValid(image.data()));

  // All zeros would pass the CRC (0 over zeros); erased memory never counts.
  for (unsigned char fill : {0x00, 0xFF, 0x20}) {
    std::vector<unsigned char> blank(kProbeMemorySize, fill);
    EXPECT_FALSE(probeMemoryValid(blank.data())) << int(fill);
  }
}

TEST(ProbeMemory, LoadsCalibrationFromValidImage) {
  Configuration c = withOneRack();
  c.setProbeCalComments(4, "kept?");
  c.modified = false;
  std::vector<unsigned char> image = validImage();
  c.setProbeMemoryImage(4, image.data());
  EXPECT_FALSE(c.modified);
  EXPECT_TRUE(c.isCalibrationValid(4));

  const Probe& p = c.probeAt(4);
  EXPECT_EQ(p.calGain, GAIN_LOW);
  EXPECT_EQ(p.calDiscSerialNo, "SN-0042");
  EXPECT_EQ(p.calDate, "150311");
  EXPECT_EQ(p.calComments, "first disc");
  ASSERT_EQ(p.calData.size(), 3u);
  // (s0 * a, s1 * c, s2 * b) / 65536, sorted by the first value.
  EXPECT_EQ(p.calData[0].x, 2.0 * 0x4000 / 65536);
  EXPECT_EQ(p.calData[0].y, 4.0 * 0x0200 / 65536);
  EXPECT_EQ(p.calData[0].z, 8.0 * 0x0100 / 65536);
  EXPECT_EQ(p.calData[1].x, 1.0);
  EXPECT_EQ(p.calData[1].y, 0.5);
  EXPECT_EQ(p.calData[1].z, 0.5);
  EXPECT_EQ(p.calData[2].x, 1.5);
  EXPECT_EQ(p.calData[2].y, 4.0 / 65536);
  EXPECT_EQ(p.calData[2].z, 0.0);

  EXPECT_EQ(probeMemoryBaseValue(image.data()), 200000u);
  EXPECT_EQ(probeMemorySmallNumber(image.data()), 9u);
  EXPECT_EQ(probeMemoryText(image.data(), 0), "alpha");
  EXPECT_TRUE(probeMemoryText(image.data(), 1).empty());
  EXPECT_TRUE(probeMemoryText(image.data(), 3).empty());
}

TEST(ProbeMemory, InvalidImagesGiveTheDefaultCalibration) {
  Configuration c = withOneRack();
  for (unsigned char fill : {0x00, 0xFF, 0x20}) {
    c.setProbeMemoryImage(0, validImage().data());
    c.setProbeCalComments(0, "note");
    std::vector<unsigned char> blank(kProbeMemorySize, fill);
    c.setProbeMemoryImage(0, blank.data());
    expectDefaultCalibration(c.probeAt(0));
    EXPECT_EQ(c.probeAt(0).calComments, "note");  // comments survive a bad image
    EXPECT_FALSE(c.isCalibrationValid(0));
  }
}

TEST(ProbeMemory, PointCountAboveFiftyStaysInsideTheImage) {
  // A heap block of exactly 512 bytes, so any read past it is caught.
  std::vector<unsigned char> image = validImage();
  image[211] = 255;
  sealProbeMemory(image.data());
  EXPECT_EQ(probeMemoryPointCount(image.data()), 50u);
  storeU16BE(image.data() + 212 + 6 * 49, 0xFFFF);
  EXPECT_EQ(probeMemoryPoint(image.data(), 49).x, 2.0 * 0xFFFF / 65536);
  EXPECT_EQ(probeMemoryPoint(image.data(), 50).x, 0.0);
  sealProbeMemory(image.data());

  Configuration c = withOneRack();
  c.setProbeMemoryImage(1, image.data());
  EXPECT_EQ(c.probeAt(1).calData.size(), 50u);
}

TEST(ProbeMemory, CalModeSwitchesReloadOnlyIntoDefault) {
  Configuration c = withOneRack();
  c.setProbeMemoryImage(2, validImage().data());
  c.setProbeCalMode(2, CALMODE_USER);
  EXPECT_TRUE(c.modified);
  EXPECT_EQ(c.probeAt(2).calData.size(), 3u);  // unchanged by the switch
  EXPECT_TRUE(c.isCalibrationValid(2));

  c.setProbeCalGain(2, GAIN_HIGH);
  c.removeCalPoint(2, 0);
  std::vector<unsigned char> blank(kProbeMemorySize, 0);
  c.setProbeMemoryImage(2, blank.data());  // ignored in user mode
  EXPECT_EQ(c.probeAt(2).calGain, GAIN_HIGH);
  EXPECT_EQ(c.probeAt(2).calData.size(), 2u);

  c.modified = false;
  c.setProbeCalMode(2, CALMODE_USER);  // no change: nothing happens
  EXPECT_FALSE(c.modified);
  c.setProbeCalMode(2, CALMODE_DEFAULT);
  EXPECT_TRUE(c.modified);
  expectDefaultCalibration(c.probeAt(2));
}

TEST(SortCalData, ExchangeSortByFirstValue) {
  Probe p;
  const CalPoint unordered[3] = {{3, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  p.calData.assignFrom(unordered, 3);
  sortCalData(p);
  EXPECT_EQ(p.calData[0].x, 1.0);
  EXPECT_EQ(p.calData[1].x, 2.0);
  EXPECT_EQ(p.calData[2].x, 3.0);

  // Equal first values are never exchanged directly, but a smaller third
  // point can carry one past the other.
  const CalPoint ties[3] = {{2, 1, 0}, {2, 2, 0}, {1, 0, 0}};
  p.calData.assignFrom(ties, 3);
  sortCalData(p);
  EXPECT_EQ(p.calData[0].x, 1.0);
  EXPECT_EQ(p.calData[1].y, 2.0);
  EXPECT_EQ(p.calData[2].y, 1.0);

  const CalPoint kept[2] = {{2, 1, 0}, {2, 2, 0}};
  p.calData.assignFrom(kept, 2);
  sortCalData(p);
  EXPECT_EQ(p.calData[0].y, 1.0);
}

}  // namespace
}  // namespace cdt
