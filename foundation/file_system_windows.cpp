// The file-system calls over Win32 and the C runtime's wide-character calls,
// and the platform side of paths.h. Paths arrive as UTF-8 and reach the
// system as UTF-16.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/file_system.h"
#include "foundation/paths.h"
#include "foundation/wide_text_windows.h"

namespace cdt {
namespace {

// Win32 calls report through GetLastError; callers of these helpers, like
// those of the C runtime's, look at errno.
bool failed() {
  switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      errno = EACCES;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
      break;
  }
  return false;
}

bool isSeparator(wchar_t c) {
  return c == L'/' || c == L'\\';
}

// The C runtime's status calls refuse "dir\" where POSIX accepts "dir/":
// trailing separators go, except where they name a root ("\", "C:\").
std::wstring statusPath(const char* path) {
  std::wstring wide = widen(path);
  while (wide.size() > 1 && isSeparator(wide.back()) && wide[wide.size() - 2] != L':' &&
         !isSeparator(wide[wide.size() - 2])) {
    wide.pop_back();
  }
  return wide;
}

void fill(const struct _stat64& status, FileStatus& info) {
  info.directory = (status.st_mode & _S_IFMT) == _S_IFDIR;
  info.regular = (status.st_mode & _S_IFMT) == _S_IFREG;
  info.size = static_cast<int64_t>(status.st_size);
  info.modificationSeconds = static_cast<int64_t>(status.st_mtime);
}

// Every file is opened through CreateFileW with all three sharing flags, so
// that, as on POSIX, a file another program (or this one) has open can still
// be renamed over, replaced or removed; msvcrt's _wfopen leaves out
// FILE_SHARE_DELETE. msvcrt's fopen does not know 'x' either: here it is
// CREATE_NEW, which fails on any existing name, a link included, and never
// follows one. The handle then becomes a stdio stream with the same mode.
std::FILE* openShared(const std::wstring& path, const char* mode) {
  std::string stdioMode;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (*c != 'x') stdioMode += *c;
  }
  if (stdioMode.empty()) return nullptr;
  const char kind = stdioMode[0];
  const bool update = stdioMode.find('+') != std::string::npos;
  const bool binary = stdioMode.find('b') != std::string::npos;
  const bool exclusive = std::strchr(mode, 'x') != nullptr;
  DWORD access = 0;
  DWORD disposition = 0;
  int flags = binary ? _O_BINARY : _O_TEXT;
  switch (kind) {
    case 'r':
      access = GENERIC_READ | (update ? GENERIC_WRITE : 0);
      disposition = OPEN_EXISTING;
      flags |= update ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = exclusive ? CREATE_NEW : CREATE_ALWAYS;
      flags |= update ? _O_RDWR : _O_WRONLY;
      break;
    case 'a':
      access = GENERIC_WRITE | (update ? GENERIC_READ : 0);
      disposition = OPEN_ALWAYS;
      flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  if (exclusive && kind != 'w') {
    errno = EINVAL;
    return nullptr;
  }
  HANDLE handle =
      CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    failed();
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, stdioMode.c_str());
  if (file == nullptr) _close(descriptor);  // closes the handle too
  return file;
}

// A handle for querying what `path` names (a directory too), or
// INVALID_HANDLE_VALUE.
HANDLE queryHandle(const char* path) {
  return CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  return openShared(widen(path), mode);
}

bool fileStatus(const char* path, FileStatus& info) {
  struct _stat64 status {};
  if (path == nullptr || _wstat64(statusPath(path).c_str(), &status) != 0) return false;
  fill(status, info);
  return true;
}

bool fileStatus(std::FILE* file, FileStatus& info) {
  struct _stat64 status {};
  if (file == nullptr || _fstat64(_fileno(file), &status) != 0) return false;
  fill(status, info);
  return true;
}

bool fileIdentity(std::FILE* file, FileIdentity& identity) {
  if (file == nullptr) return false;
  const intptr_t handle = _get_osfhandle(_fileno(file));
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) {
    return false;
  }
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  identity.size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  identity.modified = static_cast<int64_t>((uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                           info.ftLastWriteTime.dwLowDateTime);
  return true;
}

bool pathExists(const char* path) {
  return path != nullptr && GetFileAttributesW(statusPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  HANDLE first = queryHandle(a);
  if (first == INVALID_HANDLE_VALUE) return false;
  HANDLE second = queryHandle(b);
  bool same = false;
  if (second != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION x{};
    BY_HANDLE_FILE_INFORMATION y{};
    same = GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
    CloseHandle(second);
  }
  CloseHandle(first);
  return same;
}

bool renameFile(const char* from, const char* to) {
  // msvcrt's rename refuses an existing target; POSIX replaces it.
  if (from == nullptr || to == nullptr) return false;
  return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0 ||
         failed();
}

bool removeFile(const char* path) {
  return path != nullptr && (DeleteFileW(widen(path).c_str()) != 0 || failed());
}

bool createDirectory(const char* path) {
  return path != nullptr && (CreateDirectoryW(widen(path).c_str(), nullptr) != 0 || failed());
}

int64_t tellFile(std::FILE* file) {
  return file != nullptr ? _ftelli64(file) : -1;
}

bool seekFile(std::FILE* file, int64_t offset, int whence) {
  if (file == nullptr || _fseeki64(file, offset, whence) != 0) return false;
  // A successful seek clears the end-of-file indicator (and only that one),
  // which the 64-bit seek of the msvcrt runtime does not always do.
  file->_flag &= ~_IOEOF;
  return true;
}

bool truncateFile(std::FILE* file, uint64_t size) {
  if (file == nullptr || size > static_cast<uint64_t>(INT64_MAX)) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  LARGE_INTEGER previous{};
  const LARGE_INTEGER here{};
  // SetEndOfFile cuts at the handle's position; the stream's own position is
  // put back afterwards.
  if (!SetFilePointerEx(handle, here, &previous, FILE_CURRENT)) return false;
  const bool cut = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
  return SetFilePointerEx(handle, previous, nullptr, FILE_BEGIN) && cut;
}

bool MappedView::map(std::FILE* file, uint64_t offset, std::size_t length) {
  unmap();
  if (file == nullptr || length == 0) return false;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileSizeEx(handle, &size) || size.QuadPart < 0 ||
      offset > static_cast<uint64_t>(size.QuadPart) ||
      length > static_cast<uint64_t>(size.QuadPart) - offset) {
    return false;
  }
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const uint64_t granularity =
      system.dwAllocationGranularity != 0 ? system.dwAllocationGranularity : 65536;
  const uint64_t base = offset - offset % granularity;
  const uint64_t span = length + (offset - base);
  if (span > SIZE_MAX) return false;
  // A mapping of the whole file as it is now; the view keeps it alive once
  // its handle is closed.
  HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, static_cast<DWORD>(base >> 32),
                             static_cast<DWORD>(base & 0xFFFFFFFFu), static_cast<SIZE_T>(span));
  CloseHandle(mapping);
  if (view == nullptr) return false;
  keep(view, span, base, offset, length);
  return true;
}

void MappedView::release(void* base, std::size_t) {
  (void)UnmapViewOfFile(base);
}

bool isTerminal(std::FILE* file) {
  if (file == nullptr) return false;
  // _isatty is also true for the NUL device; a console has a console mode.
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD consoleMode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &consoleMode) != 0;
}

std::size_t terminalColumns(std::FILE* file) {
  if (!isTerminal(file)) return 0;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(handle, &info) == 0) return 0;
  const SHORT columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

bool isReadable(const char* path) {
  return path != nullptr && _waccess(statusPath(path).c_str(), 4) == 0;
}

bool isWritable(const char* path) {
  return path != nullptr && _waccess(statusPath(path).c_str(), 2) == 0;
}

bool diskSpace(const char* directory, DiskSpace& space) {
  std::string where = directory != nullptr && directory[0] != 0 ? directory : ".";
  if (where.back() != '/' && where.back() != '\\') where += '/';
  ULARGE_INTEGER available{};
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExW(widen(where).c_str(), &available, &total, nullptr)) return false;
  space.total = total.QuadPart;
  space.available = available.QuadPart;
  space.used = space.total >= space.available ? space.total - space.available : 0;
  return true;
}

}  // namespace cdt
