#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DivuvovIze/Models/TranscriptionSegment.hpp"
#include "DivuvovIze/Models/WordTiming.hpp"
#include "platform/ml/MLMultiArray.hpp"

namespace divuvovize {

// The monotonic path that dynamic time warping finds through an alignment matrix: pairs
// (textIndices[k], timeIndices[k]), both ascending, from (0, 0) to (rows - 1, columns - 1).
struct AlignmentPath {
  std::vector<int> textIndices;
  std::vector<int> timeIndices;

  bool operator==(const AlignmentPath &) const = default;
};

// The steps that turn a window's cross-attention alignment weights into per-word timings.
// Stateless and thread-safe; the segment seeker strings them together. One column of the
// alignment matrix is 0.02 s.
class WhisperTokenizer;

struct WordTimestamps {
  // Seconds of one alignment column.
  static constexpr float secondsPerColumn = 0.02f;
  // Marks after which a long word may be cut short: ".", "。", "!", "！", "?", "？".
  static const std::vector<std::string> &sentenceEndMarks();

  // Dynamic time warping over a rows x columns matrix stored row-major in `matrix`: the path
  // of least summed cost where a cell costs minus its weight. Ties go to the left neighbour,
  // then the upper one. An empty matrix gives an empty path. Allocates (rows + 1) x (columns
  // + 1) bytes of trace; the cost keeps two rows.
  static AlignmentPath dynamicTimeWarping(std::span<const float> matrix, int rows, int columns);
  // The same over a rank-2 array of float16, float32 or float64 elements; any other rank
  // throws WhisperError::segmentingFailed("Invalid alignment matrix shape").
  static AlignmentPath dynamicTimeWarping(const platform::MLMultiArray &matrix);

  // Word timings from the path: token t of the concatenated token list starts at the column
  // where the path first reaches text row t and ends where it first reaches row t + 1 (the
  // last token at the path's last column); a word spans its tokens, and its probability is
  // exp(mean of its tokens' log-probabilities). Fewer than two words give none. Throws
  // WhisperError::segmentingFailed when the words' tokens reach beyond the path's rows or
  // `logProbs`.
  // `words` and `wordTokens` are parallel: each word's text and its tokens.
  static std::vector<WordTiming> findAlignment(const std::vector<std::string> &words,
                                               const std::vector<std::vector<int>> &wordTokens,
                                               const std::vector<float> &logProbs,
                                               const AlignmentPath &path);

  // (median, max): the upper median of the positive word durations (0 when none), capped at
  // 0.7 s, and twice that.
  static std::pair<float, float>
  calculateWordDurationConstraints(const std::vector<WordTiming> &alignment);

  // Words after the first that last longer than `maxDuration` are cut to it: a sentence-end
  // mark keeps its start, a word after one keeps its end; others are left alone.
  static std::vector<WordTiming>
  truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment, float maxDuration);

  // Opening marks (`prepended`, e.g. " (") are joined to the word after them, taking its times,
  // closing marks (`appended`, e.g. ".") to the word before them, keeping its times; marks left
  // alone and empty words are dropped. A mark's text counts when it, trimmed of whitespace,
  // occurs inside the set's string. Chains of marks ("word.\"") keep every text.
  static std::vector<WordTiming> mergePunctuations(const std::vector<WordTiming> &alignment,
                                                   std::string_view prepended,
                                                   std::string_view appended);

  // Hands the merged words out to the segments in order, each segment taking words until it
  // has as many text tokens (below `specialTokenBegin`) as it holds; words without text tokens
  // are dropped, words that lost special tokens get their text from `decode`. Times move by
  // the window's offset (seek / 16000), are rounded to 2 decimals, and short words, pauses and
  // segment edges are reconciled with `medianDuration` and `maxDuration`.
  // `lastSpeechTimestamp` (seconds) is the end of speech before the first segment. Every
  // segment comes back with a `words` list, empty when it got none.
  // All steps: the segments' tokens (all kinds) are aligned against rows 0 ..< token count of
  // `alignmentWeights` (its last dimension is the frames; rows it lacks count as 0), split into
  // words by the tokenizer, timed, limited, merged with the punctuation sets and handed out
  // to the segments. Throws WhisperError::segmentingFailed("Invalid shape in alignmentWeights")
  // for weights without a shape.
  static std::vector<TranscriptionSegment> addWordTimestamps(
      std::vector<TranscriptionSegment> segments, const platform::MLMultiArray &alignmentWeights,
      const WhisperTokenizer &tokenizer, int seek, std::string_view prependPunctuations,
      std::string_view appendPunctuations, float lastSpeechTimestamp);

  static std::vector<TranscriptionSegment> updateSegmentsWithWordTimings(
      std::vector<TranscriptionSegment> segments, const std::vector<WordTiming> &mergedAlignment,
      int seek, float lastSpeechTimestamp, float medianDuration, float maxDuration,
      int specialTokenBegin, const std::function<std::string(const std::vector<int> &)> &decode);
};

} // namespace divuvovize
