#include "lines/set_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace cdt {

SetPlan planSet(std::vector<ColumnPlan> hosts) {
  SetPlan plan;
  for (const ColumnPlan& host : hosts) {
    plan.floatRow.push_back(plan.floatRows);
    plan.doubleRow.push_back(plan.doubleRows);
    plan.floatRows += host.floatRows - 1;
    plan.doubleRows += host.doubleRows;
  }
  plan.hosts = std::move(hosts);
  return plan;
}

// Each held set line uses at most one line of a host, and the join holds at
// most kSetJoinHeld + 1 of them; one more is read ahead. Rows of very many
// blades get fewer ring rows (at most 64 MiB a host): the oldest set line
// then goes out early when a ring is full, which bounds the memory a
// configuration of damaged blade counts can ask for.
std::size_t setRingRows(const SetPlan& plan) {
  std::size_t widest = 1;
  for (const ColumnPlan& host : plan.hosts) {
    widest = std::max(widest, lineBytes(host));
  }
  return std::clamp<std::size_t>((std::size_t{64} << 20) / widest, 16, kSetJoinHeld + 4);
}

ColumnPlan setBlocks(const SetPlan& plan) {
  ColumnPlan blocks;
  blocks.floatRows = plan.floatRows;
  blocks.doubleRows = plan.doubleRows;
  return blocks;
}

SetReader::SetReader(const std::vector<Host>& hosts, std::size_t master, const SetPlan& plan)
    : plan_(plan),
      join_(hosts.size(), master),
      hosts_(hosts.size()),
      ringRows_(setRingRows(plan)),
      pendingRows_(hosts.size()) {
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    HostLines& lines = hosts_[h];
    lines.reader = hosts[h].start ? std::make_unique<LineReader>(*hosts[h].file, plan_.hosts[h],
                                                                 hosts[h].window, *hosts[h].start)
                                  : std::make_unique<LineReader>(*hosts[h].file, plan_.hosts[h],
                                                                 hosts[h].window);
    // Each ring row holds one line's columns side by side (a stride of 1),
    // so that storing a line writes one run of bytes.
    lines.slotBytes = (columnBytes(plan_.hosts[h], 1) + 7) / 8 * 8;
    lines.ring = std::make_unique<uint64_t[]>(lines.slotBytes / 8 * ringRows_);
    lines.used.assign(ringRows_, false);
    lines.empties.assign(ringRows_, 0);
    readAhead(h);
  }
}

void SetReader::readAhead(std::size_t h) {
  HostLines& lines = hosts_[h];
  lines.ahead.reset();
  const std::size_t slot = static_cast<std::size_t>(lines.next % ringRows_);
  const LineColumns ring = ringRow(h, slot);
  // The row's masks are its earlier line's: dropped, so that a line without
  // an empty cell writes none.
  if (lines.empties[slot] != 0) clearEmpties(plan_.hosts[h], ring);
  lines.reader->readEach(1, [&](const LineGroup& group, uint64_t windowTime) {
    lines.empties[slot] = storeLine(plan_.hosts[h], group, ring, 0) ? 1 : 0;
    lines.ahead = SetJoinLine{{*ring.startRevolution, *ring.endRevolution},
                              windowTime,
                              *ring.time,
                              *ring.floats,
                              static_cast<std::size_t>(lines.next)};
  });
  if (lines.ahead) {
    lines.used[slot] = true;
    ++lines.next;
  }
}

LineColumns SetReader::ringRow(std::size_t h, std::size_t slot) const {
  const HostLines& lines = hosts_[h];
  auto* at = reinterpret_cast<unsigned char*>(lines.ring.get()) + slot * lines.slotBytes;
  return layColumns(plan_.hosts[h], at, 1);
}

void SetReader::release(std::size_t h, uint64_t number) {
  HostLines& lines = hosts_[h];
  lines.used[static_cast<std::size_t>(number % ringRows_)] = false;
  while (lines.oldest < lines.next &&
         !lines.used[static_cast<std::size_t>(lines.oldest % ringRows_)]) {
    ++lines.oldest;
  }
}

void SetReader::store(const SetLine& line, const SetColumns& columns, std::size_t row) {
  const LineColumns& out = columns.lines;
  const std::size_t stride = out.stride;
  const SetJoinLine& reference = *line.hosts[line.reference];
  {
    const LineColumns ring =
        ringRow(line.reference, static_cast<std::size_t>(reference.row % ringRows_));
    out.time[row] = *ring.time;
    out.sync[row] = *ring.sync;
    out.floats[row] = *ring.floats;
  }
  out.startRevolution[row] = line.key.start;
  out.endRevolution[row] = line.key.end;
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    const std::optional<SetJoinLine>& own = line.hosts[h];
    columns.status[h * stride + row] = setLineStatus(own ? &*own : nullptr, reference);
  }
  // The probe cells go in a tile of lines at a time (flush): a line's cells
  // lie a column's length apart, and a tile writes each column's run of
  // rows at once rather than touching every column for every line.
  Pending pending{row, std::vector<std::optional<std::size_t>>(hosts_.size())};
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    if (line.hosts[h]) pending.slots[h] = static_cast<std::size_t>(line.hosts[h]->row % ringRows_);
  }
  pending_.push_back(std::move(pending));
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    if (line.hosts[h]) pendingRows_[h].push_back(line.hosts[h]->row);
  }
  if (pending_.size() >= kTileLines) flush(columns);
}

void SetReader::flush(const SetColumns& columns) {
  const LineColumns& out = columns.lines;
  const std::size_t stride = out.stride;
  const bool masks = out.floatMasked != nullptr;
  constexpr float noFloat = std::numeric_limits<float>::quiet_NaN();
  constexpr double noDouble = std::numeric_limits<double>::quiet_NaN();
  tile_.resize(pending_.size());
  state_.resize(pending_.size());
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    const ColumnPlan& plan = plan_.hosts[h];
    const HostLines& lines = hosts_[h];
    // Whether every line of the tile has this host's line, none of them
    // with an empty cell: then the set's columns get no empty cell here.
    bool full = true;
    bool missing = false;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      const std::optional<std::size_t>& slot = pending_[i].slots[h];
      tile_[i] = nullptr;
      state_[i] = kNoLine;
      if (!slot) {
        full = false;
        missing = true;
        continue;
      }
      tile_[i] = reinterpret_cast<const unsigned char*>(lines.ring.get()) + *slot * lines.slotBytes;
      state_[i] = lines.empties[*slot] != 0 ? kLineWithEmpties : kLine;
      full = full && state_[i] == kLine;
    }
    // The ring row's values, where layColumns lays out one line.
    const std::size_t doublesAt = 24;
    const std::size_t floatsAt = doublesAt + 8 * std::size_t{plan.doubleRows};
    for (uint32_t r = 1; r < plan.floatRows; ++r) {
      const std::size_t to = std::size_t{plan_.floatRow[h]} + r - 1;
      float* column = out.floats + to * stride;
      for (std::size_t i = 0; i < pending_.size(); ++i) {
        float value = noFloat;
        if (tile_[i] != nullptr) std::memcpy(&value, tile_[i] + floatsAt + 4 * std::size_t{r}, 4);
        column[pending_[i].row] = value;
      }
      if (masks && (!full || out.floatMasked[to] != 0))
        storeEmpties(columns, h, r, to, true, missing);
    }
    for (uint32_t r = 0; r < plan.doubleRows; ++r) {
      const std::size_t to = std::size_t{plan_.doubleRow[h]} + r;
      double* column = out.doubles + to * stride;
      for (std::size_t i = 0; i < pending_.size(); ++i) {
        double value = noDouble;
        if (tile_[i] != nullptr) std::memcpy(&value, tile_[i] + doublesAt + 8 * std::size_t{r}, 8);
        column[pending_[i].row] = value;
      }
      if (masks && (!full || out.doubleMasked[to] != 0))
        storeEmpties(columns, h, r, to, false, missing);
    }
    for (uint64_t number : pendingRows_[h]) release(h, number);
    pendingRows_[h].clear();
  }
  pending_.clear();
}

void SetReader::storeEmpties(const SetColumns& columns, std::size_t h, uint32_t r, std::size_t to,
                             bool isFloat, bool missing) {
  const LineColumns& out = columns.lines;
  uint8_t* masked = isFloat ? out.floatMasked + to : out.doubleMasked + to;
  uint8_t* mask = (isFloat ? out.floatEmpty : out.doubleEmpty) + to * out.stride;
  // A cell is empty where its host has no line, or where the host's own
  // line leaves it empty; the set's column keeps a mask from its first
  // empty cell on.
  const auto empty = [&](std::size_t i) -> uint8_t {
    if (state_[i] != kLineWithEmpties) return state_[i] == kNoLine ? 1 : 0;
    const LineColumns ring = ringRow(h, *pending_[i].slots[h]);
    const uint8_t* cells = isFloat ? floatEmpties(ring, r) : doubleEmpties(ring, r);
    return cells != nullptr ? *cells : 0;
  };
  if (*masked == 0) {
    std::size_t i = 0;
    while (!missing && i < pending_.size() && empty(i) == 0) ++i;
    if (!missing && i == pending_.size()) return;
    std::memset(mask, 0, out.stride);
    *masked = 1;
  }
  for (std::size_t i = 0; i < pending_.size(); ++i) mask[pending_[i].row] = empty(i);
}

void SetReader::offer(const SetLine& line, const SetColumns& columns, std::size_t row,
                      std::size_t& stored) {
  uint64_t first = UINT64_MAX;
  for (const std::optional<SetJoinLine>& l : line.hosts) {
    if (l) first = std::min(first, l->windowTime);
  }
  if (keepHigh_ && first >= *keepHigh_) {
    ended_ = true;
    return;
  }
  if (keepLow_ && first < *keepLow_) {
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      if (line.hosts[h]) release(h, line.hosts[h]->row);
    }
    return;
  }
  store(line, columns, row + stored++);
}

std::size_t SetReader::read(const SetColumns& columns, std::size_t row, std::size_t rows) {
  std::size_t stored = 0;
  while (stored < rows && !ended_) {
    if (std::optional<SetLine> line = join_.take()) {
      offer(*line, columns, row, stored);
      continue;
    }
    // The host whose next line comes first in window time.
    std::optional<std::size_t> first;
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      const std::optional<SetJoinLine>& ahead = hosts_[h].ahead;
      if (ahead && (!first || ahead->windowTime < hosts_[*first].ahead->windowTime)) first = h;
    }
    if (!first) {
      join_.finish();
      if (std::optional<SetLine> line = join_.take()) {
        offer(*line, columns, row, stored);
      } else {
        ended_ = true;
      }
      continue;
    }
    HostLines& lines = hosts_[*first];
    if (lines.used[static_cast<std::size_t>((lines.next) % ringRows_)]) {
      // The host's ring is full: of lines stored but not yet copied, which
      // the copy frees, else of lines the join still holds, and the oldest
      // set line is stored as it stands.
      if (!pending_.empty()) {
        flush(columns);
      } else if (std::optional<SetLine> line = join_.takeOldest()) {
        offer(*line, columns, row, stored);
      }
      continue;
    }
    join_.add(*first, *lines.ahead);
    readAhead(*first);
  }
  flush(columns);
  return stored;
}

}  // namespace cdt
