#include "DivuvovIze/Decoding/Timing/WordTimestamps.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "DeduveCore/Support/StringUtilities.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/Float16.hpp"

namespace divuvovize {
namespace {

bool isWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isWhitespace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isWhitespace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// An empty text is never inside a set.
bool isContained(std::string_view text, std::string_view set) {
  return !text.empty() && set.find(text) != std::string_view::npos;
}

float round2(float value) { return deduve::rounded(value, 2); }

float elementAsFloat(const platform::MLMultiArray &array, int offset) {
  switch (array.dataType()) {
  case platform::MLMultiArrayDataType::float16:
    return static_cast<float>(array.data<platform::Float16>()[offset]);
  case platform::MLMultiArrayDataType::float32:
    return array.data<float>()[offset];
  default:
    return static_cast<float>(array.value(offset));
  }
}

} // namespace

const std::vector<std::string> &WordTimestamps::sentenceEndMarks() {
  static const std::vector<std::string> marks = {".", "\u3002", "!", "\uFF01", "?", "\uFF1F"};
  return marks;
}

AlignmentPath WordTimestamps::dynamicTimeWarping(std::span<const float> matrix, int rows,
                                                 int columns) {
  AlignmentPath path;
  if (rows <= 0 || columns <= 0 ||
      matrix.size() < static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns)) {
    return path;
  }
  const auto width = static_cast<std::size_t>(columns) + 1;
  constexpr double infinity = std::numeric_limits<double>::infinity();
  // trace: 0 diagonal, 1 up, 2 left. Row 0 moves left, column 0 moves up.
  std::vector<std::int8_t> trace((static_cast<std::size_t>(rows) + 1) * width, 2);
  std::vector<double> previous(width, infinity);
  std::vector<double> current(width, infinity);
  previous[0] = 0;
  for (int i = 1; i <= rows; ++i) {
    current[0] = infinity;
    trace[static_cast<std::size_t>(i) * width] = 1;
    const float *weights = matrix.data() + static_cast<std::size_t>(i - 1) * columns;
    std::int8_t *traceRow = trace.data() + static_cast<std::size_t>(i) * width;
    for (std::size_t j = 1; j < width; ++j) {
      const double x = weights[j - 1];
      const double c0 = previous[j - 1] - x;
      const double c1 = previous[j] - x;
      const double c2 = current[j - 1] - x;
      if (c0 < c1 && c0 < c2) {
        current[j] = c0;
        traceRow[j] = 0;
      } else if (c1 < c0 && c1 < c2) {
        current[j] = c1;
        traceRow[j] = 1;
      } else {
        current[j] = c2;
        traceRow[j] = 2;
      }
    }
    std::swap(previous, current);
  }

  std::size_t i = static_cast<std::size_t>(rows);
  std::size_t j = static_cast<std::size_t>(columns);
  path.textIndices.reserve(i + j);
  path.timeIndices.reserve(i + j);
  while (i > 0 || j > 0) {
    path.textIndices.push_back(static_cast<int>(i) - 1);
    path.timeIndices.push_back(static_cast<int>(j) - 1);
    const std::int8_t step = trace[i * width + j];
    if (step == 0) {
      --i;
      --j;
    } else if (step == 1) {
      --i;
    } else {
      --j;
    }
  }
  std::reverse(path.textIndices.begin(), path.textIndices.end());
  std::reverse(path.timeIndices.begin(), path.timeIndices.end());
  return path;
}

AlignmentPath WordTimestamps::dynamicTimeWarping(const platform::MLMultiArray &matrix) {
  if (matrix.shape().size() != 2) {
    throw WhisperError::segmentingFailed("Invalid alignment matrix shape");
  }
  const int rows = matrix.shape()[0];
  const int columns = matrix.shape()[1];
  std::vector<float> values(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  const auto &strides = matrix.strides();
  for (int r = 0; r < rows; ++r) {
    float *row = values.data() + static_cast<std::size_t>(r) * columns;
    const std::size_t base = static_cast<std::size_t>(r) * static_cast<std::size_t>(strides[0]);
    const auto column = [&](int c) {
      return base + static_cast<std::size_t>(c) * static_cast<std::size_t>(strides[1]);
    };
    switch (matrix.dataType()) {
    case platform::MLMultiArrayDataType::float32: {
      const float *data = matrix.data<float>();
      for (int c = 0; c < columns; ++c) {
        row[c] = data[column(c)];
      }
      break;
    }
    case platform::MLMultiArrayDataType::float16: {
      const platform::Float16 *data = matrix.data<platform::Float16>();
      for (int c = 0; c < columns; ++c) {
        row[c] = static_cast<float>(data[column(c)]);
      }
      break;
    }
    default:
      for (int c = 0; c < columns; ++c) {
        row[c] = static_cast<float>(matrix.value(std::vector<int>{r, c}));
      }
      break;
    }
  }
  return dynamicTimeWarping(values, rows, columns);
}

std::vector<WordTiming>
WordTimestamps::findAlignment(const std::vector<std::string> &words,
                              const std::vector<std::vector<int>> &wordTokens,
                              const std::vector<float> &logProbs, const AlignmentPath &path) {
  if (words.size() < 2 || wordTokens.size() != words.size()) {
    return {};
  }
  // startTimes[t] / endTimes[t]: where the path enters text row t and row t + 1.
  std::vector<float> startTimes{0.0f};
  std::vector<float> endTimes;
  for (std::size_t k = 1; k < path.textIndices.size(); ++k) {
    if (path.textIndices[k] != path.textIndices[k - 1]) {
      const float time = static_cast<float>(path.timeIndices[k]) * secondsPerColumn;
      startTimes.push_back(time);
      endTimes.push_back(time);
    }
  }
  const int lastColumn = path.timeIndices.empty() ? 1500 : path.timeIndices.back();
  endTimes.push_back(static_cast<float>(lastColumn) * secondsPerColumn);

  std::vector<WordTiming> timings;
  timings.reserve(words.size());
  std::size_t position = 0;
  for (std::size_t w = 0; w < words.size(); ++w) {
    const std::vector<int> &tokens = wordTokens[w];
    const std::size_t count = tokens.size();
    if (count == 0) {
      continue;
    }
    const std::size_t last = position + count - 1;
    if (last >= startTimes.size() || last >= endTimes.size() || last >= logProbs.size()) {
      throw WhisperError::segmentingFailed("Word alignment needs " + std::to_string(last + 1) +
                                           " tokens but the path covers " +
                                           std::to_string(endTimes.size()) + " and there are " +
                                           std::to_string(logProbs.size()) + " log-probabilities");
    }
    float sum = 0;
    for (std::size_t t = position; t <= last; ++t) {
      sum += logProbs[t];
    }
    timings.push_back(WordTiming{words[w], tokens, startTimes[position], endTimes[last],
                                 std::exp(sum / static_cast<float>(count))});
    position += count;
  }
  return timings;
}

std::pair<float, float>
WordTimestamps::calculateWordDurationConstraints(const std::vector<WordTiming> &alignment) {
  std::vector<float> durations;
  durations.reserve(alignment.size());
  for (const auto &word : alignment) {
    const float duration = word.end - word.start;
    if (duration > 0) {
      durations.push_back(duration);
    }
  }
  float median = 0;
  if (!durations.empty()) {
    std::sort(durations.begin(), durations.end());
    median = durations[durations.size() / 2];
  }
  median = std::min(median, 0.7f);
  return {median, 2 * median};
}

std::vector<WordTiming>
WordTimestamps::truncateLongWordsAtSentenceBoundaries(std::vector<WordTiming> alignment,
                                                      float maxDuration) {
  const auto &marks = sentenceEndMarks();
  const auto isMark = [&](const std::string &text) {
    return std::find(marks.begin(), marks.end(), text) != marks.end();
  };
  for (std::size_t i = 1; i < alignment.size(); ++i) {
    auto &word = alignment[i];
    if (word.end - word.start <= maxDuration) {
      continue;
    }
    if (isMark(word.word)) {
      word.end = word.start + maxDuration;
    } else if (isMark(alignment[i - 1].word)) {
      word.start = word.end - maxDuration;
    }
  }
  return alignment;
}

std::vector<WordTiming> WordTimestamps::mergePunctuations(const std::vector<WordTiming> &alignment,
                                                          std::string_view prepended,
                                                          std::string_view appended) {
  const auto join = [](WordTiming &into, const WordTiming &next) {
    into.word += next.word;
    into.tokens.insert(into.tokens.end(), next.tokens.begin(), next.tokens.end());
  };

  // Opening marks join the following word and take its times.
  std::vector<WordTiming> opened;
  opened.reserve(alignment.size());
  for (std::size_t i = 0; i < alignment.size(); ++i) {
    const WordTiming &current = alignment[i];
    if (i == 0) {
      if (!isContained(trimmed(current.word), prepended)) {
        opened.push_back(current);
      }
      continue;
    }
    const WordTiming &previous = alignment[i - 1];
    const bool previousOpens = !previous.word.empty() && isWhitespace(previous.word.front()) &&
                               isContained(trimmed(previous.word), prepended);
    if (!previousOpens) {
      opened.push_back(current);
      continue;
    }
    if (opened.empty()) {
      opened.push_back(previous);
    }
    WordTiming &merged = opened.back();
    join(merged, current);
    merged.start = current.start;
    merged.end = current.end;
    merged.probability = current.probability;
  }

  // Closing marks join the preceding word and keep its times.
  std::vector<WordTiming> closed;
  closed.reserve(opened.size());
  for (std::size_t i = 0; i < opened.size(); ++i) {
    const WordTiming &current = opened[i];
    if (i == 0) {
      closed.push_back(current);
      continue;
    }
    const WordTiming &previous = opened[i - 1];
    const bool previousEndsWithSpace = !previous.word.empty() && previous.word.back() == ' ';
    if (previousEndsWithSpace || !isContained(trimmed(current.word), appended)) {
      closed.push_back(current);
      continue;
    }
    join(closed.back(), current);
  }

  std::vector<WordTiming> kept;
  kept.reserve(closed.size());
  for (auto &word : closed) {
    if (word.word.empty() || isContained(word.word, appended) ||
        isContained(word.word, prepended)) {
      continue;
    }
    kept.push_back(std::move(word));
  }
  return kept;
}

std::vector<TranscriptionSegment> WordTimestamps::updateSegmentsWithWordTimings(
    std::vector<TranscriptionSegment> segments, const std::vector<WordTiming> &mergedAlignment,
    int seek, float lastSpeechTimestamp, float medianDuration, float maxDuration,
    int specialTokenBegin, const std::function<std::string(const std::vector<int> &)> &decode) {
  const float timeOffset = static_cast<float>(seek) / 16000.0f;
  std::size_t cursor = 0;
  std::optional<float> previousSegmentEnd;
  for (auto &segment : segments) {
    const auto textTokenCount = static_cast<std::size_t>(
        std::count_if(segment.tokens.begin(), segment.tokens.end(),
                      [&](int token) { return token < specialTokenBegin; }));
    std::vector<WordTiming> words;
    std::size_t taken = 0;
    while (cursor < mergedAlignment.size() && taken < textTokenCount) {
      const WordTiming &timing = mergedAlignment[cursor++];
      std::vector<int> textTokens;
      textTokens.reserve(timing.tokens.size());
      for (int token : timing.tokens) {
        if (token < specialTokenBegin) {
          textTokens.push_back(token);
        }
      }
      if (textTokens.empty()) {
        continue;
      }
      WordTiming word;
      word.word = textTokens.size() == timing.tokens.size() ? timing.word : decode(textTokens);
      word.start = round2(timing.start + timeOffset);
      word.end = round2(timing.end + timeOffset);
      if (word.end - word.start < 0.25f * medianDuration) {
        const std::optional<float> previousEnd =
            words.empty() ? previousSegmentEnd : std::optional<float>(words.back().end);
        if (previousEnd && word.start > *previousEnd) {
          word.start =
              round2(word.start - std::min(0.5f * medianDuration, word.start - *previousEnd));
        }
      }
      word.probability = round2(timing.probability);
      taken += textTokens.size();
      word.tokens = std::move(textTokens);
      words.push_back(std::move(word));
    }

    if (!words.empty()) {
      WordTiming &first = words.front();
      // A first word that starts long after the last speech and lasts too long most likely
      // swallowed the pause before it.
      if (first.end - lastSpeechTimestamp > 4 * medianDuration &&
          (first.end - first.start > maxDuration ||
           (words.size() >= 2 && words[1].end - first.start > 2 * maxDuration))) {
        if (words.size() >= 2 && words[1].end - words[1].start > maxDuration) {
          const float boundary = std::max(words[1].end / 2, words[1].end - maxDuration);
          first.end = boundary;
          words[1].start = boundary;
        }
        first.start = std::max(lastSpeechTimestamp, first.end - maxDuration);
        lastSpeechTimestamp = first.start;
      }
      if (segment.start < first.end && segment.start - 0.5f > first.start) {
        first.start = std::max(0.0f, std::min(segment.start, first.end - medianDuration));
      } else {
        segment.start = first.start;
      }
      WordTiming &last = words.back();
      if (segment.end > last.start && segment.end + 0.5f < last.end) {
        last.end = std::max(last.start + medianDuration, segment.end);
        lastSpeechTimestamp = segment.end;
      } else {
        segment.end = last.end;
        lastSpeechTimestamp = last.end;
      }
    }
    segment.words = std::move(words);
    previousSegmentEnd = segment.end;
  }
  return segments;
}

std::vector<TranscriptionSegment> WordTimestamps::addWordTimestamps(
    std::vector<TranscriptionSegment> segments, const platform::MLMultiArray &alignmentWeights,
    const WhisperTokenizer &tokenizer, int seek, std::string_view prependPunctuations,
    std::string_view appendPunctuations, float lastSpeechTimestamp) {
  std::vector<int> tokens;
  std::vector<float> logProbs;
  for (const auto &segment : segments) {
    for (std::size_t i = 0; i < segment.tokens.size(); ++i) {
      const int token = segment.tokens[i];
      tokens.push_back(token);
      if (i < segment.tokenLogProbs.size()) {
        if (const auto found = segment.tokenLogProbs[i].find(token);
            found != segment.tokenLogProbs[i].end()) {
          logProbs.push_back(found->second);
        }
      }
    }
  }
  if (alignmentWeights.shape().empty()) {
    throw WhisperError::segmentingFailed("Invalid shape in alignmentWeights");
  }
  const int columns = alignmentWeights.shape().back();
  const int rows = static_cast<int>(tokens.size());
  // Row r of the work matrix is row r of the weights; rows the weights lack stay 0.
  std::vector<float> matrix(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  const long available = alignmentWeights.count();
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const long offset = static_cast<long>(r) * columns + c;
      if (offset >= available) {
        break;
      }
      matrix[static_cast<std::size_t>(offset)] =
          elementAsFloat(alignmentWeights, static_cast<int>(offset));
    }
  }
  if (modelslog::debugEnabled()) {
    modelslog::debug("Alignment weights shape: [" + std::to_string(rows) + ", " +
                     std::to_string(columns) + "]");
  }
  const AlignmentPath path = dynamicTimeWarping(matrix, rows, columns);
  const WordTokens split = tokenizer.splitToWordTokens(tokens);
  std::vector<WordTiming> alignment = findAlignment(split.words, split.wordTokens, logProbs, path);
  const auto [median, maxDuration] = calculateWordDurationConstraints(alignment);
  alignment = truncateLongWordsAtSentenceBoundaries(std::move(alignment), maxDuration);
  if (!alignment.empty()) {
    alignment = mergePunctuations(alignment, prependPunctuations, appendPunctuations);
  }
  return updateSegmentsWithWordTimings(
      std::move(segments), alignment, seek, lastSpeechTimestamp, median, maxDuration,
      tokenizer.specialTokens().specialTokenBegin,
      [&](const std::vector<int> &ids) { return tokenizer.decode(ids); });
}

} // namespace divuvovize
