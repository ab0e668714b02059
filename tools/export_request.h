// What cdt export's options ask of every file, parsed and checked.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "csv/csv_header.h"
#include "export/parquet_codec.h"
#include "foundation/name_text.h"
#include "lines/line_selection.h"
#include "tools/arguments.h"

namespace cdt {

enum class ExportFormat : uint8_t { Csv, Mat, NetCdf, Parquet };

struct ExportRequest {
  std::string outputDirectory = ".";
  ExportFormat format = ExportFormat::Csv;
  TextLayout layout = TextLayout::Wide;
  // Probes as names or channel numbers (text), blades, quantities, window
  // and host; resolved against each file's configuration.
  LineSelection selection;
  // Each argument names recording sets (tools/export_set.h), and with a
  // time a directory names its recording of that time only.
  bool sets = false;
  std::optional<uint64_t> setTime;
  bool mat73 = false;
  // netCDF and MATLAB: zlib's level, 0 for none; Parquet: the codec's level.
  int compressionLevel = 0;
  ParquetCodec codec = ParquetCodec::None;
  // Parquet: rows per row group at most (--row-group), 0 for the sink's own.
  std::size_t parquetGroupRows = 0;
  // How names become text where the output holds Unicode (netCDF, MATLAB,
  // Parquet) and in messages; the CSV keeps the file's bytes.
  TextEncoding encoding = TextEncoding::Auto;
  // A file's batches are written by a thread of their own while the next
  // batch is read (there are threads to spare beyond one per file).
  bool overlapWrites = false;
  // Bytes of records read, over all files, for the progress line.
  std::atomic<uint64_t>* bytesRead = nullptr;

  // Whether the output differs from the converter's CSV.
  bool selects() const { return selection.selects() || layout != TextLayout::Wide; }
};

// Parses the options into `request` and the thread budget into `jobs`; a
// usage error's status (its message written to `err`), or 0.
int parseExportRequest(const CommandArgs& args, ExportRequest& request, unsigned& jobs, FILE* err);

// The output of `input`: named as cdt2csv names its CSV, with the format's
// extension, in the request's directory.
std::string exportOutputPath(const ExportRequest& request, const std::string& input);

}  // namespace cdt
