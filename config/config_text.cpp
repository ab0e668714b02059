#include "config/config_text.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "config/field_lines.h"
#include "config/field_tables.h"
#include "foundation/text_building.h"

namespace cdt {

namespace {

// Room kept free before the lines the writer formats itself.
constexpr uint32_t kBlockRoom = 1024;

bool matchesPattern(TextBuffer line, TextBuffer pattern) {
  if (textEquals(line, pattern)) return true;
  if (pattern.length == 0 || pattern.text[pattern.length - 1] != '*') return false;
  // The '*' stands for at least one character.
  if (line.length < pattern.length) return false;
  return std::memcmp(line.text, pattern.text, pattern.length - 1) == 0;
}

void writeBlock(CountedString& text, int w, const char* kind, uint32_t number,
                const FieldDescriptor* table, const void* record) {
  reserveTextRoom(text, kBlockRoom);
  formatAppend(text, "%*sBegin %s %u\n", w + 2, "", kind, number);
  writeFieldLines(table, record, text, static_cast<uint32_t>(w + 4));
  reserveTextRoom(text, kBlockRoom);
  formatAppend(text, "%*sEnd %s\n", w + 2, "", kind);
}

// Where key = value lines go and which probe calibration lines address.
struct ReaderState {
  const FieldDescriptor* table;
  void* record;
  Probe* probe;
};

ReaderState configurationLevel(Configuration& configuration) {
  return {kConfigurationFields, &configuration, nullptr};
}

// A calibration point line of the current probe; false when its shape or
// index is wrong.
bool applyCalibrationLine(Probe& probe, TextBuffer line) {
  static constexpr TokenRules kRules{" \t,", "=[]{}", true, 0, 0};
  TextBuffer t[10];
  Tokenizer tokenizer(line.text, line.length);
  if (splitTokens(tokenizer, kRules, t, 10) != 10) return false;
  auto is = [](TextBuffer token, std::string_view text) { return token.view() == text; };
  if (!is(t[0], "calData") || !is(t[1], "[") || !is(t[3], "]") || !is(t[4], "=") ||
      !is(t[5], "{") || !is(t[9], "}")) {
    return false;
  }
  if (!isIntegerText(t[2], 10) || !isRealText(t[6]) || !isRealText(t[7]) || !isRealText(t[8])) {
    return false;
  }
  const uint32_t index = parseUInt32(t[2], UINT32_MAX, 10);
  if (index >= probe.calData.size()) return false;
  probe.calData.at(index) = CalPoint{parseReal(t[6], 0), parseReal(t[7], 0), parseReal(t[8], 0)};
  return true;
}

// A count line: the array of `code`'s kind gets n entities. False when n is
// out of range.
bool applyCountLine(Configuration& configuration, int32_t code, uint32_t n) {
  if (n > kMaxConfigCount || (code == kKeywordNumStages && n == 0)) return false;
  switch (code) {
    case kKeywordNumStages:
      configuration.stages.setLength(n);
      break;
    case kKeywordNumHosts:
      configuration.hosts.setLength(n);
      break;
    default: {
      const uint32_t old = configuration.racks.size();
      configuration.racks.setLength(n);
      for (uint32_t i = old; i < n; ++i) configuration.initialiseNewRack(i);
      break;
    }
  }
  return true;
}

// `pointBudget` is what is left of the calibration points the text may create
// in all: no more than its length in bytes, since every point the writer
// emits takes a line of its own. A damaged text of a few megabytes could
// otherwise claim 4095 points for each of 49,140 probes, gigabytes of zeros.
bool applyCalibrationCount(Probe& probe, uint32_t n, uint64_t& pointBudget) {
  if (n > kMaxConfigCount) return false;
  const uint32_t old = probe.calData.size();
  if (n > old) {
    if (n - old > pointBudget) return false;
    pointBudget -= n - old;
  }
  probe.calData.setLength(n);
  // New points read as zero until a calibration line sets them.
  for (uint32_t i = old; i < n; ++i) probe.calData.at(i) = CalPoint{};
  return true;
}

}  // namespace

KeywordPatterns splitKeywordList(TextBuffer keywords) {
  static constexpr TokenRules kRules{"\n", nullptr, true, 0, 0};
  KeywordPatterns list;
  Tokenizer tokenizer(keywords.text, keywords.length);
  list.count = splitTokens(tokenizer, kRules, list.patterns, KeywordPatterns::kMaxPatterns);
  return list;
}

int32_t nextKeywordLine(const FieldDescriptor* table, void* record, Tokenizer& tokenizer,
                        const KeywordPatterns& keywords) {
  static constexpr TokenRules kLineRules{"\n", nullptr, true, 0, 0};
  while (!tokenizer.atEnd()) {
    const TextBuffer line = nextToken(tokenizer, kLineRules);
    for (uint32_t i = 0; i < keywords.count; ++i) {
      if (matchesPattern(line, keywords.patterns[i])) return static_cast<int32_t>(i);
    }
    parseFieldLine(table, record, line);
  }
  return kKeywordEndOfText;
}

int32_t nextKeywordLine(const FieldDescriptor* table, void* record, Tokenizer& tokenizer,
                        TextBuffer keywords) {
  return nextKeywordLine(table, record, tokenizer, splitKeywordList(keywords));
}

uint32_t lineNumberArgument(const Tokenizer& tokenizer) {
  static constexpr TokenRules kRules{" ", nullptr, true, 0, 0};
  const Tokenizer line(tokenizer.lastToken.text, tokenizer.lastToken.length);
  return parseUInt32(tokenAt(line, kRules, -1), UINT32_MAX, 10);
}

void writeConfigText(const Configuration& configuration, CountedString& text, uint32_t indent) {
  const int w = static_cast<int>(indent);
  const uint32_t hostCount = configuration.hosts.size();
  const uint32_t rackCount = configuration.racks.size();

  reserveTextRoom(text, kBlockRoom);
  formatAppend(text, "%*sBegin Configuration\n", w, "");
  formatAppend(text, "%*snumStages = %d\n", w, "", static_cast<int>(configuration.stages.size()));
  formatAppend(text, "%*snumRacks = %d\n", w, "", static_cast<int>(rackCount));
  formatAppend(text, "%*snumHosts = %d\n", w, "", static_cast<int>(hostCount));
  writeFieldLines(kConfigurationFields, &configuration, text, indent + 2);

  for (uint32_t i = 0; i < configuration.stages.size(); ++i) {
    writeBlock(text, w, "Stage", i, kStageFields, &configuration.stages[i]);
  }
  for (uint32_t i = 0; i < hostCount; ++i) {
    writeBlock(text, w, "Host", i, kHostFields, &configuration.hosts[i]);
  }
  for (uint32_t i = 0; i < rackCount; ++i) {
    writeBlock(text, w, "Rack", i, kRackFields, &configuration.racks[i]);
  }
  for (uint32_t c = 0; c < hostCount * kChannelsPerHost; ++c) {
    writeBlock(text, w, "Channel", c, kChannelFields, &configuration.channelAt(c));
  }
  for (uint32_t r = 0; r < rackCount * kSlotsPerRack; ++r) {
    writeBlock(text, w, "Relay", r, kRelayFields, &configuration.relayAt(r));
  }
  for (uint32_t p = 0; p < rackCount * kSlotsPerRack; ++p) {
    const Probe& probe = configuration.probeAt(p);
    reserveTextRoom(text, kBlockRoom);
    formatAppend(text, "%*sBegin Probe %u\n", w + 2, "", p);
    writeFieldLines(kProbeFields, &probe, text, indent + 4);
    formatAppend(text, "%*snumCalData = %u\n", w + 4, "", probe.calData.size());
    for (uint32_t j = 0; j < probe.calData.size(); ++j) {
      const CalPoint& point = probe.calData[j];
      reserveTextRoom(text, kBlockRoom);
      formatAppend(text, "%*scalData[%d] = { %.6f, %.6f, %.6f }\n", w + 4, "", static_cast<int>(j),
                   point.x, point.y, point.z);
    }
    reserveTextRoom(text, kBlockRoom);
    formatAppend(text, "%*sEnd Probe\n", w + 2, "");
  }
  formatAppend(text, "%*sEnd Configuration\n", w, "");
}

CountedString configToText(const Configuration& configuration, uint32_t indent) {
  CountedString text;
  writeConfigText(configuration, text, indent);
  return text;
}

bool parseConfigText(Configuration& configuration, Tokenizer& tokenizer) {
  const KeywordPatterns keywords =
      splitKeywordList(TextBuffer(kConfigKeywords, sizeof(kConfigKeywords) - 1));
  ReaderState state = configurationLevel(configuration);
  bool result = true;
  bool ended = false;
  const bool emptyText = tokenizer.atEnd();
  uint64_t pointBudget = tokenizer.length;

  while (!ended && result && !tokenizer.atEnd()) {
    const int32_t code = nextKeywordLine(state.table, state.record, tokenizer, keywords);
    switch (code) {
      case kKeywordEndConfiguration:
        ended = true;
        break;
      case kKeywordNumStages:
      case kKeywordNumHosts:
      case kKeywordNumRacks:
        // Resizing may move or destroy the record being filled, so a count
        // line always returns the reader to the configuration level first.
        state = configurationLevel(configuration);
        result = applyCountLine(configuration, code, lineNumberArgument(tokenizer));
        break;
      case kKeywordNumCalData:
        result = state.probe != nullptr &&
                 applyCalibrationCount(*state.probe, lineNumberArgument(tokenizer), pointBudget);
        break;
      case kKeywordCalData:
        result = state.probe != nullptr && applyCalibrationLine(*state.probe, tokenizer.lastToken);
        break;
      case kKeywordBeginStage:
      case kKeywordBeginHost:
      case kKeywordBeginRack: {
        const uint32_t n = lineNumberArgument(tokenizer);
        if (code == kKeywordBeginStage && n < configuration.stages.size()) {
          state.table = kStageFields;
          state.record = &configuration.stages.at(n);
        } else if (code == kKeywordBeginHost && n < configuration.hosts.size()) {
          state.table = kHostFields;
          state.record = &configuration.hosts.at(n);
        } else if (code == kKeywordBeginRack && n < configuration.racks.size()) {
          state.table = kRackFields;
          state.record = &configuration.racks.at(n);
        } else {
          result = false;
        }
        break;
      }
      case kKeywordBeginChannel: {
        const uint32_t n = lineNumberArgument(tokenizer);
        if (n < configuration.channelCount()) {
          state.table = kChannelFields;
          state.record = &configuration.channelAt(n);
        } else {
          result = false;
        }
        break;
      }
      case kKeywordBeginRelay: {
        const uint32_t n = lineNumberArgument(tokenizer);
        if (n < configuration.probeCount()) {
          state.table = kRelayFields;
          state.record = &configuration.relayAt(n);
        } else {
          result = false;
        }
        break;
      }
      case kKeywordBeginProbe: {
        const uint32_t n = lineNumberArgument(tokenizer);
        if (n < configuration.probeCount()) {
          state.table = kProbeFields;
          state.probe = &configuration.probeAt(n);
          state.record = state.probe;
        } else {
          result = false;
        }
        break;
      }
      case kKeywordEndStage:
      case kKeywordEndHost:
      case kKeywordEndRack:
      case kKeywordEndChannel:
      case kKeywordEndRelay:
      case kKeywordEndProbe:
        state = configurationLevel(configuration);
        break;
      default:
        result = false;
        break;  // the text ended before "End Configuration"
    }
  }
  // A text cut right after a structural line leaves the loop without reading
  // "End Configuration" and without a failed line; it is cut all the same.
  if (!ended && !emptyText) result = false;
  configuration.relink();
  return result;
}

}  // namespace cdt
