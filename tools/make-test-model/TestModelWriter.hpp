#pragma once

#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace platform::runner {

// What a written test model looks like. The weights are random but reproducible from the seed,
// scaled so activations stay in a sensible range; the mel filterbank and the encoder's position
// table are the real ones.
struct TestModelOptions {
  // Every dimension of the three models (see the presets below).
  ModelDimensions dimensions = smallDimensions();
  // Seed of the random weights; the same seed writes the same files.
  std::uint64_t seed = 1;
  // Element type of the weights in weights.safetensors.
  SafeTensorsFile::ElementType weightType = SafeTensorsFile::ElementType::float16;
  // [layer, head] pairs reported in "alignment_heads_weights"; empty means every head of the
  // second half of the decoder layers.
  std::vector<std::pair<std::size_t, std::size_t>> alignmentHeads;
  // When false the decoder has no "alignment_heads_weights" output.
  bool withAlignmentOutput = true;
  // (token, logit) pairs: when not empty the decoder is scripted. Its final layer norm has zero
  // gain, so every step yields the same logits whatever the input: each listed token gets about
  // its logit (within 0.05) and every other token a logit near 0 (within about 0.4). Tests use
  // it to make a chosen token win.
  std::vector<std::pair<std::size_t, float>> scriptedLogits;

  // Small shapes for tests: D 64, 2 layers of 4 heads, FFN 256, vocabulary 51864.
  static ModelDimensions smallDimensions();
  // The published tiny and base shapes (English-only vocabulary of 51864).
  static ModelDimensions tinyDimensions();
  static ModelDimensions baseDimensions();
};

// Writes <folder>/<name>.mlmodelc/{model.json, weights.safetensors} for one model and returns the
// model folder. Creates folders as needed; throws std::runtime_error when it cannot write.
std::filesystem::path writeMelSpectrogramModel(const std::filesystem::path &folder,
                                               const TestModelOptions &options,
                                               const std::string &name = "MelSpectrogram");
std::filesystem::path writeAudioEncoderModel(const std::filesystem::path &folder,
                                             const TestModelOptions &options,
                                             const std::string &name = "AudioEncoder");
std::filesystem::path writeTextDecoderModel(const std::filesystem::path &folder,
                                            const TestModelOptions &options,
                                            const std::string &name = "TextDecoder");
// All three, with their usual names.
void writeTestModels(const std::filesystem::path &folder, const TestModelOptions &options);
// The same weights as a published checkpoint folder: config.json, model.safetensors,
// generation_config.json and preprocessor_config.json.
void writeCheckpoint(const std::filesystem::path &folder, const TestModelOptions &options);

// The sinusoidal position table of the encoder: [positions x width], sines in the first half
// of the channels and cosines in the second, timescales from 1 to 10000.
std::vector<float> sinusoidalPositions(std::size_t positions, std::size_t width);

} // namespace platform::runner
