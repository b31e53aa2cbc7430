#include "platform/system/Environment.hpp"

#include <pwd.h>
#include <unistd.h>

#include <system_error>
#include <vector>

extern char **environ;

namespace platform {

Environment::Environment(Variables variables, std::optional<std::filesystem::path> home,
                         std::filesystem::path currentDirectory)
    : variables_(std::move(variables)), home_(std::move(home)),
      currentDirectory_(std::move(currentDirectory)) {}

Environment Environment::process() {
  Variables variables;
  for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const auto equals = text.find('=');
    if (equals != std::string::npos) {
      variables.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
  }
  std::optional<std::filesystem::path> home;
  if (auto it = variables.find("HOME"); it != variables.end() && !it->second.empty()) {
    home = it->second;
  } else {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
      home = std::filesystem::path(found->pw_dir);
    }
  }
  std::error_code error;
  auto current = std::filesystem::current_path(error);
  return Environment(std::move(variables), std::move(home), error ? "/" : current);
}

std::optional<std::string> Environment::variable(const std::string &name) const {
  if (auto it = variables_.find(name); it != variables_.end()) {
    return it->second;
  }
  return std::nullopt;
}

void Environment::setVariable(const std::string &name, std::string value) {
  variables_[name] = std::move(value);
}

void Environment::removeVariable(const std::string &name) { variables_.erase(name); }

std::filesystem::path Environment::homeDirectory() const {
  if (home_) {
    return *home_;
  }
  if (auto home = variable("HOME"); home && !home->empty()) {
    return *home;
  }
  return "/";
}

std::filesystem::path Environment::xdgDirectory(const char *name, const char *fallback) const {
  // The XDG rules ignore relative values.
  if (auto value = variable(name); value && !value->empty() && value->front() == '/') {
    return *value;
  }
  return homeDirectory() / fallback;
}

std::filesystem::path Environment::applicationSupportDirectory() const {
  return xdgDirectory("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path Environment::documentsDirectory() const {
  return xdgDirectory("XDG_DOCUMENTS_DIR", "Documents");
}

std::filesystem::path Environment::configDirectory() const {
  return xdgDirectory("XDG_CONFIG_HOME", ".config");
}

} // namespace platform
