#pragma once

#include "platform/services/Settings.hpp"

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <variant>

namespace platform {

// Settings held in memory, for tests; counts writes so tests can see "saved on every
// assignment". Not thread-safe.
class InMemorySettings final : public Settings {
public:
  bool contains(const std::string &key) const override { return values_.count(key) != 0; }
  std::optional<bool> boolValue(const std::string &key) const override;
  std::optional<std::string> stringValue(const std::string &key) const override;
  std::optional<std::int64_t> intValue(const std::string &key) const override;
  void setBool(const std::string &key, bool value) override;
  void setInt(const std::string &key, std::int64_t value) override;
  void setString(const std::string &key, const std::string &value) override;
  void remove(const std::string &key) override { values_.erase(key); }

  // Writes of `key` so far.
  std::size_t writeCount(const std::string &key) const;
  // Every key written so far.
  std::set<std::string> writtenKeys() const;

private:
  std::map<std::string, std::variant<bool, std::string, std::int64_t>> values_;
  std::map<std::string, std::size_t> writes_;
};

} // namespace platform
