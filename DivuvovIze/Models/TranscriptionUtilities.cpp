#include "DivuvovIze/Models/TranscriptionUtilities.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"

namespace divuvovize {

std::vector<std::string>
TranscriptionUtilities::formatSegments(const std::vector<TranscriptionSegment> &segments,
                                       bool withTimestamps) {
  std::vector<std::string> lines;
  lines.reserve(segments.size());
  for (const auto &segment : segments) {
    if (withTimestamps) {
      std::string line = "[";
      line.append(numbers::fixed(segment.start, 2))
          .append(" --> ")
          .append(numbers::fixed(segment.end, 2))
          .append("] ")
          .append(segment.text);
      lines.push_back(std::move(line));
    } else {
      lines.push_back(segment.text);
    }
  }
  return lines;
}

TranscriptionSegment
TranscriptionUtilities::updateSegmentTimings(const TranscriptionSegment &segment, float seekTime) {
  TranscriptionSegment moved = segment;
  // Truncated toward zero; a NaN moves nothing, and an offset or sum beyond the integer range
  // saturates instead of converting or overflowing undefinedly.
  const float samples = std::trunc(16000.0f * seekTime);
  std::int64_t offset = 0;
  if (samples >= 2147483647.0f) {
    offset = std::numeric_limits<int>::max();
  } else if (samples <= -2147483648.0f) {
    offset = std::numeric_limits<int>::min();
  } else if (!std::isnan(samples)) {
    offset = static_cast<std::int64_t>(samples);
  }
  moved.seek = static_cast<int>(
      std::clamp<std::int64_t>(static_cast<std::int64_t>(segment.seek) + offset,
                               std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
  moved.start += seekTime;
  moved.end += seekTime;
  if (moved.words) {
    for (auto &word : *moved.words) {
      word.start += seekTime;
      word.end += seekTime;
    }
  }
  return moved;
}

namespace {

std::size_t commonPrefixLength(const std::vector<WordTiming> &first,
                               const std::vector<WordTiming> &second) {
  const std::size_t limit = std::min(first.size(), second.size());
  std::size_t n = 0;
  while (n < limit && normalized(first[n].word) == normalized(second[n].word)) {
    ++n;
  }
  return n;
}

} // namespace

std::vector<WordTiming>
TranscriptionUtilities::findLongestCommonPrefix(const std::vector<WordTiming> &first,
                                                const std::vector<WordTiming> &second) {
  const auto n = commonPrefixLength(first, second);
  return {second.begin(), second.begin() + static_cast<std::ptrdiff_t>(n)};
}

std::vector<WordTiming>
TranscriptionUtilities::findLongestDifferentSuffix(const std::vector<WordTiming> &first,
                                                   const std::vector<WordTiming> &second) {
  const auto n = commonPrefixLength(first, second);
  return {second.begin() + static_cast<std::ptrdiff_t>(n), second.end()};
}

std::shared_ptr<TranscriptionResult> TranscriptionUtilities::mergeTranscriptionResults(
    const std::vector<std::shared_ptr<TranscriptionResult>> &results,
    const std::optional<std::vector<WordTiming>> &confirmedWords) {
  std::string text;
  if (confirmedWords) {
    for (const auto &word : *confirmedWords) {
      text += word.word;
    }
  } else {
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (i > 0) {
        text += ' ';
      }
      if (results[i]) {
        text += results[i]->text();
      }
    }
  }

  std::vector<std::shared_ptr<TranscriptionResult>> valid;
  for (const auto &result : results) {
    if (result) {
      valid.push_back(result);
    }
  }

  std::vector<TranscriptionSegment> segments;
  std::vector<TranscriptionTimings> timings;
  timings.reserve(valid.size());
  for (std::size_t r = 0; r < valid.size(); ++r) {
    const auto resultSegments = valid[r]->segments();
    for (std::size_t s = 0; s < resultSegments.size(); ++s) {
      TranscriptionSegment copy = resultSegments[s];
      copy.id = static_cast<int>(r + s);
      segments.push_back(std::move(copy));
    }
    timings.push_back(valid[r]->timings());
  }
  const std::string language = valid.empty() ? std::string("en") : valid.front()->language();

  TranscriptionTimings merged;
  const auto smallest = [&timings](double TranscriptionTimings::*member) {
    if (timings.empty()) {
      return 0.0;
    }
    double value = timings.front().*member;
    for (const auto &t : timings) {
      value = std::min(value, t.*member);
    }
    return value;
  };
  const auto largest = [&timings](double TranscriptionTimings::*member) {
    double value = 0.0;
    for (std::size_t i = 0; i < timings.size(); ++i) {
      value = i == 0 ? timings[i].*member : std::max(value, timings[i].*member);
    }
    return value;
  };
  const auto sum = [&timings](double TranscriptionTimings::*member) {
    double value = 0.0;
    for (const auto &t : timings) {
      value += t.*member;
    }
    return value;
  };

  merged.pipelineStart = smallest(&TranscriptionTimings::pipelineStart);
  merged.firstTokenTime = smallest(&TranscriptionTimings::firstTokenTime);
  merged.inputAudioSeconds = sum(&TranscriptionTimings::inputAudioSeconds);
  merged.modelLoading = largest(&TranscriptionTimings::modelLoading);
  merged.prewarmLoadTime = largest(&TranscriptionTimings::prewarmLoadTime);
  merged.encoderLoadTime = largest(&TranscriptionTimings::encoderLoadTime);
  merged.decoderLoadTime = largest(&TranscriptionTimings::decoderLoadTime);
  merged.encoderSpecializationTime = 0;
  merged.decoderSpecializationTime = 0;
  merged.tokenizerLoadTime = largest(&TranscriptionTimings::tokenizerLoadTime);
  // Fields 11 to 32 (audioLoading ... totalDecodingWindows) add up.
  const auto &fields = TranscriptionTimings::fields();
  for (std::size_t i = 10; i < 32; ++i) {
    merged.*fields[i].member = sum(fields[i].member);
  }
  double latestEnd = 0.0;
  for (std::size_t i = 0; i < timings.size(); ++i) {
    const double end = timings[i].pipelineStart + timings[i].fullPipeline;
    latestEnd = i == 0 ? end : std::max(latestEnd, end);
  }
  merged.fullPipeline =
      std::min(sum(&TranscriptionTimings::fullPipeline), latestEnd - merged.pipelineStart);

  return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments), language,
                                               merged, std::nullopt);
}

std::vector<std::optional<std::vector<std::shared_ptr<TranscriptionResult>>>>
resultsToOptionalArrays(const std::vector<TranscriptionOutcome> &outcomes) {
  std::vector<std::optional<std::vector<std::shared_ptr<TranscriptionResult>>>> arrays;
  arrays.reserve(outcomes.size());
  for (const auto &outcome : outcomes) {
    if (const auto *list = std::get_if<0>(&outcome)) {
      arrays.emplace_back(*list);
    } else {
      arrays.emplace_back(std::nullopt);
    }
  }
  return arrays;
}

} // namespace divuvovize
