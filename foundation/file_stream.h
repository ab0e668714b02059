// FileStream: a stdio stream together with the path and mode it is (or will
// be) opened with. Every operation answers with a neutral value when the
// stream is not open (0, -1, all ones, false or nullptr, as listed), so
// callers can chain operations and test once. Opening for writing or
// appending creates missing parent directories.
//
// Positions and sizes are 64-bit. The stream owns its stdio stream: it is
// move-only, and destroying it closes the stream.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "foundation/counted_string.h"

namespace cdt {

class FileStream {
 public:
  // No path, empty mode, not open.
  FileStream() = default;
  // Empty, then reopen(path, mode); test isOpen() for the outcome.
  FileStream(CountedString path, const char* mode);

  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;
  // The source is left empty and not open.
  FileStream(FileStream&& other) noexcept;
  // Closes this stream first.
  FileStream& operator=(FileStream&& other) noexcept;
  ~FileStream();

  // close(), setPath(path), setMode(mode), then open(); the result is open's.
  [[nodiscard]] bool reopen(CountedString path, const char* mode);

  // Opens the stored path with the stored mode; true at once when already
  // open, false without a path or a mode. When that fails and the mode begins
  // with 'w' or 'a', creates the missing parent directories and tries once
  // more.
  [[nodiscard]] bool open();
  bool isOpen() const { return file_ != nullptr; }

  // Whole items transferred (stdio fread/fwrite); 0 when not open.
  [[nodiscard]] size_t read(void* buffer, size_t size, size_t count);
  [[nodiscard]] size_t write(const void* data, size_t size, size_t count);

  // The byte position; all ones when not open or on failure.
  [[nodiscard]] uint64_t getPosition();
  // Moves to an absolute position (clearing the end-of-file indicator).
  [[nodiscard]] bool setPosition(uint64_t position);
  // Position 0 and the error indicator cleared.
  void rewind();

  // The byte written (0..255), or -1 on failure or when not open.
  [[nodiscard]] int putChar(int c);

  // True when not open; else closes and tells whether the close succeeded
  // (buffered data reached the file). The stream is closed either way.
  [[nodiscard]] bool close();

  // The path; shared with the caller's string. Refused (false, nothing
  // changed) while open.
  [[nodiscard]] bool setPath(CountedString path);
  // Keeps the first 7 characters of `mode` (nullptr counts as ""). Refused
  // while open.
  [[nodiscard]] bool setMode(const char* mode);

  // Takes over the source's path (shared), mode and stdio stream, closing this
  // stream first; the source keeps its path and mode but is no longer open.
  FileStream& adopt(FileStream& source);

  // The open file's size in bytes, with this stream's buffered output
  // included; -1 when not open or on failure.
  [[nodiscard]] int64_t size();
  // The open file's last modification, in whole seconds since 1970 times
  // 1,000,000; 0 when not open or on failure.
  [[nodiscard]] uint64_t modificationTime();

  // Formatted output; true when open and the write did not fail.
  [[nodiscard]] bool printFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
  [[nodiscard]] bool printFormattedList(const char* format, va_list arguments)
      __attribute__((format(printf, 2, 0)));
  // Writes `text` (nullptr counts as ""); true when open and it did not fail.
  [[nodiscard]] bool putString(const char* text);
  // Reads one line, its line feed included, into `buffer` (at most size - 1
  // bytes and a zero). Returns `buffer`, or nullptr at end of file, on error,
  // when not open or when there is no room.
  [[nodiscard]] char* getLine(char* buffer, size_t size);
  // The next byte (0..255); -1 at end of file, on error or when not open.
  int getChar();
  // Pushes `c` back for the next read; false when not open or when it fails.
  [[nodiscard]] bool ungetChar(int c);

  // Clears the end-of-file and error indicators.
  void clearError();
  // The end-of-file indicator; false when not open.
  bool atEnd() const;
  // The error indicator; false when not open.
  bool hasError() const;

  const CountedString& path() const { return path_; }
  // Zero-terminated, at most 7 characters.
  const char* mode() const { return mode_; }
  // The underlying stream for bulk work (buffering, direct writes); nullptr
  // when not open. Owned by this object: do not close it.
  std::FILE* stdioStream() const { return file_; }

 private:
  bool isWritableMode() const;

  CountedString path_;
  char mode_[8] = {};
  std::FILE* file_ = nullptr;
};

}  // namespace cdt
