// The name list a directory listing builds, shared by the platform sides of
// the listing (directory_listing_posix.cpp, directory_listing_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/directory_listing.h"

namespace cdt::listing {

// The names collected so far: `count` names and a null pointer after them in
// an array with room for `capacity` names plus the terminator.
struct NameList {
  char** names = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
};

// Adds a heap copy of `name` (`length` bytes), marked with "/" for a
// directory, unless the filter rejects it. False only when memory runs out.
bool addEntry(NameList& list, const char* name, std::size_t length, bool isDirectory,
              DirectoryFilter filter);

// The platform side: adds the names `path` stands for (see
// directory_listing.h). False when the listing fails; what was added is
// freed by the caller.
bool collectNames(NameList& list, const char* path, DirectoryFilter filter);

}  // namespace cdt::listing
