// Following a recording set being written: the hosts' files followed
// together and their lines joined by revolution as a read of the finished
// set joins them (the same merge, SetReader over followed sources), each
// set line handed out once no later line of any host can change it.
//
// The join takes the hosts' lines in window-time order across the hosts
// (the host whose next line comes first), so a host's next line is only
// chosen once every host has one at hand or has ended: a host that is
// behind holds the set lines back until it catches up or its follow ends
// (finished, or given up after the idle time). The followed set lines are
// therefore those of a read of the finished set; a host given up on
// contributes the lines of its whole records, as `cdt recover` keeps them.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "datafile/follower.h"
#include "lines/line_follower.h"
#include "lines/set_reader.h"

namespace cdt {

class SetFollower {
 public:
  // The hosts' files (".temp" or final names) and the master's position
  // among them.
  SetFollower(const std::vector<std::string>& paths, std::size_t master,
              const FollowOptions& options);

  std::size_t hosts() const { return hosts_.size(); }
  const std::string& path(std::size_t h) const { return hosts_[h].path; }
  DataFileFollower& records(std::size_t h) { return *hosts_[h].records; }
  const DataFileFollower& records(std::size_t h) const { return *hosts_[h].records; }
  // The lines followed of host h so far (0 before its configuration came).
  uint64_t lines(std::size_t h) const { return hosts_[h].lines ? hosts_[h].lines->lines() : 0; }

  // Waits at most `timeout` for every host's configuration and the host of
  // its lines: Record once every host's are known (configuration(h),
  // linesHost(h): none where the file ended without a line), Waiting
  // before, Stopped, or Failed (failure() tells which host and why).
  FollowStatus waitForHosts(std::chrono::milliseconds timeout);
  const Configuration& configuration(std::size_t h) const {
    return hosts_[h].records->configuration();
  }
  std::optional<uint32_t> linesHost(std::size_t h) const { return hosts_[h].lines->host(); }

  // Begins the merge, once the hosts are known, with each host's columns
  // and window (its ranges: the host of its lines is the one known).
  void begin(const std::vector<ColumnPlan>& plans, const std::vector<LineWindow>& windows);
  const SetPlan& plan() const { return *plan_; }

  // Stores up to `rows` set lines complete within `timeout` from row `row`
  // of `columns` (SetReader::read); after the last, 0.
  std::size_t next(const SetColumns& columns, std::size_t row, std::size_t rows,
                   std::chrono::milliseconds timeout);
  // Waiting until every set line is out; then Finished (every host's file
  // finished), Idle (some host was given up), Stopped, or Failed
  // (failure()).
  FollowStatus status() const;
  // How host h's lines ended (Waiting before).
  FollowStatus hostStatus(std::size_t h) const;
  // Why the follow failed: "cannot follow 'PATH': REASON".
  const std::string& failure() const { return failure_; }

  // Ends every host's follow: a call running or to come returns soon.
  void stop();

 private:
  struct Host {
    std::string path;
    std::unique_ptr<DataFileFollower> records;
    std::unique_ptr<LineFollower> lines;
    bool known = false;  // the host of its lines is known, or it has none
  };
  void fail(std::size_t h, const std::string& reason);

  std::vector<Host> hosts_;
  std::size_t master_;
  std::optional<SetPlan> plan_;
  std::unique_ptr<SetReader> reader_;
  bool stopped_ = false;
  std::string failure_;
};

}  // namespace cdt
