// Inputs and the timing loop shared by the number formatter benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace cdt::bench {

inline constexpr std::size_t kCount = 4096;  // a power of two, so cycling is a mask

// Magnitudes from 1e-3 to 1e5 with both signs, as blade positions, RMS values
// and speeds are.
inline const std::vector<float>& measurements() {
  static const std::vector<float> values = [] {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> exponent(-3.0f, 5.0f);
    std::vector<float> v(kCount);
    for (float& f : v) f = std::pow(10.0f, exponent(random)) * (random() % 2 != 0 ? -1.0f : 1.0f);
    return v;
  }();
  return values;
}

// Formats the values one per iteration, cycling through them.
template <typename T, typename Format>
void run(benchmark::State& state, const std::vector<T>& values, Format format) {
  char buf[64];
  std::size_t i = 0;
  for (auto _ : state) {
    char* end = format(buf, values[i++ & (kCount - 1)]);
    benchmark::DoNotOptimize(end);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace cdt::bench
