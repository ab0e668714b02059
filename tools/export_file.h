// One file of cdt export: the recording read through its selection into one
// output of the request's format, staged and renamed when complete.
#pragma once

#include <cstdint>
#include <string>

#include "tools/export_request.h"

namespace cdt {

// The outcome of one file: its messages, in order, and its status (0, 1 for
// a file that failed, 2 for a selection the file cannot satisfy).
struct FileResult {
  std::string out;
  std::string err;
  int status = 0;
  uint64_t bytes = 0;  // of the input
};

FileResult exportFile(const ExportRequest& request, const std::string& input);

}  // namespace cdt
