// The steps every cdt export output takes, whether of one file
// (tools/export_file.h) or of a recording set (tools/export_set.h): its
// messages, its staging, its column sink and the batches handed to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "datafile/data_file.h"
#include "export/column_sink.h"
#include "foundation/name_text.h"
#include "foundation/staged_output.h"
#include "lines/line_selection.h"
#include "tools/export_file.h"
#include "tools/export_request.h"

namespace cdt {

// Formats `format` onto `to`.
template <typename... Args>
void say(std::string& to, const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return;
  std::string text(static_cast<size_t>(n), '\0');
  std::snprintf(text.data(), text.size() + 1, format, args...);
  to += text;
}

// Adds what a file's reading has covered since the last call to the count
// the progress line shows.
class ReadMeter {
 public:
  ReadMeter(const ExportRequest& request, const DataFile& file)
      : count_(request.bytesRead), file_(file), last_(file.lastReadStatus().offset) {}
  void update() {
    const uint64_t at = file_.lastReadStatus().offset;
    if (count_ != nullptr && at > last_) count_->fetch_add(at - last_, std::memory_order_relaxed);
    last_ = std::max(last_, at);
  }

 private:
  std::atomic<uint64_t>* count_;
  const DataFile& file_;
  uint64_t last_;
};

// A failed output: its message, and status 1 (the staging file is gone).
bool outputFailed(const StagedOutput& staged, FileResult& result);

// Opens the staging file of `output`; false, with the result set, when it
// cannot be made.
bool stage(const ExportRequest& request, const std::string& input, const std::string& output,
           StagedOutput& staged, FileResult& result);

// The warning when the reading of `input` stopped at damage.
void noteStop(const DataFile& file, const std::string& input, FileResult& result);

// The note that a window held no line of `input`.
void noteEmptyWindow(const ExportRequest& request, uint64_t lines, const std::string& input,
                     FileResult& result);

// Notes, where the plan shows deflections, each kept probe that cannot
// have any (no stage, or a stage without blades or diameter): its cells
// stay empty.
void noteDeflections(const LinePlan& view, const Configuration& configuration,
                     const std::string& input, FileResult& result);

// Lines per batch handed to a column sink.
inline constexpr std::size_t kBatchRows = 4096;

// The request's column sink; none, with the result set (status 2), where
// this build lacks its library.
std::unique_ptr<ColumnSink> makeRequestSink(const ExportRequest& request, FileResult& result);

// The failure of `sink` on `staged` ("cannot VERB 'OUTPUT'", with the
// library's account where the system gives no cause): false.
bool sinkFailed(ColumnSink& sink, StagedOutput& staged, const char* verb, FileResult& result);

// The sink's probes of a file's view (its kept slots, in slot order), their
// names and stages decoded; their rows are the view's, moved on by
// `floatShift` and `doubleShift` (where a set's blocks hold the host's rows).
std::vector<SinkProbe> sinkProbes(const LinePlan& view, const Configuration& configuration,
                                  TextEncoding encoding, uint32_t floatShift, uint32_t doubleShift);

// Reads batches and hands them to the sink until `ended()`: `read(b)` fills
// batch b (0 or 1) and returns its rows, `write(b, rows)` writes them. Two
// batches: while one is being written (on another thread when the request
// overlaps writes), the other is read. Adds the lines to `lines`; false when
// a write failed.
bool pipeBatches(const ExportRequest& request, const std::function<std::size_t(int)>& read,
                 const std::function<bool()>& ended,
                 const std::function<bool(int, std::size_t)>& write, uint64_t& lines);

}  // namespace cdt
