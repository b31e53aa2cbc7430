#pragma once

#include "DivuvovIze/Decoding/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DecodingResult.hpp"
#include "DivuvovIze/Models/TranscriptionSegment.hpp"

#include <optional>
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
};

} // namespace divuvovize
