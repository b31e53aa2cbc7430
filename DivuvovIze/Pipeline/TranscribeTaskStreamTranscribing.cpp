#include "DivuvovIze/Pipeline/TranscribeTaskStreamTranscribing.hpp"

#include "DeduveCore/Hub/Progress.hpp"
#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"

namespace divuvovize {

TranscribeTaskStreamTranscribing::TranscribeTaskStreamTranscribing(
    std::unique_ptr<TranscribeTask> task)
    : task_(std::move(task)) {}

TranscribeTaskStreamTranscribing::~TranscribeTaskStreamTranscribing() = default;

std::shared_ptr<TranscriptionResult>
TranscribeTaskStreamTranscribing::run(std::span<const float> audioArray,
                                      const DecodingOptions &decodeOptions,
                                      const ProgressCallback &callback) {
  return task_->run(audioArray, decodeOptions, callback);
}

std::shared_ptr<AudioStreamTranscriber> AudioStreamTranscriber::make(
    std::shared_ptr<AudioEncoding> audioEncoder, std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<AudioProcessing> audioProcessor,
    DecodingOptions decodingOptions, Options options, StateChangeCallback stateChangeCallback) {
  auto task = std::make_unique<TranscribeTask>(
      TranscriptionTimings{}, deduve::Progress::make(0), audioProcessor, std::move(audioEncoder),
      std::move(featureExtractor), std::move(segmentSeeker), std::move(textDecoder),
      std::move(tokenizer));
  return make(std::make_shared<TranscribeTaskStreamTranscribing>(std::move(task)),
              std::move(audioProcessor), std::move(decodingOptions), std::move(options),
              std::move(stateChangeCallback));
}

} // namespace divuvovize
