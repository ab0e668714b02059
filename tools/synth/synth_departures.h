// The ways the hosts of a synthetic set depart from one another: records
// dropped, a late start, an early stop, a restart of the revolution counter
// and a clock that runs ahead or behind (--drop, --late, --early, --resync,
// --clock-offset).
#pragma once

#include <cstdio>
#include <optional>

#include "config/model.h"
#include "tools/arguments.h"
#include "tools/synth/synth_options.h"
#include "tools/synth/synth_signal.h"

namespace cdt {

// Reads the departure options into options.departures (left empty when none
// is given). `configuration` is the one built from `options`: it names the
// hosts. 0 when the options are good, else the usage error's status, with the
// message written to `err`.
int readDepartureOptions(const CommandArgs& args, FILE* err, const Configuration& configuration,
                         SynthOptions& options);

// Revolution `run` of the run as a host that departs by `departure` records
// it: its counter and time as the host sees them, or none when the host does
// not record it (before its late start, after its early stop). Records it
// drops are the caller's to leave out. `runRevolutions` is the run's length.
// Whether the host's counter restarts at revolution `run` of the run.
bool restartsAt(const HostDeparture& departure, uint64_t run);

std::optional<Revolution> hostRevolution(const HostDeparture& departure, uint64_t runRevolutions,
                                         const Revolution& run);

}  // namespace cdt
