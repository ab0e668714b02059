// Nanoseconds per cell for the CSV number formatters the exporter calls
// (formatG8, formatG6, formatDoubleG8, formatU64, formatTimeCell), each next
// to the snprintf call with the same format that it replaces.
#include "csv/number_format.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench_values.h"

namespace {

using cdt::bench::kCount;
using cdt::bench::run;

// DNS means: sums of 60 measurement-like floats divided by 60.
const std::vector<double>& means() {
  static const std::vector<double> values = [] {
    std::vector<double> v(kCount);
    for (size_t i = 0; i < kCount; ++i) {
      double sum = 0;
      for (size_t j = 0; j < 60; ++j) sum += cdt::bench::measurements()[(i + j) & (kCount - 1)];
      v[i] = sum / 60;
    }
    return v;
  }();
  return values;
}

// Revolution numbers of a long recording.
const std::vector<uint64_t>& revolutions() {
  static const std::vector<uint64_t> values = [] {
    std::mt19937_64 random(2);
    std::vector<uint64_t> v(kCount);
    for (uint64_t& r : v) r = random() % 100000000;
    return v;
  }();
  return values;
}

// Record times of one day of 2011, a few milliseconds apart.
const std::vector<uint64_t>& times() {
  static const std::vector<uint64_t> values = [] {
    std::mt19937_64 random(3);
    std::vector<uint64_t> v(kCount);
    uint64_t t = 1304685000000000ull;
    for (uint64_t& x : v) x = t += 20000 + random() % 1000;
    return v;
  }();
  return values;
}

void BM_FormatG8(benchmark::State& state) {
  run(state, cdt::bench::measurements(), cdt::formatG8);
}
void BM_SnprintfG8(benchmark::State& state) {
  run(state, cdt::bench::measurements(), [](char* out, float v) {
    return out + std::snprintf(out, 64, "%.8g", static_cast<double>(v));
  });
}
void BM_FormatG6(benchmark::State& state) {
  run(state, cdt::bench::measurements(), cdt::formatG6);
}
void BM_SnprintfG6(benchmark::State& state) {
  run(state, cdt::bench::measurements(), [](char* out, float v) {
    return out + std::snprintf(out, 64, "%.6g", static_cast<double>(v));
  });
}
void BM_FormatDoubleG8(benchmark::State& state) {
  run(state, means(), cdt::formatDoubleG8);
}
void BM_SnprintfDoubleG8(benchmark::State& state) {
  run(state, means(), [](char* out, double v) { return out + std::snprintf(out, 64, "%.8g", v); });
}
void BM_FormatU64(benchmark::State& state) {
  run(state, revolutions(), cdt::formatU64);
}
void BM_SnprintfU64(benchmark::State& state) {
  run(state, revolutions(),
      [](char* out, uint64_t v) { return out + std::snprintf(out, 64, "%" PRIu64, v); });
}
void BM_FormatTimeCell(benchmark::State& state) {
  run(state, times(), cdt::formatTimeCell);
}
// The cell as a per-cell printf converter writes it: calendar fields from the
// C library, then "%05.2f" of the seconds.
void BM_SnprintfTimeCell(benchmark::State& state) {
  run(state, times(), [](char* out, uint64_t time) {
    const uint64_t hundredths = time / 10000 + (time % 10000 >= 5000 ? 1 : 0);
    const auto seconds = static_cast<time_t>(hundredths / 100);
    struct tm t {};
    gmtime_r(&seconds, &t);
    return out + std::snprintf(out, 64, "%04d-%02d-%02d %02d:%02d:%05.2f", t.tm_year + 1900,
                               t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                               t.tm_sec + static_cast<double>(hundredths % 100) / 100);
  });
}

BENCHMARK(BM_FormatG8);
BENCHMARK(BM_SnprintfG8);
BENCHMARK(BM_FormatG6);
BENCHMARK(BM_SnprintfG6);
BENCHMARK(BM_FormatDoubleG8);
BENCHMARK(BM_SnprintfDoubleG8);
BENCHMARK(BM_FormatU64);
BENCHMARK(BM_SnprintfU64);
BENCHMARK(BM_FormatTimeCell);
BENCHMARK(BM_SnprintfTimeCell);

}  // namespace

BENCHMARK_MAIN();
