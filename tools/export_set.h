// cdt export --set: one output per recording set, of the set's lines
// (lines/set_reader.h) in the request's format and layout.
//
// The output is named after the set's master file without its host part,
// "Rig1.0000.Daq1.2011-05-06.12-30-00.cdt" giving
// "Rig1.0000.2011-05-06.12-30-00.csv" (".mat", ".nc"). The selection applies
// to every host: a probe named keeps every probe of the set with that name
// or key (a key is "NAME (HOST channel N)" where probes of the set share a
// name), and a host none of whose probes is named keeps none; a name no
// host has is a usage error. A host's file that cannot be read is reported
// and the set exported without it (status 1).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "csv/set_csv.h"
#include "datafile/data_file.h"
#include "export/column_sink.h"
#include "lines/line_selection.h"
#include "lines/set_files.h"
#include "lines/set_reader.h"
#include "tools/export_file.h"
#include "tools/export_request.h"
#include "tools/export_steps.h"

namespace cdt {

// The sets that `arguments` name, each once, in order: a data file names
// its recording's set, a directory every recording in it (or with `time`
// the one of that time). An argument that names none gives its message in
// `failures` (status 1), at its place: failures[i] belongs before sets[i]
// and those after it, with the failures past the sets' end last.
struct NamedSets {
  std::vector<SetFiles> sets;
  std::vector<std::pair<std::size_t, FileResult>> failures;  // (sets before it, its result)
};
NamedSets findExportSets(const std::vector<std::string>& arguments, std::optional<uint64_t> time);

// The output of a set: the master's file name without its host part.
std::string exportSetOutputPath(const ExportRequest& request, const SetFiles& set);

FileResult exportSet(const ExportRequest& request, const SetFiles& set);

// The lines of a set export's batch: kBatchRows, fewer for a set whose
// lines are wider than its widest host's (a power of two, so that batches
// still fill the outputs' chunks of kBatchRows lines), so that a batch
// takes about what a batch of one file of the set takes.
std::size_t setBatchRows(const SetPlan& plan);

// Room for setBatchRows set lines: the batches of a set export, finished
// or followed.
struct SetBatch {
  SetBatch(const SetPlan& plan, std::size_t hosts)
      : rows(setBatchRows(plan)), storage(setBlocks(plan), rows), status(hosts * rows) {
    columns = {storage.columns(), status.data()};
  }
  std::size_t rows;
  ColumnStorage storage;
  std::vector<uint8_t> status;
  SetColumns columns;
};

// One host of a set being exported (a finished file's or a followed one's)
// and its view.
struct SetHost {
  std::unique_ptr<DataFile> file;  // a finished file's (none when followed)
  std::string path;
  uint32_t index = 0;  // the configuration's host
  const Configuration* configuration = nullptr;
  std::optional<uint32_t> linesHost;  // the host of its first line record
  LinePlan view;
  // By slot: the probe's key in the set (lines/line_selection.h), and
  // whether it names the host and the channel.
  std::string keys[kChannelsPerHost];
  bool shared[kChannelsPerHost] = {};
};

// Refuses an output that is one of the hosts' files (status 1), then
// resolves the request's selection for every host, as a set read applies
// it: the probes named are looked up among the set's keys, then its names;
// each host keeps those of its own (none when none is named). False, with
// the result set (status 2), when it cannot be.
bool prepareSetHosts(const ExportRequest& request, const SetFiles& set, const std::string& leader,
                     const std::string& output, std::vector<SetHost>& hosts, FileResult& result);

// The wide or long CSV's hosts, and a column sink's description, of a set
// whose hosts are resolved (`master`: the position of the leading host).
std::vector<SetCsvHost> setCsvHosts(const SetFiles& set, const std::vector<SetHost>& hosts);
SinkDescription setSinkDescription(const ExportRequest& request, const SetFiles& set,
                                   const std::vector<SetHost>& hosts, std::size_t master,
                                   const SetPlan& plan);

}  // namespace cdt
