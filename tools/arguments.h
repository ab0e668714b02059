// The option parser shared by the cdt commands: long options with a value
// ("--name VALUE" or "--name=VALUE"), flags ("--name"), and positional
// arguments in any order. "--" ends the options; "-" alone is a positional.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cdt {

// One option a command accepts.
struct OptionSpec {
  const char* name;       // without the leading "--"
  const char* valueName;  // "N", "FILE", …; nullptr for a flag
  const char* help;       // one line for the command's --help
};

// The parsed arguments of one command.
struct CommandArgs {
  std::string program;  // "cdt"
  std::string command;  // "synth"
  std::string usage;    // the command's synopsis line(s), for usage errors
  std::vector<std::string> positionals;
  // Every option given, in order; a flag has an empty value.
  std::vector<std::pair<std::string, std::string>> options;

  bool has(std::string_view name) const;
  // The value given last for `name`, or none when the option is absent.
  std::optional<std::string> value(std::string_view name) const;
};

enum class ParseOutcome { kOk, kHelp, kError };

// Parses `args` (the words after the command name) against `options` into
// `parsed.positionals` and `parsed.options`. "--help" and "-h" give kHelp. On
// kError `error` holds a one-line message without the trailing newline.
[[nodiscard]] ParseOutcome parseArguments(std::span<const char* const> args,
                                          std::span<const OptionSpec> options, CommandArgs& parsed,
                                          std::string& error);

// Writes "PROGRAM COMMAND: MESSAGE", the usage and a pointer to --help to
// `err`, and returns 2, the status of a usage error.
int usageError(const CommandArgs& args, FILE* err, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes "PROGRAM COMMAND: MESSAGE" to `err`; returns 1, the status of a
// failed file.
int fileError(const CommandArgs& args, FILE* err, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Whole-text number parsers: the text must be a decimal number and nothing
// else (no blanks, no hexadecimal, no "inf" or "nan").
std::optional<int64_t> parseInteger(std::string_view text);
std::optional<double> parseReal(std::string_view text);

// The option `name` as an integer in [min, max], or `fallback` when absent.
// A bad value reports a usage error on `err` and gives none; the caller then
// returns 2.
std::optional<int64_t> integerOption(const CommandArgs& args, std::string_view name,
                                     int64_t fallback, int64_t min, int64_t max, FILE* err);
// The same for a real number in [min, max].
std::optional<double> realOption(const CommandArgs& args, std::string_view name, double fallback,
                                 double min, double max, FILE* err);

}  // namespace cdt
