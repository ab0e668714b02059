// Every float bit pattern through the CSV number formatters, against printf,
// and through the cell formatter, runs of consecutive patterns at a time.
// Takes many minutes, so the test carries the CTest label `exhaustive` (which
// `make test` leaves out) and runs only with CDT_EXHAUSTIVE=1: `make
// exhaustive` does both in a Release build. CDT_EXHAUSTIVE_THREADS sets the
// number of threads (default: all cores).
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "csv/float_format.h"
#include "csv/number_format.h"

namespace cdt {
namespace {

struct Case {
  const char* format;
  char* (*formatter)(char*, float);
};
// formatG8 and formatG6 are what the exporter calls.
constexpr Case kCases[] = {{"%.8g", formatG8}, {"%.6g", formatG6}};

// The first format on which the formatter and printf disagree, or nullptr.
// Appends ',' and printf's "%.8g" text to `cells`.
const Case* disagreement(float v, std::string& cells) {
  for (const Case& c : kCases) {
    char expected[64];
    const int length = std::snprintf(expected, sizeof expected, c.format, static_cast<double>(v));
    if (&c == &kCases[0]) {
      cells += ',';
      cells.append(expected, static_cast<size_t>(length));
    }
    char got[kNumberRoom];
    const char* end = c.formatter(got, v);
    if (end - got != length || std::memcmp(got, expected, static_cast<size_t>(length)) != 0) {
      return &c;
    }
  }
  return nullptr;
}

std::string describe(float v, const Case& c) {
  char expected[64];
  std::snprintf(expected, sizeof expected, c.format, static_cast<double>(v));
  char got[kNumberRoom];
  char line[160];
  std::snprintf(line, sizeof line, "0x%08x %s: \"%s\", printf \"%s\"\n", std::bit_cast<uint32_t>(v),
                c.format, std::string(got, c.formatter(got, v)).c_str(), expected);
  return line;
}

TEST(FloatFormatExhaustive, AllBitPatterns) {
  const char* enabled = std::getenv("CDT_EXHAUSTIVE");
  if (enabled == nullptr || std::string(enabled) != "1") GTEST_SKIP() << "set CDT_EXHAUSTIVE=1";
  const char* threadsText = std::getenv("CDT_EXHAUSTIVE_THREADS");
  unsigned threads = threadsText != nullptr ? static_cast<unsigned>(std::atoi(threadsText))
                                            : std::thread::hardware_concurrency();
  if (threads == 0) threads = 1;

  // Chunks handed out in order, so that a slow thread never holds up the end.
  constexpr uint64_t kChunk = uint64_t{1} << 20;
  std::atomic<uint64_t> next{0};
  std::atomic<uint64_t> failures{0};
  std::vector<std::string> reports(threads);
  std::vector<std::thread> workers;
  constexpr uint32_t kRun = 4096;
  static_assert(kChunk % kRun == 0);
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      std::vector<float> values(kRun);
      std::string expected;
      std::vector<char> cells(floatCellsRoom(kRun));
      for (uint64_t start; (start = next.fetch_add(kChunk)) < (uint64_t{1} << 32);) {
        for (uint64_t run = start; run < start + kChunk; run += kRun) {
          expected.clear();
          for (uint32_t i = 0; i < kRun; ++i) {
            const float v = std::bit_cast<float>(static_cast<uint32_t>(run + i));
            values[i] = v;
            const Case* bad = disagreement(v, expected);
            if (bad != nullptr && failures.fetch_add(1) < 20) reports[t] += describe(v, *bad);
          }
          const char* end = formatFloatCellsG8(
              cells.data(), reinterpret_cast<const unsigned char*>(values.data()), kRun, 4);
          if (std::string_view(cells.data(), static_cast<size_t>(end - cells.data())) != expected &&
              failures.fetch_add(1) < 20) {
            char line[80];
            std::snprintf(line, sizeof line, "cells of 0x%08x to 0x%08x differ from printf\n",
                          static_cast<uint32_t>(run), static_cast<uint32_t>(run + kRun - 1));
            reports[t] += line;
          }
        }
      }
    });
  }
  for (std::thread& w : workers) w.join();
  std::string all;
  for (const std::string& r : reports) all += r;
  EXPECT_EQ(failures.load(), 0u) << all;
}

}  // namespace
}  // namespace cdt
