#pragma once

#include "DivuvovIze/Decoding/Task/SegmentSeeking.hpp"

namespace divuvovize {

// The standard seeker. Stateless; safe to share between threads.
//
// A window is silent when noSpeechThreshold is set, noSpeechProb exceeds it, and
// logProbThreshold is absent or avgLogProb is at most it: the window yields no segments and the
// seek moves by the whole window. Otherwise every pair of consecutive timestamp tokens closes a
// segment; text after the last pair ends the last segment when the window ends in text (or in
// one timestamp and end-of-text). Without any pair the whole window is one segment. The seek
// moves to the last closed timestamp (one timestamp step is 0.02 s, computed in float and
// truncated to samples), or by the whole window when the window ends in text.
class SegmentSeeker : public SegmentSeeking {
public:
  SegmentSeeker() = default;

  SeekPointAndSegments findSeekPointAndSegments(const DecodingResult &decodingResult,
                                                const DecodingOptions &options,
                                                int allSegmentsCount, int currentSeek,
                                                int segmentSize, int sampleRate, int timeToken,
                                                int specialToken,
                                                const WhisperTokenizer &tokenizer) const override;
};

} // namespace divuvovize
