#include "platform/system/UUID.hpp"

#include <mutex>
#include <random>

namespace platform {

UUID::UUID() {
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}()};
  std::uint64_t high;
  std::uint64_t low;
  {
    std::lock_guard lock(mutex);
    high = engine();
    low = engine();
  }
  for (int i = 0; i < 8; ++i) {
    bytes_[i] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
    bytes_[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  }
  bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40); // version 4
  bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80); // RFC 4122 variant
}

std::optional<UUID> UUID::fromString(std::string_view text) {
  if (text.size() != 36) {
    return std::nullopt;
  }
  Bytes bytes{};
  std::size_t byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') {
        return std::nullopt;
      }
      ++i;
      continue;
    }
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9')
        return c - '0';
      if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
      if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
      return -1;
    };
    const int high = digit(text[i]);
    const int low = i + 1 < text.size() ? digit(text[i + 1]) : -1;
    if (high < 0 || low < 0 || i + 1 == 8 || i + 1 == 13 || i + 1 == 18 || i + 1 == 23) {
      return std::nullopt;
    }
    bytes[byte++] = static_cast<std::uint8_t>(high * 16 + low);
    i += 2;
  }
  return UUID(bytes);
}

std::string UUID::uuidString() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text.push_back('-');
    }
    text.push_back(kDigits[bytes_[i] >> 4]);
    text.push_back(kDigits[bytes_[i] & 0x0F]);
  }
  return text;
}

} // namespace platform
