#include "lines/line_selection.h"

#include <algorithm>

namespace cdt {

namespace {

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text.empty() ? "none" : text;
}

// The host named `name`, by its bytes or as text.
std::optional<uint32_t> hostNamed(const Configuration& configuration, const std::string& name,
                                  const NameDecoder& decode) {
  for (uint32_t i = 0; i < configuration.hosts.size(); ++i) {
    const std::string_view bytes = configuration.hosts[i].name.view();
    if (bytes == name || decode(bytes) == name) return i;
  }
  return std::nullopt;
}

// The slots that `choice` keeps, as bits; 0 when it matches no probe.
unsigned slotsChosen(const LinePlan& plan, const ProbeChoice& choice) {
  const auto matching = [&](auto&& matches) {
    unsigned bits = 0;
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (plan.columns.probes[slot] != nullptr && matches(slot)) bits |= 1u << slot;
    }
    return bits;
  };
  if (choice.channel) {
    return matching([&](uint32_t slot) { return slot == *choice.channel; });
  }
  const std::string& text = choice.text;
  if (unsigned bits = matching([&](uint32_t slot) { return plan.keys[slot] == text; })) {
    return bits;
  }
  if (unsigned bits = matching([&](uint32_t slot) {
        return plan.names[slot] == text || plan.columns.probes[slot]->name.view() == text;
      })) {
    return bits;
  }
  if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + static_cast<int>(kChannelsPerHost)) {
    return matching([&](uint32_t slot) { return slot == static_cast<uint32_t>(text[0] - '0'); });
  }
  return 0;
}

}  // namespace

bool LineSelection::selects() const {
  return probes || blades || !quantities.all() || hasWindow() || host;
}

void probeKeys(const std::string (&names)[kChannelsPerHost],
               const bool (&present)[kChannelsPerHost], std::string (&keys)[kChannelsPerHost]) {
  // A probe whose name another probe shares gets the channel in its key.
  // Such keys differ from each other (each ends in its own channel), and
  // names that no two probes share differ too; a name that equals another
  // probe's key with its channel takes its channel as well, until no key is
  // left twice (at most once per probe).
  bool withChannel[kChannelsPerHost] = {};
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    for (uint32_t other = 0; other < kChannelsPerHost; ++other) {
      withChannel[slot] = withChannel[slot] || (present[slot] && present[other] && other != slot &&
                                                names[other] == names[slot]);
    }
  }
  const auto keyOf = [&](uint32_t slot) {
    return withChannel[slot] ? names[slot] + " (channel " + std::to_string(slot) + ")"
                             : names[slot];
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (!present[slot] || withChannel[slot]) continue;
      for (uint32_t other = 0; other < kChannelsPerHost && !withChannel[slot]; ++other) {
        if (other != slot && present[other] && withChannel[other] && keyOf(other) == names[slot]) {
          withChannel[slot] = changed = true;
        }
      }
    }
  }
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    keys[slot] = present[slot] ? keyOf(slot) : std::string();
  }
}

std::vector<std::array<std::string, kChannelsPerHost>> setProbeKeys(
    const std::vector<SetProbeName>& hosts) {
  struct Flat {
    std::size_t host;
    uint32_t slot;
    const std::string* name;
    bool withChannel = false;
  };
  std::vector<Flat> flat;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (hosts[h].present[slot]) flat.push_back({h, slot, &hosts[h].names[slot]});
    }
  }
  for (Flat& p : flat) {
    for (const Flat& q : flat) p.withChannel = p.withChannel || (&p != &q && *p.name == *q.name);
  }
  const auto keyOf = [&](const Flat& p) {
    return p.withChannel
               ? *p.name + " (" + hosts[p.host].host + " channel " + std::to_string(p.slot) + ")"
               : *p.name;
  };
  // A name equal to another's key with its channel takes its own too, until
  // no key is left twice (each probe at most once).
  for (bool changed = true; changed;) {
    changed = false;
    for (Flat& p : flat) {
      if (p.withChannel) continue;
      for (const Flat& q : flat) {
        if (&p != &q && q.withChannel && keyOf(q) == *p.name) {
          p.withChannel = changed = true;
          break;
        }
      }
    }
  }
  std::vector<std::array<std::string, kChannelsPerHost>> keys(hosts.size());
  for (const Flat& p : flat) keys[p.host][p.slot] = keyOf(p);
  return keys;
}

bool resolveSelection(const Configuration& configuration, std::optional<uint32_t> linesHost,
                      const LineSelection& selection, const NameDecoder& decode, LinePlan& out,
                      SelectionError& error) {
  out = LinePlan();
  std::optional<uint32_t> host = linesHost;
  if (selection.host) {
    host = hostNamed(configuration, *selection.host, decode);
    if (!host) {
      std::vector<std::string> names;
      for (const Host& h : configuration.hosts) names.push_back(decode(h.name.view()));
      error = {SelectionError::Kind::UnknownHost,
               "no host '" + *selection.host + "' (its hosts: " + joined(names) + ")"};
      return false;
    }
    out.window.host = host;
  }
  out.host = host.value_or(0);
  out.columns = hostColumns(configuration, out.host, true);
  bool present[kChannelsPerHost] = {};
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (const Probe* probe = out.columns.probes[slot]) {
      present[slot] = true;
      out.names[slot] = decode(probe->name.view());
    }
  }
  probeKeys(out.names, present, out.keys);

  bool kept[kChannelsPerHost] = {true, true, true, true};
  if (selection.probes) {
    unsigned bits = 0;
    for (const ProbeChoice& choice : *selection.probes) {
      const unsigned chosen = slotsChosen(out, choice);
      if (chosen == 0) {
        std::vector<std::string> keys;
        for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
          if (present[slot]) keys.push_back(out.keys[slot]);
        }
        const std::string what = choice.channel ? "on channel " + std::to_string(*choice.channel)
                                                : "'" + choice.text + "'";
        error = {SelectionError::Kind::UnknownProbe, "no probe " + what +
                                                         " (its probes: " + joined(keys) +
                                                         "; or channel numbers 0-3 with a probe)"};
        return false;
      }
      bits |= chosen;
    }
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) kept[slot] = (bits >> slot) & 1u;
  }

  std::optional<std::vector<uint32_t>> blades = selection.blades;
  if (blades) {
    std::sort(blades->begin(), blades->end());
    blades->erase(std::unique(blades->begin(), blades->end()), blades->end());
    uint32_t most = 0;
    bool anyProbe = false;
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (!kept[slot] || !present[slot]) continue;
      anyProbe = true;
      most = std::max(most, out.columns.layout.blades[slot]);
    }
    if (anyProbe && !blades->empty() && blades->back() > most) {
      error = {SelectionError::Kind::UnknownBlade,
               "no blade " + std::to_string(blades->back()) + " in the probes selected (blades " +
                   (most == 0 ? std::string("none") : "1-" + std::to_string(most)) + ")"};
      return false;
    }
  }
  out.plan = planColumns(out.columns.layout, kept, blades, selection.quantities);
  if (out.plan.quantities.deflection) {
    for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
      if (out.plan.kept[slot]) {
        out.plan.deflection[slot] = probeDeflection(configuration, *out.columns.probes[slot]);
      }
    }
  }
  out.window.start = selection.start;
  out.window.stop = selection.stop;
  out.window.firstRevolution = selection.firstRevolution;
  out.window.lastRevolution = selection.lastRevolution;
  return true;
}

}  // namespace cdt
