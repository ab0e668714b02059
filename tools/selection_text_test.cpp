// The selection texts of cdt export, and a one-revolution range end to end.
#include "tools/selection_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using Range = std::pair<uint64_t, uint64_t>;
using Blades = std::vector<uint32_t>;

TEST(SelectionText, ParsesRevolutionRangesAndBladeLists) {
  const std::pair<const char*, std::optional<Range>> ranges[] = {
      {"5:5", Range{5, 5}},  // one revolution
      {"0:18", Range{0, 18}},
      {"9999999999999999999:9999999999999999999",
       Range{9999999999999999999u, 9999999999999999999u}},
      {"6:5", std::nullopt},
      {"5", std::nullopt},
      {":5", std::nullopt},
      {"5:", std::nullopt},
      {"1:2:3", std::nullopt},
      {"-1:5", std::nullopt},
      {" 1:5", std::nullopt},
      {"99999999999999999999:1", std::nullopt},  // more than 64 bits
  };
  for (const auto& [text, expected] : ranges)
    EXPECT_EQ(parseRevolutionRange(text), expected) << text;

  const std::pair<const char*, std::optional<Blades>> lists[] = {
      {"5-5", Blades{5}},      {"7", Blades{7}},       {"4-6,1,5,65535", Blades{1, 4, 5, 6, 65535}},
      {"", std::nullopt},      {"1,,2", std::nullopt}, {"0", std::nullopt},
      {"65536", std::nullopt}, {"3-2", std::nullopt},  {"1-", std::nullopt},
      {"1-2-3", std::nullopt}, {"x", std::nullopt},
  };
  for (const auto& [text, expected] : lists) {
    const std::optional<Blades> numbers = parseBladeList(text);
    EXPECT_EQ(numbers, expected) << text;
    if (numbers) {
      EXPECT_EQ(parseBladeList(formatBladeList(*numbers)), numbers) << text;
    }
  }
  EXPECT_EQ(formatBladeList({1, 2, 3, 5, 7, 8}), "1-3,5,7-8");
}

TEST(SelectionText, OneRevolutionExportsExactlyOneLine) {
  testing::TempDir dir;
  const std::string input =
      testing::synthRecording(dir.path(), {"--revolutions", "9", "--probes", "2", "--blades", "3"})
          .at(0);
  const testing::RunResult r =
      testing::runCdt({"export", "-o", "one", "--revolutions", "5:5", input}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string name = input.substr(input.rfind('/') + 1, input.size() - input.rfind('/') - 5);
  const std::vector<std::string> lines =
      testing::splitLines(testing::readFile(dir.file("one/" + name + ".csv")));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find(",5,5,"), std::string::npos) << lines[1];  // Start Rev, End Rev
}

}  // namespace
}  // namespace cdt
