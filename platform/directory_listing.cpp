#include "platform/directory_listing.h"

#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace cdt {
namespace {

// The array grows by this many names whenever it is full.
constexpr int32_t kGrowthStep = 32;

// The names collected so far: `count` names and a null pointer after them in
// an array with room for `capacity` names plus the terminator.
struct NameList {
  char** names = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
};

// Takes ownership of `name`, which is freed when the array cannot grow.
bool appendName(NameList& list, char* name) {
  if (list.count == list.capacity) {
    if (list.count > std::numeric_limits<int32_t>::max() - kGrowthStep - 1) {
      std::free(name);
      return false;
    }
    const std::size_t slots = static_cast<std::size_t>(list.count) + kGrowthStep + 1;
    auto** grown = static_cast<char**>(std::calloc(slots, sizeof(char*)));
    if (grown == nullptr) {
      std::free(name);
      return false;
    }
    if (list.count > 0) {
      std::memcpy(grown, list.names, static_cast<std::size_t>(list.count) * sizeof(char*));
    }
    std::free(list.names);
    list.names = grown;
    list.capacity += kGrowthStep;
  }
  list.names[list.count++] = name;
  list.names[list.count] = nullptr;
  return true;
}

// Adds a heap copy of `name`, marked with "/" for a directory, unless the
// filter rejects it. False only when memory runs out.
bool addEntry(NameList& list, const char* name, bool isDirectory, DirectoryFilter filter) {
  std::size_t length = std::strlen(name);
  auto* copy = static_cast<char*>(std::malloc(length + 2));
  if (copy == nullptr) return false;
  std::memcpy(copy, name, length);
  if (isDirectory) copy[length++] = '/';
  copy[length] = '\0';
  if (filter != nullptr && filter(copy) == 0) {
    std::free(copy);
    return true;
  }
  return appendName(list, copy);
}

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
    if (!addEntry(list, entry->d_name, isDirectoryEntry(directory, entry), filter)) {
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
  return addEntry(list, last, false, filter);
}

}  // namespace

int32_t listDirectory(const char* path, char*** list, DirectoryFilter filter,
                      NameComparator comparator) {
  if (list == nullptr) return -1;
  *list = nullptr;
  if (path == nullptr) return -1;

  const std::size_t length = std::strlen(path);
  auto* normalized = static_cast<char*>(std::malloc(length + 1));
  if (normalized == nullptr) return -1;
  for (std::size_t i = 0; i <= length; ++i) normalized[i] = path[i] == '\\' ? '/' : path[i];

  // Even an empty result is an array, so that callers can always index it.
  NameList names;
  names.names = static_cast<char**>(std::calloc(1, sizeof(char*)));
  const bool ok = names.names != nullptr && collect(names, normalized, filter);
  std::free(normalized);
  if (!ok) {
    freeDirectoryList(&names.names, names.count);
    return -1;
  }
  if (comparator != nullptr && names.count > 1) {
    std::qsort(names.names, static_cast<std::size_t>(names.count), sizeof(char*), comparator);
  }
  *list = names.names;
  return names.count;
}

int32_t listDirectorySorted(const char* path, char*** list, NameComparator comparator) {
  return listDirectory(path, list, nullptr, comparator);
}

void freeDirectoryList(char*** list, int32_t count) {
  if (list == nullptr || count < 0) return;
  if (*list != nullptr) {
    for (int32_t i = 0; i < count; ++i) std::free((*list)[i]);
    std::free(*list);
  }
  *list = nullptr;
}

int compareNames(const void* left, const void* right) {
  return std::strcmp(*static_cast<char* const*>(left), *static_cast<char* const*>(right));
}

int compareNamesIgnoreCase(const void* left, const void* right) {
  return strcasecmp(*static_cast<char* const*>(left), *static_cast<char* const*>(right));
}

}  // namespace cdt
