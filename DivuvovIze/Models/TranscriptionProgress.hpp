#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DivuvovIze/Models/TranscriptionTimings.hpp"

namespace divuvovize {

// What the per-token progress callback receives while a window is decoded.
struct TranscriptionProgress {
  TranscriptionTimings timings;
  std::string text; // decoded so far in the window
  std::vector<int> tokens;
  std::optional<float> temperature;
  std::optional<float> avgLogprob;
  std::optional<float> compressionRatio;
  int windowId = 0;
};

} // namespace divuvovize
