// A progress line for long work: rewritten in place on standard error while
// it is a terminal, silent otherwise (scripts and tests see nothing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace cdt {

class ProgressLine {
 public:
  // Shows "<label> <done> of <total> <unit> (<percent>%)" on `stream` when it
  // is a terminal. `total` 0 is allowed (the percentage is then left out).
  ProgressLine(FILE* stream, std::string label, std::string unit, uint64_t total);
  // Clears the line.
  ~ProgressLine();
  // Clears the line for other output; the next update draws it again.
  void clear();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  bool active() const { return stream_ != nullptr; }
  // Cheap to call often: the line is redrawn at most ten times a second.
  void update(uint64_t done);
  // The same, followed by the rate of `bytes` (counted since the line was
  // made) in MB/s; for callers that report seldom, such as once per file:
  // only the time limits how often it is redrawn.
  void update(uint64_t done, uint64_t bytes);

 private:
  void draw(uint64_t done, std::optional<uint64_t> bytes);

  FILE* stream_ = nullptr;
  std::string label_;
  std::string unit_;
  uint64_t total_;
  uint64_t started_ = 0;
  uint64_t lastDraw_ = 0;
  uint32_t calls_ = 0;
};

}  // namespace cdt
