#include "info/info_json.h"

#include "foundation/time_text.h"
#include "info/config_summary.h"
#include "info/json_writer.h"

namespace cdt {

namespace {

// A path in JSON: a file name is the file system's bytes, not a name from the
// installation, so UTF-8 stays UTF-8 whatever the encoding; other bytes are
// read in the installation's code page (windows-1252 unless named).
std::string pathText(std::string_view path, TextEncoding encoding) {
  if (isValidUtf8(path)) return std::string(path);
  const bool codePage = encoding != TextEncoding::Auto && encoding != TextEncoding::Utf8;
  return decodeName(path, codePage ? encoding : TextEncoding::Windows1252);
}

void indexEntryJson(JsonWriter& json, const char* key, const std::optional<IndexEntry>& entry) {
  json.key(key);
  if (!entry) {
    json.null();
    return;
  }
  json.beginObject();
  json.key("time").value(formatTimeText(entry->time));
  json.key("position").value(entry->position);
  json.endObject();
}

void optionalTimeJson(JsonWriter& json, const char* key, const std::optional<uint64_t>& time) {
  json.key(key);
  if (time) {
    json.value(formatTimeText(*time));
  } else {
    json.null();
  }
}

// {"<low key>": low, "<high key>": high}, or null when the scan saw no value.
template <class T>
void rangeJson(JsonWriter& json, const char* key, const char* lowKey, const std::optional<T>& low,
               const char* highKey, const std::optional<T>& high) {
  json.key(key);
  if (!low || !high) {
    json.null();
    return;
  }
  json.beginObject();
  json.key(lowKey).value(*low);
  json.key(highKey).value(*high);
  json.endObject();
}

}  // namespace

std::string infoJsonText(const RecordingInfo& info, TextEncoding encoding) {
  const DataFile& file = *info.file;
  const DataFileHeader& h = file.header();
  const Configuration& c = file.configuration();
  JsonWriter json;
  json.beginObject();
  json.key("path").value(pathText(info.path, encoding));
  json.key("state").value(recordingStateText(info));
  json.key("readToEndOfFile").value(info.salvaged);
  json.key("fileSize").value(int64_t{info.fileSize});
  json.key("header").beginObject();
  json.key("configOffset").value(h.configOffset);
  json.key("configLength").value(h.configLength);
  json.key("dataOffset").value(h.dataOffset);
  json.key("indexOffset").value(h.indexOffset);
  json.key("indexEnd").value(h.indexEnd);
  json.key("timeZoneBias").value(h.timeZoneBias);
  json.endObject();
  json.key("configuration").beginObject();
  json.key("parsed").value(file.configurationParsed());
  writeConfigSummaryJson(c, json, encoding);
  json.endObject();

  json.key("records").beginObject();
  json.key("total").value(info.records);
  json.key("byType").beginArray();
  for (uint64_t count : info.byType) json.value(count);
  json.endArray();
  json.key("oneRevolution").value(info.revolutionRecords);
  json.key("revolutionRange").value(info.rangeRecords);
  json.key("plainProfiles").value(info.plainProfiles);
  json.key("packedProfiles").value(info.packedProfiles);
  json.key("malformed").value(info.malformed);
  json.key("hosts").beginArray();
  for (const auto& [index, host] : info.hosts) {
    json.beginObject();
    json.key("hostIndex").value(uint32_t{index});
    json.key("name");
    if (index < c.hosts.size()) {
      json.value(decodeName(c.hosts[index].name.view(), encoding));
    } else {
      json.null();
    }
    json.key("byType").beginArray();
    for (uint64_t count : host.byType) json.value(count);
    json.endArray();
    json.key("channels").beginArray();
    for (const auto& [slot, channel] : host.channels) {
      json.beginObject();
      json.key("channel").value(uint32_t{slot});
      json.key("oneRevolution").value(channel.revolutionRecords);
      json.key("revolutionRange").value(channel.rangeRecords);
      json.key("bladesMin").value(uint32_t{channel.bladesMin});
      json.key("bladesMax").value(uint32_t{channel.bladesMax});
      json.endObject();
    }
    json.endArray();
    json.endObject();
  }
  json.endArray();
  json.endObject();

  optionalTimeJson(json, "firstTime", info.firstTime);
  optionalTimeJson(json, "lastTime", info.lastTime);
  rangeJson(json, "revolutions", "first", info.firstRevolution, "last", info.lastRevolution);
  rangeJson(json, "speed", "min", info.speedMin, "max", info.speedMax);
  json.key("index").beginObject();
  json.key("entries").value(info.indexEntries);
  optionalTimeJson(json, "firstTime", info.indexFirstTime);
  optionalTimeJson(json, "lastTime", info.indexLastTime);
  json.key("checked").value(info.indexChecked);
  json.key("disagreement");
  if (const std::optional<IndexDisagreement>& bad = info.indexDisagreement) {
    json.beginObject();
    json.key("entry").value(bad->entry);
    indexEntryJson(json, "stored", bad->stored);
    indexEntryJson(json, "expected", bad->expected);
    json.key("text").value(indexDisagreementText(*bad));
    json.endObject();
  } else {
    json.null();
  }
  json.endObject();
  json.key("stopped").beginObject();
  json.key("reason").value(dataFileStatusText(info.stop.status));
  json.key("offset").value(info.stop.offset);
  json.key("damaged").value(info.stop.status != DataFileStatus::EndOfRecords);
  json.endObject();
  writeUnitsJson(json);
  json.endObject();
  return json.text();
}

std::optional<std::string> infoJsonOf(const std::string& path, TextEncoding encoding,
                                      std::string& error) {
  RecordingInfo info;
  DataFileReport report;
  if (!scanDataFile(path, info, report)) {
    error = dataFileStatusText(report.status);
    return std::nullopt;
  }
  return infoJsonText(info, encoding);
}

}  // namespace cdt
