#include "tools/config_summary.h"

#include <string>

#include "tools/time_text.h"

namespace cdt {

namespace {

const char* stageName(const Probe& probe) {
  return probe.stage != nullptr ? probe.stage->name.c_str() : "-";
}

}  // namespace

void writeConfigSummary(const Configuration& c, FILE* out, const char* indent) {
  const std::string in1 = std::string(indent) + "  ";
  const std::string in2 = in1 + "  ";
  const std::string in3 = in2 + "  ";
  std::fprintf(out, "%sconfiguration: %s (revision %d)\n", indent, c.name.c_str(), c.revision);
  std::fprintf(out, "%sfull name: %s\n", in1.c_str(), c.fullName.c_str());
  std::fprintf(out, "%screated: %s\n", in1.c_str(), formatTimeText(c.creationTime).c_str());
  std::fprintf(out, "%smodified: %s\n", in1.c_str(), formatTimeText(c.modificationTime).c_str());
  std::fprintf(out, "%sstages: %u\n", in1.c_str(), c.stages.size());
  for (const Stage& stage : c.stages) {
    std::fprintf(out, "%s%s: %d blades\n", in2.c_str(), stage.name.c_str(), stage.blades);
  }
  std::fprintf(out, "%shosts: %u\n", in1.c_str(), c.hosts.size());
  for (const Host& host : c.hosts) {
    std::string notes;
    if (host.isMaster) notes += ", master";
    if (host.hasClock) notes += ", clock";
    std::fprintf(out, "%s%s on %s%s%s%s\n", in2.c_str(), host.name.c_str(),
                 host.hostName.empty() ? "-" : host.hostName.c_str(), notes.empty() ? "" : " (",
                 notes.empty() ? "" : notes.c_str() + 2, notes.empty() ? "" : ")");
    for (const Channel& channel : host.channels) {
      if (channel.probe == nullptr) {
        std::fprintf(out, "%schannel %d: -\n", in3.c_str(), channel.hostChannel);
      } else {
        std::fprintf(out, "%schannel %d: %s on %s\n", in3.c_str(), channel.hostChannel,
                     channel.probe->name.c_str(), stageName(*channel.probe));
      }
    }
  }
  std::fprintf(out, "%sracks: %u\n", in1.c_str(), c.racks.size());
  for (const Rack& rack : c.racks) {
    std::fprintf(out, "%s%s on %s: %d of %u probes connected\n", in2.c_str(), rack.name.c_str(),
                 rack.hostName.empty() ? "-" : rack.hostName.c_str(), rack.connectedProbeCount,
                 kSlotsPerRack);
  }
}

void writeConfigSummaryJson(const Configuration& c, JsonWriter& json) {
  json.key("name").value(c.name.view());
  json.key("fullName").value(c.fullName.view());
  json.key("revision").value(c.revision);
  json.key("created").value(formatTimeText(c.creationTime));
  json.key("modified").value(formatTimeText(c.modificationTime));
  json.key("stages").beginArray();
  for (const Stage& stage : c.stages) {
    json.beginObject();
    json.key("name").value(stage.name.view());
    json.key("blades").value(stage.blades);
    json.endObject();
  }
  json.endArray();
  json.key("hosts").beginArray();
  for (const Host& host : c.hosts) {
    json.beginObject();
    json.key("name").value(host.name.view());
    json.key("hostName").value(host.hostName.view());
    json.key("master").value(host.isMaster);
    json.key("clock").value(host.hasClock);
    json.key("channels").beginArray();
    for (const Channel& channel : host.channels) {
      json.beginObject();
      json.key("channel").value(channel.hostChannel);
      if (channel.probe == nullptr) {
        json.key("probe").null();
        json.key("stage").null();
      } else {
        json.key("probe").value(channel.probe->name.view());
        if (channel.probe->stage != nullptr) {
          json.key("stage").value(channel.probe->stage->name.view());
        } else {
          json.key("stage").null();
        }
      }
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.key("racks").beginArray();
  for (const Rack& rack : c.racks) {
    json.beginObject();
    json.key("name").value(rack.name.view());
    json.key("hostName").value(rack.hostName.view());
    json.key("connectedProbes").value(rack.connectedProbeCount);
    json.endObject();
  }
  json.endArray();
}

}  // namespace cdt
