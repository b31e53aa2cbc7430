#include "platform/services/JsonFileSettings.hpp"

#include "platform/system/AtomicFileWriter.hpp"
#include "platform/system/BoundedJsonParser.hpp"
#include "platform/system/FileContents.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <system_error>

namespace platform {

namespace {

// Settings are flat; deeper nesting is damage or an attack, and costs the stack of everything
// that walks a value recursively.
constexpr JsonLimits kLimits{.maxDepth = 16, .maxMembers = 4096, .maxValues = 65536};

bool isPlainValue(const nlohmann::json &value) {
  return value.is_boolean() || value.is_string() || value.is_number();
}

} // namespace

JsonFileSettings::JsonFileSettings(std::filesystem::path file, std::set<std::string> ownedKeys,
                                   std::shared_ptr<Executor> saveOn)
    : file_(std::move(file)), saveOn_(std::move(saveOn)) {
  load(ownedKeys);
}

JsonFileSettings::~JsonFileSettings() {
  if (savePending_) {
    save();
  }
}

void JsonFileSettings::changed() {
  if (!saveOn_) {
    save();
    return;
  }
  if (savePending_) {
    return;
  }
  savePending_ = true;
  saveOn_->after(kSaveDelay, [this, alive = std::weak_ptr<int>(lifetime_)] {
    if (alive.lock() && savePending_) {
      savePending_ = false;
      save();
    }
  });
}

void JsonFileSettings::load(const std::set<std::string> &ownedKeys) {
  const FileContents contents = FileContents::read(file_, kMaxFileBytes);
  if (!contents.opened) {
    return;
  }
  nlohmann::json document;
  try {
    if (!contents.tooLarge && !contents.failed) {
      document = parseJsonWithinLimits(contents.bytes, kLimits);
    }
  } catch (const std::exception &) {
    // Malformed or beyond the limits: set aside below like any other unreadable file.
  }
  if (!document.is_object()) {
    setAside();
    return;
  }
  // A key that holds a value of another kind still holds something (a Boolean read of it is
  // false, not the key's default), so it is kept, without the value.
  for (const auto &[key, value] : document.items()) {
    if (ownedKeys.empty() || ownedKeys.count(key) != 0) {
      values_[key] = isPlainValue(value) ? value.dump() : "null";
    }
  }
}

void JsonFileSettings::setAside() const {
  // Every damaged file is kept: a second one goes beside the first instead of over it.
  std::error_code ignored;
  std::filesystem::path aside = file_.string() + ".unreadable";
  for (int number = 2; std::filesystem::exists(std::filesystem::symlink_status(aside, ignored)) &&
                       number <= kMaxSetAside;
       ++number) {
    aside = file_.string() + ".unreadable." + std::to_string(number);
  }
  std::filesystem::rename(file_, aside, ignored);
}

bool JsonFileSettings::contains(const std::string &key) const { return values_.count(key) != 0; }

std::optional<bool> JsonFileSettings::boolValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) {
    return std::nullopt;
  }
  const auto value = nlohmann::json::parse(found->second, nullptr, false);
  return value.is_boolean() ? std::optional<bool>(value.get<bool>()) : std::nullopt;
}

std::optional<std::string> JsonFileSettings::stringValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) {
    return std::nullopt;
  }
  const auto value = nlohmann::json::parse(found->second, nullptr, false);
  return value.is_string() ? std::optional<std::string>(value.get<std::string>()) : std::nullopt;
}

std::optional<std::int64_t> JsonFileSettings::intValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end()) {
    return std::nullopt;
  }
  const auto value = nlohmann::json::parse(found->second, nullptr, false);
  if (value.is_number_unsigned() &&
      value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
    return std::nullopt;
  }
  if (value.is_number_integer()) {
    return value.get<std::int64_t>();
  }
  return std::nullopt;
}

void JsonFileSettings::setInt(const std::string &key, std::int64_t value) {
  values_[key] = nlohmann::json(value).dump();
  changed();
}

void JsonFileSettings::setBool(const std::string &key, bool value) {
  values_[key] = nlohmann::json(value).dump();
  changed();
}

void JsonFileSettings::setString(const std::string &key, const std::string &value) {
  values_[key] = nlohmann::json(value).dump();
  changed();
}

void JsonFileSettings::remove(const std::string &key) {
  if (values_.erase(key) != 0) {
    changed();
  }
}

void JsonFileSettings::save() const {
  nlohmann::json document = nlohmann::json::object();
  for (const auto &[key, text] : values_) {
    document[key] = nlohmann::json::parse(text, nullptr, false);
  }
  std::error_code error;
  std::filesystem::create_directories(file_.parent_path(), error);
  try {
    replaceFileAtomically(file_, document.dump() + '\n');
  } catch (const std::system_error &) {
    // Settings stay in memory; the next change tries the file again.
  }
}

} // namespace platform
