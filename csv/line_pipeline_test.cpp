#include "csv/line_pipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv/csv_test_support.h"
#include "test/support.h"

namespace cdt {
namespace {

using testing::BladeRecordSpec;
using testing::makeBladeRecord;
using testing::readFile;
using testing::TempDir;

struct EncodedLines {
  LineLayout layout;
  std::vector<std::vector<unsigned char>> lines;
};

// `count` lines of up to 100 blades per slot; with `hugeEvery` set, the
// stages have the largest blade count and every so many lines is one of the
// largest a group can give, far beyond a batch. With `sparseRun` set, every
// other run of that many lines has no blade entries: their text, all empty
// cells, is many times the size of their encoding.
EncodedLines sampleLines(int count, int hugeEvery = 0, int sparseRun = 0) {
  EncodedLines result;
  LineLayout& layout = result.layout;
  layout.withTimeOfArrival = true;
  for (uint32_t s = 0; s < kChannelsPerHost; ++s) {
    layout.hasProbe[s] = true;
    layout.blades[s] = hugeEvery > 0 ? kMaxLineBlades : 100;
  }
  std::mt19937 random(5);
  for (int i = 0; i < count; ++i) {
    LineGroup group;
    std::vector<RecordRef> records;
    const bool huge = hugeEvery > 0 && i % hugeEvery == hugeEvery - 1;
    for (uint32_t s = 0; s < kChannelsPerHost; ++s) {
      BladeRecordSpec shape;
      shape.channel = static_cast<uint8_t>(s);
      shape.time = 1304685000000000ull + 20000ull * i;
      shape.startRevolution = i;
      const bool sparse = sparseRun > 0 && i / sparseRun % 2 == 1;
      shape.blades.resize(huge ? kMaxLineBlades : sparse ? 0 : random() % 100);
      for (testing::Blade& b : shape.blades) {
        b = {static_cast<float>(random() % 100000) / 7.0f, static_cast<float>(i)};
      }
      records.push_back(makeBladeRecord(shape));
      group.slots[s] = records.back().get();
    }
    group.first = group.slots[0];
    std::vector<unsigned char> bytes(encodedLineSize(layout, group));
    encodeLine(bytes.data(), layout, group);
    result.lines.push_back(std::move(bytes));
  }
  return result;
}

void collect(void* context, const char* text, std::size_t length) {
  static_cast<std::string*>(context)->append(text, length);
}

// What the lines give formatted one after another on this thread.
std::string formattedInOneGo(const EncodedLines& sample) {
  std::string text;
  std::vector<char> buffer(1 << 16);
  LineSink sink(buffer.data(), buffer.size(), collect, &text);
  for (const auto& line : sample.lines) formatLines(sample.layout, line.data(), line.size(), sink);
  sink.drain();
  return text;
}

bool addAll(LinePipeline& pipeline, const EncodedLines& sample) {
  for (const auto& line : sample.lines) {
    unsigned char* room = pipeline.lineRoom(line.size());
    std::memcpy(room, line.data(), line.size());
    pipeline.commitLine(room + line.size());
  }
  return pipeline.finish();
}

// Converts the lines through a pipeline with each number of workers and
// expects the text formatted in one go.
void expectSameTextWithAnyWorkers(const EncodedLines& sample) {
  const std::string expected = formattedInOneGo(sample);
  TempDir dir;
  for (unsigned workers : {0u, 1u, 3u}) {
    const std::string path = dir.file("lines" + std::to_string(workers) + ".csv");
    std::FILE* stream = std::fopen(path.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    {
      LinePipeline pipeline(stream, sample.layout, workers);
      EXPECT_TRUE(addAll(pipeline, sample)) << workers << " workers";
      EXPECT_TRUE(pipeline.ok());
      EXPECT_TRUE(pipeline.finish());  // repeats the result
    }
    ASSERT_EQ(std::fclose(stream), 0);
    EXPECT_TRUE(readFile(path) == expected) << workers << " workers";
  }
}

// However many workers format the batches, the stream gets the lines in the
// order they were added, each exactly once.
TEST(LinePipeline, KeepsTheLineOrderWithAnyNumberOfWorkers) {
#ifdef _WIN32
  GTEST_SKIP() << "a text-mode stream ends lines in CR LF on Windows; this compares LF text";
#endif
  expectSameTextWithAnyWorkers(sampleLines(1500));
}

// A line larger than a batch is a batch of its own, and its text goes out in
// pieces while the batches before and after it wait their turn.
TEST(LinePipeline, LinesLargerThanABatch) {
#ifdef _WIN32
  GTEST_SKIP() << "a text-mode stream ends lines in CR LF on Windows; this compares LF text";
#endif
  expectSameTextWithAnyWorkers(sampleLines(7, 3));
}

// Batches whose text overflows the buffer, written out in their turn, among
// batches whose text fits and waits in the queue for its turn.
TEST(LinePipeline, OverflowingBatchesAmongOthers) {
#ifdef _WIN32
  GTEST_SKIP() << "a text-mode stream ends lines in CR LF on Windows; this compares LF text";
#endif
  expectSameTextWithAnyWorkers(sampleLines(3000, 0, 750));
}

// Destroying an unfinished pipeline writes what was added before it stops.
TEST(LinePipeline, DestructionFinishes) {
#ifdef _WIN32
  GTEST_SKIP() << "a text-mode stream ends lines in CR LF on Windows; this compares LF text";
#endif
  const EncodedLines sample = sampleLines(400);
  TempDir dir;
  const std::string path = dir.file("lines.csv");
  std::FILE* stream = std::fopen(path.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  {
    LinePipeline pipeline(stream, sample.layout, 2);
    for (const auto& line : sample.lines) {
      unsigned char* room = pipeline.lineRoom(line.size());
      std::memcpy(room, line.data(), line.size());
      pipeline.commitLine(room + line.size());
    }
  }
  ASSERT_EQ(std::fclose(stream), 0);
  EXPECT_TRUE(readFile(path) == formattedInOneGo(sample));
}

TEST(LinePipeline, FailedWritesAreReported) {
  const EncodedLines sample = sampleLines(400);
  for (unsigned workers : {0u, 2u}) {
    std::FILE* stream = std::fopen("/dev/full", "w");
    ASSERT_NE(stream, nullptr);
    std::setvbuf(stream, nullptr, _IONBF, 0);
    LinePipeline pipeline(stream, sample.layout, workers);
    EXPECT_FALSE(addAll(pipeline, sample)) << workers << " workers";
    EXPECT_FALSE(pipeline.ok());
    std::fclose(stream);
  }
}

}  // namespace
}  // namespace cdt
