#include "tools/make-test-model/TestModelWriter.hpp"

#include "platform/ml/runner/importer/MelFilterbank.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <stdexcept>

namespace platform::runner {
namespace {

// A small portable generator (splitmix64) so the same seed writes the same files everywhere.
class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x9e3779b97f4a7c15ull + 0x1234567ull) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [-limit, limit].
  float uniform(float limit) {
    const double unit = static_cast<double>(next() >> 11) / static_cast<double>(1ull << 53);
    return static_cast<float>((2.0 * unit - 1.0) * limit);
  }

private:
  std::uint64_t state_;
};

class Builder {
public:
  Builder(const TestModelOptions &options, std::uint64_t stream)
      : random_(options.seed * 31 + stream), type_(options.weightType) {}

  void uniform(const std::string &name, std::vector<std::size_t> shape, float limit) {
    auto values = uniformValues(shape, limit);
    writer_.add(name, std::move(shape), values, type_);
  }
  std::vector<float> uniformValues(const std::vector<std::size_t> &shape, float limit) {
    std::size_t count = 1;
    for (auto d : shape) {
      count *= d;
    }
    std::vector<float> values(count);
    for (auto &v : values) {
      v = random_.uniform(limit);
    }
    return values;
  }
  // Fan-in scaled like the usual default initialisation.
  void linear(const std::string &prefix, std::size_t out, std::size_t in, bool bias = true) {
    const float limit = 1.0f / std::sqrt(static_cast<float>(in));
    uniform(prefix + ".weight", {out, in}, limit);
    if (bias) {
      uniform(prefix + ".bias", {out}, 0.05f);
    }
  }
  void layerNorm(const std::string &prefix, std::size_t width) {
    std::vector<float> gamma(width);
    for (auto &g : gamma) {
      g = 1.0f + random_.uniform(0.1f);
    }
    writer_.add(prefix + ".weight", {width}, gamma, type_);
    uniform(prefix + ".bias", {width}, 0.05f);
  }
  void attention(const std::string &prefix, std::size_t width) {
    linear(prefix + ".q_proj", width, width);
    linear(prefix + ".k_proj", width, width, /*bias=*/false);
    linear(prefix + ".v_proj", width, width);
    linear(prefix + ".out_proj", width, width);
  }
  void mlp(const std::string &prefix, std::size_t width, std::size_t ffn) {
    linear(prefix + "fc1", ffn, width);
    linear(prefix + "fc2", width, ffn);
  }
  void exact(const std::string &name, std::vector<std::size_t> shape,
             const std::vector<float> &values) {
    writer_.add(name, std::move(shape), values, type_);
  }
  SafeTensorsWriter &writer() { return writer_; }

private:
  Random random_;
  SafeTensorsFile::ElementType type_;
  SafeTensorsWriter writer_;
};

std::filesystem::path writeFolder(const std::filesystem::path &folder, const std::string &name,
                                  const ModelConfig &config, const SafeTensorsWriter &weights) {
  const auto model = folder / (name + ".mlmodelc");
  std::filesystem::create_directories(model);
  std::ofstream out(model / "model.json", std::ios::binary | std::ios::trunc);
  out << config.toJson();
  if (!out) {
    throw std::runtime_error("cannot write " + (model / "model.json").string());
  }
  out.close();
  weights.write(model / "weights.safetensors");
  return model;
}

} // namespace

namespace {

// The published shapes are symmetric: as many decoder as encoder layers and heads, a feed-forward
// width of four times the model width, and the English speech vocabulary (51,864 ids).
ModelDimensions symmetricDimensions(std::size_t width, std::size_t layers, std::size_t heads) {
  ModelDimensions d;
  d.width = width;
  d.encoderLayers = layers;
  d.encoderHeads = heads;
  d.decoderLayers = layers;
  d.decoderHeads = heads;
  d.ffnWidth = 4 * width;
  d.vocabularySize = 51864;
  return d;
}

} // namespace

ModelDimensions TestModelOptions::smallDimensions() { return symmetricDimensions(64, 2, 4); }
ModelDimensions TestModelOptions::tinyDimensions() { return symmetricDimensions(384, 4, 6); }
ModelDimensions TestModelOptions::baseDimensions() { return symmetricDimensions(512, 6, 8); }

std::vector<float> sinusoidalPositions(std::size_t positions, std::size_t width) {
  const std::size_t half = width / 2;
  std::vector<float> table(positions * width, 0.0f);
  const double increment = std::log(10000.0) / static_cast<double>(half > 1 ? half - 1 : 1);
  for (std::size_t p = 0; p < positions; ++p) {
    for (std::size_t i = 0; i < half; ++i) {
      const double angle = static_cast<double>(p) * std::exp(-increment * static_cast<double>(i));
      table[p * width + i] = static_cast<float>(std::sin(angle));
      table[p * width + half + i] = static_cast<float>(std::cos(angle));
    }
  }
  return table;
}

std::filesystem::path writeMelSpectrogramModel(const std::filesystem::path &folder,
                                               const TestModelOptions &options,
                                               const std::string &name) {
  const auto &d = options.dimensions;
  SafeTensorsWriter weights;
  // The filterbank is kept in float32 whatever the weights' type: it is tiny and exactness
  // matters more there than size.
  weights.add("mel_filters", {d.melCount, d.fftLength / 2 + 1},
              melFilterbank(d.melCount, d.fftLength), SafeTensorsFile::ElementType::float32);
  return writeFolder(folder, name, ModelConfig::standard(ModelKind::mel, d), weights);
}

namespace {

SafeTensorsWriter encoderWeights(const TestModelOptions &options) {
  const auto &d = options.dimensions;
  Builder b(options, 1);
  const std::string p = "model.encoder.";
  b.uniform(p + "conv1.weight", {d.width, d.melCount, 3},
            1.0f / std::sqrt(static_cast<float>(d.melCount * 3)));
  b.uniform(p + "conv1.bias", {d.width}, 0.05f);
  b.uniform(p + "conv2.weight", {d.width, d.width, 3},
            1.0f / std::sqrt(static_cast<float>(d.width * 3)));
  b.uniform(p + "conv2.bias", {d.width}, 0.05f);
  b.exact(p + "embed_positions.weight", {d.audioContext, d.width},
          sinusoidalPositions(d.audioContext, d.width));
  for (std::size_t i = 0; i < d.encoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    b.attention(layer + "self_attn", d.width);
    b.layerNorm(layer + "self_attn_layer_norm", d.width);
    b.mlp(layer, d.width, d.ffnWidth);
    b.layerNorm(layer + "final_layer_norm", d.width);
  }
  b.layerNorm(p + "layer_norm", d.width);
  return b.writer();
}

SafeTensorsWriter decoderWeights(const TestModelOptions &options) {
  const auto &d = options.dimensions;
  Builder b(options, 2);
  const std::string p = "model.decoder.";
  auto embeddings = b.uniformValues({d.vocabularySize, d.width}, 0.5f);
  // A scripted decoder's output is its final norm's bias; each scripted token's embedding row
  // (the output projection is tied to it) is that bias scaled to give the token its logit.
  std::vector<float> scriptBias;
  if (!options.scriptedLogits.empty()) {
    Random scriptRandom(options.seed * 31 + 99);
    scriptBias.resize(d.width);
    float squaredNorm = 0;
    for (auto &value : scriptBias) {
      value = static_cast<float>(static_cast<_Float16>(scriptRandom.uniform(0.05f)));
      squaredNorm += value * value;
    }
    for (const auto &[token, logit] : options.scriptedLogits) {
      if (token >= d.vocabularySize) {
        throw std::runtime_error("scripted token " + std::to_string(token) +
                                 " is outside the vocabulary of " +
                                 std::to_string(d.vocabularySize));
      }
      for (std::size_t c = 0; c < d.width; ++c) {
        embeddings[token * d.width + c] = logit * scriptBias[c] / squaredNorm;
      }
    }
  }
  b.exact(p + "embed_tokens.weight", {d.vocabularySize, d.width}, embeddings);
  b.uniform(p + "embed_positions.weight", {d.textContext, d.width}, 0.1f);
  for (std::size_t i = 0; i < d.decoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    b.attention(layer + "self_attn", d.width);
    b.layerNorm(layer + "self_attn_layer_norm", d.width);
    b.attention(layer + "encoder_attn", d.width);
    b.layerNorm(layer + "encoder_attn_layer_norm", d.width);
    b.mlp(layer, d.width, d.ffnWidth);
    b.layerNorm(layer + "final_layer_norm", d.width);
  }
  if (scriptBias.empty()) {
    b.layerNorm(p + "layer_norm", d.width);
  } else {
    b.exact(p + "layer_norm.weight", {d.width}, std::vector<float>(d.width, 0.0f));
    b.exact(p + "layer_norm.bias", {d.width}, scriptBias);
  }
  return b.writer();
}

std::vector<std::pair<std::size_t, std::size_t>> alignmentHeadsOf(const TestModelOptions &options) {
  const auto &d = options.dimensions;
  if (!options.alignmentHeads.empty()) {
    return options.alignmentHeads;
  }
  std::vector<std::pair<std::size_t, std::size_t>> heads;
  for (std::size_t layer = d.decoderLayers / 2; layer < d.decoderLayers; ++layer) {
    for (std::size_t head = 0; head < d.decoderHeads; ++head) {
      heads.emplace_back(layer, head);
    }
  }
  return heads;
}

void writeText(const std::filesystem::path &file, const std::string &text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write " + file.string());
  }
}

} // namespace

std::filesystem::path writeAudioEncoderModel(const std::filesystem::path &folder,
                                             const TestModelOptions &options,
                                             const std::string &name) {
  return writeFolder(folder, name,
                     ModelConfig::standard(ModelKind::audioEncoder, options.dimensions),
                     encoderWeights(options));
}

std::filesystem::path writeTextDecoderModel(const std::filesystem::path &folder,
                                            const TestModelOptions &options,
                                            const std::string &name) {
  ModelConfig config = ModelConfig::standard(ModelKind::textDecoder, options.dimensions);
  config.alignmentHeads = alignmentHeadsOf(options);
  if (!options.withAlignmentOutput) {
    config.outputs.pop_back();
  }
  return writeFolder(folder, name, config, decoderWeights(options));
}

void writeCheckpoint(const std::filesystem::path &folder, const TestModelOptions &options) {
  const auto &d = options.dimensions;
  std::filesystem::create_directories(folder);
  SafeTensorsWriter weights = encoderWeights(options);
  weights.append(decoderWeights(options));
  weights.write(folder / "model.safetensors");

  nlohmann::ordered_json config = {
      {"model_type", "whisper"},
      {"d_model", d.width},
      {"encoder_layers", d.encoderLayers},
      {"encoder_attention_heads", d.encoderHeads},
      {"decoder_layers", d.decoderLayers},
      {"decoder_attention_heads", d.decoderHeads},
      {"encoder_ffn_dim", d.ffnWidth},
      {"decoder_ffn_dim", d.ffnWidth},
      {"vocab_size", d.vocabularySize},
      {"num_mel_bins", d.melCount},
      {"max_source_positions", d.audioContext},
      {"max_target_positions", d.textContext},
  };
  writeText(folder / "config.json", config.dump(2));
  nlohmann::ordered_json heads = nlohmann::ordered_json::array();
  for (const auto &[layer, head] : alignmentHeadsOf(options)) {
    heads.push_back({layer, head});
  }
  writeText(folder / "generation_config.json",
            nlohmann::ordered_json{{"alignment_heads", heads}}.dump(2));
  writeText(folder / "preprocessor_config.json",
            nlohmann::ordered_json{{"feature_size", d.melCount},
                                   {"n_fft", d.fftLength},
                                   {"hop_length", d.hopLength},
                                   {"n_samples", d.windowSamples},
                                   {"sampling_rate", 16000}}
                .dump(2));
}

void writeTestModels(const std::filesystem::path &folder, const TestModelOptions &options) {
  writeMelSpectrogramModel(folder, options);
  writeAudioEncoderModel(folder, options);
  writeTextDecoderModel(folder, options);
}

} // namespace platform::runner
