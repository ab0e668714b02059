// Helpers for the end-to-end tests of the cdt tool: running the built
// programs and reading their results.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "test/support.h"

namespace cdt::testing {

inline RunResult runCdt(const std::vector<std::string>& args, const std::string& dir = ".") {
  return runProgram(builtProgram("tools/cdt"), args, dir);
}

// Converts `file` with cdt2csv in `dir` and returns the CSV's text.
inline std::string convertToCsv(const std::string& file, const std::string& dir,
                                const std::string& csvName) {
  RunResult r = runProgram(builtProgram("driver/cdt2csv"), {file}, dir);
  if (r.status != 0) return "<cdt2csv failed: " + r.err + ">";
  return readFile(dir + "/" + csvName);
}

// The lines of `text`, without their "\n" or "\r\n" (the programs end
// lines the platform's way).
inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const size_t stop = end > begin && text[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(text.substr(begin, stop - begin));
    begin = end + 1;
  }
  return lines;
}

// Runs "cdt synth OPTIONS DIR" and returns the paths it printed, one per
// host. A run that fails or says anything on standard error fails the test.
inline std::vector<std::string> synthRecording(const std::string& dir,
                                               std::vector<std::string> options) {
  options.insert(options.begin(), "synth");
  options.push_back(dir);
  RunResult r = runCdt(options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  return splitLines(r.out);
}

// The number after `"key":` in a JSON text (the first occurrence), or -1.
inline int64_t jsonNumber(const std::string& json, const std::string& key) {
  const std::string pattern = "\"" + key + "\":";
  size_t at = json.find(pattern);
  if (at == std::string::npos) return -1;
  return std::stoll(json.substr(at + pattern.size()));
}

// The text of `"key":[...]` in a JSON text (the first occurrence), or "".
inline std::string jsonArray(const std::string& json, const std::string& key) {
  const std::string pattern = "\"" + key + "\":[";
  size_t at = json.find(pattern);
  if (at == std::string::npos) return "";
  size_t end = json.find(']', at);
  return json.substr(at + pattern.size() - 1, end - at - pattern.size() + 2);
}

}  // namespace cdt::testing
