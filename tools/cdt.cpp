#include "tools/cdt.h"

#include <span>
#include <string>
#include <string_view>

#include "tools/commands.h"

namespace cdt {

namespace {

constexpr const CommandSpec* kCommands[] = {
    &kInfoCommand, &kConfigCommand, &kSynthCommand, &kRecoverCommand,
    &kCutCommand,  &kExportCommand, &kSetsCommand,  &kAnalyseCommand,
};

const CommandSpec* findCommand(std::string_view name) {
  for (const CommandSpec* command : kCommands) {
    if (name == command->name) return command;
  }
  return nullptr;
}

void printToolUsage(FILE* stream) {
  std::fprintf(stream,
               "usage: cdt COMMAND [OPTIONS] ARGS\n"
               "       cdt COMMAND --help\n"
               "       cdt --version\n");
}

void printToolHelp(FILE* out) {
  printToolUsage(out);
  std::fprintf(out, "\nCommands:\n");
  for (const CommandSpec* command : kCommands) {
    std::fprintf(out, "  %-9s %s\n", command->name, command->summary);
  }
  std::fprintf(out, "\nExit status: 0 on success, 1 when a file failed, 2 on a usage error.\n");
}

// The synopsis with its continuation lines indented under "usage: ".
std::string usageText(const CommandSpec& command) {
  std::string text;
  for (const char* c = command.synopsis; *c != '\0'; ++c) {
    text += *c;
    if (*c == '\n') text += "       ";
  }
  return text;
}

void printCommandHelp(const CommandSpec& command, FILE* out) {
  std::fprintf(out, "usage: %s\n\n%s\n", usageText(command).c_str(), command.summary);
  if (!command.options.empty()) {
    std::fprintf(out, "\nOptions:\n");
    for (const OptionSpec& option : command.options) {
      std::string left = std::string("--") + option.name;
      if (option.valueName != nullptr) left += std::string(" ") + option.valueName;
      std::fprintf(out, "  %-18s %s\n", left.c_str(), option.help);
    }
  }
  if (command.description != nullptr && command.description[0] != '\0') {
    std::fprintf(out, "\n%s", command.description);
  }
}

int runCommand(const CommandSpec& command, std::span<const char* const> words, FILE* out,
               FILE* err) {
  CommandArgs args;
  args.program = "cdt";
  args.command = command.name;
  args.usage = usageText(command);
  std::string error;
  switch (parseArguments(words, command.options, args, error)) {
    case ParseOutcome::kHelp:
      printCommandHelp(command, out);
      return 0;
    case ParseOutcome::kError:
      return usageError(args, err, "%s", error.c_str());
    case ParseOutcome::kOk:
      break;
  }
  int count = static_cast<int>(args.positionals.size());
  if (count < command.minPositionals) {
    return usageError(args, err, "missing argument");
  }
  if (command.maxPositionals >= 0 && count > command.maxPositionals) {
    return usageError(args, err, "unexpected argument '%s'",
                      args.positionals[static_cast<size_t>(command.maxPositionals)].c_str());
  }
  return command.run(args, out, err);
}

// Results are written through stdio buffers, so a full disk or a closed pipe
// shows only when they are flushed: a command that printed everything it
// meant to still failed when its output did not arrive.
int finishOutput(int status, FILE* out, FILE* err) {
  if (std::fflush(out) != 0 || std::ferror(out) != 0) {
    std::fprintf(err, "cdt: cannot write the results to standard output\n");
    return status == 0 ? 1 : status;
  }
  return status;
}

int dispatch(int argc, char** argv, FILE* out, FILE* err) {
  if (argc < 2) {
    printToolUsage(err);
    return 2;
  }
  std::string_view first = argv[1];
  if (first == "--help" || first == "-h") {
    printToolHelp(out);
    return 0;
  }
  if (first == "--version") {
    std::fprintf(out, "cdt %s\n", kCdtVersion);
    return 0;
  }
  if (first == "help") {
    if (argc == 2) {
      printToolHelp(out);
      return 0;
    }
    const CommandSpec* command = findCommand(argv[2]);
    if (command == nullptr) {
      std::fprintf(err, "cdt: no help for '%s'\n", argv[2]);
    } else if (argc > 3) {
      std::fprintf(err, "cdt help: unexpected argument '%s'\n", argv[3]);
    } else {
      printCommandHelp(*command, out);
      return 0;
    }
    printToolUsage(err);
    return 2;
  }
  const CommandSpec* command = findCommand(first);
  if (command == nullptr) {
    if (!first.empty() && first[0] == '-') {
      std::fprintf(err, "cdt: unknown option '%s'\n", argv[1]);
    } else {
      std::fprintf(err, "cdt: '%s' is not a cdt command; see 'cdt --help'\n", argv[1]);
    }
    printToolUsage(err);
    return 2;
  }
  std::span<const char* const> words(const_cast<const char* const*>(argv) + 2,
                                     static_cast<size_t>(argc - 2));
  return runCommand(*command, words, out, err);
}

}  // namespace

int runCdt(int argc, char** argv, FILE* out, FILE* err) {
  return finishOutput(dispatch(argc, argv, out, err), out, err);
}

}  // namespace cdt
