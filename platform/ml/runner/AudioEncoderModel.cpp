#include "platform/ml/runner/AudioEncoderModel.hpp"

#include "platform/ml/runner/FeatureArrays.hpp"
#include "platform/ml/runner/ops/RowOps.hpp"

namespace platform::runner {

AudioEncoderModel::AudioEncoderModel(std::filesystem::path folder, ModelConfig config)
    : RunnerModel(std::move(folder), std::move(config)), scratch_([this] {
        const auto &d = this->config().dimensions;
        return std::make_unique<std::vector<float>>(
            2 * d.audioContext * d.melCount + network_->scratchSize() + d.audioContext * d.width);
      }) {
  const SafeTensorsFile weights(this->folder() / "weights.safetensors");
  network_ = std::make_unique<AudioEncoderNetwork>(this->config().dimensions, weights);
}

std::shared_ptr<MLFeatureProvider>
AudioEncoderModel::prediction(const MLFeatureProvider &input,
                              const MLPredictionOptions &options) const {
  const auto &d = config().dimensions;
  MLMultiArray copy;
  const MLMultiArray &mel = inputArray(name(), input, config().inputs.front(), copy);
  checkOutputBackings(options);
  auto scratch = scratch_.acquire();
  float *features = scratch->data();
  float *work = features + 2 * d.audioContext * d.melCount;
  float *channelMajor = work + network_->scratchSize();
  copyToFloats(mel, features);
  const float *encoded = network_->forward(features, work);
  transpose(encoded, d.audioContext, d.width, d.width, channelMajor, d.audioContext);
  const FeatureSpec &out = config().outputs.front();
  return results(options, {{&out, channelMajor}});
}

} // namespace platform::runner
