#include "platform/name_list.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace cdt::listing {
namespace {

bool isDirectoryEntry(DIR* directory, const dirent* entry) {
#ifdef _DIRENT_HAVE_D_TYPE
  // The type from the directory itself saves a stat call; links and file
  // systems that do not report it still need one (a link to a directory
  // counts as a directory).
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
#endif
  struct stat status {};
  return fstatat(dirfd(directory), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
}

// Adds the entries of `directoryPath` whose names match `pattern` (all when
// it is nullptr). False when the directory cannot be opened or read, or
// memory runs out.
bool addEntries(NameList& list, const char* directoryPath, const char* pattern,
                DirectoryFilter filter) {
  DIR* directory = opendir(directoryPath);
  if (directory == nullptr) return false;
  bool ok = true;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(directory);
    if (entry == nullptr) {
      // A read error would otherwise pass for the end of a shorter listing.
      ok = errno == 0;
      break;
    }
    if (pattern != nullptr && fnmatch(pattern, entry->d_name, 0) != 0) continue;
    if (!addEntry(list, entry->d_name, std::strlen(entry->d_name),
                  isDirectoryEntry(directory, entry), filter)) {
      ok = false;
      break;
    }
  }
  closedir(directory);
  return ok;
}

// The wildcards of a name pattern are "*" and "?" only: brackets are escaped
// so that fnmatch reads them literally. Backslashes never reach here (they
// were turned into separators). Returns a malloc block, nullptr when memory
// runs out.
char* literalBrackets(const char* component) {
  const std::size_t length = std::strlen(component);
  auto* pattern = static_cast<char*>(std::malloc(2 * length + 1));
  if (pattern == nullptr) return nullptr;
  char* out = pattern;
  for (const char* in = component; *in != '\0'; ++in) {
    if (*in == '[') *out++ = '\\';
    *out++ = *in;
  }
  *out = '\0';
  return pattern;
}

// Adds the names `path` stands for (see the header); `path` uses "/" only and
// may be changed.
bool collect(NameList& list, char* path, DirectoryFilter filter) {
  if (path[0] == '\0' || std::strcmp(path, ".") == 0) {
    return addEntries(list, ".", nullptr, filter);
  }
  char* slash = std::strrchr(path, '/');
  const char* last = slash != nullptr ? slash + 1 : path;

  if (std::strpbrk(last, "*?") != nullptr) {
    char* pattern = literalBrackets(last);
    if (pattern == nullptr) return false;
    const char* directory = ".";
    if (slash == path) {
      directory = "/";
    } else if (slash != nullptr) {
      *slash = '\0';
      directory = path;
    }
    const bool ok = addEntries(list, directory, pattern, filter);
    std::free(pattern);
    return ok;
  }

  struct stat status {};
  if (stat(path, &status) == 0 && S_ISDIR(status.st_mode)) {
    return addEntries(list, path, nullptr, filter);
  }
  // Any other existing entry (a dangling link included) lists its own name.
  if (*last == '\0' || lstat(path, &status) != 0) return false;
  return addEntry(list, last, std::strlen(last), false, filter);
}

}  // namespace

bool collectNames(NameList& list, const char* path, DirectoryFilter filter) {
  const std::size_t length = std::strlen(path);
  auto* normalized = static_cast<char*>(std::malloc(length + 1));
  if (normalized == nullptr) return false;
  for (std::size_t i = 0; i <= length; ++i) normalized[i] = path[i] == '\\' ? '/' : path[i];
  const bool ok = collect(list, normalized, filter);
  std::free(normalized);
  return ok;
}

}  // namespace cdt::listing
