#include "foundation/small_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace cdt {
namespace {

TEST(SmallHelpers, ByteSizeText) {
  EXPECT_EQ(byteSizeText(0).str(), "0");
  EXPECT_EQ(byteSizeText(0, "empty").str(), "empty");
  const std::pair<uint64_t, const char*> cases[] = {
      {5, "5.00Bytes"},          {10, "10.0Bytes"},         {100, "100Bytes"},
      {999, "999Bytes"},         {1000, "0.98kB"},          {1536, "1.50kB"},
      {102400, "100kB"},         {1048576, "1.00MB"},       {1ull << 40, "1.00TB"},
      {1000ull << 40, "1000TB"}, {UINT64_MAX, "16777216TB"}};
  for (const auto& [count, text] : cases) EXPECT_EQ(byteSizeText(count).str(), text) << count;
}

TEST(SmallHelpers, FileExtension) {
  auto ext = [](const char* name) {
    return std::string(fileExtension(TextBuffer(std::string_view(name))).view());
  };
  EXPECT_EQ(ext("run.cdt"), "cdt");
  EXPECT_EQ(ext("archive.tar.gz"), "gz");
  EXPECT_EQ(ext("run.cdt "), "cdt");
  EXPECT_EQ(ext(".profile"), "profile");
  for (const char* none : {"README", " README ", "run.", "run..", "run. ", ".", ""}) {
    EXPECT_EQ(ext(none), "") << '"' << none << '"';
  }
}

TEST(SmallHelpers, HighestBitIndex) {
  EXPECT_EQ(highestBitIndex(0), -255);
  EXPECT_EQ(highestBitIndex(255), 7);
  for (int32_t bit = 0; bit < 32; ++bit) {
    EXPECT_EQ(highestBitIndex(1u << bit), bit);
    EXPECT_EQ(highestBitIndex((1u << bit) | ((1u << bit) - 1)), bit);
  }
}

}  // namespace
}  // namespace cdt
