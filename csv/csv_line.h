// One CSV data line in two steps: encodeLine copies what the line shows out
// of a complete group of blade records into a compact byte form that refers
// to no record, and formatLines turns such encodings into text. Between the
// two the records can be released and the text made on another thread.
//
// The line: the Time cell, speed ("%.6g"), "Yes"/"No", start and end
// revolution, then for every channel slot with a probe its RMS and DNS mean
// and one DNS and (with time of arrival) one TOA cell per blade ("%.8g"),
// empty cells where the slot has no record or the record fewer blade entries
// than the stage has blades.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lines/line_layout.h"

namespace cdt {

// Bytes of an encoding: a fixed head, then 8 per blade entry copied.
inline constexpr std::size_t kEncodedLineHeadSize = 64;
inline constexpr std::size_t kMaxEncodedLineSize =
    kEncodedLineHeadSize + std::size_t{kChannelsPerHost} * kMaxLineBlades * 8;

// Bytes encodeLine writes for the group, at most kMaxEncodedLineSize.
std::size_t encodedLineSize(const LineLayout& layout, const LineGroup& group);
// Writes the encoding at `out` (encodedLineSize bytes, any alignment) and
// returns its end.
unsigned char* encodeLine(unsigned char* out, const LineLayout& layout, const LineGroup& group);

// Where formatted text goes: a caller's buffer that is handed to `drain`
// whenever the next cell may not fit, and at the caller's will. `drain`
// must take all of the text (it may fail; the sink does not care).
class LineSink {
 public:
  using Drain = void (*)(void* context, const char* text, std::size_t length);

  // The smallest buffer a sink works with.
  static constexpr std::size_t kMinCapacity = 1024;

  // `buffer` (capacity bytes, at least kMinCapacity) must outlive the sink.
  LineSink(char* buffer, std::size_t capacity, Drain drain, void* context)
      : begin_(buffer),
        cursor_(buffer),
        limit_(buffer + capacity),
        drain_(drain),
        context_(context) {}

  // Hands the buffered text to `drain` and empties the buffer.
  void drain();
  std::size_t buffered() const { return static_cast<std::size_t>(cursor_ - begin_); }

 private:
  friend class LineWriter;

  char* begin_;
  char* cursor_;
  char* limit_;
  Drain drain_;
  void* context_;
};

// Appends the text of the encoded lines in [data, data + size), each ending
// in "\n", to the sink. `data` holds whole encodings made with `layout`.
void formatLines(const LineLayout& layout, const unsigned char* data, std::size_t size,
                 LineSink& sink);

}  // namespace cdt
