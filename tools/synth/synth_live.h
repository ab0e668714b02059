// The pace of `cdt synth --live`: a recording written as a recorder writes
// it, in real time (or a multiple of it), its bytes reaching the file in
// pieces of random sizes that cut records anywhere, so that a reader
// following the file sees records half written.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

namespace cdt {

// "max" or 0: as fast as possible; else a rate from 0.001 to 1e6.
std::optional<double> parseLiveRate(const std::string& text);

class LivePace {
 public:
  // `rate` times real time (0: no waits); `seed` makes the pieces repeatable.
  LivePace(double rate, uint64_t seed) : rate_(rate), random_(seed) {}

  // The stream buffer of a file: the file grows by this many bytes whenever
  // it fills, wherever records begin and end.
  std::size_t streamBuffer() { return 64 + random_() % 4033; }

  // Before the records of time `time` (microseconds): whether to write out
  // what the files buffer now, and the wait (0 for none) before writing on.
  // The first call sets the clock.
  struct Step {
    bool flush = false;
    std::chrono::microseconds wait{0};
  };
  Step before(uint64_t time);

 private:
  double rate_;
  std::mt19937_64 random_;
  bool started_ = false;
  uint64_t firstTime_ = 0;
  std::chrono::steady_clock::time_point startedAt_;
  // Without waits: revolutions until the next flush.
  uint32_t untilFlush_ = 0;
};

}  // namespace cdt
