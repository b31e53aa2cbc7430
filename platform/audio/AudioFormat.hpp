#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Sample representation of a PCM format.
enum class AudioCommonFormat {
  pcmFormatFloat32, // 32-bit float, 1.0 is full scale
  pcmFormatInt16,   // 16-bit signed integer
};

// Description of PCM audio: rate, channel count, sample representation and layout.
// Two formats are equal when all four attributes are equal.
class AudioFormat {
public:
  // The largest channel count a format may carry; more is refused by `make`.
  static constexpr std::uint32_t kMaxChannelCount = 64;

  // A format, or nothing when the rate is not a positive finite number or the channel count
  // is 0 or above kMaxChannelCount.
  static std::optional<AudioFormat> make(double sampleRate, std::uint32_t channelCount,
                                         AudioCommonFormat commonFormat, bool interleaved);

  // 32-bit float, not interleaved: the form every engine-side buffer uses.
  static std::optional<AudioFormat> standard(double sampleRate, std::uint32_t channelCount) {
    return make(sampleRate, channelCount, AudioCommonFormat::pcmFormatFloat32,
                /*interleaved=*/false);
  }

  double sampleRate() const { return sampleRate_; }
  std::uint32_t channelCount() const { return channelCount_; }
  AudioCommonFormat commonFormat() const { return commonFormat_; }
  bool isInterleaved() const { return interleaved_; }
  // 32-bit float and not interleaved.
  bool isStandard() const {
    return commonFormat_ == AudioCommonFormat::pcmFormatFloat32 && !interleaved_;
  }

  std::uint32_t bytesPerSample() const;
  // Bytes of one frame in one channel buffer: one sample when not interleaved, one sample
  // per channel when interleaved.
  std::uint32_t bytesPerFrame() const;
  // Number of separate channel buffers: the channel count when not interleaved, else 1.
  std::uint32_t channelBufferCount() const { return interleaved_ ? 1 : channelCount_; }

  // For log lines and test messages, e.g. "44100 Hz, 2 ch, float32, deinterleaved".
  std::string description() const;

  friend bool operator==(const AudioFormat &, const AudioFormat &) = default;

private:
  AudioFormat(double sampleRate, std::uint32_t channelCount, AudioCommonFormat commonFormat,
              bool interleaved)
      : sampleRate_(sampleRate), channelCount_(channelCount), commonFormat_(commonFormat),
        interleaved_(interleaved) {}

  double sampleRate_;
  std::uint32_t channelCount_;
  AudioCommonFormat commonFormat_;
  bool interleaved_;
};

} // namespace platform
