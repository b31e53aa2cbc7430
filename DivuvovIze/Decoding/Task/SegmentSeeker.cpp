#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"

#include <algorithm>

namespace divuvovize {
namespace {

constexpr float kSecondsPerTimestamp = 0.02f;

bool isSilent(const DecodingResult &result, const DecodingOptions &options) {
  if (!options.noSpeechThreshold || !(result.noSpeechProb > *options.noSpeechThreshold)) {
    return false;
  }
  return !options.logProbThreshold || result.avgLogProb <= *options.logProbThreshold;
}

} // namespace

SeekPointAndSegments SegmentSeeker::findSeekPointAndSegments(
    const DecodingResult &decodingResult, const DecodingOptions &options, int allSegmentsCount,
    int currentSeek, int segmentSize, int sampleRate, int timeToken, int /*specialToken*/,
    const WhisperTokenizer &tokenizer) const {
  if (isSilent(decodingResult, options)) {
    return {currentSeek + segmentSize, std::nullopt};
  }
  const std::vector<int> &tokens = decodingResult.tokens;
  const std::size_t count = tokens.size();
  const int specialTokenBegin = tokenizer.specialTokens().specialTokenBegin;
  const float timeOffset = static_cast<float>(currentSeek) / static_cast<float>(sampleRate);
  auto isTimestamp = [&](std::size_t i) { return tokens[i] >= timeToken; };

  std::vector<TranscriptionSegment> segments;
  auto emit = [&](std::size_t begin, std::size_t end, float start, float finish) {
    TranscriptionSegment segment;
    segment.id = allSegmentsCount + static_cast<int>(segments.size());
    segment.seek = currentSeek;
    segment.start = start;
    segment.end = finish;
    segment.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(begin),
                          tokens.begin() + static_cast<std::ptrdiff_t>(end));
    const auto &logProbs = decodingResult.tokenLogProbs;
    const std::size_t logBegin = std::min(begin, logProbs.size());
    const std::size_t logEnd = std::min(end, logProbs.size());
    segment.tokenLogProbs.assign(logProbs.begin() + static_cast<std::ptrdiff_t>(logBegin),
                                 logProbs.begin() + static_cast<std::ptrdiff_t>(logEnd));
    if (options.skipSpecialTokens) {
      std::vector<int> text;
      std::copy_if(segment.tokens.begin(), segment.tokens.end(), std::back_inserter(text),
                   [&](int token) { return token < specialTokenBegin; });
      segment.text = tokenizer.decode(text);
    } else {
      segment.text = tokenizer.decode(segment.tokens);
    }
    segment.temperature = decodingResult.temperature;
    segment.avgLogprob = decodingResult.avgLogProb;
    segment.compressionRatio = decodingResult.compressionRatio;
    segment.noSpeechProb = decodingResult.noSpeechProb;
    segments.push_back(std::move(segment));
  };

  bool singleTimestampEnding = false;
  bool noTimestampEnding = false;
  if (count >= 3) {
    const bool a = isTimestamp(count - 3);
    const bool b = isTimestamp(count - 2);
    const bool c = isTimestamp(count - 1);
    singleTimestampEnding = !a && b && !c;
    noTimestampEnding = !a && !b && !c;
  }

  std::vector<std::size_t> sliceEnds;
  for (std::size_t i = 1; i < count; ++i) {
    if (isTimestamp(i) && isTimestamp(i - 1)) {
      sliceEnds.push_back(i);
    }
  }

  if (!sliceEnds.empty()) {
    if (singleTimestampEnding) {
      std::size_t lastTimestamp = count;
      for (std::size_t i = count; i-- > 0;) {
        if (isTimestamp(i)) {
          lastTimestamp = i;
          break;
        }
      }
      sliceEnds.push_back(lastTimestamp + 1);
    } else if (noTimestampEnding) {
      sliceEnds.push_back(count);
    }
    std::size_t sliceStart = 0;
    for (const std::size_t sliceEnd : sliceEnds) {
      std::optional<int> first;
      int last = 0;
      for (std::size_t i = sliceStart; i < sliceEnd; ++i) {
        if (isTimestamp(i)) {
          first = first.value_or(tokens[i]);
          last = tokens[i];
        }
      }
      if (first) {
        emit(sliceStart, sliceEnd,
             timeOffset + static_cast<float>(*first - timeToken) * kSecondsPerTimestamp,
             timeOffset + static_cast<float>(last - timeToken) * kSecondsPerTimestamp);
      }
      sliceStart = sliceEnd;
    }
    if (noTimestampEnding) {
      return {currentSeek + segmentSize, std::move(segments)};
    }
    const std::size_t lastSliceEnd = sliceEnds.back();
    const int token = tokens[singleTimestampEnding ? lastSliceEnd - 1 : lastSliceEnd];
    const float seconds = static_cast<float>(token - timeToken) * kSecondsPerTimestamp;
    const float samples = seconds * static_cast<float>(sampleRate);
    return {currentSeek + static_cast<int>(samples), std::move(segments)};
  }

  std::optional<int> lastTimestamp;
  for (const int token : tokens) {
    if (token > timeToken) {
      lastTimestamp = token;
    }
  }
  const float duration = lastTimestamp
                             ? static_cast<float>(*lastTimestamp - timeToken) * kSecondsPerTimestamp
                             : static_cast<float>(segmentSize) / static_cast<float>(sampleRate);
  emit(0, count, timeOffset, timeOffset + duration);
  return {currentSeek + segmentSize, std::move(segments)};
}

} // namespace divuvovize
