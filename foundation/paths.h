// Helpers on the text of paths, and the few file-system queries that go with
// them. Paths are byte strings; backslash and slash both separate components,
// and a colon also ends a component (a drive prefix such as "C:").
#pragma once

#include <cstdint>

#include "foundation/counted_string.h"
#include "foundation/text_view.h"

namespace cdt {

// The final component of `path` with `suffix` (nullptr or "" for none) cut
// from its end when it ends with it (bytewise, case-sensitive).
//
// The final component is the last non-empty piece between separators, without
// white space at its ends; when there is no such piece (an empty path, one of
// only separators and blanks, or one ending in two separators) it is the whole
// path. The result points into `path`.
//   "C:\data\run.cdt", ".cdt" -> "run";  "dir/" -> "dir";  "run" -> "run"
TextBuffer pathBaseName(TextBuffer path, const char* suffix = nullptr);

// The start of `path` up to the start of its final component, the separator
// included ("a/b/" for "a/b/c", "a/" for "a/b/"); empty (with `path.text`)
// when the final component starts the path or is empty. Points into `path`.
TextBuffer pathDirectory(TextBuffer path);

// `directory` without its trailing separators, "/", then `name` without its
// leading separators; `name` unchanged when `directory` is empty.
//   "a/b//" + "/c" -> "a/b/c"
CountedString joinPath(TextBuffer directory, TextBuffer name);

// Creates the directory `path` and every missing parent (mode 0777, narrowed
// by the umask). True when it is a directory afterwards; false when `path` is
// empty, when something that is not a directory is in the way, or when a
// directory cannot be created (parents made before the failure stay).
// A relative path is taken from the current directory.
[[nodiscard]] bool makeDirectories(TextBuffer path);
[[nodiscard]] inline bool makeDirectories(const char* path) {
  return path != nullptr && makeDirectories(TextBuffer(std::string_view(path)));
}

// File-system tests on a zero-terminated path; false for nullptr.
bool isDirectory(const char* path);
bool isReadable(const char* path);
bool isWritable(const char* path);

// Sizes in bytes of the volume that holds a directory. `available` is what the
// calling user may still use; `used` is `total` - `available`.
struct DiskSpace {
  uint64_t total = 0;
  uint64_t used = 0;
  uint64_t available = 0;
};

// Fills `space` for the volume of `directory` (nullptr or "" is the current
// directory). False, with `space` unchanged, when the platform cannot tell.
[[nodiscard]] bool diskSpace(const char* directory, DiskSpace& space);

}  // namespace cdt
