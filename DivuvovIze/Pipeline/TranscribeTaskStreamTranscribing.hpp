#pragma once

#include "DivuvovIze/Audio/AudioStreamTranscriber.hpp"

#include <memory>

namespace divuvovize {

class TranscribeTask;

// The streaming transcriber's passes run by the pipeline's transcription task: each `run` is
// the task's run with the same three arguments. The task is used by one pass at a time, as the
// streaming transcriber does.
class TranscribeTaskStreamTranscribing : public StreamTranscribing {
public:
  explicit TranscribeTaskStreamTranscribing(std::unique_ptr<TranscribeTask> task);
  ~TranscribeTaskStreamTranscribing() override;

  std::shared_ptr<TranscriptionResult> run(std::span<const float> audioArray,
                                           const DecodingOptions &decodeOptions,
                                           const ProgressCallback &callback) override;

private:
  const std::unique_ptr<TranscribeTask> task_;
};

} // namespace divuvovize
