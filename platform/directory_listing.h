// Directory listing: the names of a directory's entries as a heap array of
// UTF-8 strings, optionally filtered and sorted, with subdirectories marked by
// a trailing "/".
//
// Paths are UTF-8 and may use "\" as well as "/" as the separator. What a path
// lists:
//   - "" and "." list the current directory;
//   - a directory (a trailing separator allowed, "dir/." too) lists all its
//     entries, "." and ".." included (as "./" and "../");
//   - a path whose last component holds "*" or "?" lists the entries of its
//     directory whose names match that component ("*" any run of characters,
//     "?" any one character, everything else literal and case-sensitive; "*"
//     also matches "." and "..");
//   - an existing entry that is not a directory lists its own name (the last
//     component of the path).
// A path that does not exist, or a directory that cannot be read, fails. On
// POSIX there are no drive letters: "C:" is an ordinary relative name.
//
// On Windows the listing is the system's wide-character directory search
// (FindFirstFileW): "C:" lists the current directory of drive C:, and name
// patterns match without regard to letter case (and, as everywhere on
// Windows, may also match an entry's short 8.3 name).
//
// The name list is an array of `char*` names followed by one null pointer. The
// array and every name are allocated with malloc and belong to the caller, who
// releases them with freeDirectoryList and the count the listing returned.
#pragma once

#include <cstdint>

namespace cdt {

// Keeps an entry when it returns non-zero; receives the name with its "/" mark.
using DirectoryFilter = int (*)(const char* name);

// A qsort comparator: both arguments point at entries of the name list
// (`char* const*`).
using NameComparator = int (*)(const void* left, const void* right);

// Lists `path` into `*list` (see above), keeping only the names `filter`
// accepts (all when it is nullptr) and sorting them with `comparator` (in
// enumeration order when it is nullptr; qsort is not stable). Returns the
// number of names; on success `*list` is always an array, holding only the
// null pointer when the count is 0. Returns -1 and sets `*list` to nullptr
// when the path does not exist, the directory cannot be read, memory runs out
// or `path` or `list` is nullptr; nothing is left allocated then.
[[nodiscard]] int32_t listDirectory(const char* path, char*** list, DirectoryFilter filter,
                                    NameComparator comparator);

// listDirectory without a filter.
[[nodiscard]] int32_t listDirectorySorted(const char* path, char*** list,
                                          NameComparator comparator);

// Frees the first `count` names of `*list`, then the array, and sets `*list`
// to nullptr. Does nothing for a negative count (the result of a failed
// listing) or a nullptr `list`.
void freeDirectoryList(char*** list, int32_t count);

// Byte-wise order of two names (strcmp): ".." and "." come first, upper case
// before lower case.
int compareNames(const void* left, const void* right);

// Order of two names ignoring ASCII letter case (both compared as lower case).
int compareNamesIgnoreCase(const void* left, const void* right);

}  // namespace cdt
