// Writes the sample recording used by the demo: one host with four probes on
// channels 0 to 3 watching one stage of 8 blades, a few hundred revolutions of
// blade measurements with a slow speed ramp, and a few profiles, status and
// entry records in between. The output is the same on every run (a fixed
// seed and fixed times), apart from the header's time-zone bias, which
// records the local zone of the machine that writes it.
//
//   make_sample OUTPUT.cdt
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>

#include "config/model.h"
#include "datafile/data_file.h"
#include "datafile/record_constructors.h"

namespace {

using namespace cdt;

constexpr uint16_t kBlades = 8;
constexpr uint32_t kRevolutions = 300;
// 2011-03-15 14:07:09 UTC.
constexpr uint64_t kStartTime = 1300198029000000ull;

// A small deterministic generator, so the file does not depend on the
// platform's random number library.
class Noise {
 public:
  // Uniform in [-1, 1).
  double next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
  }

 private:
  uint64_t state_ = 20110315;
};

Configuration sampleConfiguration() {
  Configuration config;
  // Fixed identity, so that the file does not carry the build machine's name
  // or the time it was made.
  config.name = "Sample";
  config.fullName = "CS-sample-rig";
  config.creationTime = config.modificationTime = kStartTime - 3600ull * 1000000;
  config.maintainer.adminPassword = config.maintainer.userPassword =
      checksum64(config.fullName.c_str(), config.fullName.length(), ~uint64_t{0});
  config.setStageName(0, "Fan");
  config.setStageBlades(0, kBlades);
  config.insertHost(0, "daq1");
  config.insertRack(0, "rack1");
  for (uint32_t probe = 0; probe < kChannelsPerHost; ++probe) {
    config.setProbeChannelIndex(probe, static_cast<int32_t>(probe));
  }
  config.modified = false;
  return config;
}

RecordRef bladeRecord(uint8_t channel, uint64_t time, uint64_t revolution, float speed,
                      Noise& noise) {
  RecordRef r = newBladeRecord(0, kBlades);
  r->setTime(time);
  setBladeChannel(*r, channel);
  setBladeSync(*r, revolution < 3 ? 0 : 0x20 | 1);  // synchronised after a few turns
  setBladeSpeed(*r, speed);
  setBladeAuxMean(*r, static_cast<float>(21.5 + 0.1 * noise.next()));
  setBladeRms(*r, static_cast<float>(0.42 + 0.03 * channel + 0.01 * noise.next()));
  setBladeStartRevolution(*r, revolution);
  for (uint32_t blade = 0; blade < kBlades; ++blade) {
    // Clearance in millimetres: each blade a little different, closing as the
    // speed rises; time of arrival as a fraction of the revolution.
    const double clearance =
        1.8 - 0.0001 * speed + 0.05 * std::sin(blade * 0.9 + channel) + 0.01 * noise.next();
    const double arrival = (blade + 0.25 * channel) / kBlades + 0.0005 * noise.next();
    storeF32(bladeEntry(*r, blade) + kBladeDns, static_cast<float>(clearance));
    storeF32(bladeEntry(*r, blade) + kBladeToa, static_cast<float>(arrival));
  }
  return r;
}

RecordRef profileRecord(uint64_t time, uint64_t revolution, float speed) {
  RecordRef r = newProfileRecord(0);
  r->setTime(time);
  setProfileSync(*r, 0x20 | 1);
  setProfileSpeed(*r, speed);
  setProfileStartRevolution(*r, revolution);
  setProfileEndRevolution(*r, revolution);
  setProfileSummedCount(*r, 1);
  for (uint32_t i = 0; i < kProfilePointCount; ++i) {
    // One pulse per blade passing the probe.
    const double phase = static_cast<double>(i) * kBlades / kProfilePointCount;
    const double pulse =
        std::pow(std::cos(std::numbers::pi * (phase - std::floor(phase) - 0.5)), 8);
    const auto value = static_cast<int16_t>(12000 * pulse - 2000);
    unsigned char* point = profilePoints(*r) + i * kPlainPointSize;
    storeI16(point + kPlainPointValue, value);
    storeI16(point + kPlainPointMaximum, static_cast<int16_t>(value + 150));
    storeI16(point + kPlainPointMinimum, static_cast<int16_t>(value - 150));
  }
  return r;
}

bool writeSample(const char* path) {
  const Configuration config = sampleConfiguration();
  auto file = createDataFile(config, path);
  if (file == nullptr) return false;
  Noise noise;
  bool ok = true;
  uint64_t time = kStartTime;
  for (uint32_t revolution = 0; revolution < kRevolutions && ok; ++revolution) {
    const float speed = static_cast<float>(2900 + 0.5 * revolution + 2 * noise.next());
    for (uint8_t channel = 0; channel < kChannelsPerHost; ++channel) {
      ok = ok && writeRecord(*file, *bladeRecord(channel, time, revolution, speed, noise));
    }
    if (revolution % 100 == 50)
      ok = ok && writeRecord(*file, *profileRecord(time, revolution, speed));
    if (revolution % 75 == 0) {
      RecordRef status = newType0Record(0);
      status->setTime(time);
      ok = ok && writeRecord(*file, *status);
      RecordRef entries = newType1Record(0, 2);
      entries->setTime(time);
      ok = ok && writeRecord(*file, *entries);
    }
    time += static_cast<uint64_t>(60.0e6 / speed);  // one revolution at this speed
  }
  return closeDataFile(*file) && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cdt\n", argc > 0 ? argv[0] : "make_sample");
    return 2;
  }
  if (!writeSample(argv[1])) {
    std::fprintf(stderr, "%s: Can not write '%s'\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
