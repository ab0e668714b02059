// Text gathered in a buffer and written to a stream in large pieces, keeping
// the first failure: what the CSV writers of selections and sets share.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <string>

namespace cdt {

class BufferedText {
 public:
  explicit BufferedText(std::FILE* stream) : stream_(stream) {}

  // Writes what is buffered and flushes the stream; false when any write
  // failed.
  [[nodiscard]] bool finish() {
    put();
    errno = 0;
    if (std::fflush(stream_) != 0 && !failed_) {
      failed_ = true;
      writeError_ = errno;
    }
    return !failed_;
  }
  // The errno of the first write or flush that failed, 0 while none has (or
  // when the call gave none).
  int writeError() const { return writeError_; }

 protected:
  // The text is written out once it holds this much.
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;

  // Writes `text_` out and empties it, keeping the first failure.
  void put() {
    errno = 0;
    if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), stream_) != text_.size() &&
        !failed_) {
      failed_ = true;
      writeError_ = errno;
    }
    text_.clear();
  }
  void flushIfFull() {
    if (text_.size() >= kFlushSize) put();
  }

  std::string text_;

 private:
  std::FILE* stream_;
  bool failed_ = false;
  int writeError_ = 0;
};

}  // namespace cdt
