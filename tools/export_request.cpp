#include "tools/export_request.h"

#include <algorithm>
#include <thread>

#include "datafile/file_names.h"
#include "foundation/time_text.h"
#include "tools/selection_text.h"

namespace cdt {

namespace {

const char* extensionOf(ExportFormat format) {
  switch (format) {
    case ExportFormat::Csv:
      return ".csv";
    case ExportFormat::Mat:
      return ".mat";
    case ExportFormat::NetCdf:
      return ".nc";
    case ExportFormat::Parquet:
      return ".parquet";
  }
  return "";
}

// Parquet's codec and level: --codec names the codec (none by default), and
// --compress LEVEL alone asks for GZIP, as it asks for zlib of the other
// formats. A codec this build lacks is a usage error.
int parseParquetCodec(const CommandArgs& args, ExportRequest& request, FILE* err) {
  ParquetCodec codec = args.has("compress") ? ParquetCodec::Gzip : ParquetCodec::None;
  if (auto name = args.value("codec")) {
    if (*name == "none") {
      codec = ParquetCodec::None;
    } else if (*name == "gzip") {
      codec = ParquetCodec::Gzip;
    } else if (*name == "zstd") {
      codec = ParquetCodec::Zstd;
    } else {
      return usageError(args, err, "unknown codec '%s' (none, gzip or zstd)", name->c_str());
    }
  }
  if (codec == ParquetCodec::None) {
    if (args.has("compress")) return usageError(args, err, "--compress needs a codec (gzip, zstd)");
    return 0;
  }
  if (!parquetCodecAvailable(codec)) {
    return usageError(args, err, "%s pages are not available in this build (no %s library)",
                      parquetCodecName(codec), codec == ParquetCodec::Gzip ? "zlib" : "zstd");
  }
  const ParquetLevels levels = parquetCodecLevels(codec);
  const std::optional<int64_t> level =
      integerOption(args, "compress", levels.fallback, levels.min, levels.max, err);
  if (!level) return 2;
  request.codec = codec;
  request.compressionLevel = static_cast<int>(*level);
  return 0;
}

}  // namespace

std::string exportOutputPath(const ExportRequest& request, const std::string& input) {
  std::string name = outputPathFor(input.c_str()).str();
  name.replace(name.size() - 4, 4, extensionOf(request.format));
  if (request.outputDirectory.empty() || request.outputDirectory == ".") return name;
  std::string path = request.outputDirectory;
  if (path.back() != '/') path += '/';
  return path + name;
}

int parseExportRequest(const CommandArgs& args, ExportRequest& request, unsigned& jobs, FILE* err) {
  LineSelection& selection = request.selection;
  if (auto dir = args.value("output")) request.outputDirectory = *dir;
  if (auto format = args.value("format")) {
    if (*format == "csv") {
      request.format = ExportFormat::Csv;
    } else if (*format == "mat") {
      request.format = ExportFormat::Mat;
    } else if (*format == "netcdf") {
      request.format = ExportFormat::NetCdf;
    } else if (*format == "parquet") {
      request.format = ExportFormat::Parquet;
    } else {
      return usageError(args, err, "unknown format '%s' (csv, mat, netcdf or parquet)",
                        format->c_str());
    }
  }
  if (auto layout = args.value("layout")) {
    if (*layout == "wide") {
      request.layout = TextLayout::Wide;
    } else if (*layout == "long") {
      request.layout = TextLayout::Long;
    } else {
      return usageError(args, err, "unknown layout '%s' (wide or long)", layout->c_str());
    }
    if (request.layout == TextLayout::Long && request.format != ExportFormat::Csv &&
        request.format != ExportFormat::Parquet) {
      return usageError(args, err, "--layout long is for --format csv and parquet");
    }
  }
  if (auto probes = args.value("probes")) {
    selection.probes.emplace();
    for (const std::string& p : splitList(*probes)) {
      if (p.empty()) return usageError(args, err, "empty probe name in '%s'", probes->c_str());
      selection.probes->push_back({p, std::nullopt});
    }
  }
  if (auto blades = args.value("blades")) {
    selection.blades = parseBladeList(*blades);
    if (!selection.blades) {
      return usageError(args, err, "'%s' is not a blade list such as 1-10,15", blades->c_str());
    }
  }
  if (auto quantities = args.value("quantities")) {
    selection.quantities = {false, false, false, false};
    for (const std::string& q : splitList(*quantities)) {
      if (q == "rms") {
        selection.quantities.rms = true;
      } else if (q == "dns") {
        selection.quantities.dns = true;
      } else if (q == "blade-dns") {
        selection.quantities.bladeDns = true;
      } else if (q == "blade-toa") {
        selection.quantities.bladeToa = true;
      } else if (q == "deflection") {
        selection.quantities.deflection = true;
      } else {
        return usageError(args, err,
                          "unknown quantity '%s' (rms, dns, blade-dns, blade-toa, deflection)",
                          q.c_str());
      }
    }
  }
  for (const char* name : {"from", "to"}) {
    if (auto text = args.value(name)) {
      const std::optional<uint64_t> time = parseTimeText(*text);
      if (!time) {
        return usageError(args, err, "%s '%s' is not a UTC time such as 2011-05-06T12:30:45.25Z",
                          name, text->c_str());
      }
      (name[0] == 'f' ? selection.start : selection.stop) = time;
    }
  }
  if (selection.start && selection.stop && *selection.stop <= *selection.start) {
    return usageError(args, err, "--to must lie after --from");
  }
  if (auto range = args.value("revolutions")) {
    const auto revolutions = parseRevolutionRange(*range);
    if (!revolutions) {
      return usageError(args, err, "'%s' is not a revolution range FIRST:LAST", range->c_str());
    }
    selection.firstRevolution = revolutions->first;
    selection.lastRevolution = revolutions->second;
  }
  if (auto host = args.value("host")) selection.host = *host;
  request.sets = args.has("set");
  if (auto time = args.value("time")) {
    if (!request.sets) return usageError(args, err, "--time is for --set");
    request.setTime = parseTimeText(*time);
    if (!request.setTime) {
      return usageError(args, err, "time '%s' is not a UTC time such as 2011-05-06T12:30:00Z",
                        time->c_str());
    }
  }
  if (request.sets && selection.host) {
    return usageError(args, err, "--host is for single files: a set has each host's file");
  }
  if (auto encoding = args.value("encoding")) {
    const std::optional<TextEncoding> named = textEncodingNamed(*encoding);
    if (!named) {
      return usageError(args, err, "unknown encoding '%s' (%s)", encoding->c_str(),
                        textEncodingChoices());
    }
    request.encoding = *named;
  }
  request.mat73 = args.has("mat73");
  if (request.mat73 && request.format != ExportFormat::Mat) {
    return usageError(args, err, "--mat73 is for --format mat");
  }
  if (request.format == ExportFormat::Parquet) {
    if (int status = parseParquetCodec(args, request, err); status != 0) return status;
    const std::optional<int64_t> rows = integerOption(args, "row-group", 0, 1, 1 << 24, err);
    if (!rows) return 2;
    request.parquetGroupRows = static_cast<std::size_t>(*rows);
  } else {
    if (args.has("row-group")) return usageError(args, err, "--row-group is for --format parquet");
    if (args.has("codec")) return usageError(args, err, "--codec is for --format parquet");
    const std::optional<int64_t> level = integerOption(args, "compress", 0, 1, 9, err);
    if (!level) return 2;
    request.compressionLevel = static_cast<int>(*level);
    // Version 7.3 files are always compressed, as HDF5 chunks.
    if (args.has("compress") && (request.format == ExportFormat::Csv || request.mat73)) {
      return usageError(args, err,
                        "--compress is for --format netcdf, parquet and level-5 --format mat");
    }
  }
  // A deflection is a blade's at one probe: a cell of the long layout's rows,
  // or a lines x blades variable per probe of a MATLAB or netCDF file. The
  // wide CSV keeps the converter's columns.
  const bool wideFile =
      request.format == ExportFormat::NetCdf || request.format == ExportFormat::Mat;
  if (request.selection.quantities.deflection && request.layout != TextLayout::Long && !wideFile) {
    return usageError(args, err,
                      "the deflection quantity is for --layout long (CSV, Parquet) and for "
                      "--format netcdf and mat");
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::optional<int64_t> n = integerOption(args, "jobs", cores, 1, 256, err);
  if (!n) return 2;
  jobs = static_cast<unsigned>(*n);
  return 0;
}

}  // namespace cdt
