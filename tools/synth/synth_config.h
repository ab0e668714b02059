// The configuration of a synthetic installation, built the way an operator
// builds one: through the configuration's editing operations and setters.
#pragma once

#include "config/model.h"
#include "tools/synth/synth_options.h"

namespace cdt {

// Fills a freshly constructed `configuration`: named options.name, stamped
// with options.start (so the result depends on the options alone, not on the
// clock or the computer), options.stages stages with their blade counts,
// options.hosts hosts ("Daq1", …, computers "acq01", …), and enough racks for
// options.probesPerHost probes per host. Probe k of host h is probe number
// h * probesPerHost + k, wired to channel k of host h and to stage
// k % options.stages, placed around the casing; every other probe takes its
// calibration from a valid memory image, the rest keep the default one.
void buildSynthConfiguration(Configuration& configuration, const SynthOptions& options);

// The probe number wired to channel `slot` of `host` by buildSynthConfiguration.
inline uint32_t synthProbeNumber(const SynthOptions& options, uint32_t host, uint32_t slot) {
  return host * options.probesPerHost + slot;
}

// A valid probe memory image (CRC sealed) describing a calibrated probe;
// `serial` tells the probes apart.
void makeProbeMemoryImage(unsigned char image[kProbeMemorySize], uint32_t serial);

}  // namespace cdt
