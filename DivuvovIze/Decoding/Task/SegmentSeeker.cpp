#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

namespace divuvovize {
namespace {

constexpr float kSecondsPerTimestamp = 0.02f;

bool isSilent(const DecodingResult &result, const DecodingOptions &options) {
  if (!options.noSpeechThreshold || !(result.noSpeechProb > *options.noSpeechThreshold)) {
    return false;
  }
  return !options.logProbThreshold || result.avgLogProb <= *options.logProbThreshold;
}

// One window's decoded tokens and what the segments cut from them need.
struct WindowTokens {
  const DecodingResult &result;
  const DecodingOptions &options;
  const WhisperTokenizer &tokenizer;
  int firstSegmentId = 0;
  int seek = 0;
  int segmentSize = 0;
  int sampleRate = 0;
  int timeToken = 0;
  float timeOffset = 0;

  std::size_t count() const { return result.tokens.size(); }
  bool isTimestamp(std::size_t i) const { return result.tokens[i] >= timeToken; }
  float secondsOf(int timestampToken) const {
    return static_cast<float>(timestampToken - timeToken) * kSecondsPerTimestamp;
  }

  // The segment of tokens begin ..< end, from `start` to `finish` seconds, numbered after
  // `segments`.
  void append(std::vector<TranscriptionSegment> &segments, std::size_t begin, std::size_t end,
              float start, float finish) const;
};

void WindowTokens::append(std::vector<TranscriptionSegment> &segments, std::size_t begin,
                          std::size_t end, float start, float finish) const {
  const std::vector<int> &tokens = result.tokens;
  TranscriptionSegment segment;
  segment.id = firstSegmentId + static_cast<int>(segments.size());
  segment.seek = seek;
  segment.start = start;
  segment.end = finish;
  segment.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(begin),
                        tokens.begin() + static_cast<std::ptrdiff_t>(end));
  const auto &logProbs = result.tokenLogProbs;
  const std::size_t logBegin = std::min(begin, logProbs.size());
  const std::size_t logEnd = std::min(end, logProbs.size());
  segment.tokenLogProbs.assign(logProbs.begin() + static_cast<std::ptrdiff_t>(logBegin),
                               logProbs.begin() + static_cast<std::ptrdiff_t>(logEnd));
  if (options.skipSpecialTokens) {
    const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
    std::vector<int> text;
    std::copy_if(segment.tokens.begin(), segment.tokens.end(), std::back_inserter(text),
                 [&](int token) { return token < specialTokenBegin; });
    segment.text = tokenizer.decode(text);
  } else {
    segment.text = tokenizer.decode(segment.tokens);
  }
  segment.temperature = result.temperature;
  segment.avgLogprob = result.avgLogProb;
  segment.compressionRatio = result.compressionRatio;
  segment.noSpeechProb = result.noSpeechProb;
  segments.push_back(std::move(segment));
}

// Without two timestamps in a row, the whole window is one segment lasting to its last
// timestamp (or the window's length without one); the next window starts after this one.
SeekPointAndSegments oneSegment(const WindowTokens &window) {
  std::optional<int> lastTimestamp;
  for (const int token : window.result.tokens) {
    if (token > window.timeToken) {
      lastTimestamp = token;
    }
  }
  const float duration = lastTimestamp ? window.secondsOf(*lastTimestamp)
                                       : static_cast<float>(window.segmentSize) /
                                             static_cast<float>(window.sampleRate);
  std::vector<TranscriptionSegment> segments;
  window.append(segments, 0, window.count(), window.timeOffset, window.timeOffset + duration);
  return {window.seek + window.segmentSize, std::move(segments)};
}

// Cuts the window after each pair of timestamps in a row (`sliceEnds`), keeping the slices that
// hold a timestamp. The next window starts at the last timestamp, or after this window when the
// tokens end without one.
SeekPointAndSegments segmentsBetweenTimestamps(const WindowTokens &window,
                                               std::vector<std::size_t> sliceEnds) {
  const std::size_t count = window.count();
  bool singleTimestampEnding = false;
  bool noTimestampEnding = false;
  if (count >= 3) {
    const bool a = window.isTimestamp(count - 3);
    const bool b = window.isTimestamp(count - 2);
    const bool c = window.isTimestamp(count - 1);
    singleTimestampEnding = !a && b && !c;
    noTimestampEnding = !a && !b && !c;
  }
  if (singleTimestampEnding) {
    std::size_t lastTimestamp = count;
    for (std::size_t i = count; i-- > 0;) {
      if (window.isTimestamp(i)) {
        lastTimestamp = i;
        break;
      }
    }
    sliceEnds.push_back(lastTimestamp + 1);
  } else if (noTimestampEnding) {
    sliceEnds.push_back(count);
  }

  const std::vector<int> &tokens = window.result.tokens;
  std::vector<TranscriptionSegment> segments;
  std::size_t sliceStart = 0;
  for (const std::size_t sliceEnd : sliceEnds) {
    std::optional<int> first;
    int last = 0;
    for (std::size_t i = sliceStart; i < sliceEnd; ++i) {
      if (window.isTimestamp(i)) {
        first = first.value_or(tokens[i]);
        last = tokens[i];
      }
    }
    if (first) {
      window.append(segments, sliceStart, sliceEnd, window.timeOffset + window.secondsOf(*first),
                    window.timeOffset + window.secondsOf(last));
    }
    sliceStart = sliceEnd;
  }
  if (noTimestampEnding) {
    return {window.seek + window.segmentSize, std::move(segments)};
  }
  const std::size_t lastSliceEnd = sliceEnds.back();
  const int token = tokens[singleTimestampEnding ? lastSliceEnd - 1 : lastSliceEnd];
  const float samples = window.secondsOf(token) * static_cast<float>(window.sampleRate);
  return {window.seek + static_cast<int>(samples), std::move(segments)};
}

} // namespace

SeekPointAndSegments SegmentSeeker::findSeekPointAndSegments(
    const DecodingResult &decodingResult, const DecodingOptions &options, int allSegmentsCount,
    int currentSeek, int segmentSize, int sampleRate, int timeToken, int /*specialToken*/,
    const WhisperTokenizer &tokenizer) const {
  if (isSilent(decodingResult, options)) {
    return {currentSeek + segmentSize, std::nullopt};
  }
  const WindowTokens window{decodingResult,
                            options,
                            tokenizer,
                            allSegmentsCount,
                            currentSeek,
                            segmentSize,
                            sampleRate,
                            timeToken,
                            static_cast<float>(currentSeek) / static_cast<float>(sampleRate)};
  std::vector<std::size_t> sliceEnds;
  for (std::size_t i = 1; i < window.count(); ++i) {
    if (window.isTimestamp(i) && window.isTimestamp(i - 1)) {
      sliceEnds.push_back(i);
    }
  }
  return sliceEnds.empty() ? oneSegment(window)
                           : segmentsBetweenTimestamps(window, std::move(sliceEnds));
}

} // namespace divuvovize
