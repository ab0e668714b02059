// The fixture of the cdt export tests: a synthesized recording of three
// probes of five blades and its converted CSV, as rows of cells.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tool_test_support.h"

namespace cdt::testing {

using Row = std::vector<std::string>;

// The cells of a CSV line without quoted cells.
inline Row cells(const std::string& line) {
  Row row;
  size_t begin = 0;
  while (true) {
    const size_t comma = line.find(',', begin);
    row.push_back(line.substr(begin, comma - begin));
    if (comma == std::string::npos) return row;
    begin = comma + 1;
  }
}

inline std::vector<Row> table(const std::string& path) {
  std::vector<Row> rows;
  for (const std::string& line : splitLines(readFile(path))) rows.push_back(cells(line));
  return rows;
}

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input = synthRecording(dir.path(), {"--revolutions", "60", "--probes", "3", "--blades", "5",
                                        "--extras", "7", "--profiles", "20"})
                .at(0);
    name = input.substr(input.rfind('/') + 1);
    name.resize(name.size() - 4);
    ASSERT_EQ(
        testing::runProgram(testing::builtProgram("driver/cdt2csv"), {input}, dir.path()).status,
        0);
    full = table(dir.file(name + ".csv"));
    ASSERT_EQ(full.size(), 61u);
  }

  // The full CSV's column of a header name.
  size_t column(const std::string& header) const {
    for (size_t i = 0; i < full[0].size(); ++i) {
      if (full[0][i] == header) return i;
    }
    ADD_FAILURE() << header;
    return 0;
  }

  // The full CSV's lines `first` to `last` (1-based, inclusive) restricted
  // to the columns named by `header`.
  std::vector<Row> project(const Row& header, size_t first, size_t last) const {
    std::vector<Row> rows = {header};
    for (size_t line = first; line <= last; ++line) {
      Row row;
      for (const std::string& h : header) row.push_back(full[line][column(h)]);
      rows.push_back(row);
    }
    return rows;
  }

  TempDir dir;
  std::string input;
  std::string name;
  std::vector<Row> full;
};

}  // namespace cdt::testing
