#include "tools/export_steps.h"

#include <cerrno>
#include <cstring>
#include <future>

#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "tools/cdt.h"

namespace cdt {

bool outputFailed(const StagedOutput& staged, FileResult& result) {
  say(result.err, "cdt export: %s\n", staged.error().c_str());
  result.status = 1;
  return false;
}

bool stage(const ExportRequest& request, const std::string& input, const std::string& output,
           StagedOutput& staged, FileResult& result) {
  // A directory at the name would only refuse the rename once the work is
  // done.
  if (isDirectory(output.c_str())) {
    say(result.err, "cdt export: cannot create '%s': %s\n", output.c_str(), std::strerror(EISDIR));
    result.status = 1;
    return false;
  }
  if (!staged.create(output, input, request.format == ExportFormat::Csv)) {
    return outputFailed(staged, result);
  }
  return true;
}

void noteStop(const DataFile& file, const std::string& input, FileResult& result) {
  const DataFileReport stop = file.lastReadStatus();
  if (stop.status != DataFileStatus::EndOfRecords && stop.status != DataFileStatus::Ok) {
    say(result.err, "cdt export: warning: reading '%s' stopped at offset %llu: %s\n", input.c_str(),
        static_cast<unsigned long long>(stop.offset), dataFileStatusText(stop.status));
  }
}

void noteEmptyWindow(const ExportRequest& request, uint64_t lines, const std::string& input,
                     FileResult& result) {
  if (lines == 0 && request.selection.hasWindow()) {
    say(result.err, "cdt export: note: no line of '%s' lies in the window\n", input.c_str());
  }
}

void noteDeflections(const LinePlan& view, const Configuration& configuration,
                     const std::string& input, FileResult& result) {
  if (!view.plan.quantities.deflection) return;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!view.plan.kept[slot] || view.plan.deflection[slot].valid) continue;
    const Probe& probe = *view.columns.probes[slot];
    std::string why = "its radial position is not a number";
    if (probe.stageIndex < 0 ||
        static_cast<std::size_t>(probe.stageIndex) >= configuration.stages.size()) {
      why = "it watches no stage";
    } else if (std::string problem = stageDeflectionProblem(
                   configuration.stages[static_cast<std::size_t>(probe.stageIndex)]);
               !problem.empty()) {
      why = "its stage has " + problem;
    }
    say(result.err, "cdt export: note: probe '%s' of '%s' has no tip deflection: %s\n",
        view.keys[slot].c_str(), input.c_str(), why.c_str());
  }
}

namespace {

// "cdt export version 0.1.0 (build g1234abc)", as Parquet's created_by has
// an application's version.
std::string createdBy() {
  std::string version = kCdtVersion;
  if (const std::size_t git = version.find(" (git "); git != std::string::npos) {
    version.replace(git, 6, " (build ");
  }
  return "cdt export version " + version;
}

}  // namespace

std::unique_ptr<ColumnSink> makeRequestSink(const ExportRequest& request, FileResult& result) {
  if (request.format == ExportFormat::Parquet) {
    // Its codec was checked with the options: every build has the sink.
    ParquetOptions options;
    options.codec = request.codec;
    options.compressionLevel = request.compressionLevel;
    options.longLayout = request.layout == TextLayout::Long;
    options.groupRows = request.parquetGroupRows;
    options.createdBy = createdBy();
    return makeParquetSink(options);
  }
  const bool mat = request.format == ExportFormat::Mat;
  std::unique_ptr<ColumnSink> sink = mat ? makeMatSink({request.mat73, request.compressionLevel})
                                         : makeNetCdfSink({request.compressionLevel});
  if (sink == nullptr) {
    say(result.err, "cdt export: --format %s%s is not available in this build (no %s library)\n",
        mat ? "mat" : "netcdf", mat && request.mat73 ? " --mat73" : "",
        mat ? (request.mat73 ? "HDF5" : "zlib") : "netCDF");
    result.status = 2;
  }
  return sink;
}

bool sinkFailed(ColumnSink& sink, StagedOutput& staged, const char* verb, FileResult& result) {
  const std::string what = std::string(verb) + " '" + staged.finalPath() + "'";
  staged.fail(sink.errorCode() != 0 ? what : what + ": " + sink.error(), sink.errorCode());
  return outputFailed(staged, result);
}

std::vector<SinkProbe> sinkProbes(const LinePlan& view, const Configuration& configuration,
                                  TextEncoding encoding, uint32_t floatShift,
                                  uint32_t doubleShift) {
  std::vector<SinkProbe> probes;
  const ColumnPlan& plan = view.plan;
  for (uint32_t slot = 0; slot < kChannelsPerHost; ++slot) {
    if (!plan.kept[slot]) continue;
    const Probe& probe = *view.columns.probes[slot];
    SinkProbe p;
    p.slot = slot;
    p.name = view.names[slot];
    p.key = view.keys[slot];
    p.stageIndex = static_cast<uint32_t>(probe.stageIndex);
    if (probe.stageIndex >= 0 &&
        static_cast<uint32_t>(probe.stageIndex) < configuration.stages.size()) {
      p.stage = decodeName(
          configuration.stages[static_cast<uint32_t>(probe.stageIndex)].name.view(), encoding);
    }
    for (uint32_t j : plan.blades[slot]) p.blades.push_back(j + 1);
    p.rmsRow = plan.rmsRow[slot] + floatShift;
    p.bladeDnsRow = plan.bladeDnsRow[slot] + floatShift;
    p.bladeToaRow = plan.bladeToaRow[slot] + floatShift;
    p.dnsRow = plan.dnsRow[slot] + doubleShift;
    p.deflection = plan.deflection[slot];
    probes.push_back(std::move(p));
  }
  return probes;
}

bool pipeBatches(const ExportRequest& request, const std::function<std::size_t(int)>& read,
                 const std::function<bool()>& ended,
                 const std::function<bool(int, std::size_t)>& write, uint64_t& lines) {
  bool written = true;
  std::future<bool> writing;
  int current = 0;
  while (!ended()) {
    const std::size_t rows = read(current);
    if (rows == 0) continue;
    lines += rows;
    if (writing.valid()) written = writing.get() && written;
    if (request.overlapWrites) {
      writing =
          std::async(std::launch::async, [&write, current, rows] { return write(current, rows); });
    } else {
      written = write(current, rows) && written;
    }
    current ^= 1;
  }
  if (writing.valid()) written = writing.get() && written;
  return written;
}

}  // namespace cdt
