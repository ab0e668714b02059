// Running the conversion loop in-process, the way cdt2csv's main() does, in a
// chosen working directory and with its output streams kept in memory: for
// tests that convert thousands of files or change files while it runs.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

}  // namespace cdt::testing
