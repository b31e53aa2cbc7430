#pragma once

#include "DivuvovIze/Audio/AudioChunking.hpp"
#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"

#include <memory>

namespace divuvovize {

// Cuts long recordings at pauses: within the second half of each window the detector looks for
// the longest silence, and the chunk ends at the start of that silence's middle frame. Holds
// no mutable state; safe to share.
class VADAudioChunker : public AudioChunking {
public:
  // `windowPadding` in samples: a cut that would leave this little of a clip range is not
  // made, the chunk reaching the range's end instead (so the last chunk may pass the maximum
  // by up to the padding); a range no longer than the padding is a chunk only when a window
  // starts on it (it is longer than the options' window clip time). A null detector becomes
  // the default EnergyVAD (16 kHz, 0.1 s frames, threshold 0.02).
  explicit VADAudioChunker(int windowPadding = 16000,
                           std::shared_ptr<const VoiceActivityDetector> vad = nullptr);

  int windowPadding() const { return windowPadding_; }
  const VoiceActivityDetector &vad() const { return *vad_; }

  // One chunk holding everything when `maxChunkLength` covers the signal. Otherwise the
  // signal is cut within each clip range of the options (the default options' single range
  // when absent). Ranges are clamped to the signal; a range that starts at or past its end
  // while there is still something to cut throws WhisperError::audioProcessingFailed
  // "startIndex is outside the buffer size".
  std::vector<AudioChunk> chunkAll(std::span<const float> audioArray, int maxChunkLength,
                                   const std::optional<DecodingOptions> &decodeOptions) override;

private:
  // Where the chunk from `start` ends: at the middle frame of the longest silence in the second
  // half of its window, at the window's end without one, or at `end` when the window reaches it.
  long long chunkEnd(std::span<const float> audioArray, long long start, long long end,
                     int maxChunkLength) const;
  static void append(std::vector<AudioChunk> &chunks, std::span<const float> audioArray,
                     long long start, long long endIndex);

  int windowPadding_;
  std::shared_ptr<const VoiceActivityDetector> vad_;
};

} // namespace divuvovize
