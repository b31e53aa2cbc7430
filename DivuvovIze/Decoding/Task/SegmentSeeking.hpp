#pragma once

#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DecodingResult.hpp"
#include "DivuvovIze/Models/TranscriptionSegment.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"
#include "platform/ml/MLMultiArray.hpp"

#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace divuvovize {

// Where the next window starts (samples, absolute) and the segments of the decoded window;
// no segments (not an empty list) when the window was judged silent.
using SeekPointAndSegments = std::pair<int, std::optional<std::vector<TranscriptionSegment>>>;

// Cuts a decoded window into timed segments at its timestamp tokens and decides how far the
// transcription moves on. A configuration may supply its own.
class SegmentSeeking {
public:
  virtual ~SegmentSeeking() = default;

  // `currentSeek` is the window's first sample, `segmentSize` its sample count; `timeToken` is
  // the id of "<|0.00|>"; `specialToken` is accepted and not read (text tokens are those below
  // the tokenizer's specialTokenBegin). Reads noSpeechThreshold, logProbThreshold and
  // skipSpecialTokens of `options`. Never fails.
  virtual SeekPointAndSegments
  findSeekPointAndSegments(const DecodingResult &decodingResult, const DecodingOptions &options,
                           int allSegmentsCount, int currentSeek, int segmentSize, int sampleRate,
                           int timeToken, int specialToken,
                           const WhisperTokenizer &tokenizer) const = 0;

  // The segments with their words timed from the window's alignment weights (one row per
  // token of the segments, one column per 20 ms; see WordTimestamps). `seek` is the window's
  // first sample, `lastSpeechTimestamp` (seconds) the end of speech before it; `segmentSize`,
  // `options` and `timings` are accepted and not read. Every segment comes back with a word
  // list. Throws WhisperError::segmentingFailed("Invalid shape in alignmentWeights") for
  // weights without a shape.
  virtual std::optional<std::vector<TranscriptionSegment>>
  addWordTimestamps(std::vector<TranscriptionSegment> segments,
                    const platform::MLMultiArray &alignmentWeights,
                    const WhisperTokenizer &tokenizer, int seek, int segmentSize,
                    std::string_view prependPunctuations, std::string_view appendPunctuations,
                    float lastSpeechTimestamp, const DecodingOptions &options,
                    const TranscriptionTimings &timings) const;
};

} // namespace divuvovize
