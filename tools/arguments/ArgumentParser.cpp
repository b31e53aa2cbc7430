#include "tools/arguments/ArgumentParser.hpp"

#include "platform/text/Excerpt.hpp"

#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <utility>

namespace murmurquill {

namespace {

constexpr std::size_t kHelpColumn = 26;

std::string indented(const std::string &label, const std::string &text) {
  std::string line = "  " + label;
  line += line.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - line.size(), ' ')
                                         : "\n" + std::string(kHelpColumn, ' ');
  for (const char c : text) {
    line += c;
    if (c == '\n') {
      line += std::string(kHelpColumn, ' ');
    }
  }
  return line + "\n";
}

} // namespace

ArgumentParser::ArgumentParser(std::string program, std::vector<std::string> synopsis,
                               std::string description)
    : program_(std::move(program)), synopsis_(std::move(synopsis)),
      description_(std::move(description)) {}

void ArgumentParser::flag(std::string name, std::string help, std::function<void()> set) {
  options_.push_back({std::move(name), "", std::move(help), std::move(set), nullptr});
}

void ArgumentParser::option(std::string name, std::string valueName, std::string help, Setter set) {
  options_.push_back(
      {std::move(name), std::move(valueName), std::move(help), nullptr, std::move(set)});
}

void ArgumentParser::positional(std::string name, std::string help) {
  positionals_.emplace_back(std::move(name), std::move(help));
}

void ArgumentParser::note(std::string text) { notes_.push_back(std::move(text)); }

const ArgumentParser::Entry *ArgumentParser::find(const std::string &name) const {
  for (const auto &entry : options_) {
    if (entry.name == name) {
      return &entry;
    }
  }
  return nullptr;
}

ArgumentParser::Outcome ArgumentParser::parse(int argc, const char *const *argv,
                                              std::vector<std::string> &positionals,
                                              std::ostream &out, std::ostream &err) const {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
      positionals.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h" || argument == "--help") {
      out << help();
      return Outcome::help;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const Entry *entry = find(name);
    if (entry == nullptr) {
      refuse("unknown option " + platform::excerpt(name), err);
      return Outcome::usageError;
    }
    if (entry->setFlag) {
      if (equals != std::string::npos) {
        refuse(platform::excerpt(name) + " takes no value", err);
        return Outcome::usageError;
      }
      entry->setFlag();
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      refuse(name + " needs a value (" + entry->valueName + ")", err);
      return Outcome::usageError;
    }
    if (const auto refusal = entry->setValue(value)) {
      refuse(name + " " + platform::excerpt(value) + ": " + *refusal, err);
      return Outcome::usageError;
    }
  }
  return Outcome::run;
}

void ArgumentParser::refuse(const std::string &reason, std::ostream &err) const {
  err << usage() << program_ << ": " << reason << " (see " << program_ << " --help)\n";
}

std::string ArgumentParser::usage() const {
  std::string text;
  for (std::size_t i = 0; i < synopsis_.size(); ++i) {
    text += (i == 0 ? "usage: " : "       ") + synopsis_[i] + "\n";
  }
  return text;
}

std::string ArgumentParser::help() const {
  std::string text = usage() + "\n" + description_ + "\n";
  if (!positionals_.empty()) {
    text += "\nArguments:\n";
    for (const auto &[name, help] : positionals_) {
      text += indented(name, help);
    }
  }
  text += "\nOptions:\n";
  for (const auto &entry : options_) {
    text +=
        indented(entry.name + (entry.valueName.empty() ? "" : " " + entry.valueName), entry.help);
  }
  text += indented("-h, --help", "print this help and exit");
  for (const auto &note : notes_) {
    text += "\n" + note + "\n";
  }
  return text;
}

int exitStatus(ArgumentParser::Outcome outcome) {
  return outcome == ArgumentParser::Outcome::help ? 0 : 2;
}

std::optional<unsigned long long>
parseWholeNumber(const std::string &text, unsigned long long minimum, unsigned long long maximum) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  char *end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0' || value < minimum || value > maximum) {
    return std::nullopt;
  }
  return value;
}

} // namespace murmurquill
