#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace divuvovize {

// A device identifier: the platform's 32-bit audio device id.
using DeviceID = std::uint32_t;

// An audio input device: its id (also its identity) and its name as the system reports it
// (empty when it gives none). Equal when both fields are equal.
struct AudioDevice {
  DeviceID id = 0;
  std::string name;

  friend bool operator==(const AudioDevice &, const AudioDevice &) = default;
};

} // namespace divuvovize

// Hashing combines the id, then the name.
template <> struct std::hash<divuvovize::AudioDevice> {
  std::size_t operator()(const divuvovize::AudioDevice &device) const noexcept {
    const std::size_t seed = std::hash<divuvovize::DeviceID>{}(device.id);
    return seed ^ (std::hash<std::string>{}(device.name) + 0x9e3779b97f4a7c15ull + (seed << 6) +
                   (seed >> 2));
  }
};
