#include "DivuvovIze/Decoding/AudioEncoder.hpp"

#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/AudioEncoderInput.hpp"
#include "DivuvovIze/Decoding/AudioEncoderOutput.hpp"
#include "DivuvovIze/Models/Signposts.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/runner/AsyncPrediction.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {

std::shared_ptr<platform::MLModel> AudioEncoder::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

void AudioEncoder::setModel(std::shared_ptr<platform::MLModel> model) {
  std::lock_guard lock(mutex_);
  model_ = std::move(model);
}

std::optional<int> AudioEncoder::embedSize() const {
  return deduve::ModelUtilities::getModelOutputDimension(model(), "encoder_output_embeds", 1);
}

std::optional<int> AudioEncoder::sequenceLength() const {
  return deduve::ModelUtilities::getModelOutputDimension(model(), "encoder_output_embeds", 3);
}

AudioEncoderOutputType AudioEncoder::encodeFeatures(const FeatureExtractorOutputType &features) {
  if (features.shape().empty()) {
    throw WhisperError::audioProcessingFailed("AudioEncoder input must be MLMultiArray");
  }
  const auto encoder = model();
  if (!encoder) {
    throw WhisperError::modelsUnavailable("Models are unavailable");
  }
  platform::Task::checkCancellation();
  const auto interval = beginSignpostInterval("EncodeAudio", Signposter::audioEncoding());
  try {
    const AudioEncoderOutput output(
        platform::asyncPrediction(*encoder, AudioEncoderInput(features)));
    auto embeddings = output.encoder_output_embeds();
    endSignpostInterval("EncodeAudio", interval);
    return embeddings;
  } catch (...) {
    endSignpostInterval("EncodeAudio", interval);
    throw;
  }
}

} // namespace divuvovize
