#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace platform {

// The process environment as the code sees it: variables, the home folder, the current
// folder and the user's standard folders. A value: tests build one from a map and never touch
// the real environment; the program takes a snapshot with Environment::process().
class Environment {
public:
  using Variables = std::map<std::string, std::string>;

  // An empty environment: no variables, home "/" unless given, current folder "/".
  Environment() = default;
  explicit Environment(Variables variables, std::optional<std::filesystem::path> home = {},
                       std::filesystem::path currentDirectory = "/");

  // A snapshot of this process: its variables, its home (HOME, else the password database)
  // and its current folder at the time of the call.
  static Environment process();

  const Variables &variables() const { return variables_; }
  // The variable's value; absent when unset. An empty value is returned as empty.
  std::optional<std::string> variable(const std::string &name) const;
  void setVariable(const std::string &name, std::string value);
  void removeVariable(const std::string &name);

  // The given home, else HOME, else "/".
  std::filesystem::path homeDirectory() const;
  std::filesystem::path currentDirectory() const { return currentDirectory_; }

  // Application Support: $XDG_DATA_HOME when set to an absolute path, else ~/.local/share.
  std::filesystem::path applicationSupportDirectory() const;
  // Documents: $XDG_DOCUMENTS_DIR when set to an absolute path, else ~/Documents.
  std::filesystem::path documentsDirectory() const;
  // Per-user configuration: $XDG_CONFIG_HOME when set to an absolute path, else ~/.config.
  std::filesystem::path configDirectory() const;

private:
  std::filesystem::path xdgDirectory(const char *variable, const char *fallback) const;

  Variables variables_;
  std::optional<std::filesystem::path> home_;
  std::filesystem::path currentDirectory_ = "/";
};

} // namespace platform
