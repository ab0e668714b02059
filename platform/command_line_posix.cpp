#include "platform/command_line.h"

namespace cdt {

CommandLine::CommandLine(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) words_.emplace_back(argv[i]);
  for (std::string& word : words_) pointers_.push_back(word.data());
  pointers_.push_back(nullptr);
}

}  // namespace cdt
