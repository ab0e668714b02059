#include "lines/set_parts.h"

#include <memory>
#include <optional>

#include "lines/line_layout.h"
#include "lines/line_reader.h"
#include "lines/set_join.h"
#include "lines/set_reader.h"

namespace cdt {

namespace {

// One host's lines as the join sees them (no cells), numbered as a read of
// the whole set numbers them, so that two joins fed the same lines can be
// compared.
class HostKeys {
 public:
  HostKeys(DataFile& file, const ColumnPlan& plan)
      : plan_(plan), reader_(file, plan_, LineWindow{}), row_(plan_, 1) {
    next();
  }
  const std::optional<SetJoinLine>& ahead() const { return ahead_; }
  void next() {
    ahead_.reset();
    const LineColumns& row = row_.columns();
    reader_.readEach(1, [&](const LineGroup& group, uint64_t windowTime) {
      storeLine(plan_, group, row, 0);
      ahead_ = SetJoinLine{
          {*row.startRevolution, *row.endRevolution}, windowTime, *row.time, *row.floats, count_++};
    });
  }

 private:
  ColumnPlan plan_;
  LineReader reader_;
  ColumnStorage row_;
  std::optional<SetJoinLine> ahead_;
  std::size_t count_ = 0;
};

// Takes every set line no later line can change, as a reader does before
// it offers the next line.
void settle(SetJoin& join) {
  while (join.take()) {
  }
}

}  // namespace

std::vector<SetCut> planSetCuts(const std::vector<DataFile*>& files, std::size_t master,
                                const std::vector<uint64_t>& wanted, uint64_t margin,
                                uint64_t patience) {
  std::vector<SetCut> cuts;
  if (wanted.empty() || master >= files.size()) return cuts;
  std::vector<ColumnPlan> widest;
  std::vector<std::unique_ptr<HostKeys>> hosts;
  for (DataFile* file : files) {
    std::unique_ptr<DataFile> peek = openDataFile(file->path().c_str());
    const uint32_t host = peek ? firstLineHost(*peek).value_or(0) : 0;
    const LineLayout layout = hostColumns(file->configuration(), host, true).layout;
    widest.push_back(planAllColumns(layout));
    const bool none[kChannelsPerHost] = {};
    hosts.push_back(std::make_unique<HostKeys>(*file, planColumns(layout, none, std::nullopt)));
  }
  // A reader whose ring fills takes set lines out early, by a rule of its
  // own history: no cut is sure then.
  if (setRingRows(planSet(widest)) < kSetJoinHeld + 4) return cuts;

  SetJoin whole(files.size(), master);
  // The join of the part being tried, begun at its start, compared with the
  // whole set's before each line from its cut on.
  std::optional<SetJoin> trial;
  SetCut trying;
  SetCut pending;  // a part to try, its join not begun yet
  bool hasPending = false;
  std::size_t next = 0;          // the next wanted cut
  std::optional<uint64_t> last;  // the window time of the line offered last
  for (;;) {
    const std::optional<std::size_t> first = nextJoinHost(
        hosts.size(),
        [&](std::size_t h) -> const std::optional<SetJoinLine>& { return hosts[h]->ahead(); });
    if (!first) break;
    const SetJoinLine line = *hosts[*first]->ahead();
    const uint64_t now = line.windowTime;
    settle(whole);
    if (trial) {
      settle(*trial);
      if (now >= trying.cut) {
        if (trial->sameState(whole)) {
          // Every line from this one on is decided alike by both.
          if (cuts.empty() || now > cuts.back().cut) cuts.push_back({trying.start, now});
          trial.reset();
          while (next < wanted.size() && wanted[next] <= now) ++next;
        } else if (now - trying.cut > patience) {
          // Not alike yet: try a part begun later instead.
          trial.reset();
          pending = SetCut{now, now + margin};
          hasPending = true;
        }
      }
    }
    if (!trial && !hasPending && next < wanted.size() && now + margin >= wanted[next]) {
      pending = SetCut{wanted[next] - std::min(wanted[next], margin), wanted[next]};
      hasPending = true;
      ++next;
    }
    // A part's reads take every line from its start on: its join begins
    // before the first of them is offered, or later, from a line whose time
    // no line offered yet has.
    if (!trial && hasPending && (!last || *last < now)) {
      trying = pending;
      hasPending = false;
      if (last && trying.start <= *last) trying.start = now;
      if (trying.cut < trying.start) trying.cut = trying.start;
      trial.emplace(files.size(), master);
    }
    if (trial) trial->add(*first, line);
    whole.add(*first, line);
    last = now;
    hosts[*first]->next();
  }
  return cuts;
}

}  // namespace cdt
