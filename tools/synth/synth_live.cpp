#include "tools/synth/synth_live.h"

#include "tools/arguments.h"

namespace cdt {

std::optional<double> parseLiveRate(const std::string& text) {
  if (text == "max") return 0.0;
  const std::optional<double> rate = parseReal(text);
  if (!rate || !(*rate == 0 || (*rate >= 0.001 && *rate <= 1e6))) return std::nullopt;
  return rate;
}

LivePace::Step LivePace::before(uint64_t time) {
  Step step;
  const auto now = std::chrono::steady_clock::now();
  if (!started_) {
    started_ = true;
    firstTime_ = time;
    startedAt_ = now;
  }
  if (rate_ == 0) {
    // Pieces of 1 to 64 revolutions between the stream buffer's own.
    if (untilFlush_-- == 0) {
      untilFlush_ = static_cast<uint32_t>(random_() % 64);
      step.flush = true;
    }
    return step;
  }
  const double elapsed = time > firstTime_ ? static_cast<double>(time - firstTime_) / rate_ : 0.0;
  const auto due = startedAt_ + std::chrono::microseconds(static_cast<int64_t>(elapsed));
  if (due > now) {
    // Everything due so far reaches the file before the writer waits.
    step.flush = true;
    step.wait = std::chrono::duration_cast<std::chrono::microseconds>(due - now);
  }
  return step;
}

}  // namespace cdt
