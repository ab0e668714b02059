#include "test/support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cdt::testing {

std::filesystem::path fileSystemPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave directories without permissions behind; restore them first.
  for (auto it = std::filesystem::recursive_directory_iterator(fileSystemPath(path_), ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(fileSystemPath(path_), ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(fileSystemPath(path), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(fileSystemPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace cdt::testing

// Sanitizer defaults for every test program: an allocation the allocator
// cannot meet returns null, as it does in production, so the program's own
// fatal path is what the tests see; undefined behaviour stops the test.
extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "allocator_may_return_null=1:detect_leaks=1";
}
extern "C" const char* __ubsan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "print_stacktrace=1:halt_on_error=1";
}
