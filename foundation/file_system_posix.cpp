// The file-system calls over POSIX, and the platform side of paths.h.
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/file_system.h"
#include "foundation/paths.h"

namespace cdt {

static_assert(sizeof(off_t) == 8, "file positions must be 64-bit");

namespace {

void fill(const struct stat& status, FileStatus& info) {
  info.directory = S_ISDIR(status.st_mode);
  info.regular = S_ISREG(status.st_mode);
  info.size = static_cast<int64_t>(status.st_size);
  info.modificationSeconds = static_cast<int64_t>(status.st_mtime);
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) {
  // glibc's fopen knows 'x' (O_EXCL, which never follows a link) itself.
  if (path == nullptr || mode == nullptr) return nullptr;
  return std::fopen(path, mode);
}

bool fileStatus(const char* path, FileStatus& info) {
  struct stat status {};
  if (path == nullptr || ::stat(path, &status) != 0) return false;
  fill(status, info);
  return true;
}

bool fileStatus(std::FILE* file, FileStatus& info) {
  struct stat status {};
  if (file == nullptr || ::fstat(fileno(file), &status) != 0) return false;
  fill(status, info);
  return true;
}

bool fileIdentity(std::FILE* file, FileIdentity& identity) {
  struct stat status {};
  if (file == nullptr || ::fstat(fileno(file), &status) != 0) return false;
  identity.device = static_cast<uint64_t>(status.st_dev);
  identity.file = static_cast<uint64_t>(status.st_ino);
  identity.size = static_cast<int64_t>(status.st_size);
  identity.modified =
      static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  return true;
}

bool pathExists(const char* path) {
  struct stat status {};
  return path != nullptr && ::lstat(path, &status) == 0;
}

bool sameFile(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  return a != nullptr && b != nullptr && ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool renameFile(const char* from, const char* to) {
  return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

bool removeFile(const char* path) {
  return path != nullptr && ::unlink(path) == 0;
}

bool createDirectory(const char* path) {
  return path != nullptr && ::mkdir(path, 0777) == 0;
}

int64_t tellFile(std::FILE* file) {
  return file != nullptr ? static_cast<int64_t>(ftello(file)) : -1;
}

bool seekFile(std::FILE* file, int64_t offset, int whence) {
  return file != nullptr && fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

bool truncateFile(std::FILE* file, uint64_t size) {
  return file != nullptr && size <= static_cast<uint64_t>(INT64_MAX) &&
         ::ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
}

bool MappedView::map(std::FILE* file, uint64_t offset, std::size_t length) {
  unmap();
  struct stat status {};
  // The size is checked now, not when the stream was opened: bytes mapped
  // past the file's end fault when read.
  if (file == nullptr || length == 0 || ::fstat(fileno(file), &status) != 0 ||
      !S_ISREG(status.st_mode) || status.st_size < 0 ||
      offset > static_cast<uint64_t>(status.st_size) ||
      length > static_cast<uint64_t>(status.st_size) - offset) {
    return false;
  }
  const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) return false;
  const uint64_t base = offset - offset % static_cast<uint64_t>(page);
  const uint64_t span = length + (offset - base);
  if (span > SIZE_MAX || base > static_cast<uint64_t>(INT64_MAX)) return false;
  void* mapped = ::mmap(nullptr, static_cast<std::size_t>(span), PROT_READ, MAP_SHARED,
                        fileno(file), static_cast<off_t>(base));
  if (mapped == MAP_FAILED) return false;
  // Read ahead of the walk, and once: neither advice changes what is read.
  (void)::madvise(mapped, static_cast<std::size_t>(span), MADV_SEQUENTIAL);
  (void)::madvise(mapped, static_cast<std::size_t>(span), MADV_WILLNEED);
  keep(mapped, span, base, offset, length);
  return true;
}

void MappedView::release(void* base, std::size_t length) {
  (void)::munmap(base, length);
}

bool isTerminal(std::FILE* file) {
  return file != nullptr && ::isatty(fileno(file)) == 1;
}

std::size_t terminalColumns(std::FILE* file) {
  struct winsize size {};
  if (!isTerminal(file) || ::ioctl(fileno(file), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool isReadable(const char* path) {
  return path != nullptr && ::access(path, R_OK) == 0;
}

bool isWritable(const char* path) {
  return path != nullptr && ::access(path, W_OK) == 0;
}

bool diskSpace(const char* directory, DiskSpace& space) {
  std::string where = directory != nullptr && directory[0] != 0 ? directory : ".";
  if (where.back() != '/' && where.back() != '\\') where += '/';
  struct statvfs volume {};
  if (::statvfs(where.c_str(), &volume) != 0) return false;
  const uint64_t unit = volume.f_frsize != 0 ? volume.f_frsize : volume.f_bsize;
  space.total = static_cast<uint64_t>(volume.f_blocks) * unit;
  space.available = static_cast<uint64_t>(volume.f_bavail) * unit;
  space.used = space.total >= space.available ? space.total - space.available : 0;
  return true;
}

}  // namespace cdt
