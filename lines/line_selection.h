// LineSelection: what a view of a recording keeps (probes, blades,
// quantities, a window of time or revolutions, a host), and the one resolver
// that checks it against a configuration and turns it into the column plan
// and the window the line reader takes. The command line, the Python package
// and everything built on them resolve their selections here, so that a name,
// a channel number or a blade list means the same in every view.
//
// The rules:
// - A probe is chosen by text or by channel number. Text is matched, in this
//   order, against the probes' keys (a probe's key is its name, or
//   "NAME (channel N)" where several probes of the host share the name),
//   their names (decoded, or as the file's bytes: a name keeps every probe of
//   that name), and last, when it is a channel number written in digits
//   ("0" to "3"), the probe on that channel. A choice that matches no probe
//   is an error naming the valid keys.
// - Blades are 1-based numbers; numbers beyond a kept probe's stage are left
//   out for that probe, but a number beyond the stage of every kept probe is
//   an error naming the blades there are. No list keeps every blade, an
//   empty one none.
// - A host is named by its bytes or its decoded name; it keeps only that
//   host's blade records, and its probes head the columns. Without one, the
//   host of the first line does, as the converter takes it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/model.h"
#include "lines/line_columns.h"
#include "lines/line_reader.h"

namespace cdt {

// A probe as a selection names it: by text, or by a channel number given as
// a number (not as text).
struct ProbeChoice {
  std::string text;
  std::optional<uint32_t> channel;
};

struct LineSelection {
  std::optional<std::vector<ProbeChoice>> probes;  // none keeps all, empty none
  std::optional<std::vector<uint32_t>> blades;     // 1-based; none keeps all, empty none
  Quantities quantities;
  std::optional<uint64_t> start;  // microseconds since 1970, inclusive
  std::optional<uint64_t> stop;   // exclusive
  std::optional<uint64_t> firstRevolution;
  std::optional<uint64_t> lastRevolution;
  std::optional<std::string> host;  // its name, as bytes or as text

  // Whether it keeps less than every column and line.
  bool selects() const;
  bool hasWindow() const { return start || stop || firstRevolution || lastRevolution; }
};

// A name of the configuration (its bytes) as text.
using NameDecoder = std::function<std::string(std::string_view)>;

struct SelectionError {
  enum class Kind : uint8_t { UnknownProbe, UnknownBlade, UnknownHost };
  Kind kind = Kind::UnknownProbe;
  // Says what is missing and what there is, to follow the file's name:
  // "no probe 'X' (its probes: A, B; or channel numbers 0-3 with a probe)".
  std::string message;
};

// A selection resolved against one file's configuration.
struct LinePlan {
  uint32_t host = 0;                    // whose probes head the columns
  HostColumns columns;                  // that host's probes by slot, and the layout
  std::string names[kChannelsPerHost];  // each probe's name, decoded
  std::string keys[kChannelsPerHost];   // and its key
  ColumnPlan plan;                      // the kept columns and where they are stored
  LineWindow window;                    // the lines kept
};

// The keys of the probes whose names are `names` (by slot; `present` says
// which slots have a probe): a name that no other present probe has is its
// own key, the others are "NAME (channel N)".
void probeKeys(const std::string (&names)[kChannelsPerHost],
               const bool (&present)[kChannelsPerHost], std::string (&keys)[kChannelsPerHost]);

// The keys of a recording set's probes, by the same rule across its hosts:
// a name no other probe of the set has is its key; the others are
// "NAME (HOST channel N)", and so is a name that equals such a key. Per host
// (in `hosts`' order, named by their decoded names) and slot: the probe's
// decoded name, empty and not `present` where the slot has none.
struct SetProbeName {
  std::string host;
  std::string names[kChannelsPerHost];
  bool present[kChannelsPerHost] = {};
};
std::vector<std::array<std::string, kChannelsPerHost>> setProbeKeys(
    const std::vector<SetProbeName>& hosts);

// Resolves `selection` against `configuration`. `linesHost` is the host of
// the file's first line (firstLineHost), taken when the selection names no
// host. False with `error` set when the selection names what the file does
// not have.
bool resolveSelection(const Configuration& configuration, std::optional<uint32_t> linesHost,
                      const LineSelection& selection, const NameDecoder& decode, LinePlan& out,
                      SelectionError& error);

}  // namespace cdt
