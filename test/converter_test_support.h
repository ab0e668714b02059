// Running the conversion loop in-process, the way cdt2csv's main() does, in a
// chosen working directory and with its output streams kept in memory: for
// tests that convert thousands of files or change files while it runs.
#pragma once

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datafile/file_names.h"
#include "driver/converter.h"

namespace cdt::testing {

struct ConverterRun {
  int status = -1;
  std::string out;  // what the loop printed on its output stream
  std::string err;  // and on its error stream
};

// runConverter with "cdt2csv" and `args` as the command line, run in
// `directory` (the working directory is restored afterwards).
inline ConverterRun runConverterIn(const std::string& directory,
                                   const std::vector<std::string>& args) {
  ConverterRun run;
  char* outText = nullptr;
  char* errText = nullptr;
  size_t outLength = 0;
  size_t errLength = 0;
  std::FILE* out = open_memstream(&outText, &outLength);
  std::FILE* err = open_memstream(&errText, &errLength);
  if (out == nullptr || err == nullptr) std::abort();

  std::vector<std::string> words = {"cdt2csv"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr || chdir(directory.c_str()) != 0) std::abort();
  run.status = runConverter(static_cast<int>(words.size()), argv.data(), out, err);
  if (chdir(cwd) != 0) std::abort();

  std::fclose(out);
  std::fclose(err);
  run.out.assign(outText, outLength);
  run.err.assign(errText, errLength);
  std::free(outText);
  std::free(errText);
  return run;
}

// The line the loop prints for a converted file, and its messages.
inline std::string convertedLine(const std::string& input) {
  return "cdt2csv: in=" + input + ", out=" + outputPathFor(input.c_str()).c_str() + "\n";
}
inline std::string cannotOpen(const std::string& input) {
  return "cdt2csv: Can not open input file '" + input + "'\n";
}
inline std::string cannotCreate(const std::string& output) {
  return "cdt2csv: Can not create output file '" + output + "'\n";
}
inline std::string cannotWrite(const std::string& output) {
  return "cdt2csv: Can not write output file '" + output + "'\n";
}

// While one exists, a conversion that runs into an endless loop or waits
// forever ends the test program after `seconds`, with the last description
// given, instead of leaving it to the test runner's timeout.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds) {
    describe("");
    std::signal(SIGALRM, expire);
    alarm(seconds);
  }
  ~Watchdog() {
    alarm(0);
    std::signal(SIGALRM, SIG_DFL);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // What the test is doing now (cut to 255 bytes); the text stays valid
  // until the next call.
  static const char* describe(const std::string& what) {
    std::snprintf(doing_, sizeof doing_, "%s", what.c_str());
    return doing_;
  }
  static const char* doing() { return doing_; }

 private:
  static void expire(int) {
    static const char kPrefix[] = "did not end: ";
    ssize_t ignored = write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
    ignored = write(STDERR_FILENO, doing_, strnlen(doing_, sizeof doing_));
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    std::abort();
  }

  static inline char doing_[256] = {};
};

}  // namespace cdt::testing
