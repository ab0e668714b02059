#include "tools/synth/synth_config.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "config/calibration.h"
#include "foundation/byte_order.h"
#include "foundation/text_building.h"

namespace cdt {

namespace {

void putText(unsigned char image[kProbeMemorySize], uint32_t offset, uint32_t size,
             const char* text) {
  size_t n = std::strlen(text);
  if (n > size) n = size;
  std::memcpy(image + offset, text, n);
}

}  // namespace

void makeProbeMemoryImage(unsigned char image[kProbeMemorySize], uint32_t serial) {
  std::memset(image, ' ', kProbeMemorySize);
  image[0] = 4;
  image[3] = 2;
  putText(image, kProbeMemoryTextOffsets[0], kProbeMemoryTextSize, "CAPACITANCE");
  putText(image, kProbeMemoryTextOffsets[1], kProbeMemoryTextSize, "TIP CLEARANCE");
  putText(image, kProbeMemoryTextOffsets[2], kProbeMemoryTextSize, "SYNTHETIC");
  char text[32];
  std::snprintf(text, sizeof text, "CD-%05u", static_cast<unsigned>(serial % 100000));
  putText(image, kProbeMemorySerialOffset, kProbeMemorySerialSize, text);
  putText(image, kProbeMemoryDateOffset, kProbeMemoryDateSize, "110412");
  putText(image, kProbeMemoryCommentsOffset, kProbeMemoryCommentsSize,
          "Bench calibration against the reference disc");
  // Scale factors of 8 give points in millimetres and volts from 0 to 8.
  image[kProbeMemoryScaleOffset] = 8;
  image[kProbeMemoryScaleOffset + 1] = 8;
  image[kProbeMemoryScaleOffset + 2] = 8;
  image[kProbeMemoryGainOffset] = GAIN_NORMAL;
  constexpr uint32_t kPoints = 8;
  image[kProbeMemoryCountOffset] = kPoints;
  for (uint32_t i = 0; i < kPoints; ++i) {
    // Clearance from 0.5 to 4 mm against a saturating output voltage, a
    // little different for every probe.
    double clearance = 0.5 * (i + 1);
    double volts = 7.5 * (1.0 - std::exp(-clearance / (1.6 + 0.01 * (serial % 10))));
    double current = 0.2 + 0.05 * clearance;
    unsigned char* point = image + kProbeMemoryPointsOffset + kProbeMemoryPointSize * i;
    storeU16BE(point, static_cast<uint16_t>(clearance / 8.0 * 65536.0));
    storeU16BE(point + 2, static_cast<uint16_t>(current / 8.0 * 65536.0));
    storeU16BE(point + 4, static_cast<uint16_t>(volts / 8.0 * 65536.0));
  }
  sealProbeMemory(image);
}

void buildSynthConfiguration(Configuration& c, const SynthOptions& options) {
  c.setName(options.name.c_str());

  for (uint32_t s = 1; s < options.stages; ++s) c.insertStage(s);
  for (uint32_t s = 0; s < options.stages; ++s) {
    c.setStageBlades(s, stageBlades(options, s));
    c.setStageDiameter(s, 1200.0 - 80.0 * s);
    c.setStageOprToBlade0(s, 0.1 * s);
  }

  for (uint32_t h = 0; h < options.hosts; ++h) {
    CountedString computer = formatString("acq%02u", h + 1);
    c.insertHost(h, computer.c_str());
    // Every host after the first sits on a second port of the casing's
    // once-per-revolution sensor through the master.
    c.setHostOncePerRev(h, h == 0);
  }
  if (options.hosts > 0) c.setHostHasClock(0, true);

  const uint32_t probes = options.hosts * options.probesPerHost;
  const uint32_t racks = probes == 0 ? 1 : (probes + kSlotsPerRack - 1) / kSlotsPerRack;
  for (uint32_t r = 0; r < racks; ++r) {
    CountedString computer = formatString("acq%02u", r * kSlotsPerRack / 4 + 1);
    c.insertRack(r, computer.c_str());
  }

  for (uint32_t h = 0; h < options.hosts; ++h) {
    for (uint32_t k = 0; k < options.probesPerHost; ++k) {
      const uint32_t p = synthProbeNumber(options, h, k);
      c.setProbeChannelIndex(p, static_cast<int32_t>(h * kChannelsPerHost + k));
      const std::size_t order = std::size_t{h} * options.probesPerHost + k;
      if (order < options.probeNames.size()) {
        c.setProbeName(p, options.probeNames[order].c_str());
      }
      c.setProbeStageIndex(p, static_cast<int32_t>(k % options.stages));
      double angle = 2.0 * std::numbers::pi * (k + 0.125 * h) / options.probesPerHost;
      if (order < options.probeAngles.size()) {
        angle = options.probeAngles[order];
      } else if (!options.resonances.empty()) {
        // Uneven places, so that the probes tell engine orders apart.
        constexpr double kDegrees[kChannelsPerHost] = {0.0, 37.3, 98.6, 161.9};
        angle = (kDegrees[k] + 23.0 * h) * std::numbers::pi / 180.0;
      }
      c.setProbePosition(p, angle, 10.0 * (k % options.stages), 0.2);
      if (p % 2 == 0) {
        unsigned char image[kProbeMemorySize];
        makeProbeMemoryImage(image, 1000 + p);
        c.setProbeMemoryImage(p, image);
      }
    }
  }

  EngineInfo engine = c.engine;
  engine.name = "Synthetic rig engine";
  engine.location = "Test cell 1";
  engine.manufacturer = "cdt synth";
  engine.serialNumber = formatString("SN-%llu", static_cast<unsigned long long>(options.seed));
  engine.maximumSpeed = options.rpm * 1.2;
  c.setEngine(engine);

  // Construction and setName stamp the clock and the computer's name; a
  // recording made from the same options must come out the same anywhere.
  c.fullName =
      formatString("CS-synth-%llu", static_cast<unsigned long long>(options.start / 1000000));
  Maintainer maintainer = c.maintainer;
  maintainer.name = "Test bench";
  maintainer.adminPassword = checksum64(c.fullName.c_str(), c.fullName.length(), ~uint64_t{0});
  maintainer.userPassword = maintainer.adminPassword;
  c.setMaintainer(maintainer);
  c.creationTime = options.start;
  c.modificationTime = options.start;
}

}  // namespace cdt
