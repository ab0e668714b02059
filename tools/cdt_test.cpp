// The dispatcher's rules, end to end: help, version, usage errors and their
// exit status; and the option parser under it.
#include "tools/cdt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/arguments.h"
#include "tools/tool_test_support.h"

namespace cdt {
namespace {

using testing::runCdt;
using testing::RunResult;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CdtDispatcher, HelpAndVersionGoToStandardOutputWithStatus0) {
  RunResult help = runCdt({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.err.empty());
  for (const char* command : {"info", "config", "synth", "recover", "cut", "sets"}) {
    EXPECT_TRUE(contains(help.out, std::string("\n  ") + command + " ")) << command;
  }
  EXPECT_EQ(runCdt({"help"}).out, help.out);

  RunResult version = runCdt({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("cdt ") + kCdtVersion + "\n");

  RunResult synthHelp = runCdt({"synth", "--help"});
  EXPECT_EQ(synthHelp.status, 0);
  EXPECT_TRUE(synthHelp.out.starts_with("usage: cdt synth [OPTIONS] DIR\n"));
  EXPECT_TRUE(contains(synthHelp.out, "--revolutions N"));
  EXPECT_EQ(runCdt({"help", "synth"}).out, synthHelp.out);

  // A second synopsis line is indented under the first.
  RunResult configHelp = runCdt({"config", "-h"});
  EXPECT_TRUE(configHelp.out.starts_with(
      "usage: cdt config FILE.cdt [OUT]\n       cdt config --check TEXTFILE\n"));
}

TEST(CdtDispatcher, UsageErrorsGoToStandardErrorWithStatus2) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{}, "usage: cdt COMMAND"},
      {{"frobnicate"}, "'frobnicate' is not a cdt command"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"help", "frobnicate"}, "no help for 'frobnicate'"},
      {{"help", "synth", "extra"}, "cdt help: unexpected argument 'extra'"},
      {{"info"}, "cdt info: missing argument"},
      {{"info", "--bogus", "x.cdt"}, "cdt info: unknown option '--bogus'"},
      {{"info", "-x", "x.cdt"}, "cdt info: unknown option '-x'"},
      {{"info", "--json=yes", "x.cdt"}, "option '--json' takes no value"},
      {{"config", "a.cdt", "b.cfg", "c"}, "cdt config: unexpected argument 'c'"},
      {{"synth", "--revolutions"}, "option '--revolutions' needs a value (N)"},
      {{"synth", "--revolutions", "many", "d"}, "--revolutions wants a whole number"},
      {{"synth", "--revolutions=0", "d"}, "--revolutions wants a whole number from 1"},
      {{"synth", "--probes", "5", "d"}, "--probes wants a whole number from 1 to 4"},
      {{"synth", "--rpm", "nan", "d"}, "--rpm wants a number"},
      {{"synth", "--blades", "60,,8", "d"}, "--blades wants counts"},
      {{"synth", "--start", "2011-02-30", "d"}, "--start wants a UTC time"},
      {{"synth", "--name", "a/b", "d"}, "--name wants"},
  };
  for (const Case& c : cases) {
    RunResult r = runCdt(c.args);
    std::string label = c.args.empty() ? "(none)" : c.args[0] + " ...";
    EXPECT_EQ(r.status, 2) << label;
    EXPECT_TRUE(r.out.empty()) << label;
    EXPECT_TRUE(contains(r.err, c.message)) << label << ": " << r.err;
    EXPECT_TRUE(contains(r.err, "usage: ")) << label;
  }
}

// Results that never arrive (a full disk, a closed pipe) fail the run, even
// when they fit the stream's buffer and the command itself went well.
TEST(CdtDispatcher, ResultsThatCannotBeWrittenGiveStatus1) {
  FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  char program[] = "cdt";
  char version[] = "--version";
  char* argv[] = {program, version};
  EXPECT_EQ(cdt::runCdt(2, argv, full, err), 1);
  std::rewind(err);
  char message[200] = {};
  EXPECT_NE(std::fgets(message, sizeof message, err), nullptr);
  EXPECT_STREQ(message, "cdt: cannot write the results to standard output\n");
  std::fclose(err);
  std::fclose(full);
}

// The parser on its own: values in both spellings, flags, "--" and "-".
TEST(CdtArguments, ParsesValuesFlagsAndPositionalsInAnyOrder) {
  constexpr OptionSpec options[] = {{"size", "N", ""}, {"json", nullptr, ""}};
  const char* words[] = {"a", "--size", "3", "-", "--json", "--size=4", "--", "--json", "-q"};
  CommandArgs args;
  std::string error;
  ASSERT_EQ(parseArguments(words, options, args, error), ParseOutcome::kOk) << error;
  EXPECT_EQ(args.positionals, (std::vector<std::string>{"a", "-", "--json", "-q"}));
  EXPECT_TRUE(args.has("json"));
  EXPECT_EQ(args.value("size"), "4");  // the last one counts
  EXPECT_FALSE(args.value("other").has_value());

  const char* empty[] = {"--size="};
  CommandArgs args2;
  ASSERT_EQ(parseArguments(empty, options, args2, error), ParseOutcome::kOk);
  EXPECT_EQ(args2.value("size"), "");

  const char* help[] = {"x", "--bogus", "--help"};
  CommandArgs args3;
  EXPECT_EQ(parseArguments(help, options, args3, error), ParseOutcome::kError);
  const char* help2[] = {"x", "-h", "--bogus"};
  CommandArgs args4;
  EXPECT_EQ(parseArguments(help2, options, args4, error), ParseOutcome::kHelp);
}

TEST(CdtArguments, NumbersMustBeWholeTexts) {
  EXPECT_EQ(parseInteger("42"), 42);
  EXPECT_EQ(parseInteger("-7"), -7);
  for (const char* bad : {"", " 1", "\n1", "1 ", "1x", "0x10", "99999999999999999999"}) {
    EXPECT_FALSE(parseInteger(bad).has_value()) << bad;
  }
  EXPECT_EQ(parseReal("2.5e3"), 2500.0);
  EXPECT_EQ(parseReal("-.5"), -0.5);
  for (const char* bad : {"", "1.5.", "inf", "nan", "1e999", " 2", "\n2", "0x10", "0x1p3"}) {
    EXPECT_FALSE(parseReal(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace cdt
