// Where a recording set can be cut into parts that, read one by one and
// joined in order, give exactly the set lines of a read of the whole set.
//
// The join of a set (lines/set_join.h) decides each line against the set
// lines it holds, so its state at a moment depends on the lines before it;
// where revolution counters restart every few revolutions the same keys
// come again within the join window, and a join begun at some later moment
// can decide differently from the whole set's. A part therefore begins its
// hosts' reads at `start` and keeps the set lines whose first line lies at
// or after `cut`, where the planning has seen a join begun at `start` reach
// exactly the whole join's state before `cut`: from there on both decide
// alike, so the part's set lines are the whole set's, by construction, not
// by a margin of time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "datafile/data_file.h"

namespace cdt {

struct SetCut {
  uint64_t start = 0;  // where the part's hosts are read from (window start)
  uint64_t cut = 0;    // the part keeps set lines whose first line lies at or after it
};

// Plans the cuts of the set `files` (one per host, in host order, each
// standing at its first record; read to their ends) led by
// `files[master]`, as near after each of `wanted` (increasing times) as the
// join allows, each read from `margin` before it. A wanted cut whose join
// does not agree within `patience` of it is moved on to a later moment
// where a new join does, or dropped; cuts come strictly increasing.
// Returns no cut where the set's widest lines make the readers' rings
// smaller than the join can hold (their full rings would decide too).
std::vector<SetCut> planSetCuts(const std::vector<DataFile*>& files, std::size_t master,
                                const std::vector<uint64_t>& wanted, uint64_t margin,
                                uint64_t patience);

}  // namespace cdt
