#include "platform/ml/runner/TextDecoderModel.hpp"

#include "platform/ml/runner/FeatureArrays.hpp"

#include <vector>

namespace platform::runner {

// Per-call buffers, reused through the pool so steady decoding allocates nothing in the network.
struct TextDecoderModel::Workspace {
  explicit Workspace(const ModelDimensions &d)
      : network(d), paddingMask(d.cacheLength), updateMask(d.cacheLength),
        encoder(d.width * d.audioContext), logits(d.vocabularySize),
        newKeys(d.decoderLayers * d.width), newValues(d.decoderLayers * d.width),
        alignment(d.audioContext) {}
  TextDecoderNetwork::Workspace network;
  std::vector<float> paddingMask;
  std::vector<std::int32_t> updateMask;
  std::vector<float> encoder;
  std::vector<float> logits;
  std::vector<float> newKeys;
  std::vector<float> newValues;
  std::vector<float> alignment;
  // Only used when a cache arrives in another element type or layout.
  std::vector<std::uint16_t> keyBits;
  std::vector<std::uint16_t> valueBits;
};

TextDecoderModel::TextDecoderModel(std::filesystem::path folder, ModelConfig config)
    : RunnerModel(std::move(folder), std::move(config)),
      workspaces_([this] { return std::make_unique<Workspace>(this->config().dimensions); }) {
  const SafeTensorsFile weights(this->folder() / "weights.safetensors");
  network_ = std::make_unique<TextDecoderNetwork>(this->config().dimensions,
                                                  this->config().alignmentHeads, weights);
  memories_ = std::make_unique<CrossMemoryCache>(*network_);
}

TextDecoderModel::~TextDecoderModel() = default;

std::shared_ptr<MLFeatureProvider>
TextDecoderModel::prediction(const MLFeatureProvider &input,
                             const MLPredictionOptions &options) const {
  const auto &inputs = config().inputs;
  // Copies only for providers that do not store their values.
  MLMultiArray copies[7];
  auto feature = [&](std::size_t i) -> const MLMultiArray & {
    return inputArray(name(), input, inputs[i], copies[i]);
  };
  const MLMultiArray &inputIds = feature(0);
  const MLMultiArray &cacheLength = feature(1);
  const MLMultiArray &keyCache = feature(2);
  const MLMultiArray &valueCache = feature(3);
  const MLMultiArray &updateMask = feature(4);
  const MLMultiArray &encoderOutput = feature(5);
  const MLMultiArray &paddingMask = feature(6);
  checkOutputBackings(options);

  auto w = workspaces_.acquire();
  std::int32_t token = 0;
  std::int32_t position = 0;
  copyToInt32(inputIds, &token);
  copyToInt32(cacheLength, &position);

  auto halfBits = [](const MLMultiArray &array, std::vector<std::uint16_t> &fallback) {
    if (const std::uint16_t *direct = directHalfBits(array)) {
      return direct;
    }
    fallback.resize(static_cast<std::size_t>(array.count()));
    copyToHalfBits(array, fallback.data());
    return static_cast<const std::uint16_t *>(fallback.data());
  };
  const std::int32_t *mask = directInt32(updateMask);
  if (mask == nullptr) {
    copyToInt32(updateMask, w->updateMask.data());
    mask = w->updateMask.data();
  }
  copyToFloats(paddingMask, w->paddingMask.data());
  const auto memory = memories_->memoryFor(encoderOutput, w->encoder.data());

  const FeatureSpec *alignmentSpec = output("alignment_heads_weights");
  TextDecoderNetwork::StepInput step;
  step.token = token;
  step.position = position;
  step.keyCache = halfBits(keyCache, w->keyBits);
  step.valueCache = halfBits(valueCache, w->valueBits);
  step.updateMask = mask;
  step.paddingMask = w->paddingMask.data();
  if (memory->halfValues.empty()) {
    step.memory = memory->values.data();
  } else {
    step.halfMemory = memory->halfValues.data();
  }
  const auto &outputs = config().outputs;
  float *logits = floatBacking(options, outputs[0]);
  float *alignment = alignmentSpec ? floatBacking(options, *alignmentSpec) : nullptr;
  const TextDecoderNetwork::StepOutput out{
      logits != nullptr ? logits : w->logits.data(), w->newKeys.data(), w->newValues.data(),
      alignment != nullptr ? alignment : (alignmentSpec ? w->alignment.data() : nullptr)};
  network_->step(step, w->network, out);

  if (alignmentSpec == nullptr) {
    return results(
        options,
        {{&outputs[0], out.logits}, {&outputs[1], out.newKeys}, {&outputs[2], out.newValues}});
  }
  return results(options, {{&outputs[0], out.logits},
                           {&outputs[1], out.newKeys},
                           {&outputs[2], out.newValues},
                           {alignmentSpec, out.alignment}});
}

} // namespace platform::runner
