// The arguments from the C runtime's wide-character command line, with its
// wildcard expansion switched on, converted to UTF-8. The console is told
// that the program writes UTF-8, so the names it prints show as typed.
#include <windows.h>

#include <cstdlib>

#include "foundation/wide_text_windows.h"
#include "platform/command_line.h"

// msvcrt's start-up call behind wmain(): with expandWildcards not 0 it
// replaces each argument holding '*' or '?' by the names of the matching
// files (in the order the directory search yields them), and leaves an
// argument that matches nothing as it is.
struct CdtStartupInfo {
  int newMode;
};
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment,
                              int expandWildcards, CdtStartupInfo* startup);

namespace cdt {
namespace {

UINT gConsoleCodePage = 0;

// The console's code page belongs to the whole console window, the shell
// that started the program included: it is put back at exit.
void restoreConsoleCodePage() {
  if (gConsoleCodePage != 0) SetConsoleOutputCP(gConsoleCodePage);
}

}  // namespace

CommandLine::CommandLine(int argc, char** argv) {
  int wideCount = 0;
  wchar_t** wideArguments = nullptr;
  wchar_t** environment = nullptr;
  CdtStartupInfo startup{0};
  if (__wgetmainargs(&wideCount, &wideArguments, &environment, 1, &startup) >= 0 &&
      wideArguments != nullptr) {
    for (int i = 0; i < wideCount; ++i) words_.push_back(narrow(wideArguments[i]));
  } else {
    for (int i = 0; i < argc; ++i) words_.emplace_back(argv[i]);
  }
  for (std::string& word : words_) pointers_.push_back(word.data());
  pointers_.push_back(nullptr);
  gConsoleCodePage = GetConsoleOutputCP();
  if (gConsoleCodePage != 0 && gConsoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    std::atexit(restoreConsoleCodePage);
  }
}

}  // namespace cdt
