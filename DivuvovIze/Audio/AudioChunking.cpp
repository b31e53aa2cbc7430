#include "DivuvovIze/Audio/AudioChunking.hpp"

#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "platform/system/ExceptionDescription.hpp"

#include <stdexcept>
#include <string>

namespace divuvovize {

using platform::describe;

AudioChunking::~AudioChunking() = default;

std::vector<std::shared_ptr<TranscriptionResult>> AudioChunking::updateSeekOffsetsForResults(
    const std::vector<ChunkTranscriptionResult> &chunkedResults,
    const std::vector<AudioChunk> &audioChunks) const {
  if (audioChunks.size() < chunkedResults.size()) {
    throw std::invalid_argument(
        "updateSeekOffsetsForResults: " + std::to_string(chunkedResults.size()) + " results for " +
        std::to_string(audioChunks.size()) + " chunks");
  }
  std::vector<std::shared_ptr<TranscriptionResult>> merged;
  for (std::size_t i = 0; i < chunkedResults.size(); ++i) {
    const auto &outcome = chunkedResults[i].value;
    if (const auto *error = std::get_if<std::exception_ptr>(&outcome)) {
      modelslog::debug("Error transcribing chunk " + std::to_string(i) + ": " + describe(*error));
      continue;
    }
    const auto &results = std::get<0>(outcome);
    // Single precision on purpose: the offsets are the same numbers the chunk's own timings
    // are made of.
    const float offsetSeconds = static_cast<float>(audioChunks[i].seekOffsetIndex) / 16000.0f;
    const int offsetSamples = static_cast<int>(offsetSeconds * 16000.0f);
    for (const auto &result : results) {
      if (!result) {
        continue;
      }
      result->modifySegments([&](std::vector<TranscriptionSegment> &segments) {
        for (auto &segment : segments) {
          segment.seek += offsetSamples;
          segment.start += offsetSeconds;
          segment.end += offsetSeconds;
          if (segment.words) {
            for (auto &word : *segment.words) {
              word.start += offsetSeconds;
              word.end += offsetSeconds;
            }
          }
        }
      });
      result->setSeekTime(offsetSeconds);
      merged.push_back(result);
    }
  }
  return merged;
}

} // namespace divuvovize
