// The file-system calls the library and the programs make, on UTF-8 paths.
// POSIX hands the bytes to the system as they are; Windows converts them to
// UTF-16 and uses the wide-character calls, so names outside ASCII work on
// both. Every call reports failure by its result only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace cdt {

// fopen with a UTF-8 path. Besides the stdio modes, an 'x' after "w" creates
// the file only when nothing of that name exists (not even a link, which is
// never followed): nullptr when something does. Text modes ("r", "w", "a"
// without 'b') end lines in CR LF on Windows; binary modes never translate.
[[nodiscard]] std::FILE* openFile(const char* path, const char* mode);

struct FileStatus {
  bool directory = false;
  bool regular = false;
  int64_t size = 0;
  // Last modification, whole seconds since 1970-01-01 UTC.
  int64_t modificationSeconds = 0;
};

// The status of what `path` names (links followed); false when it does not
// exist or cannot be queried.
[[nodiscard]] bool fileStatus(const char* path, FileStatus& info);
// The status of an open stream's file. Output still in the stream's buffer
// is not counted.
[[nodiscard]] bool fileStatus(std::FILE* file, FileStatus& info);

// What tells an open stream's file from another, or from itself changed:
// which file it is (device or volume, and file number), its size and its last
// modification to the finest the system keeps.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;
  int64_t size = 0;
  int64_t modified = 0;
  bool operator==(const FileIdentity&) const = default;
};
[[nodiscard]] bool fileIdentity(std::FILE* file, FileIdentity& identity);

// Whether something exists at `path`; a dangling link counts.
[[nodiscard]] bool pathExists(const char* path);

// Whether both paths name one existing file (hard and symbolic links, and on
// Windows other spellings of the same path, included).
[[nodiscard]] bool sameFile(const char* a, const char* b);

// Renames `from` to `to`, replacing a file at `to` in one step.
[[nodiscard]] bool renameFile(const char* from, const char* to);

// Removes a file (not a directory).
bool removeFile(const char* path);

// Creates one directory (permissions 0777 narrowed by the umask on POSIX);
// false when it cannot be created or already exists.
[[nodiscard]] bool createDirectory(const char* path);

// 64-bit stream positions: ftello and fseeko (whence is SEEK_SET, SEEK_CUR or
// SEEK_END). tellFile gives -1 on failure.
[[nodiscard]] int64_t tellFile(std::FILE* file);
[[nodiscard]] bool seekFile(std::FILE* file, int64_t offset, int whence);

// Cuts or extends the open file to `size` bytes. Flush the stream first.
[[nodiscard]] bool truncateFile(std::FILE* file, uint64_t size);

// A read-only view of a range of an open file, mapped into memory, for
// reading much of a file without copying it. The view stays valid until it
// is unmapped or destroyed, whatever happens to the stream. On POSIX a file
// cut short after the view was mapped makes reading the vanished bytes fault
// (SIGBUS), so map only what is read at once: map() checks the file's size
// every time, and a view of a file that shrank is refused. On Windows a file
// with a view cannot be cut short.
class MappedView {
 public:
  MappedView() = default;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;
  MappedView(MappedView&& other) noexcept { take(other); }
  MappedView& operator=(MappedView&& other) noexcept {
    if (this != &other) {
      unmap();
      take(other);
    }
    return *this;
  }
  ~MappedView() { unmap(); }

  // Maps the `length` bytes from `offset` (any offset) of the file open in
  // `file`, telling the system they will be read once, in order. False, with
  // no view, when they cannot be mapped: a stream that is not a file on
  // disk, a file system or an address space that refuses, a range that runs
  // past the file's end as it is now, a length of 0.
  [[nodiscard]] bool map(std::FILE* file, uint64_t offset, std::size_t length);
  void unmap() {
    if (base_ != nullptr) release(base_, baseLength_);
    base_ = nullptr;
    baseLength_ = 0;
    bytes_ = nullptr;
    offset_ = 0;
    length_ = 0;
  }

  bool isMapped() const { return bytes_ != nullptr; }
  // The first byte of the range; nullptr when nothing is mapped.
  const unsigned char* bytes() const { return bytes_; }
  uint64_t offset() const { return offset_; }
  std::size_t length() const { return length_; }

 private:
  // Keeps `span` bytes the system mapped at `base` from the file offset
  // `start`, for the range from `offset` on.
  void keep(void* base, uint64_t span, uint64_t start, uint64_t offset, std::size_t length) {
    base_ = base;
    baseLength_ = static_cast<std::size_t>(span);
    bytes_ = static_cast<const unsigned char*>(base) + (offset - start);
    offset_ = offset;
    length_ = length;
  }
  static void release(void* base, std::size_t length);
  void take(MappedView& other) {
    base_ = std::exchange(other.base_, nullptr);
    baseLength_ = std::exchange(other.baseLength_, 0);
    bytes_ = std::exchange(other.bytes_, nullptr);
    offset_ = std::exchange(other.offset_, 0);
    length_ = std::exchange(other.length_, 0);
  }

  // What the system mapped: from the range's start rounded down to the
  // mapping granularity.
  void* base_ = nullptr;
  std::size_t baseLength_ = 0;
  const unsigned char* bytes_ = nullptr;
  uint64_t offset_ = 0;
  std::size_t length_ = 0;
};

// Whether the stream writes to a terminal (a console window on Windows).
[[nodiscard]] bool isTerminal(std::FILE* file);

// The columns of the terminal the stream writes to; 0 when it is none or
// the width is unknown.
[[nodiscard]] std::size_t terminalColumns(std::FILE* file);

}  // namespace cdt
