#include "tools/synth/synth_departures.h"

#include <string>
#include <string_view>
#include <vector>

namespace cdt {

namespace {

// The tracker locks on again this many revolutions after its counter starts.
constexpr uint64_t kLockOnRevolutions = 3;
// A clock offset is a host's small error, not another moment.
constexpr int64_t kMaxClockOffsetUs = 1000000;

enum Field { kDrop, kLate, kEarly, kResync, kClockOffset, kFieldCount };

struct DepartureOption {
  const char* name;
  const char* valueName;      // what follows "HOST:"
  bool countsRunRevolutions;  // needs the run's length, so not with --size
};

constexpr DepartureOption kDepartureOptions[kFieldCount] = {
    {"drop", "EVERY", false}, {"late", "REVS", true},        {"early", "REVS", true},
    {"resync", "REV", true},  {"clock-offset", "US", false},
};

// The host numbered `text` from 1 or named `text` by the configuration.
std::optional<uint32_t> hostNamed(const Configuration& configuration, uint32_t hosts,
                                  const std::string& text) {
  if (std::optional<int64_t> number = parseInteger(text)) {
    if (*number < 1 || *number > hosts) return std::nullopt;
    return static_cast<uint32_t>(*number - 1);
  }
  for (uint32_t h = 0; h < hosts && h < configuration.hosts.size(); ++h) {
    if (configuration.hosts[h].name == std::string_view(text)) return h;
  }
  return std::nullopt;
}

// The smallest and largest value of `field`'s option.
std::pair<int64_t, int64_t> valueRange(Field field, const SynthOptions& o) {
  const auto revolutions = static_cast<int64_t>(o.revolutions);
  switch (field) {
    case kDrop:
      return {2, 1000000000};
    case kLate:
    case kEarly:
      return {1, revolutions - 1};
    case kResync:
      return {2, revolutions};
    case kClockOffset:
      return {-kMaxClockOffsetUs, kMaxClockOffsetUs};
    case kFieldCount:
      break;
  }
  return {0, 0};
}

void store(HostDeparture& d, Field field, int64_t value) {
  switch (field) {
    case kDrop:
      d.dropEvery = static_cast<uint32_t>(value);
      break;
    case kLate:
      d.late = static_cast<uint64_t>(value);
      break;
    case kEarly:
      d.early = static_cast<uint64_t>(value);
      break;
    case kResync:
      d.resyncAt = static_cast<uint64_t>(value);
      break;
    case kClockOffset:
      d.clockOffset = value;
      break;
    case kFieldCount:
      break;
  }
}

bool departs(const HostDeparture& d) {
  return d.dropEvery != 0 || d.late != 0 || d.early != 0 || d.resyncAt != 0 || d.clockOffset != 0;
}

// The checks that need every option of a host read.
int checkHost(const CommandArgs& args, FILE* err, const SynthOptions& o, const HostDeparture& d,
              const char* host) {
  if (d.late + d.early >= o.revolutions && (d.late != 0 || d.early != 0)) {
    return usageError(args, err, "--late and --early leave host %s no revolution of %llu", host,
                      static_cast<unsigned long long>(o.revolutions));
  }
  // The counter goes back only when the host records the restart and a
  // revolution before it.
  if (d.resyncAt != 0 && (d.resyncAt <= d.late + 1 || d.resyncAt + d.early > o.revolutions)) {
    return usageError(args, err,
                      "--resync at revolution %llu falls outside host %s's recording "
                      "(revolutions %llu to %llu)",
                      static_cast<unsigned long long>(d.resyncAt), host,
                      static_cast<unsigned long long>(d.late + 1),
                      static_cast<unsigned long long>(o.revolutions - d.early));
  }
  if (d.clockOffset < 0 && o.start < static_cast<uint64_t>(-d.clockOffset)) {
    return usageError(args, err, "--clock-offset puts host %s's times before 1970", host);
  }
  return 0;
}

}  // namespace

int readDepartureOptions(const CommandArgs& args, FILE* err, const Configuration& configuration,
                         SynthOptions& o) {
  std::vector<HostDeparture> departures(o.hosts);
  std::vector<bool> given(std::size_t{o.hosts} * kFieldCount, false);
  std::optional<int64_t> everyHostResync;
  int64_t everyHostPeriod = 0;
  for (const auto& [name, value] : args.options) {
    int field = 0;
    while (field < kFieldCount && name != kDepartureOptions[field].name) ++field;
    if (field == kFieldCount) continue;
    const DepartureOption& option = kDepartureOptions[field];
    if (option.countsRunRevolutions && o.targetBytes > 0) {
      return usageError(args, err,
                        "--%s counts revolutions of the run: give --revolutions, not --size",
                        option.name);
    }
    // The value follows the last colon: a host's name may hold one.
    const size_t colon = value.rfind(':');
    const bool hostless = colon == std::string::npos;
    if (hostless && field != kResync) {
      return usageError(args, err, "--%s wants HOST:%s, not '%s'", option.name, option.valueName,
                        value.c_str());
    }
    const auto [low, high] = valueRange(static_cast<Field>(field), o);
    std::string text = hostless ? value : value.substr(colon + 1);
    // A restart may come again: REV/EVERY.
    std::optional<int64_t> every;
    if (const size_t slash = text.find('/'); field == kResync && slash != std::string::npos) {
      every = parseInteger(text.substr(slash + 1));
      if (!every || *every < 1 || *every > high) {
        return usageError(args, err, "--resync wants a period EVERY from 1 to %lld, not '%s'",
                          static_cast<long long>(high), value.c_str());
      }
      text.resize(slash);
    }
    const std::optional<int64_t> number = parseInteger(text);
    if (!number || *number < low || *number > high) {
      return usageError(args, err, "--%s wants %s from %lld to %lld, not '%s'", option.name,
                        option.valueName, static_cast<long long>(low), static_cast<long long>(high),
                        value.c_str());
    }
    if (hostless) {
      if (everyHostResync) return usageError(args, err, "--resync REV is given twice");
      everyHostResync = number;
      everyHostPeriod = every.value_or(0);
      continue;
    }
    const std::string hostText = value.substr(0, colon);
    const std::optional<uint32_t> host = hostNamed(configuration, o.hosts, hostText);
    if (!host) {
      return usageError(args, err, "--%s: no host '%s' (the hosts are 1 to %u, or their names)",
                        option.name, hostText.c_str(), o.hosts);
    }
    if (given[*host * kFieldCount + field]) {
      return usageError(args, err, "--%s is given twice for host %u", option.name, *host + 1);
    }
    given[*host * kFieldCount + field] = true;
    store(departures[*host], static_cast<Field>(field), *number);
    if (field == kResync) departures[*host].resyncEvery = static_cast<uint64_t>(every.value_or(0));
  }
  bool any = false;
  for (uint32_t h = 0; h < o.hosts; ++h) {
    HostDeparture& d = departures[h];
    // A host's own --resync HOST:REV takes the place of --resync REV.
    if (everyHostResync && !given[h * kFieldCount + kResync]) {
      d.resyncAt = static_cast<uint64_t>(*everyHostResync);
      d.resyncEvery = static_cast<uint64_t>(everyHostPeriod);
    }
    const std::string host = std::to_string(h + 1);
    if (int status = checkHost(args, err, o, d, host.c_str()); status != 0) return status;
    any = any || departs(d);
  }
  if (any) o.departures = std::move(departures);
  return 0;
}

bool restartsAt(const HostDeparture& d, uint64_t run) {
  if (d.resyncAt == 0 || run < d.resyncAt) return false;
  return run == d.resyncAt || (d.resyncEvery != 0 && (run - d.resyncAt) % d.resyncEvery == 0);
}

std::optional<Revolution> hostRevolution(const HostDeparture& d, uint64_t runRevolutions,
                                         const Revolution& run) {
  if (run.number <= d.late) return std::nullopt;
  if (d.early != 0 && run.number + d.early > runRevolutions) return std::nullopt;
  Revolution rev = run;
  if (d.resyncAt != 0 && run.number >= d.resyncAt) {
    const uint64_t since = run.number - d.resyncAt;
    rev.number = (d.resyncEvery != 0 ? since % d.resyncEvery : since) + 1;
    rev.synchronised = run.synchronised && rev.number > kLockOnRevolutions;
  }
  // Offsets are bounded and checked against the start, so the time stays
  // positive.
  rev.time = static_cast<uint64_t>(static_cast<int64_t>(run.time) + d.clockOffset);
  return rev;
}

}  // namespace cdt
