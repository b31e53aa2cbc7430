#include "DivuvovIze/Decoding/Task/SegmentSeeking.hpp"

#include "DivuvovIze/Decoding/Timing/WordTimestamps.hpp"

namespace divuvovize {

std::optional<std::vector<TranscriptionSegment>> SegmentSeeking::addWordTimestamps(
    std::vector<TranscriptionSegment> segments, const platform::MLMultiArray &alignmentWeights,
    const WhisperTokenizer &tokenizer, int seek, int /*segmentSize*/,
    std::string_view prependPunctuations, std::string_view appendPunctuations,
    float lastSpeechTimestamp, const DecodingOptions & /*options*/,
    const TranscriptionTimings & /*timings*/) const {
  return WordTimestamps::addWordTimestamps(std::move(segments), alignmentWeights, tokenizer, seek,
                                           prependPunctuations, appendPunctuations,
                                           lastSpeechTimestamp);
}

} // namespace divuvovize
