#include "DivuvovIze/Audio/AudioProcessing.hpp"

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace divuvovize {

AudioProcessing::~AudioProcessing() = default;

std::shared_ptr<platform::PcmBuffer> AudioProcessing::loadAudioAsync(const std::string &path) {
  return AudioProcessor::loadAudio(path);
}

std::optional<WaveformImage> AudioProcessing::createWaveformImage(std::span<const float> audio,
                                                                  ImageSize size) {
  // Bounds keep width * 4 and the pixel count far inside every integer type used below.
  constexpr double kLargestSide = 1 << 20;
  const double width = std::trunc(size.width);
  const double height = std::trunc(size.height);
  if (!(width >= 1 && width <= kLargestSide && height >= 1 && height <= kLargestSide)) {
    return std::nullopt;
  }
  const auto pixelCount = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (audio.size() < pixelCount) {
    return std::nullopt;
  }
  WaveformImage image;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.bytesPerRow = image.width * 4;
  image.pixels.resize(pixelCount * sizeof(float));
  std::memcpy(image.pixels.data(), audio.data(), image.pixels.size());
  return image;
}

std::optional<platform::MLMultiArray>
AudioProcessing::padOrTrimAudio(std::span<const float> audioArray, int startAt, int toLength,
                                bool /*saveSegment*/) {
  if (startAt < 0 || static_cast<std::size_t>(startAt) >= audioArray.size() || toLength < 0) {
    modelslog::error("startIndex is outside the buffer size");
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
    modelslog::error(std::string("Failed to create the model input array: ") + error.what());
    return std::nullopt;
  }
}

} // namespace divuvovize
