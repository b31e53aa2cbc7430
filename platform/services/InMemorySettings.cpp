#include "platform/services/InMemorySettings.hpp"

namespace platform {

std::optional<bool> InMemorySettings::boolValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end() || !std::holds_alternative<bool>(found->second)) {
    return std::nullopt;
  }
  return std::get<bool>(found->second);
}

std::optional<std::string> InMemorySettings::stringValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end() || !std::holds_alternative<std::string>(found->second)) {
    return std::nullopt;
  }
  return std::get<std::string>(found->second);
}

std::optional<std::int64_t> InMemorySettings::intValue(const std::string &key) const {
  const auto found = values_.find(key);
  if (found == values_.end() || !std::holds_alternative<std::int64_t>(found->second)) {
    return std::nullopt;
  }
  return std::get<std::int64_t>(found->second);
}

void InMemorySettings::setInt(const std::string &key, std::int64_t value) {
  values_[key] = value;
  ++writes_[key];
}

void InMemorySettings::setBool(const std::string &key, bool value) {
  values_[key] = value;
  ++writes_[key];
}

void InMemorySettings::setString(const std::string &key, const std::string &value) {
  values_[key] = value;
  ++writes_[key];
}

std::size_t InMemorySettings::writeCount(const std::string &key) const {
  const auto found = writes_.find(key);
  return found == writes_.end() ? 0 : found->second;
}

std::set<std::string> InMemorySettings::writtenKeys() const {
  std::set<std::string> keys;
  for (const auto &[key, count] : writes_) {
    keys.insert(key);
  }
  return keys;
}

} // namespace platform
