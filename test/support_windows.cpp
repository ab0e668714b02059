// The Windows side of the test helpers: scratch directories and running the
// built programs with CreateProcessW.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "foundation/wide_text_windows.h"
#include "test/support.h"

namespace cdt::testing {

TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed() ^ GetCurrentProcessId());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        base / ("cdt-test-" + std::to_string(random() % 1000000000u));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      const std::u8string text = candidate.generic_u8string();
      path_.assign(text.begin(), text.end());
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

bool fileExists(const std::string& path) {
  return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// One argument as the C runtime's command-line parser reads it back.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote (written or closing) are doubled.
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(2 * backslashes, L'\\');
  line += L'"';
}

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string withoutCarriageReturns(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory) {
  TempDir scratch;
  const std::string outPath = scratch.file("out");
  const std::string errPath = scratch.file("err");
  HANDLE out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  std::wstring line;
  appendQuoted(line, widen(program));
  for (const std::string& argument : args) {
    line += L' ';
    appendQuoted(line, widen(argument));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring directory = widen(workingDirectory);
  // Under Wine a process start now and then fails while the wine server is
  // busy with the other tests' processes; a few tries with a pause ride that out.
  bool started = false;
  DWORD lastError = 0;
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
      if (attempt > 0) Sleep(200 * attempt);
      started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               directory.c_str(), &startup, &process) != 0;
      if (!started) lastError = GetLastError();
    }
  }
  for (HANDLE h : {out, err, in}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (!started) {
    throw std::runtime_error("cannot start " + program + " (error " + std::to_string(lastError) +
                             ")");
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  RunResult result;
  result.status = static_cast<int>(code);
  result.out = withoutCarriageReturns(readFile(outPath));
  result.err = withoutCarriageReturns(readFile(errPath));
  return result;
}

std::string builtProgram(const std::string& relativePath) {
  const char* dir = std::getenv("CDT_BUILD_DIR");
  // The build directory comes as a POSIX path when the tests run under Wine;
  // made absolute here, it names the same place from any working directory.
  const std::wstring relative =
      widen((dir != nullptr ? std::string(dir) : ".") + "/" + relativePath);
  wchar_t full[4096];
  const DWORD n = GetFullPathNameW(relative.c_str(), sizeof full / sizeof full[0], full, nullptr);
  if (n == 0 || n >= sizeof full / sizeof full[0]) return narrow(relative.c_str());
  return narrow(full, n);
}

}  // namespace cdt::testing
