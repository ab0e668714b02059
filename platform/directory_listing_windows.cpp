// The listing over the wide-character directory search of Win32. Paths are
// turned into search patterns the way the Windows tools do: "data", "data/",
// "data\." all search "data\*", "C:" searches "C:\*", and a pattern of the
// caller's own ("data\*.cdt") is searched as it is.
#include <windows.h>

#include <cstring>
#include <string>

#include "foundation/wide_text_windows.h"
#include "platform/name_list.h"

namespace cdt::listing {
namespace {

bool isLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string searchPattern(const char* path) {
  std::string pattern(path);
  for (char& c : pattern) {
    if (c == '/') c = '\\';
  }
  if (pattern.empty() || pattern == ".") return ".\\*";
  if (pattern.size() == 2 && pattern[1] == ':' && isLetter(pattern[0])) pattern += '\\';
  if (pattern.back() == '\\') {
    pattern += '*';
  } else if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, "\\.") == 0) {
    pattern.back() = '*';
  } else if (pattern.find_first_of("*?", pattern.find_last_of('\\') + 1) != std::string::npos) {
    // A pattern of the caller's own is searched as it is. (The attribute
    // query below fails on it, which would read as a directory.)
  } else {
    // A path that does not exist reads as a directory here, so that the
    // search of "missing\*" fails below.
    const DWORD attributes = GetFileAttributesW(widen(pattern).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      pattern += "\\*";
    }
  }
  return pattern;
}

}  // namespace

bool collectNames(NameList& list, const char* path, DirectoryFilter filter) {
  WIN32_FIND_DATAW entry{};
  HANDLE search = FindFirstFileW(widen(searchPattern(path)).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) {
    // A pattern that matches nothing in an existing directory is an empty
    // listing, as on POSIX; a missing directory gives ERROR_PATH_NOT_FOUND.
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND;
  }
  bool ok = true;
  do {
    const std::string name = narrow(entry.cFileName);
    const bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!addEntry(list, name.data(), name.size(), directory, filter)) {
      ok = false;
      break;
    }
  } while (FindNextFileW(search, &entry));
  if (ok && GetLastError() != ERROR_NO_MORE_FILES) ok = false;
  FindClose(search);
  return ok;
}

}  // namespace cdt::listing
