#include "platform/directory_listing.h"

#include <strings.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/name_list.h"

namespace cdt {
namespace listing {
namespace {

// The array grows by this many names whenever it is full.
constexpr int32_t kGrowthStep = 32;

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

}  // namespace

bool addEntry(NameList& list, const char* name, std::size_t length, bool isDirectory,
              DirectoryFilter filter) {
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

}  // namespace listing

int32_t listDirectory(const char* path, char*** list, DirectoryFilter filter,
                      NameComparator comparator) {
  if (list == nullptr) return -1;
  *list = nullptr;
  if (path == nullptr) return -1;

  // Even an empty result is an array, so that callers can always index it.
  listing::NameList names;
  names.names = static_cast<char**>(std::calloc(1, sizeof(char*)));
  const bool ok = names.names != nullptr && listing::collectNames(names, path, filter);
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
