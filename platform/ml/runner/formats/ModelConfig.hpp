#pragma once

#include "platform/ml/MLMultiArray.hpp"

#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace platform::runner {

// What a model folder's model.json says: which network runs, its dimensions, the features it
// reads and writes, and for the decoder the attention heads whose cross-attention weights are
// reported for word alignment. The document:
//   {"kind": "text_decoder",
//    "dimensions": {"d_model": 512, "decoder_layers": 6, ...},   (the keys of the kind, below)
//    "inputs":  [{"name": "input_ids", "shape": [1], "data_type": "int32"}, ...],
//    "outputs": [{"name": "logits", "shape": [1, 1, 51864], "data_type": "float32"}, ...],
//    "alignment_heads": [[3, 1], [4, 2]]}                         (decoder only, optional)
enum class ModelKind { mel, audioEncoder, textDecoder };

// "mel", "audio_encoder", "text_decoder".
const char *kindName(ModelKind kind);

struct ModelDimensions {
  std::size_t melCount = 80;          // "n_mels"
  std::size_t windowSamples = 480000; // "n_samples": audio samples of one window
  std::size_t fftLength = 400;        // "n_fft"
  std::size_t hopLength = 160;        // "hop_length"
  std::size_t width = 0;              // "d_model"
  std::size_t encoderLayers = 0;      // "encoder_layers"
  std::size_t encoderHeads = 0;       // "encoder_attention_heads"
  std::size_t decoderLayers = 0;      // "decoder_layers"
  std::size_t decoderHeads = 0;       // "decoder_attention_heads"
  std::size_t ffnWidth = 0;           // "ffn_dim"
  std::size_t audioContext = 1500;    // "max_source_positions": encoder output positions
  std::size_t textContext = 448;      // "max_target_positions": learned decoder positions
  std::size_t cacheLength = 224;      // "kv_cache_length": positions of the decoder's cache
  std::size_t vocabularySize = 0;     // "vocab_size"

  std::size_t melFrames() const { return windowSamples / hopLength; }
};

// The largest value the dimension `field` may take. One table for every reader of dimensions
// (model folders and imported checkpoints): each bound is several times what the largest
// published models of this family use, so real files pass while a hostile one cannot make the
// reader build buffers of gigabytes.
std::size_t dimensionBound(std::size_t ModelDimensions::*field);

// The most working memory (features, scratch, the decoder's cross-attention memory; weights
// not counted) one prediction of any model may need. Each dimension is bounded on its own, but
// their products are not: 65536 encoder positions alone would ask for 16 GiB of attention
// scores. The largest published models of this family need about a quarter of it.
constexpr std::size_t kMaxWorkingBytes = std::size_t{2} << 30;

// What keeps `dimensions`, each within its bound, from making a model of `kind`: values that
// disagree, working memory above kMaxWorkingBytes, or a feature too large to allocate; named by
// the model.json keys. Empty when nothing does.
std::string dimensionsProblem(ModelKind kind, const ModelDimensions &dimensions);

// Keeps the first of each repeated [layer, head] pair, in order. The decoder averages every listed
// head at each step, so repeats would only cost time: a list of many repeats, minutes.
void dropRepeatedHeads(std::vector<std::pair<std::size_t, std::size_t>> &heads);

struct FeatureSpec {
  std::string name;
  std::vector<std::size_t> shape;
  MLMultiArrayDataType dataType = MLMultiArrayDataType::float32;
  bool operator==(const FeatureSpec &) const = default;
};

struct ModelConfig {
  ModelKind kind = ModelKind::mel;
  ModelDimensions dimensions;
  std::vector<FeatureSpec> inputs;
  std::vector<FeatureSpec> outputs;
  std::vector<std::pair<std::size_t, std::size_t>> alignmentHeads; // [layer, head]

  // Reads and checks <folder>/model.json: required dimensions present and consistent, features
  // exactly those the kind reads and writes (float features may be float16 or float32; the
  // decoder's "alignment_heads_weights" output may be left out). Throws MLModelError naming the
  // file and the offending key.
  static ModelConfig load(const std::filesystem::path &modelJson);

  // The features of a kind with the given dimensions and the default element types: float32 for
  // the audio, logits and alignment weights, float16 for the other float features.
  static ModelConfig standard(ModelKind kind, const ModelDimensions &dimensions);

  // The model.json document for this configuration.
  std::string toJson() const;
};

} // namespace platform::runner
