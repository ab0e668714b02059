// The program's arguments as UTF-8 text. On POSIX they are the bytes main()
// received. On Windows they are read as UTF-16 from the process and
// converted, so names outside the ANSI code page survive, and wildcard
// arguments ("*.cdt", "run?.cdt") are expanded into the names of the
// matching files by the C runtime, as a POSIX shell would have done.
#pragma once

#include <string>
#include <vector>

namespace cdt {

class CommandLine {
 public:
  // `argc` and `argv` are main()'s; on Windows they serve only when the
  // wide-character command line cannot be had.
  CommandLine(int argc, char** argv);

  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  int count() const { return static_cast<int>(words_.size()); }
  // argv-style: count() words, then a null pointer. Valid while this object
  // lives.
  char** arguments() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

}  // namespace cdt
