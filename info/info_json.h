// cdt info's JSON: what a scan of one data file found, as one JSON object,
// its names (and a path that is not UTF-8) decoded into UTF-8.
#pragma once

#include <optional>
#include <string>

#include "foundation/name_text.h"
#include "info/info_scan.h"

namespace cdt {

// The object for a scanned file, on one line without its line end, its names
// decoded by `encoding` (TextEncoding::Auto: UTF-8 when valid, else
// Windows-1252).
std::string infoJsonText(const RecordingInfo& info, TextEncoding encoding);

// Scans `path` (scanDataFile) and gives its object, as `cdt info --json`
// prints it; none, with `error` set to the reason (dataFileStatusText), when
// the file cannot be opened as a data file.
std::optional<std::string> infoJsonOf(const std::string& path, TextEncoding encoding,
                                      std::string& error);

}  // namespace cdt
