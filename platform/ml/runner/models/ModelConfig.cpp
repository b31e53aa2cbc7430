#include "platform/ml/runner/models/ModelConfig.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/models/SafeTensorsFile.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace platform::runner {
namespace {

using Json = nlohmann::ordered_json;
using DataType = MLMultiArrayDataType;

// Any dimension beyond this is a malformed file rather than a model this runner could hold.
constexpr std::size_t kMaxDimension = std::size_t{1} << 24;
// The front end holds an n_fft x (n_fft + 2) transform matrix.
constexpr std::size_t kMaxFftLength = 8192;

struct DimensionKey {
  const char *key;
  std::size_t ModelDimensions::*field;
};

std::vector<DimensionKey> keysOf(ModelKind kind) {
  switch (kind) {
  case ModelKind::mel:
    return {{"n_mels", &ModelDimensions::melCount},
            {"n_samples", &ModelDimensions::windowSamples},
            {"n_fft", &ModelDimensions::fftLength},
            {"hop_length", &ModelDimensions::hopLength}};
  case ModelKind::audioEncoder:
    return {{"n_mels", &ModelDimensions::melCount},
            {"d_model", &ModelDimensions::width},
            {"encoder_layers", &ModelDimensions::encoderLayers},
            {"encoder_attention_heads", &ModelDimensions::encoderHeads},
            {"ffn_dim", &ModelDimensions::ffnWidth},
            {"max_source_positions", &ModelDimensions::audioContext}};
  case ModelKind::textDecoder:
    return {{"d_model", &ModelDimensions::width},
            {"decoder_layers", &ModelDimensions::decoderLayers},
            {"decoder_attention_heads", &ModelDimensions::decoderHeads},
            {"ffn_dim", &ModelDimensions::ffnWidth},
            {"vocab_size", &ModelDimensions::vocabularySize},
            {"max_target_positions", &ModelDimensions::textContext},
            {"max_source_positions", &ModelDimensions::audioContext},
            {"kv_cache_length", &ModelDimensions::cacheLength}};
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

Json featuresToJson(const std::vector<FeatureSpec> &features) {
  Json list = Json::array();
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

ModelConfig ModelConfig::load(const std::filesystem::path &modelJson) {
  const std::string where = modelJson.string();
  auto fail = [&](const std::string &what) -> void {
    throw MLModelError(MLModelError::Code::invalidModel, where + ": " + what);
  };
  std::ifstream in(modelJson, std::ios::binary);
  if (!in) {
    throw MLModelError(MLModelError::Code::io, where + ": cannot read the model description");
  }
  std::stringstream text;
  text << in.rdbuf();
  Json document;
  try {
    document = Json::parse(text.str());
  } catch (const Json::exception &error) {
    fail(std::string("malformed JSON: ") + error.what());
  }
  if (!document.is_object()) {
    fail("not a JSON object");
  }
  if (!document.contains("kind") || !document["kind"].is_string()) {
    fail("missing \"kind\"");
  }
  const std::string kindText = document["kind"].get<std::string>();
  ModelKind kind;
  if (kindText == "mel") {
    kind = ModelKind::mel;
  } else if (kindText == "audio_encoder") {
    kind = ModelKind::audioEncoder;
  } else if (kindText == "text_decoder") {
    kind = ModelKind::textDecoder;
  } else {
    fail("unknown kind \"" + kindText + "\" (mel, audio_encoder or text_decoder expected)");
  }

  if (!document.contains("dimensions") || !document["dimensions"].is_object()) {
    fail("missing \"dimensions\"");
  }
  const Json &dimensionsJson = document["dimensions"];
  ModelDimensions dimensions;
  for (const auto &[key, field] : keysOf(kind)) {
    if (!dimensionsJson.contains(key)) {
      fail(std::string("missing dimension \"") + key + "\"");
    }
    const Json &value = dimensionsJson[key];
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() == 0 ||
        value.get<std::uint64_t>() > kMaxDimension) {
      fail(std::string("dimension \"") + key + "\" must be a positive integer, not " +
           value.dump());
    }
    dimensions.*field = static_cast<std::size_t>(value.get<std::uint64_t>());
  }
  switch (kind) {
  case ModelKind::mel:
    if (dimensions.hopLength > dimensions.windowSamples || dimensions.fftLength < 2 ||
        dimensions.fftLength > kMaxFftLength ||
        dimensions.fftLength / 2 >= dimensions.windowSamples) {
      fail("n_fft " + std::to_string(dimensions.fftLength) + " and hop_length " +
           std::to_string(dimensions.hopLength) + " do not fit n_samples " +
           std::to_string(dimensions.windowSamples));
    }
    break;
  case ModelKind::audioEncoder:
    if (dimensions.width % dimensions.encoderHeads != 0) {
      fail("d_model " + std::to_string(dimensions.width) + " is not a multiple of " +
           "encoder_attention_heads " + std::to_string(dimensions.encoderHeads));
    }
    break;
  case ModelKind::textDecoder:
    if (dimensions.width % dimensions.decoderHeads != 0) {
      fail("d_model " + std::to_string(dimensions.width) + " is not a multiple of " +
           "decoder_attention_heads " + std::to_string(dimensions.decoderHeads));
    }
    break;
  }

  ModelConfig config = standard(kind, dimensions);
  auto readFeatures = [&](const char *key, std::vector<FeatureSpec> &expected, bool isOutput) {
    if (!document.contains(key) || !document[key].is_array()) {
      fail(std::string("missing \"") + key + "\" list");
    }
    std::vector<FeatureSpec> result;
    for (const Json &entry : document[key]) {
      if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string() ||
          !entry.contains("shape") || !entry["shape"].is_array() || !entry.contains("data_type") ||
          !entry["data_type"].is_string()) {
        fail(std::string("an entry of \"") + key + "\" needs name, shape and data_type");
      }
      FeatureSpec feature;
      feature.name = entry["name"].get<std::string>();
      for (const Json &d : entry["shape"]) {
        if (!d.is_number_unsigned()) {
          fail("feature " + feature.name + " has a malformed shape " + entry["shape"].dump());
        }
        feature.shape.push_back(static_cast<std::size_t>(d.get<std::uint64_t>()));
      }
      bool ok = false;
      feature.dataType = parseType(entry["data_type"].get<std::string>(), ok);
      if (!ok) {
        fail("feature " + feature.name + " has unknown data_type " + entry["data_type"].dump());
      }
      const auto match = std::find_if(expected.begin(), expected.end(),
                                      [&](const FeatureSpec &e) { return e.name == feature.name; });
      if (match == expected.end()) {
        fail(std::string("unexpected ") + (isOutput ? "output" : "input") + " feature " +
             feature.name + " for kind " + kindText);
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
      if (std::any_of(result.begin(), result.end(),
                      [&](const FeatureSpec &f) { return f.name == feature.name; })) {
        fail("feature " + feature.name + " is listed twice");
      }
      result.push_back(std::move(feature));
    }
    // Kept in the standard order whatever the file's order, so the networks can index them.
    std::vector<FeatureSpec> ordered;
    for (const auto &e : expected) {
      const auto listed = std::find_if(result.begin(), result.end(),
                                       [&](const FeatureSpec &f) { return f.name == e.name; });
      if (listed != result.end()) {
        ordered.push_back(*listed);
      } else if (!(isOutput && e.name == "alignment_heads_weights")) {
        fail(std::string("missing ") + (isOutput ? "output" : "input") + " feature " + e.name);
      }
    }
    expected = std::move(ordered);
  };
  readFeatures("inputs", config.inputs, false);
  readFeatures("outputs", config.outputs, true);

  if (kind == ModelKind::textDecoder && document.contains("alignment_heads")) {
    const Json &heads = document["alignment_heads"];
    if (!heads.is_array()) {
      fail("\"alignment_heads\" must be a list of [layer, head] pairs");
    }
    for (const Json &pair : heads) {
      if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_unsigned() ||
          !pair[1].is_number_unsigned() ||
          pair[0].get<std::uint64_t>() >= dimensions.decoderLayers ||
          pair[1].get<std::uint64_t>() >= dimensions.decoderHeads) {
        fail("alignment head " + pair.dump() + " is not a [layer, head] pair within " +
             std::to_string(dimensions.decoderLayers) + " layers and " +
             std::to_string(dimensions.decoderHeads) + " heads");
      }
      config.alignmentHeads.emplace_back(static_cast<std::size_t>(pair[0].get<std::uint64_t>()),
                                         static_cast<std::size_t>(pair[1].get<std::uint64_t>()));
    }
  }
  return config;
}

std::string ModelConfig::toJson() const {
  Json document;
  document["kind"] = kindName(kind);
  Json dims = Json::object();
  for (const auto &[key, field] : keysOf(kind)) {
    dims[key] = dimensions.*field;
  }
  document["dimensions"] = dims;
  document["inputs"] = featuresToJson(inputs);
  document["outputs"] = featuresToJson(outputs);
  if (kind == ModelKind::textDecoder) {
    Json heads = Json::array();
    for (const auto &[layer, head] : alignmentHeads) {
      heads.push_back({layer, head});
    }
    document["alignment_heads"] = heads;
  }
  return document.dump(2) + "\n";
}

} // namespace platform::runner
