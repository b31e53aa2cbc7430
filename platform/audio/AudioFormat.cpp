#include "platform/audio/AudioFormat.hpp"

#include <cmath>
#include <sstream>

namespace platform {

std::optional<AudioFormat> AudioFormat::make(double sampleRate, std::uint32_t channelCount,
                                             AudioCommonFormat commonFormat, bool interleaved) {
  if (!std::isfinite(sampleRate) || sampleRate <= 0 || channelCount == 0 ||
      channelCount > kMaxChannelCount) {
    return std::nullopt;
  }
  return AudioFormat(sampleRate, channelCount, commonFormat, interleaved);
}

std::uint32_t AudioFormat::bytesPerSample() const {
  return commonFormat_ == AudioCommonFormat::pcmFormatFloat32 ? 4 : 2;
}

std::uint32_t AudioFormat::bytesPerFrame() const {
  return bytesPerSample() * (interleaved_ ? channelCount_ : 1);
}

std::string AudioFormat::description() const {
  std::ostringstream out;
  out << sampleRate_ << " Hz, " << channelCount_ << " ch, "
      << (commonFormat_ == AudioCommonFormat::pcmFormatFloat32 ? "float32" : "int16") << ", "
      << (interleaved_ ? "interleaved" : "deinterleaved");
  return out.str();
}

} // namespace platform
