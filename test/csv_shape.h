// Checking the shape of a CSV text: RFC 4180 cells with "\n" line ends, and
// every line as many cells as the header.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cdt::testing {

// The cell count of every line of an RFC 4180 text whose lines end in "\n";
// none when a line lacks its "\n", an unquoted cell holds a quote or a
// carriage return, a quoted cell is not closed or text follows its closing
// quote.
inline std::optional<std::vector<size_t>> csvShape(std::string_view text) {
  enum class State { CellStart, Plain, Quoted, QuoteInQuoted };
  std::vector<size_t> lines;
  size_t cells = 1;
  State state = State::CellStart;
  for (const char c : text) {
    if (state == State::Quoted) {
      if (c == '"') state = State::QuoteInQuoted;
      continue;
    }
    if (state == State::CellStart && c == '"') {
      state = State::Quoted;
    } else if (state == State::QuoteInQuoted && c == '"') {
      state = State::Quoted;
    } else if (c == ',') {
      ++cells;
      state = State::CellStart;
    } else if (c == '\n') {
      lines.push_back(cells);
      cells = 1;
      state = State::CellStart;
    } else if (state == State::QuoteInQuoted || c == '"' || c == '\r') {
      return std::nullopt;
    } else {
      state = State::Plain;
    }
  }
  if (state != State::CellStart || cells != 1) return std::nullopt;
  return lines;
}

// Empty, or a header and lines of the header's cell count.
inline ::testing::AssertionResult isWellFormedCsv(const std::string& csv) {
  const std::optional<std::vector<size_t>> shape = csvShape(csv);
  if (!shape) return ::testing::AssertionFailure() << "not RFC 4180 with \\n line ends";
  for (size_t i = 1; i < shape->size(); ++i) {
    if ((*shape)[i] != (*shape)[0]) {
      return ::testing::AssertionFailure()
             << "line " << i << " has " << (*shape)[i] << " cells, the header " << (*shape)[0];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace cdt::testing
