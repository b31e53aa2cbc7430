#pragma once

#include <vector>

namespace divuvovize {

// A piece of audio with its place in the whole signal.
struct AudioChunk {
  int seekOffsetIndex = 0;         // index of the chunk's first sample in the whole audio
  std::vector<float> audioSamples; // 16 kHz mono
};

} // namespace divuvovize
