#pragma once

#include "platform/services/Settings.hpp"
#include "platform/system/Executor.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace platform {

// Settings kept in a JSON object file (the app's file under the configuration folder). The
// file is read once at construction and rewritten whole and compactly, through a temporary
// file and a rename, after every change (or once for the changes of half a second), so a crash
// never leaves half a file.
//
// The file is outside data: anything may have written it. A file that is not a JSON object, is
// larger than kMaxFileBytes, nests deeper than the settings ever do or is no regular file (a
// FIFO is never waited for) is set aside as "<name>.unreadable" (then "<name>.unreadable.2",
// ".3", ... so none overwrites another) rather than overwritten. Of a readable file only the
// members the store owns are kept: the top-level keys of `ownedKeys` (any when it is empty), with
// their values when these are Booleans, strings or numbers and as null otherwise, so nothing nested
// is kept or written back. Main thread only.
class JsonFileSettings final : public Settings {
public:
  // Settings files hold a few hundred bytes.
  static constexpr std::uintmax_t kMaxFileBytes = 1024 * 1024;
  // Damaged files set aside are kept up to this many; the last name is reused beyond.
  static constexpr int kMaxSetAside = 100;

  // How long changes gather before one write when the store saves on an executor.
  static constexpr std::chrono::milliseconds kSaveDelay{500};

  // `saveOn` (the main executor): changes are written together, kSaveDelay after the first
  // of them, and whatever is left when the store is destroyed; null: at every change.
  explicit JsonFileSettings(std::filesystem::path file, std::set<std::string> ownedKeys = {},
                            std::shared_ptr<Executor> saveOn = nullptr);
  ~JsonFileSettings() override;
  JsonFileSettings(const JsonFileSettings &) = delete;
  JsonFileSettings &operator=(const JsonFileSettings &) = delete;

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
  // Saves now, or schedules the one save of the changes gathering.
  void changed();

  std::filesystem::path file_;
  // The kept members as JSON texts, so numbers that are not integers survive a rewrite.
  std::map<std::string, std::string> values_;
  std::shared_ptr<Executor> saveOn_;
  bool savePending_ = false;
  // Held weakly by the scheduled save, which does nothing once the store is gone.
  std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

} // namespace platform
