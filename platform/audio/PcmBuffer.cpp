#include "platform/audio/PcmBuffer.hpp"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace platform {

PcmBuffer::PcmBuffer(const AudioFormat &format, std::uint32_t frameCapacity)
    : format_(format), frameCapacity_(frameCapacity) {
  // At least one sample, so that a zero-capacity buffer still reports channel data.
  const std::size_t samples =
      std::max<std::size_t>(1, static_cast<std::size_t>(frameCapacity) * stride());
  if (hasFloatChannelData()) {
    floatChannels_.assign(format.channelBufferCount(), std::vector<float>(samples, 0.0f));
  } else {
    int16Channels_.assign(format.channelBufferCount(), std::vector<std::int16_t>(samples, 0));
  }
}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat &format, std::uint32_t frameCapacity) {
  try {
    return std::shared_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacity));
  } catch (const std::bad_alloc &) {
    return nullptr;
  } catch (const std::length_error &) {
    return nullptr;
  }
}

PcmBuffer::PcmBuffer(const AudioFormat &format, std::vector<std::vector<float>> channels)
    : format_(format), frameCapacity_(static_cast<std::uint32_t>(channels[0].size())),
      frameLength_(frameCapacity_), floatChannels_(std::move(channels)) {
  for (auto &channel : floatChannels_) {
    // At least one sample, as for made buffers.
    if (channel.empty()) {
      channel.push_back(0.0f);
    }
  }
}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat &format,
                                           std::vector<std::vector<float>> channels) {
  if (!format.isStandard() || channels.size() != format.channelCount()) {
    return nullptr;
  }
  const std::size_t frames = channels[0].size();
  if (frames > 0xFFFFFFFFu) {
    return nullptr;
  }
  for (const auto &channel : channels) {
    if (channel.size() != frames) {
      return nullptr;
    }
  }
  try {
    return std::shared_ptr<PcmBuffer>(new PcmBuffer(format, std::move(channels)));
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

void PcmBuffer::setFrameLength(std::uint32_t length) {
  if (length > frameCapacity_) {
    throw std::out_of_range("PcmBuffer: frame length " + std::to_string(length) +
                            " exceeds the capacity of " + std::to_string(frameCapacity_) +
                            " frames");
  }
  frameLength_ = length;
}

float *PcmBuffer::floatChannelData(std::uint32_t index) {
  return index < floatChannels_.size() ? floatChannels_[index].data() : nullptr;
}

const float *PcmBuffer::floatChannelData(std::uint32_t index) const {
  return index < floatChannels_.size() ? floatChannels_[index].data() : nullptr;
}

std::int16_t *PcmBuffer::int16ChannelData(std::uint32_t index) {
  return index < int16Channels_.size() ? int16Channels_[index].data() : nullptr;
}

const std::int16_t *PcmBuffer::int16ChannelData(std::uint32_t index) const {
  return index < int16Channels_.size() ? int16Channels_[index].data() : nullptr;
}

} // namespace platform
