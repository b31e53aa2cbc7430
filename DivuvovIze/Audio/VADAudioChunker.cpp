#include "DivuvovIze/Audio/VADAudioChunker.hpp"

#include "DivuvovIze/Audio/EnergyVAD.hpp"
#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <algorithm>

namespace divuvovize {

VADAudioChunker::VADAudioChunker(int windowPadding,
                                 std::shared_ptr<const VoiceActivityDetector> vad)
    : windowPadding_(windowPadding),
      vad_(vad ? std::move(vad) : std::make_shared<EnergyVAD>(16000, 1600, 0, 0.02f)) {}

long long VADAudioChunker::chunkEnd(std::span<const float> audioArray, long long start,
                                    long long end, int maxChunkLength) const {
  const long long count = static_cast<long long>(audioArray.size());
  const long long windowEnd = start + maxChunkLength;
  if (windowEnd >= end) {
    return end;
  }
  const long long e = std::min(windowEnd, count);
  const long long mid = start + (e - start) / 2;
  if (mid < e) {
    const auto half =
        audioArray.subspan(static_cast<std::size_t>(mid), static_cast<std::size_t>(e - mid));
    if (const auto silence = vad_->findLongestSilence(vad_->voiceActivity(half))) {
      const long long middleFrame =
          silence->startIndex + (silence->endIndex - silence->startIndex) / 2;
      return mid + middleFrame * vad_->frameLengthSamples();
    }
  }
  return e;
}

void VADAudioChunker::append(std::vector<AudioChunk> &chunks, std::span<const float> audioArray,
                             long long start, long long endIndex) {
  if (modelslog::debugEnabled()) {
    modelslog::debug("Found chunk from " + numbers::fixed(static_cast<double>(start) / 16000, 2) +
                     " to " + numbers::fixed(static_cast<double>(endIndex) / 16000, 2));
  }
  chunks.push_back(
      AudioChunk{static_cast<int>(start),
                 std::vector<float>(audioArray.begin() + start, audioArray.begin() + endIndex)});
}

std::vector<AudioChunk>
VADAudioChunker::chunkAll(std::span<const float> audioArray, int maxChunkLength,
                          const std::optional<DecodingOptions> &decodeOptions) {
  const long long count = static_cast<long long>(audioArray.size());
  if (maxChunkLength >= count) {
    return {AudioChunk{0, std::vector<float>(audioArray.begin(), audioArray.end())}};
  }
  const DecodingOptions options = decodeOptions.value_or(DecodingOptions());
  std::vector<AudioChunk> chunks;
  for (const auto &[clipStart, clipEnd] : options.seekClipRanges(static_cast<int>(count))) {
    long long start = std::max(clipStart, 0);
    // Clip times past the end of the audio are clamped to it, so no chunk reaches past the
    // signal.
    const long long end = std::min<long long>(clipEnd, count);
    if (start < clipEnd - static_cast<long long>(windowPadding_) && start >= count) {
      throw WhisperError::audioProcessingFailed("startIndex is outside the buffer size");
    }
    while (start < end - windowPadding_) {
      long long endIndex = chunkEnd(audioArray, start, end, maxChunkLength);
      if (endIndex <= start) {
        break;
      }
      if (endIndex >= end - windowPadding_) {
        // What a cut here would leave is too short for a window of its own; the chunk takes
        // it in (passing the maximum by up to the padding), so it is decoded as a window over
        // the whole signal would decode it.
        endIndex = end;
      }
      append(chunks, audioArray, start, endIndex);
      start = endIndex;
    }
    // A range no longer than the padding is a chunk of its own when a window starts on it.
    if (start < end && end - start > options.windowClipSamples(static_cast<int>(end - start))) {
      append(chunks, audioArray, start, end);
    }
  }
  return chunks;
}

} // namespace divuvovize
