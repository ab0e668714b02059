// Helpers shared by the tests: scratch directories, whole-file I/O and
// running the built programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace cdt::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A UTF-8 path as the standard library's path type (on Windows its wide
// characters, so that names outside ASCII reach the system intact).
std::filesystem::path fileSystemPath(const std::string& utf8);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

// The output of a program run to completion.
struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args` in `workingDirectory` and collects its output.
// On Windows the output's CR LF line ends (the programs write text mode)
// come back as LF, so that tests compare the same text on both platforms.
// With CDT_VALGRIND=1 in the environment the program runs under Valgrind's
// memcheck, which makes it exit with 99 after any error it reports.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workingDirectory = ".");

// Path of a program built by this project (for example "driver/cdt2csv").
std::string builtProgram(const std::string& relativePath);

}  // namespace cdt::testing
