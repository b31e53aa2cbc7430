#pragma once

#include "platform/system/UUID.hpp"

#include <cstddef>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace deduve {

// One stop flag per decoding window, keyed by the window's identifier. Absent and false both
// mean "keep going". Thread-safe.
class EarlyStopActor {
public:
  EarlyStopActor() = default;

  // Inserts or replaces the window's flag.
  void set(bool shouldStop, const platform::UUID &window);
  // The window's flag; false when it has none.
  bool get(const platform::UUID &window) const;
  // Removes the window's entry and returns its flag; absent when there was none.
  std::optional<bool> remove(const platform::UUID &window);
  // Number of windows with an entry.
  std::size_t count() const;

private:
  mutable std::mutex mutex_;
  std::unordered_map<platform::UUID, bool> shouldStop_;
};

} // namespace deduve
