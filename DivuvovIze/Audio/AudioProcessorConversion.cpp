// Buffer conversion, channel mix-down and copy-out of AudioProcessor.
#include "DivuvovIze/Audio/AudioProcessor.hpp"

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <algorithm>
#include <cmath>

namespace divuvovize {

namespace {

using platform::AudioConverterInput;
using platform::AudioConverterInputStatus;
using platform::AudioConverterOutputStatus;
using platform::PcmBuffer;

// Reads channel `channel` of a float buffer in either layout.
struct ChannelView {
  const float *data;
  std::uint32_t stride;
  float operator[](std::size_t i) const { return data[i * stride]; }
};

ChannelView channelView(const PcmBuffer &buffer, std::uint32_t channel) {
  if (buffer.format().isInterleaved()) {
    return {buffer.floatChannelData(0) + channel, buffer.stride()};
  }
  return {buffer.floatChannelData(channel), 1};
}

float largestMagnitude(const float *samples, std::uint32_t count) {
  float largest = 0.0f;
  for (std::uint32_t i = 0; i < count; ++i) {
    const float magnitude = std::abs(samples[i]);
    largest = magnitude > largest ? magnitude : largest;
  }
  return largest;
}

// Output capacity for `frames` input frames: frames x out / in, rounded to the nearest
// integer (ties to even) and at least 1 when not whole.
double convertedCapacity(std::uint32_t frames, double inputRate, double outputRate) {
  const double capacity = static_cast<double>(frames) * outputRate / inputRate;
  if (capacity == std::floor(capacity)) {
    return capacity;
  }
  const double rounded = std::max(1.0, std::nearbyint(capacity));
  if (modelslog::debugEnabled()) {
    modelslog::debug("Rounding buffer frame capacity from " + numbers::describe(capacity) + " to " +
                     numbers::describe(rounded) + " to better fit new sample rate");
  }
  return rounded;
}

// Feeds `buffer` to `converter` once and returns what comes out; with `endOfStream` the
// converter is drained afterwards, so the whole buffer comes out.
std::shared_ptr<PcmBuffer> convertOnce(const std::shared_ptr<const PcmBuffer> &buffer,
                                       platform::AudioConverter &converter, bool endOfStream) {
  const double capacity =
      convertedCapacity(buffer->frameLength(), converter.inputFormat().sampleRate(),
                        converter.outputFormat().sampleRate());
  std::shared_ptr<PcmBuffer> output;
  if (capacity <= 4294967295.0) {
    output = PcmBuffer::make(converter.outputFormat(), static_cast<std::uint32_t>(capacity));
  }
  if (!output) {
    throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
  }
  bool given = false;
  std::string error;
  const AudioConverterOutputStatus status =
      converter.convert(*output, error, [&](std::uint32_t) -> AudioConverterInput {
        if (buffer->frameLength() == 0) {
          return {nullptr, AudioConverterInputStatus::endOfStream};
        }
        if (!given) {
          given = true;
          return {buffer, AudioConverterInputStatus::haveData};
        }
        return {nullptr, endOfStream ? AudioConverterInputStatus::endOfStream
                                     : AudioConverterInputStatus::noDataNow};
      });
  if (status == AudioConverterOutputStatus::error) {
    throw WhisperError::audioProcessingFailed("Error converting audio: " + error);
  }
  if (endOfStream || status == AudioConverterOutputStatus::endOfStream) {
    // The stream ended (the buffer was all of it, or an empty buffer ended it): the next buffer
    // starts a new one.
    converter.reset();
  }
  return output;
}

} // namespace

std::shared_ptr<PcmBuffer>
AudioProcessor::resampleBuffer(const std::shared_ptr<const PcmBuffer> &buffer,
                               platform::AudioConverter &converter) {
  return convertOnce(buffer, converter, /*endOfStream=*/true);
}

std::shared_ptr<PcmBuffer>
AudioProcessor::resampleStreamBuffer(const std::shared_ptr<const PcmBuffer> &buffer,
                                     platform::AudioConverter &converter) {
  return convertOnce(buffer, converter, /*endOfStream=*/false);
}

std::vector<float> AudioProcessor::drainConverter(platform::AudioConverter &converter) {
  // Without new input the converter only gives back what its filter still holds: a few
  // milliseconds, taken a small buffer at a time.
  auto output = PcmBuffer::make(converter.outputFormat(), 4096);
  if (!output) {
    throw WhisperError::audioProcessingFailed("Failed to create converted buffer");
  }
  std::vector<float> tail;
  AudioConverterOutputStatus status = AudioConverterOutputStatus::haveData;
  while (status == AudioConverterOutputStatus::haveData) {
    std::string error;
    status = converter.convert(*output, error, [](std::uint32_t) -> AudioConverterInput {
      return {nullptr, AudioConverterInputStatus::endOfStream};
    });
    if (status == AudioConverterOutputStatus::error) {
      throw WhisperError::audioProcessingFailed("Error converting audio: " + error);
    }
    const float *samples = output->floatChannelData(0);
    tail.insert(tail.end(), samples, samples + output->frameLength());
  }
  converter.reset();
  return tail;
}

std::shared_ptr<PcmBuffer>
AudioProcessor::resampleAudio(const std::shared_ptr<const PcmBuffer> &buffer, double toSampleRate,
                              std::uint32_t channelCount) {
  const auto format = platform::AudioFormat::standard(toSampleRate, channelCount);
  if (!format) {
    modelslog::error("Failed to create output audio format");
    return nullptr;
  }
  const auto converter = platform::AudioConverter::make(buffer->format(), *format);
  if (!converter) {
    modelslog::error("Failed to create audio converter");
    return nullptr;
  }
  try {
    return convertOnce(buffer, *converter, /*endOfStream=*/true);
  } catch (const std::exception &error) {
    modelslog::error(std::string("Failed to resample buffer: ") + error.what());
    return nullptr;
  }
}

std::shared_ptr<PcmBuffer>
AudioProcessor::convertToMono(const std::shared_ptr<PcmBuffer> &buffer,
                              const AudioInputConfig::ChannelMode &mode) {
  const std::uint32_t channels = buffer->format().channelCount();
  if (channels < 2) {
    return buffer;
  }
  if (!buffer->hasFloatChannelData()) {
    modelslog::error("Buffer did not contain floatChannelData.");
    return nullptr;
  }
  const auto format = platform::AudioFormat::standard(buffer->format().sampleRate(), 1);
  if (!format) {
    modelslog::error("Failed to create AVAudioFormat object.");
    return nullptr;
  }
  auto mono = PcmBuffer::make(*format, buffer->frameCapacity());
  if (!mono) {
    modelslog::error("Failed to create mono buffer.");
    return nullptr;
  }
  const std::uint32_t frames = buffer->frameLength();
  mono->setFrameLength(frames);
  float *target = mono->floatChannelData(0);

  const auto copyChannel = [&](std::uint32_t channel) {
    const ChannelView source = channelView(*buffer, channel);
    for (std::uint32_t i = 0; i < frames; ++i) {
      target[i] = source[i];
    }
  };

  if (mode.kind() == AudioInputConfig::ChannelMode::Kind::specificChannel) {
    const int k = mode.channel();
    copyChannel(k >= 0 && static_cast<std::uint32_t>(k) < channels ? static_cast<std::uint32_t>(k)
                                                                   : 0);
    return mono;
  }

  std::vector<std::uint32_t> chosen;
  const auto &list = mode.channels();
  if (list && !list->empty()) {
    for (int index : *list) {
      if (index >= 0 && static_cast<std::uint32_t>(index) < channels) {
        chosen.push_back(static_cast<std::uint32_t>(index));
      }
    }
    if (chosen.empty()) {
      copyChannel(0);
      modelslog::debug("No valid channel indices provided, defaulting to first channel");
      return mono;
    }
  } else {
    for (std::uint32_t c = 0; c < channels; ++c) {
      chosen.push_back(c);
    }
  }

  // The sum is scaled back to the loudest chosen channel's peak, so mixing never clips and a
  // channel summed with itself comes out unchanged.
  float peak = 0.0f;
  for (std::uint32_t channel : chosen) {
    const ChannelView source = channelView(*buffer, channel);
    if (source.stride == 1) {
      peak = std::max(peak, largestMagnitude(source.data, frames));
      for (std::uint32_t i = 0; i < frames; ++i) {
        target[i] += source.data[i];
      }
    } else {
      for (std::uint32_t i = 0; i < frames; ++i) {
        peak = std::max(peak, std::abs(source[i]));
        target[i] += source[i];
      }
    }
  }
  const float scale = peak / std::max(largestMagnitude(target, frames), 0.0001f);
  for (std::uint32_t i = 0; i < frames; ++i) {
    target[i] *= scale;
  }
  return mono;
}

std::vector<float> AudioProcessor::convertBufferToArray(const PcmBuffer &buffer, int chunkSize) {
  if (!buffer.hasFloatChannelData()) {
    return {};
  }
  const std::uint32_t frames = buffer.frameLength();
  const std::uint32_t step =
      chunkSize > 0 ? static_cast<std::uint32_t>(chunkSize) : std::max<std::uint32_t>(frames, 1);
  std::vector<float> samples;
  samples.reserve(frames);
  const ChannelView source = channelView(buffer, 0);
  for (std::uint64_t first = 0; first < frames; first += step) {
    const auto end = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, first + step));
    if (source.stride == 1) {
      samples.insert(samples.end(), source.data + first, source.data + end);
    } else {
      for (auto i = static_cast<std::uint32_t>(first); i < end; ++i) {
        samples.push_back(source[i]);
      }
    }
  }
  return samples;
}

} // namespace divuvovize
