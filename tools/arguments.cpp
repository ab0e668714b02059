#include "tools/arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>

namespace cdt {

bool CommandArgs::has(std::string_view name) const {
  for (const auto& option : options) {
    if (option.first == name) return true;
  }
  return false;
}

std::optional<std::string> CommandArgs::value(std::string_view name) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it) {
    if (it->first == name) return it->second;
  }
  return std::nullopt;
}

namespace {

const OptionSpec* findOption(std::span<const OptionSpec> options, std::string_view name) {
  for (const auto& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

void vreport(const CommandArgs& args, FILE* err, const char* format, va_list list) {
  std::fprintf(err, "%s %s: ", args.program.c_str(), args.command.c_str());
  std::vfprintf(err, format, list);
  std::fputc('\n', err);
}

// `text` as a C string for strtoll or strtod when it is made only of the
// characters in `allowed`: those functions would also skip leading white
// space and read hexadecimal, "inf" and "nan", none of which is a number here.
std::optional<std::string> numberText(std::string_view text, std::string_view allowed) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  if (text.find_first_not_of(allowed) != std::string_view::npos) return std::nullopt;
  return std::string(text);
}

}  // namespace

ParseOutcome parseArguments(std::span<const char* const> args, std::span<const OptionSpec> options,
                            CommandArgs& parsed, std::string& error) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view word = args[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      parsed.positionals.emplace_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "-h" || word == "--help") return ParseOutcome::kHelp;
    // "-o" is the one short form: "--output" for the commands that have it.
    const bool shortOutput = word == "-o" && findOption(options, "output") != nullptr;
    if (word.substr(0, 2) != "--" && !shortOutput) {
      error = "unknown option '" + std::string(word) + "'";
      return ParseOutcome::kError;
    }
    std::string_view body = shortOutput ? std::string_view("output") : word.substr(2);
    std::string_view name = body;
    std::optional<std::string_view> inlineValue;
    if (size_t equals = body.find('='); equals != std::string_view::npos) {
      name = body.substr(0, equals);
      inlineValue = body.substr(equals + 1);
    }
    const OptionSpec* option = findOption(options, name);
    if (option == nullptr) {
      error = "unknown option '--" + std::string(name) + "'";
      return ParseOutcome::kError;
    }
    if (option->valueName == nullptr) {
      if (inlineValue) {
        error = "option '--" + std::string(name) + "' takes no value";
        return ParseOutcome::kError;
      }
      parsed.options.emplace_back(name, std::string());
      continue;
    }
    if (inlineValue) {
      parsed.options.emplace_back(name, *inlineValue);
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "option '--" + std::string(name) + "' needs a value (" + option->valueName + ")";
      return ParseOutcome::kError;
    }
    parsed.options.emplace_back(name, args[++i]);
  }
  return ParseOutcome::kOk;
}

int usageError(const CommandArgs& args, FILE* err, const char* format, ...) {
  va_list list;
  va_start(list, format);
  vreport(args, err, format, list);
  va_end(list);
  std::fprintf(err, "usage: %s", args.usage.c_str());
  if (args.usage.empty() || args.usage.back() != '\n') std::fputc('\n', err);
  std::fprintf(err, "Try '%s %s --help' for more information.\n", args.program.c_str(),
               args.command.c_str());
  return 2;
}

int fileError(const CommandArgs& args, FILE* err, const char* format, ...) {
  va_list list;
  va_start(list, format);
  vreport(args, err, format, list);
  va_end(list);
  return 1;
}

std::optional<int64_t> parseInteger(std::string_view text) {
  const std::optional<std::string> copy = numberText(text, "+-0123456789");
  if (!copy) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(copy->c_str(), &end, 10);
  if (errno != 0 || end != copy->c_str() + copy->size()) return std::nullopt;
  return static_cast<int64_t>(value);
}

std::optional<double> parseReal(std::string_view text) {
  const std::optional<std::string> copy = numberText(text, "+-0123456789.eE");
  if (!copy) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(copy->c_str(), &end);
  if (errno != 0 || end != copy->c_str() + copy->size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<int64_t> integerOption(const CommandArgs& args, std::string_view name,
                                     int64_t fallback, int64_t min, int64_t max, FILE* err) {
  std::optional<std::string> text = args.value(name);
  if (!text) return fallback;
  std::optional<int64_t> value = parseInteger(*text);
  if (!value || *value < min || *value > max) {
    usageError(args, err, "--%.*s wants a whole number from %lld to %lld, not '%s'",
               static_cast<int>(name.size()), name.data(), static_cast<long long>(min),
               static_cast<long long>(max), text->c_str());
    return std::nullopt;
  }
  return value;
}

std::optional<double> realOption(const CommandArgs& args, std::string_view name, double fallback,
                                 double min, double max, FILE* err) {
  std::optional<std::string> text = args.value(name);
  if (!text) return fallback;
  std::optional<double> value = parseReal(*text);
  if (!value || *value < min || *value > max) {
    usageError(args, err, "--%.*s wants a number from %g to %g, not '%s'",
               static_cast<int>(name.size()), name.data(), min, max, text->c_str());
    return std::nullopt;
  }
  return value;
}

}  // namespace cdt
