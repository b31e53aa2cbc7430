#include "platform/ml/runner/formats/ModelConfig.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/BoundedJson.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/system/FileContents.hpp"
#include "platform/text/Excerpt.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

namespace platform::runner {
namespace {

using Json = nlohmann::json;
// Written documents keep their keys in the order a reader expects them.
using OrderedJson = nlohmann::ordered_json;
using DataType = MLMultiArrayDataType;

// model.json is a few KB; even a decoder naming every head of the largest bounds stays far below.
constexpr std::uintmax_t kMaxDescriptionBytes = 4 * 1024 * 1024;
// Elements of any one declared feature (a float16 feature of this many is 512 MiB).
constexpr std::size_t kMaxFeatureElements = std::size_t{1} << 28;

struct DimensionBound {
  std::size_t ModelDimensions::*field;
  std::size_t bound;
};

constexpr DimensionBound kDimensionBounds[] = {
    {&ModelDimensions::melCount, 512},
    {&ModelDimensions::windowSamples, 16000 * 600}, // ten minutes at 16 kHz
    // The front end holds an n_fft x (n_fft + 2) matrix.
    {&ModelDimensions::fftLength, 8192},
    {&ModelDimensions::hopLength, 8192},
    {&ModelDimensions::width, 8192},
    {&ModelDimensions::encoderLayers, 256},
    {&ModelDimensions::encoderHeads, 256},
    {&ModelDimensions::decoderLayers, 256},
    {&ModelDimensions::decoderHeads, 256},
    {&ModelDimensions::ffnWidth, 65536},
    {&ModelDimensions::audioContext, 65536},
    {&ModelDimensions::textContext, 65536},
    {&ModelDimensions::cacheLength, 65536},
    {&ModelDimensions::vocabularySize, std::size_t{1} << 20},
};

struct DimensionKey {
  const char *key;
  std::size_t ModelDimensions::*field;
};

std::vector<DimensionKey> keysOf(ModelKind kind) {
  using D = ModelDimensions;
  switch (kind) {
  case ModelKind::mel:
    return {{"n_mels", &D::melCount},
            {"n_samples", &D::windowSamples},
            {"n_fft", &D::fftLength},
            {"hop_length", &D::hopLength}};
  case ModelKind::audioEncoder:
    return {{"n_mels", &D::melCount},
            {"d_model", &D::width},
            {"encoder_layers", &D::encoderLayers},
            {"encoder_attention_heads", &D::encoderHeads},
            {"ffn_dim", &D::ffnWidth},
            {"max_source_positions", &D::audioContext}};
  case ModelKind::textDecoder:
    return {{"d_model", &D::width},
            {"decoder_layers", &D::decoderLayers},
            {"decoder_attention_heads", &D::decoderHeads},
            {"ffn_dim", &D::ffnWidth},
            {"vocab_size", &D::vocabularySize},
            {"max_target_positions", &D::textContext},
            {"max_source_positions", &D::audioContext},
            {"kv_cache_length", &D::cacheLength}};
  }
  return {};
}

DataType parseType(const std::string &text, bool &ok) {
  ok = true;
  if (text == "float16") {
    return DataType::float16;
  }
  if (text == "float32") {
    return DataType::float32;
  }
  if (text == "int32") {
    return DataType::int32;
  }
  ok = false;
  return DataType::float32;
}

bool isFloat(DataType type) { return type == DataType::float16 || type == DataType::float32; }

OrderedJson featuresToJson(const std::vector<FeatureSpec> &features) {
  OrderedJson list = OrderedJson::array();
  for (const auto &feature : features) {
    list.push_back({{"name", feature.name},
                    {"shape", feature.shape},
                    {"data_type", description(feature.dataType)}});
  }
  return list;
}

} // namespace

const char *kindName(ModelKind kind) {
  switch (kind) {
  case ModelKind::mel:
    return "mel";
  case ModelKind::audioEncoder:
    return "audio_encoder";
  case ModelKind::textDecoder:
    return "text_decoder";
  }
  return "unknown";
}

ModelConfig ModelConfig::standard(ModelKind kind, const ModelDimensions &d) {
  ModelConfig config;
  config.kind = kind;
  config.dimensions = d;
  const auto h = DataType::float16;
  switch (kind) {
  case ModelKind::mel:
    config.inputs = {{"audio", {d.windowSamples}, DataType::float32}};
    config.outputs = {{"melspectrogram_features", {1, d.melCount, 1, d.melFrames()}, h}};
    break;
  case ModelKind::audioEncoder:
    config.inputs = {{"melspectrogram_features", {1, d.melCount, 1, 2 * d.audioContext}, h}};
    config.outputs = {{"encoder_output_embeds", {1, d.width, 1, d.audioContext}, h}};
    break;
  case ModelKind::textDecoder: {
    const std::size_t cacheWidth = d.decoderLayers * d.width;
    config.inputs = {{"input_ids", {1}, DataType::int32},
                     {"cache_length", {1}, DataType::int32},
                     {"key_cache", {1, cacheWidth, 1, d.cacheLength}, h},
                     {"value_cache", {1, cacheWidth, 1, d.cacheLength}, h},
                     {"kv_cache_update_mask", {1, d.cacheLength}, DataType::int32},
                     {"encoder_output_embeds", {1, d.width, 1, d.audioContext}, h},
                     {"decoder_key_padding_mask", {1, d.cacheLength}, h}};
    config.outputs = {{"logits", {1, 1, d.vocabularySize}, DataType::float32},
                      {"key_cache_updates", {1, cacheWidth, 1, 1}, h},
                      {"value_cache_updates", {1, cacheWidth, 1, 1}, h},
                      {"alignment_heads_weights", {1, d.audioContext}, DataType::float32}};
    break;
  }
  }
  return config;
}

namespace {

// Reads one model.json: one reader per section, each failing with the file's name.
class ModelJsonReader {
public:
  explicit ModelJsonReader(const std::filesystem::path &path) : where_(path.string()) {}

  ModelConfig read() {
    const Json document = parse();
    const ModelKind kind = readKind(document);
    const ModelDimensions dimensions = readDimensions(document, kind);
    if (const std::string problem = dimensionsProblem(kind, dimensions); !problem.empty()) {
      fail(problem);
    }
    ModelConfig config = ModelConfig::standard(kind, dimensions);
    config.inputs = readFeatures(document, "inputs", config.inputs, /*isOutput=*/false);
    config.outputs = readFeatures(document, "outputs", config.outputs, /*isOutput=*/true);
    if (kind == ModelKind::textDecoder) {
      config.alignmentHeads = readAlignmentHeads(document, config, dimensions);
    }
    return config;
  }

private:
  [[noreturn]] void fail(const std::string &what) const {
    throw MLModelError(MLModelError::Code::invalidModel, where_ + ": " + what);
  }

  Json parse() const {
    const FileContents contents = FileContents::read(where_, kMaxDescriptionBytes);
    if (!contents.opened || contents.failed) {
      throw MLModelError(MLModelError::Code::io, where_ + ": cannot read the model description");
    }
    if (contents.tooLarge) {
      fail("larger than " + std::to_string(kMaxDescriptionBytes) + " bytes");
    }
    Json document;
    try {
      document = parseBoundedJson(contents.bytes);
    } catch (const Json::exception &error) {
      fail("malformed JSON: " + boundedMessage(error.what()));
    } catch (const std::length_error &error) {
      fail("malformed JSON: " + boundedMessage(error.what()));
    }
    if (!document.is_object()) {
      fail("not a JSON object");
    }
    return document;
  }

  ModelKind readKind(const Json &document) {
    if (!document.contains("kind") || !document["kind"].is_string()) {
      fail("missing \"kind\"");
    }
    kindText_ = document["kind"].get<std::string>();
    if (kindText_ == "mel") {
      return ModelKind::mel;
    }
    if (kindText_ == "audio_encoder") {
      return ModelKind::audioEncoder;
    }
    if (kindText_ == "text_decoder") {
      return ModelKind::textDecoder;
    }
    fail("unknown kind \"" + boundedExcerpt(kindText_) +
         "\" (mel, audio_encoder or text_decoder expected)");
  }

  ModelDimensions readDimensions(const Json &document, ModelKind kind) const {
    if (!document.contains("dimensions") || !document["dimensions"].is_object()) {
      fail("missing \"dimensions\"");
    }
    const Json &dimensionsJson = document["dimensions"];
    ModelDimensions dimensions;
    for (const auto &[key, field] : keysOf(kind)) {
      const std::size_t bound = dimensionBound(field);
      if (!dimensionsJson.contains(key)) {
        fail(std::string("missing dimension \"") + key + "\"");
      }
      const Json &value = dimensionsJson[key];
      if (!value.is_number_unsigned() || value.get<std::uint64_t>() == 0) {
        fail(std::string("dimension \"") + key + "\" must be a positive integer, not " +
             describeJson(value));
      }
      if (value.get<std::uint64_t>() > bound) {
        fail(std::string("dimension \"") + key + "\" is " +
             std::to_string(value.get<std::uint64_t>()) + ", above the bound " +
             std::to_string(bound));
      }
      dimensions.*field = static_cast<std::size_t>(value.get<std::uint64_t>());
    }
    return dimensions;
  }

  FeatureSpec readFeature(const Json &entry, const char *key) const {
    if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string() ||
        !entry.contains("shape") || !entry["shape"].is_array() || !entry.contains("data_type") ||
        !entry["data_type"].is_string()) {
      fail(std::string("an entry of \"") + key + "\" needs name, shape and data_type");
    }
    FeatureSpec feature;
    feature.name = entry["name"].get<std::string>();
    for (const Json &d : entry["shape"]) {
      if (!d.is_number_unsigned()) {
        fail("feature " + feature.name + " has a malformed shape: a dimension is " +
             describeJson(d));
      }
      feature.shape.push_back(static_cast<std::size_t>(d.get<std::uint64_t>()));
    }
    bool ok = false;
    feature.dataType = parseType(entry["data_type"].get<std::string>(), ok);
    if (!ok) {
      fail("feature " + feature.name + " has unknown data_type " +
           describeJson(entry["data_type"]));
    }
    return feature;
  }

  // The features listed under `key`, checked against the kind's `expected` ones and returned in
  // their order whatever the file's order, so the networks can index them.
  std::vector<FeatureSpec> readFeatures(const Json &document, const char *key,
                                        const std::vector<FeatureSpec> &expected,
                                        bool isOutput) const {
    if (!document.contains(key) || !document[key].is_array()) {
      fail(std::string("missing \"") + key + "\" list");
    }
    const char *role = isOutput ? "output" : "input";
    std::vector<FeatureSpec> listed;
    for (const Json &entry : document[key]) {
      FeatureSpec feature = readFeature(entry, key);
      const auto match = std::find_if(expected.begin(), expected.end(),
                                      [&](const FeatureSpec &e) { return e.name == feature.name; });
      if (match == expected.end()) {
        fail(std::string("unexpected ") + role + " feature " + feature.name + " for kind " +
             kindText_);
      }
      if (match->shape != feature.shape) {
        fail("feature " + feature.name + " has shape " + formatShape(feature.shape) +
             ", expected " + formatShape(match->shape));
      }
      const bool typeOk = isFloat(match->dataType) ? isFloat(feature.dataType)
                                                   : feature.dataType == match->dataType;
      if (!typeOk) {
        fail("feature " + feature.name + " has data_type " + description(feature.dataType) +
             ", expected " + description(match->dataType));
      }
      if (std::any_of(listed.begin(), listed.end(),
                      [&](const FeatureSpec &f) { return f.name == feature.name; })) {
        fail("feature " + feature.name + " is listed twice");
      }
      listed.push_back(std::move(feature));
    }
    std::vector<FeatureSpec> ordered;
    for (const auto &e : expected) {
      const auto found = std::find_if(listed.begin(), listed.end(),
                                      [&](const FeatureSpec &f) { return f.name == e.name; });
      if (found != listed.end()) {
        ordered.push_back(*found);
      } else if (!(isOutput && e.name == "alignment_heads_weights")) {
        fail(std::string("missing ") + role + " feature " + e.name);
      }
    }
    return ordered;
  }

  std::vector<std::pair<std::size_t, std::size_t>>
  readAlignmentHeads(const Json &document, const ModelConfig &config,
                     const ModelDimensions &d) const {
    std::vector<std::pair<std::size_t, std::size_t>> result;
    if (document.contains("alignment_heads")) {
      const Json &heads = document["alignment_heads"];
      if (!heads.is_array()) {
        fail("\"alignment_heads\" must be a list of [layer, head] pairs, not " +
             describeJson(heads));
      }
      for (std::size_t i = 0; i < heads.size(); ++i) {
        const Json &pair = heads[i];
        if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_unsigned() ||
            !pair[1].is_number_unsigned() || pair[0].get<std::uint64_t>() >= d.decoderLayers ||
            pair[1].get<std::uint64_t>() >= d.decoderHeads) {
          fail("alignment head " + std::to_string(i) + " (" + describeJson(pair) +
               ") is not a [layer, head] pair within " + std::to_string(d.decoderLayers) +
               " layers and " + std::to_string(d.decoderHeads) + " heads");
        }
        result.emplace_back(static_cast<std::size_t>(pair[0].get<std::uint64_t>()),
                            static_cast<std::size_t>(pair[1].get<std::uint64_t>()));
      }
    }
    dropRepeatedHeads(result);
    // Weights averaged over no head would be all zeros, which word timing would take as real.
    const bool reportsWeights =
        std::any_of(config.outputs.begin(), config.outputs.end(),
                    [](const FeatureSpec &f) { return f.name == "alignment_heads_weights"; });
    if (reportsWeights && result.empty()) {
      fail("the output alignment_heads_weights is listed but \"alignment_heads\" names no head");
    }
    return result;
  }

  std::string where_;
  std::string kindText_;
};

} // namespace

void dropRepeatedHeads(std::vector<std::pair<std::size_t, std::size_t>> &heads) {
  std::set<std::pair<std::size_t, std::size_t>> seen;
  std::vector<std::pair<std::size_t, std::size_t>> kept;
  for (const auto &pair : heads) {
    if (seen.insert(pair).second) {
      kept.push_back(pair);
    }
  }
  heads = std::move(kept);
}

std::size_t dimensionBound(std::size_t ModelDimensions::*field) {
  for (const auto &[bounded, bound] : kDimensionBounds) {
    if (bounded == field) {
      return bound;
    }
  }
  return 0;
}

namespace {

std::string consistencyProblem(ModelKind kind, const ModelDimensions &d) {
  switch (kind) {
  case ModelKind::mel:
    if (d.hopLength > d.windowSamples || d.fftLength < 2 || d.fftLength / 2 >= d.windowSamples) {
      return "n_fft " + std::to_string(d.fftLength) + " and hop_length " +
             std::to_string(d.hopLength) + " do not fit n_samples " +
             std::to_string(d.windowSamples);
    }
    break;
  case ModelKind::audioEncoder:
    if (d.width % d.encoderHeads != 0) {
      return "d_model " + std::to_string(d.width) + " is not a multiple of " +
             "encoder_attention_heads " + std::to_string(d.encoderHeads);
    }
    break;
  case ModelKind::textDecoder:
    if (d.width % d.decoderHeads != 0) {
      return "d_model " + std::to_string(d.width) + " is not a multiple of " +
             "decoder_attention_heads " + std::to_string(d.decoderHeads);
    }
    // A cache slot past the learned positions could never be filled.
    if (d.cacheLength > d.textContext) {
      return "dimension \"kv_cache_length\" is " + std::to_string(d.cacheLength) +
             ", above the bound " + std::to_string(d.textContext) + " (\"max_target_positions\")";
    }
    break;
  }
  return {};
}

std::string featureSizeProblem(const ModelConfig &config) {
  for (const auto *features : {&config.inputs, &config.outputs}) {
    for (const auto &feature : *features) {
      std::size_t count = 1;
      for (auto d : feature.shape) {
        count *= d; // each factor is bounded above, so this cannot overflow
      }
      if (count > kMaxFeatureElements) {
        return "feature " + feature.name + " of shape " + formatShape(feature.shape) + " holds " +
               std::to_string(count) + " elements, above the bound " +
               std::to_string(kMaxFeatureElements);
      }
    }
  }
  return {};
}

// The floats one prediction of the model allocates besides its weights: its features, its
// scratch (the encoder's attention scores are queries x keys) and, for the decoder, the
// cross-attention memory of one window. Reckoned in floating point from the dimensions alone,
// so a product of bounded dimensions cannot overflow, and a little above what the networks
// ask for, so that the bound holds for them.
double workingFloats(ModelKind kind, const ModelDimensions &d) {
  const double t = static_cast<double>(d.audioContext);
  const double w = static_cast<double>(d.width);
  const double m = static_cast<double>(d.melCount);
  const double f = static_cast<double>(d.ffnWidth);
  switch (kind) {
  case ModelKind::mel: {
    const double frames = static_cast<double>(d.windowSamples) / static_cast<double>(d.hopLength);
    const double fft = static_cast<double>(d.fftLength);
    return static_cast<double>(d.windowSamples) + fft * (fft + 2) + frames * (fft + 2) +
           4 * m * frames;
  }
  case ModelKind::audioEncoder: {
    const double stem = 2 * t * w + std::max(6 * t * m, 3 * t * w);
    const double layer = 5 * t * w + std::max(t * t, 2 * t * w) + t + t * f;
    return 2 * t * m + t * w + std::max(stem, layer) + t * w;
  }
  case ModelKind::textDecoder: {
    const double layers = static_cast<double>(d.decoderLayers);
    const double heads = static_cast<double>(d.decoderHeads);
    const double cache = static_cast<double>(d.cacheLength);
    const double memory = layers * 2 * w * t;
    return memory + t * w + 2 * heads * t + heads * cache + 8 * w + f +
           static_cast<double>(d.vocabularySize) + 4 * layers * w * cache;
  }
  }
  return 0;
}

std::string workingMemoryProblem(ModelKind kind, const ModelDimensions &d) {
  const double bytes = 4 * workingFloats(kind, d);
  if (bytes <= static_cast<double>(kMaxWorkingBytes)) {
    return {};
  }
  const auto mib = [](double count) {
    return std::to_string(static_cast<unsigned long long>(std::ceil(count / (1 << 20))));
  };
  const std::string given = kind == ModelKind::mel
                                ? "n_samples " + std::to_string(d.windowSamples) + ", hop_length " +
                                      std::to_string(d.hopLength)
                                : "max_source_positions " + std::to_string(d.audioContext) +
                                      ", d_model " + std::to_string(d.width);
  return std::string("the ") + kindName(kind) + " would need " + mib(bytes) +
         " MiB of working memory for one prediction (" + given + "), above the bound " +
         mib(static_cast<double>(kMaxWorkingBytes)) + " MiB";
}

} // namespace

std::string dimensionsProblem(ModelKind kind, const ModelDimensions &dimensions) {
  if (std::string problem = consistencyProblem(kind, dimensions); !problem.empty()) {
    return problem;
  }
  if (std::string problem = featureSizeProblem(ModelConfig::standard(kind, dimensions));
      !problem.empty()) {
    return problem;
  }
  return workingMemoryProblem(kind, dimensions);
}

ModelConfig ModelConfig::load(const std::filesystem::path &modelJson) {
  return ModelJsonReader(modelJson).read();
}

std::string ModelConfig::toJson() const {
  OrderedJson document;
  document["kind"] = kindName(kind);
  OrderedJson dims = OrderedJson::object();
  for (const auto &[key, field] : keysOf(kind)) {
    dims[key] = dimensions.*field;
  }
  document["dimensions"] = dims;
  document["inputs"] = featuresToJson(inputs);
  document["outputs"] = featuresToJson(outputs);
  if (kind == ModelKind::textDecoder) {
    OrderedJson heads = OrderedJson::array();
    for (const auto &[layer, head] : alignmentHeads) {
      heads.push_back({layer, head});
    }
    document["alignment_heads"] = heads;
  }
  return document.dump(2) + "\n";
}

} // namespace platform::runner
