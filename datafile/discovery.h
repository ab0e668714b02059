// The discovery of recordings in a directory, from the time-stamped names of
// their data files (datafile/file_names.h): the files of the hosts that
// recorded the same moment differ only in the host name, and possibly in a
// directory named after each host's computer.
//
// Name time: a name (or a whole path) is split at "." into trimmed pieces
// (runs of dots give no empty pieces), however many there are, so a path
// through directories with many dots keeps its time. With fewer than 4
// pieces there is no time; otherwise the time part runs from the third piece
// from the end to the end of the text, and must read as
// "%d-%d-%d.%d-%d-%d.%20s" would (each number after optional white space and
// a sign; the tail is the first run of up to 20 characters without white
// space) with the tail exactly "cdt". The fields must also form a real UTC
// moment: a year from 1970 on, a month of 1 to 12, a day that exists in that
// month, hour, minute and second in their ranges. Anything else has no time,
// which is the time value 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/model.h"
#include "foundation/counted_array.h"
#include "foundation/counted_string.h"
#include "foundation/element_kinds.h"
#include "foundation/text_view.h"

namespace cdt {

// Host names (and host computer names) longer than this take part in the
// matching and the replacements of findRecordingSets by their first this many
// characters.
inline constexpr uint32_t kMaxHostNameMatch = 500;

// The time part of `name` (see above): a view into `name` from the third
// dot-separated piece from the end to its end; empty when there are fewer
// than 4 pieces.
TextBuffer findTimePart(TextBuffer name);

// The time (microseconds since 1970 UTC) that a time part reads as, or 0.
// Reads only the view's characters, and stops at a NUL among them.
uint64_t timePartTime(TextBuffer timePart);

// findTimePart then timePartTime: the moment `name` encodes, or 0.
uint64_t nameTime(TextBuffer name);

// Empties `paths`, lists `directory` and appends, in byte-wise name order,
// "<directory>/<entry name>" for every entry whose name has a time other than
// 0 and, when `configuration` is not nullptr, begins with the configuration's
// name followed by ".%04d." of its revision (a revision that does not format
// to exactly 6 characters matches no name). Trailing "/" and "\" are dropped
// from the directory first; an empty directory lists the current directory
// and gives the bare entry names. Subdirectories never qualify (their listed
// names end in "/"). Returns the number of paths: 0 when the directory cannot
// be listed or is nullptr.
uint32_t listDataFiles(const char* directory, StringArray& paths,
                       const Configuration* configuration);

inline constexpr ElementOps NameIndexOps = rawElementOps(sizeof(uint32_t));
// Positions into another array.
using NameIndexList = CountedArray<uint32_t, &NameIndexOps>;

enum class SortOrder { Ascending, Descending };

// The indices of `entries` (names or paths) ordered by their name times, as
// unsigned values (entries without a time count as 0). Stable in both orders:
// entries of equal time keep their relative order.
NameIndexList sortByNameTime(const StringArray& entries, SortOrder order);

// One recording: a path per host of the configuration, in host order; the
// slot of a host whose file was not found is empty.
using RecordingSet = StringRow;
using RecordingSetArray = StringTable;

// Empties `sets` and fills it with the recordings of `directory`, in ascending
// order of their times (recordings of equal time in name order). Each data
// file of the configuration (as listDataFiles finds them) is assigned to the
// first host whose name followed by "." occurs in its path (files of no host
// are ignored) and opens a recording of its own, in which that host is the
// master, unless a recording of the same time already holds it in one of its
// slots (so the files of several hosts in one directory give one recording,
// not one per host). Every other host's slot gets the master path with ".<master name>."
// replaced by ".<host name>." when that file is readable; otherwise, when the
// two hosts' computer names are both non-empty, the same with the first
// "/<master computer>/" and the first "\<master computer>\" replaced by the
// host's computer name, when that file is readable. Hosts with an empty name
// match no file and get no slot filled. Returns the number of sets: 0 for a
// directory that cannot be listed or a configuration without hosts.
uint32_t findRecordingSets(const char* directory, RecordingSetArray& sets,
                           const Configuration& configuration);

// The paths the files of the recording of `path` have, one per host of
// `configuration` (its slot "" where none): findRecordingSets' rule for a
// recording whose files need not exist yet, so that a reader can wait for
// them. `path` belongs to the first host whose name followed by "." occurs
// in it; every other host's path is `path` with ".<that host>." replaced by
// ".<host>.". All "" when no host's name occurs in `path`.
std::vector<std::string> expectedSetPaths(const Configuration& configuration,
                                          const std::string& path);

}  // namespace cdt
