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

FollowBatch FileLineSource::next(const ColumnPlan& plan, const LineColumns& row,
                                 uint64_t& windowTime, bool& empties, std::chrono::milliseconds) {
  FollowBatch batch;
  batch.lines = reader_->readEach(1, [&](const LineGroup& group, uint64_t time) {
    empties = storeLine(plan, group, row, 0);
    windowTime = time;
  });
  if (batch.lines == 0) batch.status = FollowStatus::Finished;
  return batch;
}

FollowBatch FollowedLineSource::next(const ColumnPlan& plan, const LineColumns& row,
                                     uint64_t& windowTime, bool& empties,
                                     std::chrono::milliseconds timeout) {
  return lines_.nextGroups(1, timeout, [&](const LineGroup& group, uint64_t time) {
    empties = storeLine(plan, group, row, 0);
    windowTime = time;
  });
}

SetHostRing::SetHostRing(const ColumnPlan& plan, std::size_t rows)
    : plan_(plan),
      rows_(rows),
      slotBytes_((columnBytes(plan, 1) + 7) / 8 * 8),
      at_(rows, kNoRow),
      used_(rows, false) {}

LineColumns SetHostRing::row(std::size_t slot) const {
  return layColumns(plan_, storage(slot), 1);
}

void SetHostRing::release(std::size_t slot) {
  used_[slot] = false;
  if (at_[slot] == kNoRow) return;
  free_.push_back(at_[slot]);
  at_[slot] = kNoRow;
}

LineColumns SetHostRing::clear(std::size_t slot) {
  if (at_[slot] == kNoRow) {
    if (free_.empty()) {
      // A chunk of new rows, zeroed: no mask of theirs is in use.
      const auto first = static_cast<uint32_t>(chunks_.size() * kChunkRows);
      chunks_.push_back(std::make_unique<uint64_t[]>(slotBytes_ / 8 * kChunkRows));
      empties_.resize(empties_.size() + kChunkRows, 0);
      for (std::size_t r = kChunkRows; r-- > 0;) free_.push_back(first + static_cast<uint32_t>(r));
    }
    at_[slot] = free_.back();
    free_.pop_back();
  }
  const LineColumns r = row(slot);
  uint8_t& empties = empties_[at_[slot]];
  if (empties != 0) clearEmpties(plan_, r);
  empties = 0;
  return r;
}

namespace {

std::vector<std::unique_ptr<SetLineSource>> fileSources(const std::vector<SetReader::Host>& hosts,
                                                        const SetPlan& plan) {
  std::vector<std::unique_ptr<SetLineSource>> sources;
  for (std::size_t h = 0; h < hosts.size(); ++h) {
    const SetReader::Host& host = hosts[h];
    sources.push_back(std::make_unique<FileLineSource>(
        host.start
            ? std::make_unique<LineReader>(*host.file, plan.hosts[h], host.window, *host.start)
            : std::make_unique<LineReader>(*host.file, plan.hosts[h], host.window)));
  }
  return sources;
}

}  // namespace

SetReader::SetReader(const std::vector<Host>& hosts, std::size_t master, const SetPlan& plan)
    : SetReader(fileSources(hosts, plan), master, plan) {}

SetReader::SetReader(std::vector<std::unique_ptr<SetLineSource>> sources, std::size_t master,
                     const SetPlan& plan)
    : plan_(plan),
      join_(sources.size(), master),
      hosts_(sources.size()),
      ringRows_(setRingRows(plan)),
      pendingRows_(sources.size()) {
  for (std::size_t h = 0; h < sources.size(); ++h) {
    hosts_[h].source = std::move(sources[h]);
    hosts_[h].ring = std::make_unique<SetHostRing>(plan_.hosts[h], ringRows_);
    // The values of a ring row (its doubles, then its floats) all NaN.
    const ColumnPlan& plan = plan_.hosts[h];
    std::vector<unsigned char>& noLine = hosts_[h].noLine;
    noLine.resize(8 * std::size_t{plan.doubleRows} + 4 * std::size_t{plan.floatRows});
    constexpr double noDouble = std::numeric_limits<double>::quiet_NaN();
    constexpr float noFloat = std::numeric_limits<float>::quiet_NaN();
    for (uint32_t r = 0; r < plan.doubleRows; ++r) std::memcpy(&noLine[8 * r], &noDouble, 8);
    for (uint32_t r = 0; r < plan.floatRows; ++r) {
      std::memcpy(&noLine[8 * std::size_t{plan.doubleRows} + 4 * r], &noFloat, 4);
    }
  }
}

// A host without a line at hand that has not ended has its next ring row
// free: the merge checked it before it offered the host's previous line.
void SetReader::readAhead(std::size_t h, std::chrono::milliseconds timeout) {
  HostLines& lines = hosts_[h];
  if (lines.ahead || followEnded(lines.status)) return;
  const std::size_t slot = lines.ring->slot(lines.next);
  const LineColumns row = lines.ring->clear(slot);
  uint64_t windowTime = 0;
  bool empties = false;
  const FollowBatch batch = lines.source->next(plan_.hosts[h], row, windowTime, empties, timeout);
  if (batch.lines > 0) {
    lines.ring->setEmpties(slot, empties);
    lines.ahead = SetJoinLine{{*row.startRevolution, *row.endRevolution},
                              windowTime,
                              *row.time,
                              *row.floats,
                              static_cast<std::size_t>(lines.next)};
    lines.ring->take(slot);
    ++lines.next;
  }
  lines.status = batch.status;
}

void SetReader::store(const SetLine& line, const SetColumns& columns, std::size_t row) {
  const LineColumns& out = columns.lines;
  const std::size_t stride = out.stride;
  const SetJoinLine& reference = *line.hosts[line.reference];
  {
    const SetHostRing& ring = *hosts_[line.reference].ring;
    const LineColumns from = ring.row(ring.slot(reference.row));
    out.time[row] = *from.time;
    out.sync[row] = *from.sync;
    out.floats[row] = *from.floats;
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
    if (line.hosts[h]) pending.slots[h] = hosts_[h].ring->slot(line.hosts[h]->row);
  }
  pending_.push_back(std::move(pending));
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    if (line.hosts[h]) pendingRows_[h].push_back(line.hosts[h]->row);
  }
  if (pending_.size() >= kTileLines) flush(columns);
}

namespace {

// Copies block rows [from, to) of the ring rows `tile` (the row's values at
// `at`, one ring row per line) into the set's columns `column` (`stride`
// apart, the tile's lines at rows `first` on), a run of the tile's rows of
// a column at a time: whatever the stride, each write fills whole cache
// lines. Four columns go at once, from one read of each ring row.
template <typename T>
void copyTile(const std::vector<const unsigned char*>& tile, std::size_t at, uint32_t from,
              uint32_t to, T* column, std::size_t stride, std::size_t first) {
  const std::size_t n = tile.size();
  uint32_t r = from;
  for (; r + 4 <= to; r += 4) {
    T* out = column + (r - from) * stride + first;
    const std::size_t offset = at + sizeof(T) * std::size_t{r};
    for (std::size_t i = 0; i < n; ++i) {
      T v[4];
      std::memcpy(v, tile[i] + offset, sizeof v);
      out[i] = v[0];
      out[stride + i] = v[1];
      out[2 * stride + i] = v[2];
      out[3 * stride + i] = v[3];
    }
  }
  for (; r < to; ++r) {
    T* out = column + (r - from) * stride + first;
    const std::size_t offset = at + sizeof(T) * std::size_t{r};
    for (std::size_t i = 0; i < n; ++i) std::memcpy(out + i, tile[i] + offset, sizeof(T));
  }
}

}  // namespace

void SetReader::flush(const SetColumns& columns) {
  if (pending_.empty()) return;
  const LineColumns& out = columns.lines;
  const std::size_t stride = out.stride;
  const bool masks = out.floatMasked != nullptr;
  const std::size_t n = pending_.size();
  // The lines of a tile lie in consecutive rows: a read stores its lines one
  // after another, and copies every tile before it returns.
  const std::size_t first = pending_.front().row;
  tile_.resize(n);
  state_.resize(n);
  for (std::size_t h = 0; h < hosts_.size(); ++h) {
    const ColumnPlan& plan = plan_.hosts[h];
    const HostLines& lines = hosts_[h];
    // Whether every line of the tile has this host's line, none of them
    // with an empty cell: then the set's columns get no empty cell here.
    // A line without the host's line takes its cells from a row of NaN.
    bool full = true;
    bool missing = false;
    for (std::size_t i = 0; i < n; ++i) {
      const std::optional<std::size_t>& slot = pending_[i].slots[h];
      if (!slot) {
        tile_[i] = lines.noLine.data();
        state_[i] = kNoLine;
        full = false;
        missing = true;
        continue;
      }
      tile_[i] = lines.ring->values(*slot);
      state_[i] = lines.ring->empties(*slot) ? kLineWithEmpties : kLine;
      full = full && state_[i] == kLine;
    }
    // The ring row's values: its doubles, then its floats.
    const std::size_t doublesAt = 0;
    const std::size_t floatsAt = doublesAt + 8 * std::size_t{plan.doubleRows};
    float* floats = out.floats + std::size_t{plan_.floatRow[h]} * stride;
    double* doubles = out.doubles + std::size_t{plan_.doubleRow[h]} * stride;
    // The host's float rows but its speed (row 0), and its double rows.
    copyTile(tile_, floatsAt, 1, plan.floatRows, floats, stride, first);
    copyTile(tile_, doublesAt, 0, plan.doubleRows, doubles, stride, first);
    if (masks) {
      for (uint32_t r = 1; r < plan.floatRows; ++r) {
        const std::size_t to = std::size_t{plan_.floatRow[h]} + r - 1;
        if (!full || out.floatMasked[to] != 0) storeEmpties(columns, h, r, to, true, missing);
      }
      for (uint32_t r = 0; r < plan.doubleRows; ++r) {
        const std::size_t to = std::size_t{plan_.doubleRow[h]} + r;
        if (!full || out.doubleMasked[to] != 0) storeEmpties(columns, h, r, to, false, missing);
      }
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
    const LineColumns ring = hosts_[h].ring->row(*pending_[i].slots[h]);
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

std::size_t SetReader::read(const SetColumns& columns, std::size_t row, std::size_t rows,
                            std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::size_t stored = 0;
  while (stored < rows && !ended_) {
    if (std::optional<SetLine> line = join_.take()) {
      offer(*line, columns, row, stored);
      continue;
    }
    // The join takes the earliest of the hosts' next lines: every host must
    // have one at hand, or have ended.
    std::optional<std::size_t> behind;
    for (std::size_t h = 0; h < hosts_.size(); ++h) {
      readAhead(h, std::chrono::milliseconds(0));
      const FollowStatus status = hosts_[h].status;
      if (status == FollowStatus::Stopped || status == FollowStatus::Failed) {
        if (!halted_) halted_ = h;
      }
      if (!behind && !hosts_[h].ahead && !followEnded(status)) behind = h;
    }
    if (halted_) {
      ended_ = true;
      break;
    }
    if (behind) {
      const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (stored > 0 || rest.count() <= 0) break;
      readAhead(*behind, rest);
      continue;
    }
    std::optional<std::size_t> first = nextJoinHost(
        hosts_.size(),
        [&](std::size_t h) -> const std::optional<SetJoinLine>& { return hosts_[h].ahead; });
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
    if (lines.ring->used(lines.ring->slot(lines.next))) {
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
    lines.ahead.reset();
  }
  flush(columns);
  return stored;
}

}  // namespace cdt
