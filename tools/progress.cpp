#include "tools/progress.h"

#include <utility>

#include "foundation/file_system.h"
#include "foundation/time_value.h"

namespace cdt {

ProgressLine::ProgressLine(FILE* stream, std::string label, std::string unit, uint64_t total)
    : label_(std::move(label)), unit_(std::move(unit)), total_(total) {
  if (isTerminal(stream)) stream_ = stream;
  if (stream_ != nullptr) started_ = currentTime();
}

ProgressLine::~ProgressLine() { clear(); }

void ProgressLine::clear() {
  if (stream_ != nullptr && lastDraw_ != 0) {
    std::fprintf(stream_, "\r\033[K");
    std::fflush(stream_);
    lastDraw_ = 0;
  }
}

void ProgressLine::update(uint64_t done) {
  // The clock is read only every 1024 calls: callers report per record.
  if (stream_ == nullptr || (++calls_ & 1023) != 1) return;
  draw(done, std::nullopt);
}

void ProgressLine::update(uint64_t done, uint64_t bytes) {
  if (stream_ != nullptr) draw(done, bytes);
}

void ProgressLine::draw(uint64_t done, std::optional<uint64_t> bytes) {
  const uint64_t now = currentTime();
  if (lastDraw_ != 0 && now - lastDraw_ < 100000) return;
  lastDraw_ = now;
  std::string rate;
  if (bytes && now > started_) {
    char text[48];
    std::snprintf(text, sizeof text, ", %.1f MB/s",
                  static_cast<double>(*bytes) / static_cast<double>(now - started_));
    rate = text;
  }
  if (total_ > 0) {
    std::fprintf(stream_, "\r%s %llu of %llu %s (%llu%%)%s\033[K", label_.c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                 unit_.c_str(), static_cast<unsigned long long>(done * 100 / total_), rate.c_str());
  } else {
    std::fprintf(stream_, "\r%s %llu %s%s\033[K", label_.c_str(),
                 static_cast<unsigned long long>(done), unit_.c_str(), rate.c_str());
  }
  std::fflush(stream_);
}

}  // namespace cdt
