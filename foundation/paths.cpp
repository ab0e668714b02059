#include "foundation/paths.h"

#include <cstring>
#include <string>
#include <vector>

#include "foundation/file_system.h"
#include "foundation/tokenizer.h"

namespace cdt {
namespace {

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

TextBuffer finalComponent(TextBuffer path) {
  if (path.empty()) return path;
  static constexpr TokenRules kComponentRules{"\\/:", nullptr, true, 0, 0};
  const Tokenizer tokenizer(path.text, path.length);
  TextBuffer last = tokenAt(tokenizer, kComponentRules, -1);
  if (last.empty()) return path;
  return last;
}

// The directory that holds `path`: trailing separators do not count as an
// empty final component here, so "a/b//" lies in "a/" as "a/b/" does.
TextBuffer parentDirectory(TextBuffer path) {
  uint32_t n = path.length;
  while (n > 0 && isSeparator(path.text[n - 1])) --n;
  return pathDirectory(TextBuffer(path.text, n));
}

}  // namespace

TextBuffer pathBaseName(TextBuffer path, const char* suffix) {
  TextBuffer name = finalComponent(TextBuffer(path.text, path.size()));
  const size_t s = suffix != nullptr ? std::strlen(suffix) : 0;
  if (s > 0 && name.length >= s && std::memcmp(name.text + (name.length - s), suffix, s) == 0) {
    name.length -= static_cast<uint32_t>(s);
  }
  return name;
}

TextBuffer pathDirectory(TextBuffer path) {
  const TextBuffer name = finalComponent(path);
  if (name.empty() || name.text < path.text || name.text > path.text + path.length) {
    return TextBuffer(path.text, 0);
  }
  return TextBuffer(path.text, static_cast<uint32_t>(name.text - path.text));
}

CountedString joinPath(TextBuffer directory, TextBuffer name) {
  const uint32_t n = name.size();
  if (directory.empty()) return CountedString(name.text, n);
  uint32_t d = directory.length;
  while (d > 0 && isSeparator(directory.text[d - 1])) --d;
  uint32_t skip = 0;
  while (skip < n && isSeparator(name.text[skip])) ++skip;
  CountedString joined(directory.text, d);
  joined.append('/');
  if (skip < n) joined.append(name.text + skip, n - skip);
  return joined;
}

bool makeDirectories(TextBuffer path) {
  // Longer paths cannot be handed to the platform at all; refusing them here
  // also bounds the walk below.
  constexpr uint32_t kLongestPath = 4096;
  if (path.empty() || path.length >= kLongestPath) return false;
  std::string current(path.text, path.length);
  if (isDirectory(current.c_str())) return true;
  if (isReadable(current.c_str())) return false;

  // Walk up to the nearest existing directory, remembering the prefixes to
  // create; a loop rather than recursion, so deep paths cannot exhaust the
  // stack. An empty parent is the current directory.
  std::vector<uint32_t> missing{path.length};
  for (;;) {
    const TextBuffer parent = parentDirectory(TextBuffer(path.text, missing.back()));
    if (parent.length == 0) break;
    if (parent.length >= missing.back()) return false;
    current.assign(path.text, parent.length);
    if (isDirectory(current.c_str())) break;
    if (isReadable(current.c_str())) return false;
    missing.push_back(parent.length);
  }

  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    current.assign(path.text, *it);
    // Another process may create the same directory at the same time.
    if (!createDirectory(current.c_str()) && !isDirectory(current.c_str())) {
      return false;
    }
  }
  return true;
}

bool isDirectory(const char* path) {
  FileStatus info;
  return fileStatus(path, info) && info.directory;
}

}  // namespace cdt
