#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace murmurquill {

// The command line of one tool: options ("--name", "--name VALUE" or "--name=VALUE"), each
// with its help text, and the positional arguments in order. "-h" and "--help" print the
// usage with every option explained; "--" ends the options. Anything else starting with "-"
// is an unknown option.
class ArgumentParser {
public:
  // Checks and stores an option's value; returns the reason when the value is refused.
  using Setter = std::function<std::optional<std::string>(const std::string &value)>;

  // `synopsis`: the usage lines after "usage: " (the first begins with the program's name).
  // `description`: what the tool does, printed with --help.
  ArgumentParser(std::string program, std::vector<std::string> synopsis, std::string description);

  // An option without a value.
  void flag(std::string name, std::string help, std::function<void()> set);
  // An option with a value, shown as `valueName` in the help.
  void option(std::string name, std::string valueName, std::string help, Setter set);
  // Explains a positional argument in the help.
  void positional(std::string name, std::string help);
  // A paragraph printed at the end of the help.
  void note(std::string text);

  enum class Outcome { run, help, usageError };
  // Parses argv[1...]: positional arguments go to `positionals`. With --help the usage goes to
  // `out`; on an error the usage and then "<program>: <reason>" go to `err`.
  Outcome parse(int argc, const char *const *argv, std::vector<std::string> &positionals,
                std::ostream &out, std::ostream &err) const;
  // Reports a usage error found after parsing (a missing or extra argument), as parse does.
  void refuse(const std::string &reason, std::ostream &err) const;

  std::string usage() const;
  std::string help() const;

private:
  struct Entry {
    std::string name;
    std::string valueName; // empty for a flag
    std::string help;
    std::function<void()> setFlag;
    Setter setValue;
  };
  const Entry *find(const std::string &name) const;

  std::string program_;
  std::vector<std::string> synopsis_;
  std::string description_;
  std::vector<Entry> options_;
  std::vector<std::pair<std::string, std::string>> positionals_;
  std::vector<std::string> notes_;
};

// The exit status of an outcome that ends the program: 0 after --help, 2 after a usage error.
int exitStatus(ArgumentParser::Outcome outcome);

// A whole decimal number in [minimum, maximum] ("12", not "12abc", "-1" or "1e3").
std::optional<unsigned long long>
parseWholeNumber(const std::string &text, unsigned long long minimum, unsigned long long maximum);

} // namespace murmurquill
