#pragma once

namespace murmurquill {

// What the views read of the dictation in progress. The getters register observation, so a
// view redraws when a value it read changes. Main thread only.
class DictationState {
public:
  virtual ~DictationState() = default;

  virtual bool isRecording() const = 0;
  virtual bool isTranscribing() const = 0;
};

} // namespace murmurquill
