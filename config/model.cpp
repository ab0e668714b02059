// The configuration's life cycle, the recomputation of derived links, the
// rename rule and the addressing of channels, probes and relays.
#include "config/model.h"

#include <cassert>
#include <cstdio>

#include "foundation/host_name.h"
#include "foundation/text_building.h"
#include "foundation/time_value.h"

namespace cdt {
namespace {

// Appends with doubling capacity: relink rebuilds the lists on every edit,
// and the engine sizes reference arrays exactly, so plain appends would copy
// the whole list each time.
template <class List>
void appendReference(List& list, Probe* probe) {
  const uint32_t n = list.size();
  if (arrayCapacityField(list.data()) <= static_cast<int32_t>(n)) {
    list.setCapacity(n < 8 ? 8 : 2 * n);
  }
  list.append(probe);
}

void setEffectiveName(CountedString& name, const CountedString& userName, const char* kind,
                      int32_t number, int32_t slot = -1) {
  if (!userName.empty()) {
    name = userName;
  } else {
    name = defaultEntityName(kind, number, slot);
  }
}

}  // namespace

Configuration::Configuration() {
  const uint64_t now = currentTime();
  creationTime = now;
  modificationTime = now;
  const unsigned long seconds = static_cast<unsigned long>(now / 1000000);
  name = formatString("CS%lu", seconds);
  fullName = formatString("CS-%s-%lu", localComputerName().c_str(), seconds);
  const uint64_t digest = checksum64(fullName.c_str(), fullName.length(), ~uint64_t{0});
  maintainer.adminPassword = digest;
  maintainer.userPassword = digest;
  // A new Stage holds the values of a new configuration's first stage.
  stages.setLength(1);
  relink();
  // Construction is not a change: no notification (a subclass is not built
  // yet) and not modified.
  modified = false;
}

Configuration::Configuration(const Configuration& other) {
  *this = other;
}

Configuration& Configuration::operator=(const Configuration& other) {
  if (this == &other) return *this;
  name = other.name;
  fullName = other.fullName;
  creationTime = other.creationTime;
  modificationTime = other.modificationTime;
  revision = other.revision;
  revAveraging = other.revAveraging;
  sampleRate = other.sampleRate;
  lowSpeedFilter = other.lowSpeedFilter;
  lowSpeedUpdate = other.lowSpeedUpdate;
  alarmMode = other.alarmMode;
  maintainer = other.maintainer;
  engine = other.engine;
  advanced = other.advanced;
  storage = other.storage;
  // The entity arrays copy into blocks of their own; the derived links they
  // carry still point into `other` until relink below replaces them.
  hosts = other.hosts;
  racks = other.racks;
  stages = other.stages;
  modified = other.modified;
  relink();
  return *this;
}

// Members go in reverse declaration order: the connected list, the stages,
// racks and hosts, then the group strings, `fullName` and `name`.
Configuration::~Configuration() = default;

void Configuration::markModified() {
  modified = true;
  onChanged();
}

void Configuration::relink() {
  // Writable pointers first: nothing below resizes or unshares the entity
  // arrays, so every link computed from them stays in the current blocks.
  Stage* stageData = stages.mutableData();
  Host* hostData = hosts.mutableData();
  Rack* rackData = racks.mutableData();
  const uint32_t stageCount = stages.size();
  const uint32_t hostCount = hosts.size();
  const uint32_t rackCount = racks.size();
  const uint32_t channels = hostCount * kChannelsPerHost;
  const uint32_t probes = rackCount * kSlotsPerRack;

  connectedProbes.setLength(0);

  for (uint32_t i = 0; i < stageCount; ++i) {
    Stage& stage = stageData[i];
    stage.index = static_cast<int32_t>(i);
    stage.owner = this;
    stage.probes.setLength(0);
    stage.connectedProbes.setLength(0);
    setEffectiveName(stage.name, stage.userName, "Stage", static_cast<int32_t>(i + 1));
  }

  for (uint32_t i = 0; i < hostCount; ++i) {
    Host& host = hostData[i];
    host.index = static_cast<int32_t>(i);
    host.owner = this;
    host.connectedProbeCount = 0;
    for (uint32_t j = 0; j < kChannelsPerHost; ++j) {
      Channel& channel = host.channels[j];
      channel.hostChannel = static_cast<int32_t>(j);
      channel.index = static_cast<int32_t>(i * kChannelsPerHost + j);
      channel.probe = nullptr;
      channel.host = &host;
    }
    setEffectiveName(host.name, host.userName, "Daq", static_cast<int32_t>(i + 1));
  }

  for (uint32_t r = 0; r < rackCount; ++r) {
    Rack& rack = rackData[r];
    rack.index = static_cast<int32_t>(r);
    rack.owner = this;
    rack.connectedProbeCount = 0;
    const int32_t rackNumber = static_cast<int32_t>(r + 1);

    for (uint32_t j = 0; j < kSlotsPerRack; ++j) {
      Probe& probe = rack.probes[j];
      probe.slot = static_cast<int32_t>(j);
      probe.rack = &rack;
      probe.index = static_cast<int32_t>(r * kSlotsPerRack + j);

      // Compared as unsigned, so a negative index lands on the last stage.
      // Without stages (only reachable by emptying the array directly) the
      // probe has no stage rather than a link past the end.
      uint32_t s = static_cast<uint32_t>(probe.stageIndex);
      if (stageCount != 0 && s > stageCount - 1) s = stageCount - 1;
      probe.stageIndex = static_cast<int32_t>(s);
      probe.stage = s < stageCount ? &stageData[s] : nullptr;
      if (probe.stage != nullptr) appendReference(probe.stage->probes, &probe);

      setEffectiveName(probe.name, probe.userName, "Probe", rackNumber,
                       static_cast<int32_t>(j + 1));

      const uint32_t c = static_cast<uint32_t>(probe.channelIndex);
      Channel* channel =
          c < channels ? &hostData[c / kChannelsPerHost].channels[c % kChannelsPerHost] : nullptr;
      if (channel != nullptr && channel->probe == nullptr) {
        channel->probe = &probe;
        probe.channel = channel;
        probe.connectedIndex = static_cast<int32_t>(connectedProbes.size());
        if (probe.stage != nullptr) appendReference(probe.stage->connectedProbes, &probe);
        rack.connectedProbeCount += 1;
        channel->host->connectedProbeCount += 1;
        appendReference(connectedProbes, &probe);
      } else {
        // Out of range or already claimed by a lower probe number.
        probe.connectedIndex = -1;
        probe.channelIndex = -1;
        probe.channel = nullptr;
      }
    }

    for (uint32_t k = 0; k < kSlotsPerRack; ++k) {
      Relay& relay = rack.relays[k];
      relay.slot = static_cast<int32_t>(k);
      relay.index = static_cast<int32_t>(r * kSlotsPerRack + k);
      relay.rack = &rack;
      setEffectiveName(relay.name, relay.userName, "Relay", rackNumber,
                       static_cast<int32_t>(k + 1));
      relay.sourceStage = nullptr;
      relay.sourceProbe = nullptr;
      const uint32_t source = static_cast<uint32_t>(relay.sourceIndex);
      if (isStageRelayUsage(relay.usage) && source < stageCount) {
        relay.sourceStage = &stageData[source];
      } else if (isProbeRelayUsage(relay.usage) && source < probes) {
        relay.sourceProbe = &rackData[source / kSlotsPerRack].probes[source % kSlotsPerRack];
      } else {
        // A dangling stage or probe source makes the relay unused; other
        // usages have no source at all.
        if (isStageRelayUsage(relay.usage) || isProbeRelayUsage(relay.usage)) {
          relay.usage = RELAY_UNUSED;
        }
        relay.sourceIndex = -1;
      }
    }

    setEffectiveName(rack.name, rack.userName, "Rack", rackNumber);
  }
}

void Configuration::renameEntity(CountedString& userName, CountedString& name, const char* text,
                                 const char* kind, int32_t number, int32_t slot) {
  CountedString t(text);
  CountedString d = defaultEntityName(kind, number, slot);
  // Taking the default name by hand keeps the entity named by position.
  if (t == d) {
    userName.clear();
  } else {
    userName = t;
  }
  name = t.empty() ? d : t;
  markModified();
}

Channel& Configuration::channelAt(uint32_t channel) {
  assert(channel < channelCount());
  return hosts.at(channel / kChannelsPerHost).channels[channel % kChannelsPerHost];
}

const Channel& Configuration::channelAt(uint32_t channel) const {
  assert(channel < channelCount());
  return hosts[channel / kChannelsPerHost].channels[channel % kChannelsPerHost];
}

Probe& Configuration::probeAt(uint32_t probe) {
  assert(probe < probeCount());
  return racks.at(probe / kSlotsPerRack).probes[probe % kSlotsPerRack];
}

const Probe& Configuration::probeAt(uint32_t probe) const {
  assert(probe < probeCount());
  return racks[probe / kSlotsPerRack].probes[probe % kSlotsPerRack];
}

Relay& Configuration::relayAt(uint32_t relay) {
  assert(relay < probeCount());
  return racks.at(relay / kSlotsPerRack).relays[relay % kSlotsPerRack];
}

const Relay& Configuration::relayAt(uint32_t relay) const {
  assert(relay < probeCount());
  return racks[relay / kSlotsPerRack].relays[relay % kSlotsPerRack];
}

}  // namespace cdt
