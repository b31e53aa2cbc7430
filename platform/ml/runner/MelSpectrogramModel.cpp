#include "platform/ml/runner/MelSpectrogramModel.hpp"

#include "platform/ml/runner/FeatureArrays.hpp"

namespace platform::runner {

MelSpectrogramModel::MelSpectrogramModel(std::filesystem::path folder, ModelConfig config)
    : RunnerModel(std::move(folder), std::move(config)), scratch_([this] {
        const auto &d = this->config().dimensions;
        return std::make_unique<std::vector<float>>(d.windowSamples + network_->scratchSize() +
                                                    2 * d.melCount * d.melFrames());
      }) {
  const SafeTensorsFile weights(this->folder() / "weights.safetensors");
  network_ = std::make_unique<MelSpectrogramNetwork>(this->config().dimensions, weights);
}

std::shared_ptr<MLFeatureProvider>
MelSpectrogramModel::prediction(const MLFeatureProvider &input,
                                const MLPredictionOptions &options) const {
  const auto &d = config().dimensions;
  MLMultiArray copy;
  const MLMultiArray &audio = inputArray(name(), input, config().inputs.front(), copy);
  checkOutputBackings(options);
  auto scratch = scratch_.acquire();
  float *converted = scratch->data();
  float *work = converted + d.windowSamples;
  float *features = work + network_->scratchSize();
  const float *samples = directFloats(audio);
  if (samples == nullptr) {
    copyToFloats(audio, converted);
    samples = converted;
  }
  network_->run(samples, work, features);
  const FeatureSpec &out = config().outputs.front();
  return results(options, {{&out, features}});
}

} // namespace platform::runner
