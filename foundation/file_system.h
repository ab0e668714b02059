// The file-system calls the library and the programs make, on UTF-8 paths.
// POSIX hands the bytes to the system as they are; Windows converts them to
// UTF-16 and uses the wide-character calls, so names outside ASCII work on
// both. Every call reports failure by its result only.
#pragma once

#include <cstdint>
#include <cstdio>

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

// Whether the stream writes to a terminal (a console window on Windows).
[[nodiscard]] bool isTerminal(std::FILE* file);

}  // namespace cdt
