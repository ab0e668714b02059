// The commands of the cdt tool. Each command file defines its run function
// and its CommandSpec (name, help text, options, number of positionals); the
// dispatcher in cdt.cpp parses the arguments against that description, so a run
// function receives arguments whose options are known and whose positional
// count is within range.
//
// Run functions write results to `out` and messages to `err`, and return 0 on
// success, 1 when a file failed and 2 on a usage error (see usageError and
// fileError in arguments.h).
#pragma once

#include <cstdio>
#include <span>

#include "tools/arguments.h"

namespace cdt {

using CommandFunction = int (*)(const CommandArgs& args, FILE* out, FILE* err);

struct CommandSpec {
  const char* name;         // "synth"
  const char* summary;      // one line for "cdt --help"
  const char* synopsis;     // "cdt synth [OPTIONS] DIR"; several lines allowed
  const char* description;  // paragraphs printed by "cdt synth --help" after the synopsis
  std::span<const OptionSpec> options;
  int minPositionals;
  int maxPositionals;  // -1: no limit
  CommandFunction run;
};

int runSynth(const CommandArgs& args, FILE* out, FILE* err);
int runInfo(const CommandArgs& args, FILE* out, FILE* err);
int runRecover(const CommandArgs& args, FILE* out, FILE* err);
int runSets(const CommandArgs& args, FILE* out, FILE* err);
int runCut(const CommandArgs& args, FILE* out, FILE* err);
int runConfig(const CommandArgs& args, FILE* out, FILE* err);
int runExport(const CommandArgs& args, FILE* out, FILE* err);
int runAnalyse(const CommandArgs& args, FILE* out, FILE* err);

extern const CommandSpec kSynthCommand;
extern const CommandSpec kInfoCommand;
extern const CommandSpec kRecoverCommand;
extern const CommandSpec kSetsCommand;
extern const CommandSpec kCutCommand;
extern const CommandSpec kConfigCommand;
extern const CommandSpec kExportCommand;
extern const CommandSpec kAnalyseCommand;

}  // namespace cdt
