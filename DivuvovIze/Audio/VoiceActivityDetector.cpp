#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace divuvovize {

VoiceActivityDetector::VoiceActivityDetector(int sampleRate, int frameLengthSamples,
                                             int frameOverlapSamples)
    : sampleRate_(sampleRate), frameLengthSamples_(frameLengthSamples),
      frameOverlapSamples_(frameOverlapSamples) {
  if (sampleRate <= 0 || frameLengthSamples <= 0 || frameOverlapSamples < 0) {
    throw std::invalid_argument("VoiceActivityDetector: sample rate " + std::to_string(sampleRate) +
                                " and frame length " + std::to_string(frameLengthSamples) +
                                " must be positive, overlap " +
                                std::to_string(frameOverlapSamples) + " must not be negative");
  }
}

VoiceActivityDetector::~VoiceActivityDetector() = default;

std::vector<bool> VoiceActivityDetector::voiceActivityAsync(std::span<const float> waveform) const {
  return voiceActivity(waveform);
}

std::vector<IndexRange>
VoiceActivityDetector::calculateActiveChunks(std::span<const float> waveform) const {
  const std::vector<bool> activity = voiceActivity(waveform);
  const long long count = static_cast<long long>(waveform.size());
  std::vector<IndexRange> ranges;
  for (std::size_t i = 0; i < activity.size(); ++i) {
    if (!activity[i]) {
      continue;
    }
    const long long start = static_cast<long long>(i) * frameLengthSamples_;
    const auto end = static_cast<int>(std::min(start + frameLengthSamples_, count));
    if (i == 0 || !activity[i - 1]) {
      ranges.push_back({static_cast<int>(start), end});
    } else {
      ranges.back().endIndex = end;
    }
  }
  return ranges;
}

int VoiceActivityDetector::voiceActivityIndexToAudioSampleIndex(int index) const {
  return index * frameLengthSamples_;
}

float VoiceActivityDetector::voiceActivityIndexToSeconds(int index) const {
  return static_cast<float>(index * frameLengthSamples_) / static_cast<float>(sampleRate_);
}

std::optional<IndexRange>
VoiceActivityDetector::findLongestSilence(const std::vector<bool> &activity) const {
  std::optional<IndexRange> best;
  const int count = static_cast<int>(activity.size());
  int i = 0;
  while (i < count) {
    if (activity[i]) {
      ++i;
      continue;
    }
    const int start = i;
    while (i < count && !activity[i]) {
      ++i;
    }
    if (!best || i - start > best->endIndex - best->startIndex) {
      best = IndexRange{start, i};
    }
  }
  return best;
}

} // namespace divuvovize
