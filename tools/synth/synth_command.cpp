// cdt synth: makes a realistic recording with the library's own writer.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/model.h"
#include "datafile/aggregation.h"
#include "datafile/data_file.h"
#include "datafile/file_names.h"
#include "datafile/record_constructors.h"
#include "foundation/file_system.h"
#include "foundation/name_text.h"
#include "foundation/text_building.h"
#include "foundation/time_text.h"
#include "info/json_writer.h"
#include "tools/commands.h"
#include "tools/progress.h"
#include "tools/selection_text.h"
#include "tools/synth/synth_config.h"
#include "tools/synth/synth_crash.h"
#include "tools/synth/synth_departures.h"
#include "tools/synth/synth_live.h"
#include "tools/synth/synth_signal.h"

namespace cdt {

namespace {

constexpr const char* kDefaultStart = "2011-05-06T12:30:00Z";
constexpr uint32_t kEntriesPerEvent = 2;
constexpr uint32_t kFixedEveryExtras = 5;

constexpr OptionSpec kOptions[] = {
    {"hosts", "N", "acquisition hosts, one data file each (1 to 16; default 1)"},
    {"probes", "N", "probes per host, on channels 0 to N-1 (1 to 4; default 4)"},
    {"stages", "N", "rotor stages (1 to 16; default 1); probe k watches stage k mod N"},
    {"blades", "N[,N...]", "blades per stage: one count for all, or one per stage (default 60)"},
    {"revolutions", "N", "revolutions to record (default 1000)"},
    {"size", "MB", "record until each file holds MB x 1000000 bytes (replaces --revolutions)"},
    {"rpm", "R", "shaft speed at the end of the run-up (default 3000)"},
    {"aggregate", "N",
     "store revolution-range records of N revolutions (default: one per revolution)"},
    {"profiles", "N",
     "a profile every N revolutions, alternately plain and packed (default: none)"},
    {"extras", "N",
     "a type-1 record every N revolutions, a type-0 every 5N (default 100; 0: none)"},
    {"start", "TIME", "UTC time of the first revolution, ISO 8601 (default 2011-05-06T12:30:00Z)"},
    {"seed", "N", "seed of the measurement noise (default 1)"},
    {"name", "NAME", "configuration name, which begins every file name (default Rig1)"},
    {"probe-names", "NAME[,NAME...]",
     "names of the probes, host after host, channel after channel (may repeat)"},
    {"encoding", "NAME",
     "code page the names are written in (default windows-1252, as the installation does)"},
    {"drop", "HOST:EVERY",
     "HOST leaves out every EVERY-th revolution it records (--aggregate: range record)"},
    {"late", "HOST:REVS", "HOST starts recording REVS revolutions after the others"},
    {"early", "HOST:REVS", "HOST stops recording REVS revolutions before the others"},
    {"resync", "[HOST:]REV[/EVERY]",
     "at revolution REV (and every EVERY after it) the revolution counter of HOST (else of "
     "every host) restarts at 1"},
    {"clock-offset", "HOST:US",
     "HOST's times run US microseconds ahead, or behind when negative (up to 1000000)"},
    {"resonance", "EO:FREQ:DAMPING:AMPLITUDE",
     "blades vibrate: driven at engine order EO, natural frequency FREQ Hz (mistuned by up to "
     "0.5 % per blade), damping ratio DAMPING, zero-to-peak AMPLITUDE at resonance in the "
     "diameter's units (repeatable)"},
    {"probe-angles", "DEG[,DEG...]",
     "radial positions of the probes in degrees, host after host, channel after channel"},
    {"run-down", nullptr, "with --resonance: the speed falls from --rpm to 60 % of it"},
    {"sweeps", "N",
     "with --resonance: sweep the speed range N times, up and down in turn (default 1)"},
    {"truth", "FILE",
     "with --resonance: where the resonances' truth goes as JSON (default: NAME.truth.json in "
     "DIR)"},
    {"unfinished", nullptr, "leave the files as being written (\".temp\", no index)"},
    {"damage", nullptr, "cut the last record of every file short"},
    {"nan-cells", "EVERY",
     "every EVERY-th revolution records the default quiet NaN (bits 0x7FC00000) in a probe's "
     "RMS, another's DNS of a blade, a third's TOA of a blade, and every 4th time the speed"},
    {"live", "RATE",
     "write as a recorder does, at RATE times real time (max: at once), in pieces that cut "
     "records; with --unfinished the writer dies in its last record"},
    {"start-over", "REV",
     "(with --live) record the revolutions before REV with other values, then start over in "
     "the same file, opened for update"},
};

constexpr const char* kDescription =
    "Writes one data file per host into DIR (created when missing), named\n"
    "NAME.0000.DaqN.YYYY-MM-DD.hh-mm-ss.cdt after the start time, and prints their paths.\n"
    "Each revolution gives one blade record per probe (or, with --aggregate, one\n"
    "revolution-range record per probe every N revolutions). The same options give\n"
    "the same files.\n"
    "\n"
    "The hosts of a set can differ as those of real installations do: --drop, --late,\n"
    "--early, --resync and --clock-offset, each once per host. HOST is the host's\n"
    "number from 1 (host 1 is the master) or its name (Daq2). REVS and REV count\n"
    "revolutions of the run from 1 at its start, so they need --revolutions, not --size.\n"
    "--drop counts the host's own records: --drop 2:7 leaves out all of host 2's records\n"
    "of the 7th, 14th, ... revolution it records; with --aggregate the 7th, 14th, ...\n"
    "range records of each probe. After --resync REV, revolution REV is counted 1, the\n"
    "next 2, and so on; times go on, the tracker locks on again after 3 revolutions and\n"
    "a range record ends at the restart; --resync 7/7 restarts it at revolution 7 and\n"
    "every 7 revolutions after. --resync HOST:REV takes the place of --resync REV for\n"
    "that host. Every "
    "file keeps the start time in its name.\n"
    "\n"
    "With --live RATE the files are written as a recorder writes them, for following\n"
    "them (cdt export --follow): the revolutions at RATE times their real pace (1: real\n"
    "time, 10: ten times faster, max or 0: as fast as possible), the bytes reaching the\n"
    "file in pieces of random sizes that cut records anywhere. The paths being written\n"
    "(\".temp\") are printed first; each file is finished and renamed at the end. With\n"
    "--unfinished the writer dies instead: the last record is only half written and the\n"
    "file is left unfinished. A live file keeps the writer's time-zone bias. With\n"
    "--start-over REV the writer first records the revolutions before REV with other\n"
    "values, then opens its file for update and writes it again from its start: a\n"
    "file rewritten in place, never shorter, that ends as the file without the option.\n"
    "\n"
    "With --resonance the blades vibrate as damped single-degree-of-freedom oscillators\n"
    "driven by a force pattern of EO lobes that stands still in the casing; the speed\n"
    "ramps over the whole run from 60 % to 100 % of --rpm (--run-down: back down), so\n"
    "each blade crosses its resonance at 60 FREQ / EO rpm when that lies in the ramp.\n"
    "Times of arrival then come from the geometry: blade b passes probe p at\n"
    "radialPosition + oprToBlade0 + 2 pi b / blades, earlier by its tip deflection over\n"
    "the stage radius, plus a static deflection per blade and probe that grows with\n"
    "speed. The probes sit at uneven angles (--probe-angles to choose them). The truth\n"
    "(per order and blade: natural frequency, damping, amplitude, speed at resonance)\n"
    "is written as JSON (--truth).\n"
    "\n"
    "Example: cdt synth --hosts 2 --revolutions 500 --profiles 100 out/\n"
    "         cdt synth --revolutions 20000 --resonance 8:360:0.005:0.5 run/\n";

// Parses "60" or "60,48,36" into blade counts.
bool parseBladeList(const std::string& text, std::vector<uint16_t>& blades) {
  blades.clear();
  size_t begin = 0;
  for (;;) {
    size_t comma = text.find(',', begin);
    std::string piece =
        text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
    std::optional<int64_t> value = parseInteger(piece);
    if (!value || *value < 1 || *value > 1000 || blades.size() >= 64) return false;
    blades.push_back(static_cast<uint16_t>(*value));
    if (comma == std::string::npos) return true;
    begin = comma + 1;
  }
}

// Parses "EO:FREQ:DAMPING:AMPLITUDE".
std::optional<SynthResonance> parseResonance(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t colon = text.find(':', begin);
    parts.push_back(text.substr(begin, colon == std::string::npos ? colon : colon - begin));
    if (colon == std::string::npos) break;
    begin = colon + 1;
  }
  if (parts.size() != 4) return std::nullopt;
  const std::optional<int64_t> order = parseInteger(parts[0]);
  const std::optional<double> frequency = parseReal(parts[1]);
  const std::optional<double> damping = parseReal(parts[2]);
  const std::optional<double> amplitude = parseReal(parts[3]);
  if (!order || *order < 1 || *order > 200 || !frequency || !(*frequency > 0) || *frequency > 1e6 ||
      !damping || !(*damping > 0) || *damping >= 0.5 || !amplitude || !(*amplitude > 0) ||
      *amplitude > 1e3) {
    return std::nullopt;
  }
  return SynthResonance{static_cast<uint32_t>(*order), *frequency, *damping, *amplitude};
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

// Reads the options; 0 when they are good, else the usage error's status.
int readOptions(const CommandArgs& args, FILE* err, SynthOptions& o) {
  auto hosts = integerOption(args, "hosts", 1, 1, 16, err);
  if (!hosts) return 2;
  auto probes = integerOption(args, "probes", 4, 1, kChannelsPerHost, err);
  if (!probes) return 2;
  auto stages = integerOption(args, "stages", 1, 1, 16, err);
  if (!stages) return 2;
  auto revolutions = integerOption(args, "revolutions", 1000, 1, 4000000000LL, err);
  if (!revolutions) return 2;
  auto size = integerOption(args, "size", 0, 1, 1000000, err);
  if (!size) return 2;
  auto rpm = realOption(args, "rpm", 3000.0, 10.0, 100000.0, err);
  if (!rpm) return 2;
  auto aggregate = integerOption(args, "aggregate", 0, 1, 1000000, err);
  if (!aggregate) return 2;
  auto profiles = integerOption(args, "profiles", 0, 1, 1000000000, err);
  if (!profiles) return 2;
  auto extras = integerOption(args, "extras", 100, 0, 1000000000, err);
  if (!extras) return 2;
  auto seed = integerOption(args, "seed", 1, 0, INT64_MAX, err);
  if (!seed) return 2;
  o.hosts = static_cast<uint32_t>(*hosts);
  o.probesPerHost = static_cast<uint32_t>(*probes);
  o.stages = static_cast<uint32_t>(*stages);
  o.revolutions = static_cast<uint64_t>(*revolutions);
  o.targetBytes = static_cast<uint64_t>(*size) * 1000000;
  o.rpm = *rpm;
  o.aggregate = static_cast<uint32_t>(*aggregate);
  o.profileEvery = static_cast<uint32_t>(*profiles);
  o.extrasEvery = static_cast<uint32_t>(*extras);
  o.seed = static_cast<uint64_t>(*seed);
  if (auto blades = args.value("blades"); blades && !parseBladeList(*blades, o.blades)) {
    return usageError(args, err,
                      "--blades wants counts from 1 to 1000 separated by commas, not '%s'",
                      blades->c_str());
  }
  std::string start = args.value("start").value_or(kDefaultStart);
  std::optional<uint64_t> startTime = parseTimeText(start);
  if (!startTime) {
    return usageError(args, err, "--start wants a UTC time like %s, not '%s'", kDefaultStart,
                      start.c_str());
  }
  o.start = *startTime;
  o.name = args.value("name").value_or("Rig1");
  if (!validName(o.name)) {
    return usageError(args, err, "--name wants 1 to 64 characters without slashes, not '%s'",
                      o.name.c_str());
  }
  if (auto names = args.value("probe-names")) {
    o.probeNames = splitList(*names);
    if (o.probeNames.size() > std::size_t{o.hosts} * o.probesPerHost) {
      return usageError(args, err, "--probe-names names %u probes, but there are %u",
                        static_cast<unsigned>(o.probeNames.size()), o.hosts * o.probesPerHost);
    }
    for (const std::string& n : o.probeNames) {
      if (n.empty() || n.size() > 64 || n.find_first_of("\r\n") != std::string::npos) {
        return usageError(args, err, "--probe-names wants names of 1 to 64 characters, not '%s'",
                          names->c_str());
      }
    }
  }
  // The names come as UTF-8 text and go into the files in the code page.
  const std::string encodingName = args.value("encoding").value_or("windows-1252");
  const std::optional<TextEncoding> encoding = textEncodingNamed(encodingName);
  if (!encoding) {
    return usageError(args, err, "unknown encoding '%s' (%s)", encodingName.c_str(),
                      textEncodingChoices());
  }
  std::vector<std::string*> texts{&o.name};
  for (std::string& n : o.probeNames) texts.push_back(&n);
  for (std::string* text : texts) {
    const std::optional<std::string> bytes = encodeName(*text, *encoding);
    if (!bytes) {
      return usageError(args, err, "'%s' cannot be written in %s", text->c_str(),
                        encodingName.c_str());
    }
    *text = *bytes;
  }
  for (const auto& [name, value] : args.options) {
    if (name != "resonance") continue;
    const std::optional<SynthResonance> resonance = parseResonance(value);
    if (!resonance || o.resonances.size() >= 16) {
      return usageError(args, err,
                        "--resonance wants EO:FREQ:DAMPING:AMPLITUDE (order 1 to 200, frequency "
                        "and amplitude above 0, damping from 0 to 0.5; at most 16), not '%s'",
                        value.c_str());
    }
    o.resonances.push_back(*resonance);
  }
  if (auto angles = args.value("probe-angles")) {
    for (const std::string& piece : splitList(*angles)) {
      const std::optional<double> degrees = parseReal(piece);
      if (!degrees || *degrees < -360 || *degrees > 360) {
        return usageError(args, err, "--probe-angles wants degrees from -360 to 360, not '%s'",
                          angles->c_str());
      }
      o.probeAngles.push_back(*degrees * std::numbers::pi / 180.0);
    }
  }
  o.runDown = args.has("run-down");
  o.truthPath = args.value("truth").value_or("");
  auto sweeps = integerOption(args, "sweeps", 1, 1, 1000000, err);
  if (!sweeps) return 2;
  o.sweeps = static_cast<uint32_t>(*sweeps);
  if (o.resonances.empty() && (o.runDown || !o.truthPath.empty() || args.has("sweeps"))) {
    return usageError(args, err, "--run-down, --sweeps and --truth go with --resonance");
  }
  auto nanEvery = integerOption(args, "nan-cells", 0, 1, 4000000000LL, err);
  if (!nanEvery) return 2;
  o.nanEvery = static_cast<uint64_t>(*nanEvery);
  o.unfinished = args.has("unfinished");
  o.damage = args.has("damage");
  auto startOver = integerOption(args, "start-over", 0, 2, 4000000000LL, err);
  if (!startOver) return 2;
  o.startOver = static_cast<uint64_t>(*startOver);
  if (o.startOver != 0 && (!args.has("live") || args.has("size") || o.startOver > o.revolutions)) {
    return usageError(args, err, "--start-over REV needs --live and --revolutions of REV or more");
  }
  if (auto live = args.value("live")) {
    o.live = parseLiveRate(*live);
    if (!o.live) {
      return usageError(args, err, "--live wants a rate from 0.001 to 1000000 or max, not '%s'",
                        live->c_str());
    }
    if (o.damage) {
      return usageError(args, err,
                        "--damage is not for --live: a live writer that dies (--unfinished) "
                        "leaves its last record cut");
    }
  }
  return 0;
}

// Bytes one revolution adds to each file, on average.
double bytesPerRevolution(const SynthOptions& o) {
  double bytes = 0;
  for (uint32_t k = 0; k < o.probesPerHost; ++k) {
    const uint16_t blades = stageBlades(o, k % o.stages);
    bytes +=
        o.aggregate > 0
            ? static_cast<double>(bladeRangeRecordSize(blades) - kRecordCountSize) / o.aggregate
            : bladeRevolutionRecordSize(blades) - kRecordCountSize;
  }
  if (o.profileEvery > 0) {
    bytes += (kPlainProfileSize + kPackedProfileSize - 2.0 * kRecordCountSize) / 2 / o.profileEvery;
  }
  if (o.extrasEvery > 0) {
    bytes += (kEntriesBaseSize + kEntrySize * kEntriesPerEvent - kRecordCountSize) /
             static_cast<double>(o.extrasEvery);
    bytes += (kFixedRecordSize - kRecordCountSize) /
             static_cast<double>(o.extrasEvery * kFixedEveryExtras);
  }
  return bytes;
}

// The value a recorder writes for "no reading": the default quiet NaN, whose
// bits the CSV prints as nan and every other view must keep apart from an
// empty cell.
constexpr uint32_t kQuietNaNBits = 0x7FC00000u;

// The `k`-th revolution of --nan-cells, in the record of `slot` of a host
// with `probes` probes: the RMS of probe k, the DNS of blade k of probe
// k + 1 and the TOA of blade k + 1 of probe k + 2 (blades counted modulo
// the stage), and every 4th time the speed of every probe's record.
void plantNaNs(DataRecord& record, uint32_t slot, uint32_t probes, uint64_t k) {
  const float nan = std::bit_cast<float>(kQuietNaNBits);
  const uint32_t blades = bladeCount(record);
  if (slot == k % probes) setBladeRms(record, nan);
  if (blades > 0 && slot == (k + 1) % probes) {
    storeF32(bladeEntry(record, static_cast<uint32_t>(k % blades)) + kBladeDns, nan);
  }
  if (blades > 0 && slot == (k + 2) % probes) {
    storeF32(bladeEntry(record, static_cast<uint32_t>((k + 1) % blades)) + kBladeToa, nan);
  }
  if (k % 4 == 3) setBladeSpeed(record, nan);
}

// One host's data file while it is written.
struct HostRecording {
  uint16_t host = 0;
  std::unique_ptr<DataFile> file;
  std::unique_ptr<HostSignal> signal;
  std::vector<RecordRef> scratch;       // per slot, reused while nobody else holds it
  std::vector<RecordRef> accumulators;  // per slot, with --aggregate
  HostDeparture departure;
  uint64_t recorded = 0;   // revolutions the host has recorded, dropped ones included
  uint64_t ranges = 0;     // range records per slot it has ended, dropped ones included
  uint64_t end = 0;        // end of the last record written
  uint64_t lastStart = 0;  // start of the last record written
  uint64_t profiles = 0;
  bool writeFailed = false;
  // A writer that is to die keeps each record back until the next one
  // comes, so that its last one can be left half written.
  bool holdLast = false;
  RecordRef held;

  void write(const DataRecord& record) {
    if (holdLast) {
      RecordRef copy = newRecord(record.size());
      std::memcpy(copy->fileBytes(), record.fileBytes(), record.fileSize());
      std::swap(copy, held);
      if (!copy) return;
      writeHeld(*copy);
      return;
    }
    writeHeld(record);
  }

  void writeHeld(const DataRecord& record) {
    if (!writeRecord(*file, record)) {
      writeFailed = true;
      return;
    }
    lastStart = end;
    end += record.fileSize();
  }

  void flushAccumulators() {
    if (std::none_of(accumulators.begin(), accumulators.end(),
                     [](const RecordRef& a) { return static_cast<bool>(a); })) {
      return;
    }
    const bool dropped = departure.dropEvery != 0 && ++ranges % departure.dropEvery == 0;
    for (RecordRef& accumulator : accumulators) {
      if (accumulator && !dropped) write(*accumulator);
      accumulator.reset();
    }
  }

  // Records revolution `run` of the shaft as this host sees it, if it does.
  void follow(const SynthOptions& o, const Revolution& run) {
    const std::optional<Revolution> rev = hostRevolution(departure, o.revolutions, run);
    if (!rev) return;
    // A range record never spans a restart of the counter.
    if (o.aggregate > 0 && restartsAt(departure, run.number)) flushAccumulators();
    ++recorded;
    if (o.aggregate == 0 && departure.dropEvery != 0 && recorded % departure.dropEvery == 0) {
      return;
    }
    recordRevolution(o, *rev);
  }

  void recordRevolution(const SynthOptions& o, const Revolution& rev) {
    for (uint32_t slot = 0; slot < o.probesPerHost; ++slot) {
      RecordRef& record = scratch[slot];
      if (!record || record->referenceCount() != 0) {
        record = newBladeRecord(host, signal->blades(slot));
      }
      signal->fillBladeRecord(*record, slot, rev);
      if (o.nanEvery != 0 && rev.number % o.nanEvery == 0) {
        plantNaNs(*record, slot, o.probesPerHost, rev.number / o.nanEvery);
      }
      if (o.aggregate == 0) {
        write(*record);
      } else {
        accumulateRecord(accumulators[slot], record.get());
      }
    }
    if (o.aggregate > 0 && rev.number % o.aggregate == 0) flushAccumulators();
    if (o.profileEvery > 0 && rev.number % o.profileEvery == 0) {
      RecordRef profile = newProfileRecord(host);
      signal->fillProfile(*profile, static_cast<uint32_t>(profiles % o.probesPerHost), rev);
      if (profiles++ % 2 == 1) profile = packProfile(profile.get());
      write(*profile);
    }
    if (o.extrasEvery > 0 && rev.number % o.extrasEvery == 0) {
      RecordRef entries = newType1Record(host, kEntriesPerEvent);
      signal->fillEntries(*entries, rev);
      write(*entries);
      if (rev.number % (uint64_t{o.extrasEvery} * kFixedEveryExtras) == 0) {
        RecordRef fixed = newType0Record(host);
        signal->fillFixed(*fixed, rev);
        write(*fixed);
      }
    }
  }
};

// The end of a writer that dies: the records before the last one reach the
// file, then half of the last one, and the file is never finished.
bool die(HostRecording& r, std::string& error) {
  const std::string path = r.file->path().str();
  if (!abandonDataFile(*r.file)) {
    error = "cannot write '" + path + "'";
    return false;
  }
  if (!r.held) return true;
  std::FILE* f = openFile(path.c_str(), "ab");
  const std::size_t half = r.held->fileSize() / 2;
  const bool written = f != nullptr && std::fwrite(r.held->fileBytes(), 1, half, f) == half;
  if ((f != nullptr && std::fclose(f) != 0) || !written) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

// The truth of the resonances as JSON: per order, per blade of each stage
// the natural frequency and the speed of the crossing.
std::string truthText(const Configuration& configuration, const SynthOptions& o) {
  JsonWriter json;
  json.beginObject();
  json.key("run").value(o.runDown ? "down" : "up");
  json.key("sweeps").value(o.sweeps);
  // Where the last sweep ends: an even number of sweeps comes back.
  const bool endsLow = o.runDown == (o.sweeps % 2 == 1);
  json.key("rpm_from").value(o.rpm * (o.runDown ? 1.0 : 0.6));
  json.key("rpm_to").value(o.rpm * (endsLow ? 0.6 : 1.0));
  json.key("resonances").beginArray();
  for (uint32_t s = 0; s < o.stages; ++s) {
    const Stage& stage = configuration.stages[s];
    for (uint32_t j = 0; j < o.resonances.size(); ++j) {
      const SynthResonance& r = o.resonances[j];
      for (uint32_t b = 0; b < static_cast<uint32_t>(std::max(stage.blades, 0)); ++b) {
        const double frequency = synthNaturalFrequency(o, s, j, b);
        json.beginObject();
        json.key("stage_number").value(s + 1);
        json.key("blade").value(b + 1);
        json.key("engine_order").value(r.engineOrder);
        json.key("frequency_hz").value(frequency);
        json.key("damping_ratio").value(r.damping);
        json.key("amplitude").value(r.amplitude);
        json.key("speed_rpm").value(60.0 * frequency / r.engineOrder);
        json.endObject();
      }
    }
  }
  json.endArray();
  json.key("probes").beginArray();
  for (uint32_t number = 0; number < configuration.probeCount(); ++number) {
    const Probe& probe = configuration.probeAt(number);
    if (probe.channelIndex < 0) continue;
    json.beginObject();
    json.key("probe").value(number + 1);
    json.key("stage_number").value(probe.stageIndex + 1);
    json.key("angle").value(probe.radialPosition);
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text() + "\n";
}

bool writeTruth(const std::string& path, const std::string& text) {
  const std::string staging = path + ".part";
  std::FILE* f = openFile(staging.c_str(), "wb");
  if (f == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written || !renameFile(staging.c_str(), path.c_str())) {
    std::remove(staging.c_str());
    return false;
  }
  return true;
}

std::string withoutTrailingSlashes(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

int runSynth(const CommandArgs& args, FILE* out, FILE* err) {
  SynthOptions options;
  if (int status = readOptions(args, err, options); status != 0) return status;
  const std::string dir = withoutTrailingSlashes(args.positionals[0]);

  Configuration configuration;
  buildSynthConfiguration(configuration, options);
  if (int status = readDepartureOptions(args, err, configuration, options); status != 0) {
    return status;
  }

  uint64_t planned = options.revolutions;
  if (options.targetBytes > 0) {
    planned = static_cast<uint64_t>(static_cast<double>(options.targetBytes) /
                                    bytesPerRevolution(options)) +
              1;
  }

  std::optional<LivePace> pace;
  if (options.live) pace.emplace(*options.live, options.seed);
  std::vector<HostRecording> recordings(options.hosts);
  // Creates each host's file (or, with CreateMode::Update, starts it over)
  // with the signal of `o`.
  const auto begin = [&](const SynthOptions& o, CreateMode mode) {
    recordings = std::vector<HostRecording>(options.hosts);
    for (uint32_t h = 0; h < options.hosts; ++h) {
      HostRecording& r = recordings[h];
      r.host = static_cast<uint16_t>(h);
      const CountedString base = recordingBaseName(configuration, h);
      if (pace) {
        const CountedString path =
            timestampedPath(dir.c_str(), base.c_str(), options.start, kDataFileExtension);
        r.file = createDataFile(configuration, path.c_str(), mode, pace->streamBuffer());
        r.holdLast = options.unfinished;
      } else {
        r.file = createTimestampedDataFile(configuration, dir.c_str(), base.c_str(), options.start);
      }
      if (!r.file) return false;
      if (pace && mode != CreateMode::Update) {
        // A follower needs the names from the start.
        std::fprintf(out, "%s\n", r.file->path().c_str());
        std::fflush(out);
      }
      r.signal = std::make_unique<HostSignal>(configuration, o, h);
      r.scratch.resize(options.probesPerHost);
      r.accumulators.resize(options.probesPerHost);
      r.end = r.file->header().dataOffset;
      r.lastStart = r.end;
      if (!options.departures.empty()) r.departure = options.departures[h];
    }
    return true;
  };
  // Records the run's revolutions up to `revolutions` (or the target size).
  const auto record = [&](const SynthOptions& o, uint64_t revolutions) {
    ProgressLine progress(err, "synth:", "revolutions", planned);
    SynthShaft shaft(options, planned);
    for (uint64_t done = 0;; ++done) {
      const bool finished =
          options.targetBytes > 0 ? recordings[0].end >= options.targetBytes : done >= revolutions;
      // One file that cannot be written fails the run: stop writing the others.
      const bool failed = std::any_of(recordings.begin(), recordings.end(),
                                      [](const HostRecording& r) { return r.writeFailed; });
      if (finished || failed) break;
      const Revolution rev = shaft.next();
      if (pace) {
        const LivePace::Step step = pace->before(rev.time);
        if (step.flush) {
          for (HostRecording& r : recordings) {
            if (!flushDataFile(*r.file)) r.writeFailed = true;
          }
        }
        if (step.wait.count() > 0) std::this_thread::sleep_for(step.wait);
      }
      for (HostRecording& r : recordings) r.follow(o, rev);
      progress.update(done);
    }
  };

  CreateMode mode = CreateMode::Replace;
  if (options.startOver > 0) {
    // A writer that starts over: the revolutions before REV with the values
    // of another seed reach the file and are left there, unfinished; then the
    // run is written again from the start of the same file.
    SynthOptions first = options;
    ++first.seed;
    if (!begin(first, mode)) {
      return fileError(args, err, "cannot create a data file in '%s'", dir.c_str());
    }
    record(first, options.startOver - 1);
    for (HostRecording& r : recordings) {
      r.flushAccumulators();
      const std::string path = r.file->path().str();
      if (r.writeFailed || !abandonDataFile(*r.file)) {
        return fileError(args, err, "cannot write '%s'", path.c_str());
      }
    }
    pace.emplace(*options.live, options.seed);
    mode = CreateMode::Update;
  }
  if (!begin(options, mode)) {
    return fileError(args, err, "cannot create a data file in '%s'", dir.c_str());
  }
  record(options, options.revolutions);

  int status = 0;
  std::vector<std::string> written;
  for (HostRecording& r : recordings) {
    r.flushAccumulators();
    if (pace && options.unfinished) {
      std::string error;
      if (!die(r, error)) status = fileError(args, err, "%s", error.c_str());
      r.file.reset();
      continue;
    }
    std::string temporary = r.file->path().str();
    std::string path = temporary.substr(0, temporary.size() - kBeingWrittenSuffix.size());
    const bool closed = closeDataFile(*r.file);
    r.file.reset();
    if (r.writeFailed || !closed) {
      status = fileError(args, err, "cannot write '%s'", path.c_str());
      continue;
    }
    if (pace) continue;  // its path is printed; the bias stays the writer's
    std::string error;
    if (!clearTimeZoneBias(path, error)) {
      status = fileError(args, err, "%s", error.c_str());
      continue;
    }
    if (options.unfinished || options.damage) {
      std::string reshaped;
      if (!simulateCrash(path, r.lastStart, {options.unfinished, options.damage}, reshaped,
                         error)) {
        status = fileError(args, err, "%s", error.c_str());
        continue;
      }
      path = reshaped;
    }
    written.push_back(path);
  }
  for (const std::string& path : written) std::fprintf(out, "%s\n", path.c_str());
  if (!options.resonances.empty() && status == 0) {
    const std::string truth =
        options.truthPath.empty() ? dir + "/" + options.name + ".truth.json" : options.truthPath;
    if (!writeTruth(truth, truthText(configuration, options))) {
      return fileError(args, err, "cannot write '%s'", truth.c_str());
    }
  }
  return status;
}

const CommandSpec kSynthCommand = {
    "synth",
    "Makes a realistic recording for tests and demonstrations",
    "cdt synth [OPTIONS] DIR",
    kDescription,
    kOptions,
    1,
    1,
    runSynth,
};

}  // namespace cdt
