// cdt info: what is inside data files, as text or as JSON.
#include <optional>
#include <string>

#include "foundation/name_text.h"
#include "foundation/time_text.h"
#include "info/config_summary.h"
#include "info/info_json.h"
#include "info/info_scan.h"
#include "tools/commands.h"
#include "tools/info_follow.h"
#include "tools/progress.h"

namespace cdt {

namespace {

constexpr OptionSpec kOptions[] = {
    {"json", nullptr, "print one JSON object per file, one per line"},
    {"encoding", "NAME",
     "decode the file's names as NAME (auto, utf-8, windows-1252, windows-1250, "
     "windows-1251, latin-1)"},
    {"follow", nullptr,
     "follow each FILE while it is written: a live status line until it is finished"},
    {"idle", "SECONDS", "--follow: give up a file that has not grown for SECONDS (default 60)"},
};

constexpr const char* kDescription =
    "For each FILE: whether it is finished or still being written, the header\n"
    "fields, the configuration (stages, hosts with each channel's probe, racks),\n"
    "the records by type, host and channel, their layouts, times, revolutions and\n"
    "speeds, the index, and where reading stopped and why.\n"
    "\n"
    "Names are the bytes of the installation's code page. The text shows them as\n"
    "the file holds them; with --encoding it decodes them into UTF-8. JSON always\n"
    "decodes them: by default as UTF-8 when they are valid UTF-8, otherwise as\n"
    "windows-1252.\n"
    "\n"
    "With --follow, each FILE is a recording being written (NAME.cdt.temp, or NAME.cdt\n"
    "to follow its .temp file until it is renamed), shown as it grows: its records,\n"
    "revolutions (lines), the last line's revolution, speed and time, and the blade\n"
    "records of each channel, on one line rewritten in place on a terminal, else one\n"
    "line a second, until it is finished or has not grown for --idle seconds.\n"
    "\n"
    "Example: cdt info recording.cdt\n";

const char* kTypeNames[kRecordTypeCount] = {"type 0", "type 1", "type 2 (profiles)",
                                            "type 3 (blade records)"};

// The host's name as the text shows names: its bytes, or decoded.
std::string hostLabel(const Configuration& c, uint16_t index,
                      std::optional<TextEncoding> decodeAs) {
  if (index < c.hosts.size()) {
    const std::string_view name = c.hosts[index].name.view();
    return decodeAs ? decodeName(name, *decodeAs) : std::string(name);
  }
  return "host " + std::to_string(index) + " (not in the configuration)";
}

std::string optionalTime(const std::optional<uint64_t>& time) {
  return time ? formatTimeText(*time) : "-";
}

// Why reading stopped, and how much of the records it left.
std::string stopText(const RecordingInfo& info) {
  std::string text = dataFileStatusText(info.stop.status);
  text += " at offset " + std::to_string(info.stop.offset);
  const uint64_t end = info.file->recordsEnd();
  if (info.stop.status != DataFileStatus::EndOfRecords && end > info.stop.offset) {
    text += "; " + std::to_string(end - info.stop.offset) + " bytes of records not read";
  }
  if (info.salvaged) {
    text +=
        "; read to the end of the file: a file being written shows readers none of its "
        "records until it is finished (cdt recover)";
  }
  return text;
}

void printText(const RecordingInfo& info, std::optional<TextEncoding> decodeAs, FILE* out) {
  const DataFile& file = *info.file;
  const DataFileHeader& h = file.header();
  const Configuration& c = file.configuration();
  std::fprintf(out, "%s\n", info.path.c_str());
  std::fprintf(out, "  state: %s\n", recordingStateText(info));
  if (info.fileSize >= 0) {
    std::fprintf(out, "  file size: %lld bytes\n", static_cast<long long>(info.fileSize));
  }
  std::fprintf(out,
               "  header: configuration at %llu, %llu bytes; records at %llu; index %llu to %llu; "
               "time zone bias %lld s\n",
               static_cast<unsigned long long>(h.configOffset),
               static_cast<unsigned long long>(h.configLength),
               static_cast<unsigned long long>(h.dataOffset),
               static_cast<unsigned long long>(h.indexOffset),
               static_cast<unsigned long long>(h.indexEnd),
               static_cast<long long>(h.timeZoneBias / 1000000));
  writeConfigSummary(c, out, "  ", decodeAs);
  if (!file.configurationParsed()) {
    std::fprintf(out, "    (the configuration text did not parse completely)\n");
  }

  std::fprintf(out, "  records: %llu\n", static_cast<unsigned long long>(info.records));
  for (uint16_t type = 0; type < kRecordTypeCount; ++type) {
    if (info.byType[type] == 0) continue;
    std::fprintf(out, "    %s: %llu", kTypeNames[type],
                 static_cast<unsigned long long>(info.byType[type]));
    if (type == kRecordTypeBlades) {
      std::fprintf(out, " (%llu one-revolution, %llu revolution-range)",
                   static_cast<unsigned long long>(info.revolutionRecords),
                   static_cast<unsigned long long>(info.rangeRecords));
    } else if (type == kRecordTypeProfile) {
      std::fprintf(out, " (%llu plain, %llu packed)",
                   static_cast<unsigned long long>(info.plainProfiles),
                   static_cast<unsigned long long>(info.packedProfiles));
    }
    std::fputc('\n', out);
  }
  if (info.malformed > 0) {
    std::fprintf(out, "    malformed: %llu (size does not fit the layout)\n",
                 static_cast<unsigned long long>(info.malformed));
  }
  for (const auto& [index, host] : info.hosts) {
    std::fprintf(out, "    %s:", hostLabel(c, index, decodeAs).c_str());
    const char* separator = " ";
    for (uint16_t type = 0; type < kRecordTypeCount; ++type) {
      if (host.byType[type] == 0) continue;
      std::fprintf(out, "%stype %u: %llu", separator, unsigned{type},
                   static_cast<unsigned long long>(host.byType[type]));
      separator = ", ";
    }
    std::fputc('\n', out);
    for (const auto& [slot, channel] : host.channels) {
      std::fprintf(out, "      channel %u: %llu one-revolution, %llu revolution-range; ",
                   unsigned{slot}, static_cast<unsigned long long>(channel.revolutionRecords),
                   static_cast<unsigned long long>(channel.rangeRecords));
      if (channel.bladesMin == channel.bladesMax) {
        std::fprintf(out, "%u blades\n", unsigned{channel.bladesMin});
      } else {
        std::fprintf(out, "%u to %u blades\n", unsigned{channel.bladesMin},
                     unsigned{channel.bladesMax});
      }
    }
  }
  std::fprintf(out, "  time: %s to %s\n", optionalTime(info.firstTime).c_str(),
               optionalTime(info.lastTime).c_str());
  if (info.firstRevolution) {
    std::fprintf(out, "  revolutions: %llu to %llu\n",
                 static_cast<unsigned long long>(*info.firstRevolution),
                 static_cast<unsigned long long>(*info.lastRevolution));
  } else {
    std::fprintf(out, "  revolutions: -\n");
  }
  if (info.speedMin) {
    std::fprintf(out, "  speed: %.6g to %.6g rpm\n", *info.speedMin, *info.speedMax);
  } else {
    std::fprintf(out, "  speed: -\n");
  }
  std::fprintf(out, "  index: %u entries", info.indexEntries);
  if (info.indexFirstTime) {
    std::fprintf(out, ", %s to %s", formatTimeText(*info.indexFirstTime).c_str(),
                 formatTimeText(*info.indexLastTime).c_str());
  }
  if (info.indexDisagreement) {
    std::fprintf(out, "; entry %u disagrees with the records: %s", info.indexDisagreement->entry,
                 indexDisagreementText(*info.indexDisagreement).c_str());
  } else if (info.indexChecked) {
    std::fprintf(out, "; %s",
                 info.stop.status == DataFileStatus::EndOfRecords
                     ? "agrees with the records"
                     : "agrees with the records before the damage");
  }
  std::fputc('\n', out);
  std::fprintf(out, "  reading stopped: %s\n", stopText(info).c_str());
  writeUnitsSummary(out, "  ");
}

void showProgress(void* context, uint64_t bytes) {
  static_cast<ProgressLine*>(context)->update(bytes);
}

}  // namespace

int runInfo(const CommandArgs& args, FILE* out, FILE* err) {
  if (args.has("follow") || args.has("idle")) return runInfoFollow(args, out, err);
  const bool asJson = args.has("json");
  std::optional<TextEncoding> encoding;
  if (const std::optional<std::string> name = args.value("encoding")) {
    encoding = textEncodingNamed(*name);
    if (!encoding) {
      return usageError(args, err, "unknown encoding '%s' (%s)", name->c_str(),
                        textEncodingChoices());
    }
  }
  int status = 0;
  bool first = true;
  for (const std::string& path : args.positionals) {
    RecordingInfo info;
    DataFileReport report;
    bool opened;
    {
      ProgressLine progress(err, "info: read", "bytes", 0);
      opened = scanDataFile(path, info, report, showProgress, &progress);
    }
    if (!opened) {
      status = fileError(args, err, "cannot read '%s': %s", path.c_str(),
                         dataFileStatusText(report.status));
      continue;
    }
    if (asJson) {
      std::fprintf(out, "%s\n", infoJsonText(info, encoding.value_or(TextEncoding::Auto)).c_str());
    } else {
      if (!first) std::fputc('\n', out);
      printText(info, encoding, out);
    }
    first = false;
  }
  return status;
}

const CommandSpec kInfoCommand = {
    "info",
    "Shows what is inside data files",
    "cdt info [--json] [--encoding NAME] FILE...  |  cdt info --follow [--idle S] FILE...",
    kDescription,
    kOptions,
    1,
    -1,
    runInfo,
};

}  // namespace cdt
