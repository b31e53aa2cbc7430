#pragma once

#include "platform/audio/AudioFormat.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// A block of PCM audio in memory: a format, a capacity in frames and the number of valid
// frames (`frameLength`). Samples live in one buffer per channel when the format is not
// interleaved, in a single buffer otherwise. Buffers are shared by reference
// (std::shared_ptr), as converters and file readers hand them around; a buffer is not
// synchronised, so one thread writes it at a time.
class PcmBuffer {
public:
  // A zero-filled buffer, or nullptr when the storage cannot be allocated.
  static std::shared_ptr<PcmBuffer> make(const AudioFormat &format, std::uint32_t frameCapacity);
  // A buffer that takes over `channels` (one vector per channel, all of one length) as its
  // samples, full to its capacity, so samples gathered in growing vectors need no second copy.
  // Nullptr when the format is not standard, the channel count differs or the lengths differ
  // or exceed 32 bits.
  static std::shared_ptr<PcmBuffer> make(const AudioFormat &format,
                                         std::vector<std::vector<float>> channels);

  PcmBuffer(const PcmBuffer &) = delete;
  PcmBuffer &operator=(const PcmBuffer &) = delete;

  const AudioFormat &format() const { return format_; }
  std::uint32_t frameCapacity() const { return frameCapacity_; }
  std::uint32_t frameLength() const { return frameLength_; }
  // Throws std::out_of_range when `length` exceeds the capacity.
  void setFrameLength(std::uint32_t length);

  // Samples between two frames within one channel buffer: 1, or the channel count when
  // interleaved.
  std::uint32_t stride() const { return format_.isInterleaved() ? format_.channelCount() : 1; }

  // Channel buffer `index` (see AudioFormat::channelBufferCount), or nullptr when the format
  // holds no samples of that type or the index is out of range.
  float *floatChannelData(std::uint32_t index);
  const float *floatChannelData(std::uint32_t index) const;
  std::int16_t *int16ChannelData(std::uint32_t index);
  const std::int16_t *int16ChannelData(std::uint32_t index) const;
  bool hasFloatChannelData() const {
    return format_.commonFormat() == AudioCommonFormat::pcmFormatFloat32;
  }

private:
  PcmBuffer(const AudioFormat &format, std::uint32_t frameCapacity);
  PcmBuffer(const AudioFormat &format, std::vector<std::vector<float>> channels);

  AudioFormat format_;
  std::uint32_t frameCapacity_;
  std::uint32_t frameLength_ = 0;
  std::vector<std::vector<float>> floatChannels_;
  std::vector<std::vector<std::int16_t>> int16Channels_;
};

} // namespace platform
