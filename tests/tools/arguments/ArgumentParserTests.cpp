// The tools' one command-line parser, and the four tools run as child processes: each prints its
// usage with every option explained on --help and -h and exits 0, and refuses what it does not
// know, writing nothing.

#include "tools/arguments/ArgumentParser.hpp"

#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using murmurquill::ArgumentParser;

struct Parsed {
  ArgumentParser::Outcome outcome;
  std::vector<std::string> positionals;
  std::string out;
  std::string err;
  bool verbose = false;
  std::optional<std::string> level;
};

Parsed parse(std::vector<const char *> argv) {
  Parsed parsed{};
  ArgumentParser parser("tool", {"tool [--verbose] [--level N] FILE..."}, "Does things.");
  parser.positional("FILE...", "the files");
  parser.flag("--verbose", "say more", [&] { parsed.verbose = true; });
  parser.option("--level", "N", "how much",
                [&](const std::string &value) -> std::optional<std::string> {
                  if (!murmurquill::parseWholeNumber(value, 1, 9)) {
                    return "not a whole number from 1 to 9";
                  }
                  parsed.level = value;
                  return std::nullopt;
                });
  argv.insert(argv.begin(), "tool");
  std::ostringstream out;
  std::ostringstream err;
  parsed.outcome =
      parser.parse(static_cast<int>(argv.size()), argv.data(), parsed.positionals, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(ArgumentParserTest, ReadsFlagsValuesAndPositionalsInEitherSpelling) {
  const Parsed parsed = parse({"a", "--level", "3", "--verbose", "b", "--", "--level=4"});
  EXPECT_EQ(parsed.outcome, ArgumentParser::Outcome::run);
  EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"a", "b", "--level=4"}));
  EXPECT_TRUE(parsed.verbose);
  EXPECT_EQ(parsed.level, "3");
  EXPECT_EQ(parse({"--level=5"}).level, "5");
  EXPECT_EQ(parse({"-"}).positionals, std::vector<std::string>{"-"});
}

TEST(ArgumentParserTest, RefusesWhatItDoesNotKnowWithTheUsageAndTheReason) {
  // Refused values of megabytes are quoted by a short excerpt.
  const std::string longValue(1 << 20, '7');
  const std::string longOption = "--" + std::string(1 << 20, 'x');
  const std::vector<std::pair<std::vector<const char *>, std::string>> cases = {
      {{"--level", longValue.c_str()},
       "tool: --level " + std::string(64, '7') +
           "... (1048576 bytes): not a whole number from 1 to 9"},
      {{longOption.c_str()},
       "tool: unknown option --" + std::string(62, 'x') + "... (1048578 bytes)"},
      {{"--help-me"}, "tool: unknown option --help-me"},
      {{"-x"}, "tool: unknown option -x"},
      {{"--level"}, "tool: --level needs a value (N)"},
      {{"--level", "12"}, "tool: --level 12: not a whole number from 1 to 9"},
      {{"--verbose=1"}, "tool: --verbose takes no value"},
  };
  for (const auto &[argv, reason] : cases) {
    const Parsed parsed = parse(argv);
    EXPECT_EQ(parsed.outcome, ArgumentParser::Outcome::usageError) << reason;
    EXPECT_EQ(parsed.err,
              "usage: tool [--verbose] [--level N] FILE...\n" + reason + " (see tool --help)\n");
    EXPECT_EQ(parsed.out, "");
  }
}

TEST(ArgumentParserTest, HelpExplainsEveryArgumentAndOption) {
  for (const char *help : {"-h", "--help"}) {
    const Parsed parsed = parse({"a", help, "--unknown"});
    EXPECT_EQ(parsed.outcome, ArgumentParser::Outcome::help);
    EXPECT_EQ(parsed.err, "");
    for (const char *part : {"usage: tool", "Does things.", "FILE...", "the files", "--verbose",
                             "say more", "--level N", "how much", "--help"}) {
      EXPECT_NE(parsed.out.find(part), std::string::npos) << part;
    }
  }
  EXPECT_EQ(murmurquill::exitStatus(ArgumentParser::Outcome::help), 0);
  EXPECT_EQ(murmurquill::exitStatus(ArgumentParser::Outcome::usageError), 2);
}

TEST(ArgumentParserTest, WholeNumbersAreDecimalAndWithinTheirBounds) {
  EXPECT_EQ(murmurquill::parseWholeNumber("12", 0, 99), 12u);
  for (const char *text : {"", "-1", "1e3", "12abc", " 1", "100", "99999999999999999999999"}) {
    EXPECT_EQ(murmurquill::parseWholeNumber(text, 0, 99), std::nullopt) << text;
  }
}

std::vector<std::string> tools() {
  return {MQ_TRANSCRIBE_TOOL, MQ_MAKE_TEST_MODEL_TOOL, MQ_RECORD_TOOL, MQ_IMPORT_CHECKPOINT_TOOL};
}

// Runs `arguments` in `folder`; returns the exit status, with standard output and error in
// files there.
int run(const fs::path &folder, const std::string &arguments) {
  const std::string line =
      "cd '" + folder.string() + "' && " + arguments + " >stdout.txt 2>stderr.txt";
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ToolArgumentsTest, EveryToolExplainsItselfAndRefusesUnknownOptions) {
  for (const std::string &tool : tools()) {
    const std::string name = fs::path(tool).filename().string();
    SCOPED_TRACE(name);
    for (const char *help : {"--help", "-h"}) {
      mqtest::TempDir folder;
      EXPECT_EQ(run(folder.path(), "'" + tool + "' " + help), 0);
      const std::string out = mqtest::TempDir::read(folder / "stdout.txt");
      EXPECT_EQ(out.rfind("usage: " + name, 0), 0u) << out;
      EXPECT_NE(out.find("Options:\n"), std::string::npos) << out;
      EXPECT_EQ(mqtest::TempDir::read(folder / "stderr.txt"), "");
      EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2)
          << "nothing but the two captured streams is written";
    }
    mqtest::TempDir folder;
    EXPECT_EQ(run(folder.path(), "'" + tool + "' out --no-such-option"), 2);
    const std::string err = mqtest::TempDir::read(folder / "stderr.txt");
    EXPECT_NE(err.find(name + ": unknown option --no-such-option"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(folder / "out"));
  }
}

// An empty folder would mean the working folder: nothing is written there.
TEST(ToolArgumentsTest, MakeTestModelRefusesAnEmptyFolder) {
  mqtest::TempDir folder;
  EXPECT_EQ(run(folder.path(), std::string("'") + MQ_MAKE_TEST_MODEL_TOOL + "' ''"), 2);
  const std::string err = mqtest::TempDir::read(folder / "stderr.txt");
  EXPECT_NE(err.find("make-test-model: the folder is an empty path"), std::string::npos) << err;
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2)
      << "nothing but the two captured streams is written";
}

// A device that is not one of the machine's inputs, or not a number at all, is refused with the
// list of devices instead of recording from the default one.
TEST(ToolArgumentsTest, RecordRefusesADeviceItDoesNotHave) {
  for (const char *device : {"abc", "99", "-1", "7x"}) {
    SCOPED_TRACE(device);
    mqtest::TempDir folder;
    EXPECT_EQ(run(folder.path(), std::string("'") + MQ_RECORD_TOOL + "' --device " + device +
                                     " --seconds 1 take.wav"),
              2);
    const std::string err = mqtest::TempDir::read(folder / "stderr.txt");
    EXPECT_NE(err.find(std::string("record: --device ") + device +
                       ": not the ID of an input device; input devices:\n"),
              std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(folder / "take.wav"));
  }
}

} // namespace
