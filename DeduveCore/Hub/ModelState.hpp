#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace deduve {

// Life-cycle state of a set of models. Even ordinals are the transitional (busy) states.
enum class ModelState : std::uint8_t {
  unloading = 0,
  unloaded = 1,
  loading = 2,
  loaded = 3,
  prewarming = 4,
  prewarmed = 5,
  downloading = 6,
  downloaded = 7,
};

// "Unloading", "Unloaded", "Loading", "Loaded", "Specializing", "Specialized", "Downloading",
// "Downloaded".
std::string_view description(ModelState state);
bool isBusy(ModelState state);
std::ostream &operator<<(std::ostream &out, ModelState state);

} // namespace deduve
