#include "foundation/file_stream.h"

#include <climits>
#include <cstring>
#include <utility>

#include "foundation/file_system.h"
#include "foundation/paths.h"

namespace cdt {

FileStream::FileStream(CountedString path, const char* mode) {
  (void)reopen(std::move(path), mode);
}

FileStream::FileStream(FileStream&& other) noexcept
    : path_(std::move(other.path_)), file_(std::exchange(other.file_, nullptr)) {
  std::memcpy(mode_, other.mode_, sizeof mode_);
  std::memset(other.mode_, 0, sizeof other.mode_);
}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
  if (this != &other) {
    (void)close();
    path_ = std::move(other.path_);
    std::memcpy(mode_, other.mode_, sizeof mode_);
    std::memset(other.mode_, 0, sizeof other.mode_);
    file_ = std::exchange(other.file_, nullptr);
  }
  return *this;
}

FileStream::~FileStream() {
  (void)close();
}

namespace {

// At most 7 characters of `mode` and a zero; nullptr counts as "".
void copyMode(char (&to)[8], const char* mode) {
  size_t n = 0;
  if (mode != nullptr) {
    while (n + 1 < sizeof to && mode[n] != 0) ++n;
    std::memcpy(to, mode, n);
  }
  std::memset(to + n, 0, sizeof to - n);
}

}  // namespace

bool FileStream::reopen(CountedString path, const char* mode) {
  // `mode` may be this stream's own mode text, which setMode overwrites.
  char newMode[sizeof mode_];
  copyMode(newMode, mode);
  (void)close();
  (void)setPath(std::move(path));
  (void)setMode(newMode);
  return open();
}

bool FileStream::open() {
  if (file_ != nullptr) return true;
  if (path_.empty() || mode_[0] == 0) return false;
  file_ = openFile(path_.c_str(), mode_);
  if (file_ != nullptr) return true;
  if (mode_[0] != 'w' && mode_[0] != 'a') return false;

  // The usual reason for a failed create is a missing directory; create it
  // and try once more.
  const TextBuffer directory = pathDirectory(TextBuffer(path_.view()));
  if (directory.length == 0 || directory.length == path_.length()) return false;
  if (!makeDirectories(directory)) return false;
  file_ = openFile(path_.c_str(), mode_);
  return file_ != nullptr;
}

size_t FileStream::read(void* buffer, size_t size, size_t count) {
  if (file_ == nullptr || buffer == nullptr) return 0;
  return std::fread(buffer, size, count, file_);
}

size_t FileStream::write(const void* data, size_t size, size_t count) {
  if (file_ == nullptr || data == nullptr) return 0;
  return std::fwrite(data, size, count, file_);
}

uint64_t FileStream::getPosition() {
  if (file_ == nullptr) return UINT64_MAX;
  const int64_t position = tellFile(file_);
  return position < 0 ? UINT64_MAX : static_cast<uint64_t>(position);
}

bool FileStream::setPosition(uint64_t position) {
  if (file_ == nullptr || position > static_cast<uint64_t>(INT64_MAX)) return false;
  return seekFile(file_, static_cast<int64_t>(position), SEEK_SET);
}

void FileStream::rewind() {
  if (file_ != nullptr) std::rewind(file_);
}

int FileStream::putChar(int c) {
  if (file_ == nullptr) return -1;
  return std::fputc(c, file_);
}

bool FileStream::close() {
  if (file_ == nullptr) return true;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return result == 0;
}

bool FileStream::setPath(CountedString path) {
  if (file_ != nullptr) return false;
  path_ = std::move(path);
  return true;
}

bool FileStream::setMode(const char* mode) {
  if (file_ != nullptr) return false;
  char copy[sizeof mode_];
  copyMode(copy, mode);
  std::memcpy(mode_, copy, sizeof mode_);
  return true;
}

FileStream& FileStream::adopt(FileStream& source) {
  if (&source == this) return *this;
  // Dropping an open stream unclosed would lose its buffered output.
  (void)close();
  path_ = source.path_;
  std::memcpy(mode_, source.mode_, sizeof mode_);
  file_ = std::exchange(source.file_, nullptr);
  return *this;
}

bool FileStream::isWritableMode() const {
  return mode_[0] == 'w' || mode_[0] == 'a' || std::strchr(mode_, '+') != nullptr;
}

int64_t FileStream::size() {
  if (file_ == nullptr) return -1;
  // The descriptor knows only what has left the stdio buffer.
  if (isWritableMode()) (void)std::fflush(file_);
  FileStatus info;
  return fileStatus(file_, info) ? info.size : -1;
}

uint64_t FileStream::modificationTime() {
  if (file_ == nullptr) return 0;
  FileStatus info;
  if (!fileStatus(file_, info) || info.modificationSeconds < 0) return 0;
  return static_cast<uint64_t>(info.modificationSeconds) * 1000000u;
}

bool FileStream::printFormatted(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const bool written = printFormattedList(format, arguments);
  va_end(arguments);
  return written;
}

bool FileStream::printFormattedList(const char* format, va_list arguments) {
  if (file_ == nullptr || format == nullptr) return false;
  return std::vfprintf(file_, format, arguments) >= 0;
}

bool FileStream::putString(const char* text) {
  if (file_ == nullptr) return false;
  return std::fputs(text != nullptr ? text : "", file_) != EOF;
}

char* FileStream::getLine(char* buffer, size_t size) {
  if (file_ == nullptr || buffer == nullptr || size == 0) return nullptr;
  const int room = size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  return std::fgets(buffer, room, file_);
}

int FileStream::getChar() {
  if (file_ == nullptr) return -1;
  return std::fgetc(file_);
}

bool FileStream::ungetChar(int c) {
  if (file_ == nullptr) return false;
  return std::ungetc(c, file_) != EOF;
}

void FileStream::clearError() {
  if (file_ != nullptr) std::clearerr(file_);
}

bool FileStream::atEnd() const {
  return file_ != nullptr && std::feof(file_) != 0;
}

bool FileStream::hasError() const {
  return file_ != nullptr && std::ferror(file_) != 0;
}

}  // namespace cdt
