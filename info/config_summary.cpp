#include "info/config_summary.h"

#include <string>

#include "csv/quantity_units.h"
#include "foundation/time_text.h"

namespace cdt {

namespace {

// The quantities whose units a summary names: the CSV's numbers and the
// configuration's geometry.
constexpr Quantity kSummaryQuantities[] = {
    Quantity::Time,     Quantity::Speed,    Quantity::Rms,       Quantity::BladeDns,
    Quantity::BladeToa, Quantity::Diameter, Quantity::ProbeAngle};

// A name as the summary prints it: its bytes, or decoded.
struct NameText {
  std::optional<TextEncoding> decodeAs;

  std::string operator()(const CountedString& name) const {
    return decodeAs ? decodeName(name.view(), *decodeAs) : name.str();
  }
};

}  // namespace

void writeConfigSummary(const Configuration& c, FILE* out, const char* indent,
                        std::optional<TextEncoding> decodeAs) {
  const NameText text{decodeAs};
  const std::string in1 = std::string(indent) + "  ";
  const std::string in2 = in1 + "  ";
  const std::string in3 = in2 + "  ";
  std::fprintf(out, "%sconfiguration: %s (revision %d)\n", indent, text(c.name).c_str(),
               c.revision);
  std::fprintf(out, "%sfull name: %s\n", in1.c_str(), text(c.fullName).c_str());
  std::fprintf(out, "%screated: %s\n", in1.c_str(), formatTimeText(c.creationTime).c_str());
  std::fprintf(out, "%smodified: %s\n", in1.c_str(), formatTimeText(c.modificationTime).c_str());
  std::fprintf(out, "%sstages: %u\n", in1.c_str(), c.stages.size());
  for (const Stage& stage : c.stages) {
    std::fprintf(out, "%s%s: %d blades\n", in2.c_str(), text(stage.name).c_str(), stage.blades);
  }
  std::fprintf(out, "%shosts: %u\n", in1.c_str(), c.hosts.size());
  for (const Host& host : c.hosts) {
    std::string notes;
    if (host.isMaster) notes += ", master";
    if (host.hasClock) notes += ", clock";
    std::fprintf(out, "%s%s on %s%s%s%s\n", in2.c_str(), text(host.name).c_str(),
                 host.hostName.empty() ? "-" : text(host.hostName).c_str(),
                 notes.empty() ? "" : " (", notes.empty() ? "" : notes.c_str() + 2,
                 notes.empty() ? "" : ")");
    for (const Channel& channel : host.channels) {
      if (channel.probe == nullptr) {
        std::fprintf(out, "%schannel %d: -\n", in3.c_str(), channel.hostChannel);
      } else {
        const Stage* stage = channel.probe->stage;
        std::fprintf(out, "%schannel %d: %s on %s\n", in3.c_str(), channel.hostChannel,
                     text(channel.probe->name).c_str(),
                     stage != nullptr ? text(stage->name).c_str() : "-");
      }
    }
  }
  std::fprintf(out, "%sracks: %u\n", in1.c_str(), c.racks.size());
  for (const Rack& rack : c.racks) {
    std::fprintf(out, "%s%s on %s: %d of %u probes connected\n", in2.c_str(),
                 text(rack.name).c_str(), rack.hostName.empty() ? "-" : text(rack.hostName).c_str(),
                 rack.connectedProbeCount, kSlotsPerRack);
  }
}

void writeConfigSummaryJson(const Configuration& c, JsonWriter& json, TextEncoding encoding) {
  const auto name = [&](const CountedString& text) {
    json.value(decodeName(text.view(), encoding));
  };
  json.key("name");
  name(c.name);
  json.key("fullName");
  name(c.fullName);
  json.key("revision").value(c.revision);
  json.key("created").value(formatTimeText(c.creationTime));
  json.key("modified").value(formatTimeText(c.modificationTime));
  json.key("counterClockwise").value(c.engine.counterClockwise);
  json.key("stages").beginArray();
  for (const Stage& stage : c.stages) {
    json.beginObject();
    json.key("name");
    name(stage.name);
    json.key("blades").value(stage.blades);
    // The geometry tip timing needs: the diameter (its unit is the
    // deflections'), and the angle in radians from the once-per-revolution
    // mark to blade 0.
    json.key("diameter").value(stage.diameter);
    json.key("oprToBlade0").value(stage.oprToBlade0);
    json.endObject();
  }
  json.endArray();
  json.key("hosts").beginArray();
  for (const Host& host : c.hosts) {
    json.beginObject();
    json.key("name");
    name(host.name);
    json.key("hostName");
    name(host.hostName);
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
        json.key("probe");
        name(channel.probe->name);
        json.key("stage");
        if (channel.probe->stage != nullptr) {
          name(channel.probe->stage->name);
        } else {
          json.null();
        }
        // Where the probe sits: its angle in radians in the direction of
        // rotation, its axial position and its set-back.
        json.key("radialPosition").value(channel.probe->radialPosition);
        json.key("axialPosition").value(channel.probe->axialPosition);
        json.key("setBack").value(channel.probe->setBack);
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
    json.key("name");
    name(rack.name);
    json.key("hostName");
    name(rack.hostName);
    json.key("connectedProbes").value(rack.connectedProbeCount);
    json.endObject();
  }
  json.endArray();
}

void writeUnitsSummary(FILE* out, const char* indent) {
  std::fprintf(out, "%sunits:\n", indent);
  for (const Quantity quantity : kSummaryQuantities) {
    const QuantityUnit& entry = quantityUnit(quantity);
    std::fprintf(out, "%s  %s: %s\n", indent, entry.longName, entry.description);
  }
}

void writeUnitsJson(JsonWriter& json) {
  json.key("units").beginObject();
  for (const Quantity quantity : kSummaryQuantities) {
    const QuantityUnit& entry = quantityUnit(quantity);
    json.key(entry.key).beginObject();
    json.key("unit").value(entry.unit);
    json.key("description").value(entry.description);
    json.key("longName").value(entry.longName);
    json.key("installation").value(entry.installation);
    json.endObject();
  }
  json.endObject();
}

}  // namespace cdt
