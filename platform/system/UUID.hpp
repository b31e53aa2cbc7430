#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A 128-bit universally unique identifier. UUID() makes a fresh random (version 4) one;
// equality, ordering and hashing follow the 16 bytes.
class UUID {
public:
  using Bytes = std::array<std::uint8_t, 16>;

  UUID();
  explicit UUID(const Bytes &bytes) : bytes_(bytes) {}

  // Parses "E621E1F8-C36C-495A-93FC-0C247A3E6E5F" (either case); absent for anything else.
  static std::optional<UUID> fromString(std::string_view text);

  const Bytes &bytes() const { return bytes_; }
  // Upper-case, hyphenated: 8-4-4-4-12 hexadecimal digits.
  std::string uuidString() const;

  friend bool operator==(const UUID &, const UUID &) = default;
  friend auto operator<=>(const UUID &, const UUID &) = default;

private:
  Bytes bytes_;
};

} // namespace platform

template <> struct std::hash<platform::UUID> {
  std::size_t operator()(const platform::UUID &uuid) const noexcept {
    std::size_t hash = 1469598103934665603ull;
    for (auto byte : uuid.bytes()) {
      hash = (hash ^ byte) * 1099511628211ull;
    }
    return hash;
  }
};
