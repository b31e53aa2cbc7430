#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "DivuvovIze/Models/TranscriptionResult.hpp"

namespace divuvovize {

// The outcome of one item of a list operation: its results, or the error that stopped it.
using TranscriptionOutcome =
    std::variant<std::vector<std::shared_ptr<TranscriptionResult>>, std::exception_ptr>;

// Operations on segments and results of transcriptions done in pieces.
struct TranscriptionUtilities {
  // One line per segment: "[start --> end] text" with times "%.2f", or the text alone.
  static std::vector<std::string> formatSegments(const std::vector<TranscriptionSegment> &segments,
                                                 bool withTimestamps);

  // A copy of `segment` moved by `seekTime` seconds: seek += int(16000 x seekTime) (truncated),
  // start/end and every word's start/end += seekTime. A NaN seek time leaves `seek` as it is;
  // a sample offset or sum beyond the int range saturates.
  static TranscriptionSegment updateSegmentTimings(const TranscriptionSegment &segment,
                                                   float seekTime);

  // The leading words of `second` equal to `first`'s at the same positions after
  // normalized().
  static std::vector<WordTiming> findLongestCommonPrefix(const std::vector<WordTiming> &first,
                                                         const std::vector<WordTiming> &second);
  // `second` without its common prefix with `first`.
  static std::vector<WordTiming> findLongestDifferentSuffix(const std::vector<WordTiming> &first,
                                                            const std::vector<WordTiming> &second);

  // One new result from several (nullptr entries are absent results): text from the confirmed
  // words when given, else the texts joined by one blank; segments renumbered r + s; the first
  // language ("en" without one); timings combined so that they describe the whole run
  // (fullPipeline counts pieces that ran side by side once); no seek time.
  static std::shared_ptr<TranscriptionResult> mergeTranscriptionResults(
      const std::vector<std::shared_ptr<TranscriptionResult>> &results,
      const std::optional<std::vector<WordTiming>> &confirmedWords = std::nullopt);
};

// Per-item outcomes to optional result lists, in order: a failure becomes nullopt.
std::vector<std::optional<std::vector<std::shared_ptr<TranscriptionResult>>>>
resultsToOptionalArrays(const std::vector<TranscriptionOutcome> &outcomes);

} // namespace divuvovize
