#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The user's settings (the platform's user defaults): small values under string keys. Used on
// the main thread.
class Settings {
public:
  virtual ~Settings() = default;
  // Whether the key holds any value.
  virtual bool contains(const std::string &key) const = 0;
  // The Boolean under the key; absent when the key holds nothing or no Boolean.
  virtual std::optional<bool> boolValue(const std::string &key) const = 0;
  // The string under the key; absent when the key holds nothing or no string.
  virtual std::optional<std::string> stringValue(const std::string &key) const = 0;
  // The integer under the key; absent when the key holds nothing or no integer.
  virtual std::optional<std::int64_t> intValue(const std::string &key) const = 0;
  virtual void setBool(const std::string &key, bool value) = 0;
  virtual void setInt(const std::string &key, std::int64_t value) = 0;
  virtual void setString(const std::string &key, const std::string &value) = 0;
  virtual void remove(const std::string &key) = 0;

  // The Boolean under the key, false when there is none.
  bool boolOrFalse(const std::string &key) const { return boolValue(key).value_or(false); }
};

} // namespace platform
