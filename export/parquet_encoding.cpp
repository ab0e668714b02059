#include "export/parquet_encoding.h"

#include <algorithm>
#include <cstring>

#include "export/parquet_thrift.h"

namespace cdt::parquet {

namespace {

// Runs and bit-packed runs hold at most 2^31 - 1 values; ours stay far
// below, within a page.
constexpr std::size_t kMaxRun = std::size_t{1} << 30;

// A bit-packed run of `count` levels (a multiple of 8 but at the end).
void appendPacked(std::string& out, const uint8_t* levels, std::size_t count) {
  while (count > 0) {
    const std::size_t n = std::min(count, kMaxRun);
    const std::size_t groups = (n + 7) / 8;
    CompactWriter::varint(out, (uint64_t{groups} << 1) | 1);
    appendBits(out, levels, n);
    levels += n;
    count -= n;
  }
}

}  // namespace

void appendBits(std::string& out, const uint8_t* values, std::size_t count) {
  for (std::size_t i = 0; i < count; i += 8) {
    unsigned byte = 0;
    const std::size_t end = std::min(count, i + 8);
    for (std::size_t j = i; j < end; ++j) byte |= (values[j] & 1u) << (j - i);
    out += static_cast<char>(byte);
  }
}

void appendLevels(std::string& out, const uint8_t* levels, std::size_t count) {
  // A page without nulls, the common case: runs of ones, found at once.
  if (count >= 8 && std::memchr(levels, 0, count) == nullptr) {
    for (std::size_t i = 0; i < count;) {
      const std::size_t run = std::min(count - i, kMaxRun);
      CompactWriter::varint(out, uint64_t{run} << 1);
      out += static_cast<char>(1);
      i += run;
    }
    return;
  }
  // Levels not yet written start at `literal`, a whole number of groups
  // before `i` whenever a run may begin.
  std::size_t literal = 0;
  std::size_t i = 0;
  while (i < count) {
    std::size_t run = 1;
    while (i + run < count && run < kMaxRun && levels[i + run] == levels[i]) ++run;
    if (run < 8) {
      i = std::min(count, i + 8);
      continue;
    }
    appendPacked(out, levels + literal, i - literal);
    CompactWriter::varint(out, uint64_t{run} << 1);
    out += static_cast<char>(levels[i] & 1u);
    i += run;
    literal = i;
  }
  appendPacked(out, levels + literal, count - literal);
}

}  // namespace cdt::parquet
