#include "DivuvovIze/Decoding/Encoder/AudioEncoder.hpp"

#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/Model/AudioEncoderInput.hpp"
#include "DivuvovIze/Decoding/Model/AudioEncoderOutput.hpp"
#include "DivuvovIze/Decoding/Model/ModelPrediction.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {

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
  const AudioEncoderOutput output(predictInInterval(*encoder, AudioEncoderInput(features),
                                                    "EncodeAudio", Signposter::audioEncoding()));
  return output.encoder_output_embeds();
}

} // namespace divuvovize
