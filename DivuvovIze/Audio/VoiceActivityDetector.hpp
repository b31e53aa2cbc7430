#pragma once

#include <optional>
#include <span>
#include <vector>

namespace divuvovize {

// A half-open range [startIndex, endIndex) of sample or frame indices.
struct IndexRange {
  int startIndex = 0;
  int endIndex = 0;
  bool operator==(const IndexRange &) const = default;
};

// Splits a mono signal into frames of `frameLengthSamples` and judges each frame speech or
// silence; the judgement itself is the subclass's. Holds no mutable state after construction:
// safe to share and to call from several threads at once.
class VoiceActivityDetector {
public:
  // Throws std::invalid_argument when sampleRate or frameLengthSamples is not positive or
  // frameOverlapSamples is negative: frame arithmetic divides by the frame length.
  VoiceActivityDetector(int sampleRate, int frameLengthSamples, int frameOverlapSamples);
  virtual ~VoiceActivityDetector();

  int sampleRate() const { return sampleRate_; }
  // Frame step and nominal frame length, in samples.
  int frameLengthSamples() const { return frameLengthSamples_; }
  // Extra samples past a frame's end that its measurement also covers.
  int frameOverlapSamples() const { return frameOverlapSamples_; }

  // One flag per frame (ceil(count / frameLengthSamples) frames), true for speech.
  virtual std::vector<bool> voiceActivity(std::span<const float> waveform) const = 0;
  // The same as voiceActivity; kept for callers that run detection as a task of its own.
  virtual std::vector<bool> voiceActivityAsync(std::span<const float> waveform) const;
  // Sample ranges of the maximal runs of speech frames, in order, end exclusive; the overlap
  // is not part of a range.
  virtual std::vector<IndexRange> calculateActiveChunks(std::span<const float> waveform) const;
  // Sample index where frame `index` starts.
  virtual int voiceActivityIndexToAudioSampleIndex(int index) const;
  // Time in seconds where frame `index` starts.
  virtual float voiceActivityIndexToSeconds(int index) const;
  // Frame range of the longest run of silent frames (the first of equally long runs), end
  // exclusive; nothing when no frame is silent.
  virtual std::optional<IndexRange> findLongestSilence(const std::vector<bool> &activity) const;

private:
  int sampleRate_;
  int frameLengthSamples_;
  int frameOverlapSamples_;
};

} // namespace divuvovize
