// Nanoseconds per number for the CSV float formats: the exact formatter
// against snprintf and std::to_chars, on measurement-like values and on
// random bit patterns.
#include "csv/float_format.h"

#include <benchmark/benchmark.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench_values.h"

namespace {

using cdt::bench::kCount;
using cdt::bench::measurements;
using cdt::bench::run;

// Every finite float is equally likely.
const std::vector<float>& bitPatterns() {
  static const std::vector<float> values = [] {
    std::mt19937 random(2);
    std::vector<float> v;
    while (v.size() < kCount) {
      const auto f = std::bit_cast<float>(static_cast<uint32_t>(random()));
      if (std::isfinite(f)) v.push_back(f);
    }
    return v;
  }();
  return values;
}

char* formatG8(char* out, float v) {
  return cdt::formatFloatG8(out, v);
}
char* formatG6(char* out, float v) {
  return cdt::formatFloatG6(out, v);
}

char* snprintfG8(char* out, float v) {
  return out + std::snprintf(out, 64, "%.8g", static_cast<double>(v));
}
char* snprintfG6(char* out, float v) {
  return out + std::snprintf(out, 64, "%.6g", static_cast<double>(v));
}

char* toCharsG8(char* out, float v) {
  return std::to_chars(out, out + 64, static_cast<double>(v), std::chars_format::general, 8).ptr;
}
char* toCharsG6(char* out, float v) {
  return std::to_chars(out, out + 64, static_cast<double>(v), std::chars_format::general, 6).ptr;
}

using Values = const std::vector<float>& (*)();

void BM_FormatFloatG8(benchmark::State& state, Values values) {
  run(state, values(), formatG8);
}
void BM_SnprintfG8(benchmark::State& state, Values values) {
  run(state, values(), snprintfG8);
}
void BM_ToCharsG8(benchmark::State& state, Values values) {
  run(state, values(), toCharsG8);
}
void BM_FormatFloatG6(benchmark::State& state, Values values) {
  run(state, values(), formatG6);
}
void BM_SnprintfG6(benchmark::State& state, Values values) {
  run(state, values(), snprintfG6);
}
void BM_ToCharsG6(benchmark::State& state, Values values) {
  run(state, values(), toCharsG6);
}

// A probe's cells as the exporter formats them: 60 blade entries of DNS, TOA
// (clearances about 1.5 mm, arrival times spread over a 20 ms revolution),
// first every DNS, then every TOA, each with its separator.
void BM_FormatFloatCellsG8(benchmark::State& state) {
  constexpr uint32_t kBlades = 60;
  constexpr size_t kRows = 64;
  std::mt19937 random(3);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> entries(kRows * kBlades * 2);
  for (size_t row = 0; row < kRows; ++row) {
    for (uint32_t b = 0; b < kBlades; ++b) {
      float* entry = &entries[(row * kBlades + b) * 2];
      entry[0] = 1.5f + 0.01f * noise(random);
      entry[1] = 333.3f * static_cast<float>(b) + 0.15f * noise(random);
    }
  }
  std::vector<char> text(2 * cdt::floatCellsRoom(kBlades));
  size_t row = 0;
  for (auto _ : state) {
    const auto* values = reinterpret_cast<const unsigned char*>(&entries[row * kBlades * 2]);
    row = (row + 1) & (kRows - 1);
    char* out = cdt::formatFloatCellsG8(text.data(), values, kBlades, 8);
    out = cdt::formatFloatCellsG8(out, values + 4, kBlades, 8);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2 * kBlades);
}

BENCHMARK(BM_FormatFloatCellsG8);
BENCHMARK_CAPTURE(BM_FormatFloatG8, measurements, measurements);
BENCHMARK_CAPTURE(BM_SnprintfG8, measurements, measurements);
BENCHMARK_CAPTURE(BM_ToCharsG8, measurements, measurements);
BENCHMARK_CAPTURE(BM_FormatFloatG6, measurements, measurements);
BENCHMARK_CAPTURE(BM_SnprintfG6, measurements, measurements);
BENCHMARK_CAPTURE(BM_ToCharsG6, measurements, measurements);
BENCHMARK_CAPTURE(BM_FormatFloatG8, bit_patterns, bitPatterns);
BENCHMARK_CAPTURE(BM_SnprintfG8, bit_patterns, bitPatterns);
BENCHMARK_CAPTURE(BM_ToCharsG8, bit_patterns, bitPatterns);
BENCHMARK_CAPTURE(BM_FormatFloatG6, bit_patterns, bitPatterns);
BENCHMARK_CAPTURE(BM_SnprintfG6, bit_patterns, bitPatterns);
BENCHMARK_CAPTURE(BM_ToCharsG6, bit_patterns, bitPatterns);

}  // namespace

BENCHMARK_MAIN();
