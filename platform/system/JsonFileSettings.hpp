#pragma once

#include "platform/system/Settings.hpp"

#include <filesystem>
#include <map>
#include <variant>

namespace platform {

// Settings kept in a JSON object file (the app's file under the configuration folder). The
// file is read once at construction and rewritten whole, through a temporary file and a
// rename, after every change, so a crash never leaves half a file. A file that is not a JSON
// object is set aside as "<name>.unreadable" rather than overwritten. Values other than
// Booleans, strings and integers in the file are kept as they are. Main thread only.
class JsonFileSettings final : public Settings {
public:
  explicit JsonFileSettings(std::filesystem::path file);

  bool contains(const std::string &key) const override;
  std::optional<bool> boolValue(const std::string &key) const override;
  std::optional<std::string> stringValue(const std::string &key) const override;
  std::optional<std::int64_t> intValue(const std::string &key) const override;
  void setBool(const std::string &key, bool value) override;
  void setInt(const std::string &key, std::int64_t value) override;
  void setString(const std::string &key, const std::string &value) override;
  void remove(const std::string &key) override;

  const std::filesystem::path &file() const { return file_; }

private:
  void save() const;

  std::filesystem::path file_;
  // The document's members as JSON texts, so unknown kinds of values survive a rewrite.
  std::map<std::string, std::string> values_;
};

} // namespace platform
