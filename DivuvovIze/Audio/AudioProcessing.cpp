#include "DivuvovIze/Audio/AudioProcessing.hpp"

#include "DivuvovIze/Audio/AudioLog.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include <algorithm>
#include <cstring>
#include <exception>

namespace divuvovize {

AudioProcessing::~AudioProcessing() = default;

std::shared_ptr<platform::PcmBuffer> AudioProcessing::loadAudioAsync(const std::string &path) {
  return AudioProcessor::loadAudio(path);
}

std::optional<platform::MLMultiArray>
AudioProcessing::padOrTrimAudio(std::span<const float> audioArray, int startAt, int toLength,
                                bool /*saveSegment*/) {
  if (startAt < 0 || static_cast<std::size_t>(startAt) >= audioArray.size() || toLength < 0) {
    audiolog::error("startIndex is outside the buffer size");
    return std::nullopt;
  }
  const std::size_t end = std::min(
      static_cast<std::size_t>(startAt) + static_cast<std::size_t>(toLength), audioArray.size());
  const std::size_t n = end - static_cast<std::size_t>(startAt);
  try {
    // The array starts zero-filled, which pads everything after the copied samples.
    platform::MLMultiArray array({toLength}, platform::MLMultiArrayDataType::float32);
    if (n > 0) {
      std::memcpy(array.data<float>(), audioArray.data() + startAt, n * sizeof(float));
    }
    return array;
  } catch (const std::exception &error) {
    audiolog::error(std::string("Failed to create the model input array: ") + error.what());
    return std::nullopt;
  }
}

} // namespace divuvovize
