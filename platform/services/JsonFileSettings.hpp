#pragma once

#include "platform/services/Settings.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace platform {

// Settings kept in a JSON object file (the app's file under the configuration folder). The
// file is read once at construction and rewritten whole and compactly, through a temporary
// file and a rename, after every change, so a crash never leaves half a file.
//
// The file is outside data: anything may have written it. A file that is not a JSON object, is
// larger than kMaxFileBytes or nests deeper than the settings ever do is set aside as
// "<name>.unreadable" rather than overwritten. Of a readable file only the members the store
// owns are kept: the top-level keys of `ownedKeys` (any when it is empty), with their values
// when these are Booleans, strings or numbers and as null otherwise, so nothing nested is kept
// or written back. Main thread only.
class JsonFileSettings final : public Settings {
public:
  // Settings files hold a few hundred bytes.
  static constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;

  explicit JsonFileSettings(std::filesystem::path file, std::set<std::string> ownedKeys = {});

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
  void load(const std::set<std::string> &ownedKeys);
  void setAside() const;
  void save() const;

  std::filesystem::path file_;
  // The kept members as JSON texts, so numbers that are not integers survive a rewrite.
  std::map<std::string, std::string> values_;
};

} // namespace platform
