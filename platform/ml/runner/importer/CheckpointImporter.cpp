#include "platform/ml/CheckpointImport.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "platform/ml/runner/importer/MelFilterbank.hpp"

#include <nlohmann/json.hpp>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace platform {

namespace fs = std::filesystem;
using runner::ModelConfig;
using runner::ModelDimensions;
using runner::ModelKind;
using runner::SafeTensorsFile;
using runner::SafeTensorsWriter;
using Shape = std::vector<std::size_t>;

namespace {

// Configuration documents are a few KB; these bounds only stop hostile files.
constexpr std::uintmax_t kMaxDocumentBytes = 4 * 1024 * 1024;
constexpr int kMaxDocumentDepth = 32;
// Far beyond every published shape, well below sizes that would overflow a product.
constexpr std::size_t kMaxDimension = 1 << 20;

const char *const kTokenizerFiles[] = {
    "tokenizer.json",          "tokenizer_config.json", "vocab.json",     "merges.txt",
    "special_tokens_map.json", "added_tokens.json",     "normalizer.json"};

[[noreturn]] void fail(const fs::path &file, const std::string &what) {
  throw MLModelError(MLModelError::Code::invalidModel, file.string() + ": " + what);
}

// An absent optional document reads as an empty object.
nlohmann::json readDocument(const fs::path &file, bool required) {
  std::error_code error;
  if (!fs::exists(file, error)) {
    if (required) {
      throw MLModelError(MLModelError::Code::io, file.string() + ": not found");
    }
    return nlohmann::json::object();
  }
  if (fs::file_size(file, error) > kMaxDocumentBytes) {
    fail(file, "larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in && !in.eof()) {
    throw MLModelError(MLModelError::Code::io, file.string() + ": cannot be read");
  }
  try {
    nlohmann::json document = nlohmann::json::parse(
        bytes.str(), [&](int depth, nlohmann::json::parse_event_t, nlohmann::json &) {
          if (depth > kMaxDocumentDepth) {
            fail(file, "nested more than " + std::to_string(kMaxDocumentDepth) + " levels deep");
          }
          return true;
        });
    if (!document.is_object()) {
      fail(file, "is not a JSON object");
    }
    return document;
  } catch (const nlohmann::json::exception &jsonError) {
    fail(file, std::string("is not valid JSON (") + jsonError.what() + ")");
  }
}

std::optional<std::size_t> readSize(const nlohmann::json &document, const fs::path &file,
                                    const char *key) {
  const auto found = document.find(key);
  if (found == document.end() || found->is_null()) {
    return std::nullopt;
  }
  if (!found->is_number_unsigned() || found->get<std::uint64_t>() == 0 ||
      found->get<std::uint64_t>() > kMaxDimension) {
    fail(file, std::string("\"") + key + "\" must be a whole number from 1 to " +
                   std::to_string(kMaxDimension));
  }
  return found->get<std::size_t>();
}

std::size_t requireSize(const nlohmann::json &document, const fs::path &file, const char *key) {
  if (auto value = readSize(document, file, key)) {
    return *value;
  }
  fail(file, std::string("\"") + key + "\" is missing");
}

ModelDimensions readDimensions(const fs::path &source) {
  const fs::path configFile = source / "config.json";
  const fs::path preprocessorFile = source / "preprocessor_config.json";
  const nlohmann::json config = readDocument(configFile, /*required=*/true);
  const nlohmann::json preprocessor = readDocument(preprocessorFile, /*required=*/false);

  ModelDimensions d;
  d.width = requireSize(config, configFile, "d_model");
  d.encoderLayers = requireSize(config, configFile, "encoder_layers");
  d.encoderHeads = requireSize(config, configFile, "encoder_attention_heads");
  d.decoderLayers = requireSize(config, configFile, "decoder_layers");
  d.decoderHeads = requireSize(config, configFile, "decoder_attention_heads");
  d.ffnWidth = requireSize(config, configFile, "encoder_ffn_dim");
  if (const auto decoderFfn = readSize(config, configFile, "decoder_ffn_dim");
      decoderFfn && *decoderFfn != d.ffnWidth) {
    fail(configFile, "\"decoder_ffn_dim\" " + std::to_string(*decoderFfn) +
                         " differs from \"encoder_ffn_dim\" " + std::to_string(d.ffnWidth) +
                         ", which the runner cannot load");
  }
  d.vocabularySize = requireSize(config, configFile, "vocab_size");
  d.melCount = readSize(config, configFile, "num_mel_bins").value_or(d.melCount);
  d.audioContext = readSize(config, configFile, "max_source_positions").value_or(d.audioContext);
  d.textContext = readSize(config, configFile, "max_target_positions").value_or(d.textContext);
  d.cacheLength = std::min(d.cacheLength, d.textContext);
  if (const auto featureSize = readSize(preprocessor, preprocessorFile, "feature_size");
      featureSize && *featureSize != d.melCount) {
    fail(preprocessorFile, "\"feature_size\" " + std::to_string(*featureSize) +
                               " differs from \"num_mel_bins\" " + std::to_string(d.melCount) +
                               " in config.json");
  }
  d.fftLength = readSize(preprocessor, preprocessorFile, "n_fft").value_or(d.fftLength);
  d.hopLength = readSize(preprocessor, preprocessorFile, "hop_length").value_or(d.hopLength);
  d.windowSamples = readSize(preprocessor, preprocessorFile, "n_samples").value_or(d.windowSamples);
  if (d.width % d.encoderHeads != 0 || d.width % d.decoderHeads != 0) {
    fail(configFile,
         "\"d_model\" " + std::to_string(d.width) + " is not a multiple of the attention heads");
  }
  if (d.melFrames() != 2 * d.audioContext) {
    fail(configFile,
         "a window of " + std::to_string(d.windowSamples) + " samples gives " +
             std::to_string(d.melFrames()) + " mel frames, but \"max_source_positions\" " +
             std::to_string(d.audioContext) + " needs " + std::to_string(2 * d.audioContext));
  }
  return d;
}

std::vector<std::pair<std::size_t, std::size_t>> readAlignmentHeads(const fs::path &source,
                                                                    const ModelDimensions &d) {
  const fs::path file = source / "generation_config.json";
  const nlohmann::json generation = readDocument(file, /*required=*/false);
  std::vector<std::pair<std::size_t, std::size_t>> heads;
  const auto found = generation.find("alignment_heads");
  if (found == generation.end() || found->is_null()) {
    // Without published heads the upper half of the decoder aligns best.
    for (std::size_t layer = d.decoderLayers / 2; layer < d.decoderLayers; ++layer) {
      for (std::size_t head = 0; head < d.decoderHeads; ++head) {
        heads.emplace_back(layer, head);
      }
    }
    return heads;
  }
  if (!found->is_array()) {
    fail(file, "\"alignment_heads\" is not a list of [layer, head] pairs");
  }
  for (const auto &pair : *found) {
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number_unsigned() ||
        !pair[1].is_number_unsigned() || pair[0].get<std::uint64_t>() >= d.decoderLayers ||
        pair[1].get<std::uint64_t>() >= d.decoderHeads) {
      fail(file, "\"alignment_heads\" holds an entry that is not a [layer, head] pair within " +
                     std::to_string(d.decoderLayers) + " layers of " +
                     std::to_string(d.decoderHeads) + " heads");
    }
    heads.emplace_back(pair[0].get<std::size_t>(), pair[1].get<std::size_t>());
  }
  return heads;
}

std::vector<std::pair<std::string, Shape>> encoderTensors(const ModelDimensions &d) {
  const std::string p = "model.encoder.";
  std::vector<std::pair<std::string, Shape>> tensors = {
      {p + "conv1.weight", {d.width, d.melCount, 3}},
      {p + "conv1.bias", {d.width}},
      {p + "conv2.weight", {d.width, d.width, 3}},
      {p + "conv2.bias", {d.width}},
      {p + "embed_positions.weight", {d.audioContext, d.width}},
  };
  for (std::size_t i = 0; i < d.encoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    for (const char *projection : {"q_proj", "k_proj", "v_proj", "out_proj"}) {
      tensors.push_back({layer + "self_attn." + projection + ".weight", {d.width, d.width}});
      if (std::string(projection) != "k_proj") {
        tensors.push_back({layer + "self_attn." + projection + ".bias", {d.width}});
      }
    }
    for (const char *norm : {"self_attn_layer_norm", "final_layer_norm"}) {
      tensors.push_back({layer + norm + ".weight", {d.width}});
      tensors.push_back({layer + norm + ".bias", {d.width}});
    }
    tensors.push_back({layer + "fc1.weight", {d.ffnWidth, d.width}});
    tensors.push_back({layer + "fc1.bias", {d.ffnWidth}});
    tensors.push_back({layer + "fc2.weight", {d.width, d.ffnWidth}});
    tensors.push_back({layer + "fc2.bias", {d.width}});
  }
  tensors.push_back({p + "layer_norm.weight", {d.width}});
  tensors.push_back({p + "layer_norm.bias", {d.width}});
  return tensors;
}

std::vector<std::pair<std::string, Shape>> decoderTensors(const ModelDimensions &d) {
  const std::string p = "model.decoder.";
  std::vector<std::pair<std::string, Shape>> tensors = {
      {p + "embed_tokens.weight", {d.vocabularySize, d.width}},
      {p + "embed_positions.weight", {d.textContext, d.width}},
  };
  for (std::size_t i = 0; i < d.decoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    for (const char *attention : {"self_attn", "encoder_attn"}) {
      for (const char *projection : {"q_proj", "k_proj", "v_proj", "out_proj"}) {
        const std::string name = layer + attention + "." + projection;
        tensors.push_back({name + ".weight", {d.width, d.width}});
        if (std::string(projection) != "k_proj") {
          tensors.push_back({name + ".bias", {d.width}});
        }
      }
    }
    for (const char *norm :
         {"self_attn_layer_norm", "encoder_attn_layer_norm", "final_layer_norm"}) {
      tensors.push_back({layer + norm + ".weight", {d.width}});
      tensors.push_back({layer + norm + ".bias", {d.width}});
    }
    tensors.push_back({layer + "fc1.weight", {d.ffnWidth, d.width}});
    tensors.push_back({layer + "fc1.bias", {d.ffnWidth}});
    tensors.push_back({layer + "fc2.weight", {d.width, d.ffnWidth}});
    tensors.push_back({layer + "fc2.bias", {d.width}});
  }
  tensors.push_back({p + "layer_norm.weight", {d.width}});
  tensors.push_back({p + "layer_norm.bias", {d.width}});
  return tensors;
}

// Copies the listed tensors, each checked against its expected shape, keeping its element type.
SafeTensorsWriter copyTensors(const SafeTensorsFile &checkpoint,
                              const std::vector<std::pair<std::string, Shape>> &tensors) {
  SafeTensorsWriter writer;
  for (const auto &[name, shape] : tensors) {
    const SafeTensorsFile::Tensor &entry = checkpoint.tensor(name, shape);
    writer.add(name, shape, checkpoint.readFloats(name, shape), entry.type);
  }
  return writer;
}

void writeModel(const fs::path &folder, const std::string &name, const ModelConfig &config,
                const SafeTensorsWriter &weights) {
  const fs::path model = folder / (name + ".mlmodelc");
  fs::create_directories(model);
  std::ofstream out(model / "model.json", std::ios::binary | std::ios::trunc);
  out << config.toJson();
  out.close();
  if (!out) {
    throw MLModelError(MLModelError::Code::io,
                       (model / "model.json").string() + ": cannot be written");
  }
  weights.write(model / "weights.safetensors");
}

// One line per source file that decides the import: name, size and modification time.
std::string sourceStamp(const fs::path &source) {
  std::string stamp;
  const char *const decisive[] = {"config.json", "model.safetensors", "generation_config.json",
                                  "preprocessor_config.json"};
  auto addFile = [&](const char *name) {
    std::error_code error;
    const fs::path file = source / name;
    if (!fs::exists(file, error)) {
      return;
    }
    const auto size = fs::file_size(file, error);
    const auto time = fs::last_write_time(file, error).time_since_epoch().count();
    stamp += std::string(name) + " " + std::to_string(size) + " " + std::to_string(time) + "\n";
  };
  for (const char *name : decisive) {
    addFile(name);
  }
  for (const char *name : kTokenizerFiles) {
    addFile(name);
  }
  return stamp;
}

constexpr const char *kStampName = ".checkpoint-import";

} // namespace

bool isCheckpointFolder(const fs::path &folder) {
  std::error_code error;
  return fs::is_regular_file(folder / "config.json", error) &&
         fs::is_regular_file(folder / "model.safetensors", error);
}

void importCheckpoint(const fs::path &source, const fs::path &destination) {
  const ModelDimensions d = readDimensions(source);
  const auto alignmentHeads = readAlignmentHeads(source, d);
  const SafeTensorsFile checkpoint(source / "model.safetensors");
  const SafeTensorsWriter encoderWeights = copyTensors(checkpoint, encoderTensors(d));
  const SafeTensorsWriter decoderWeights = copyTensors(checkpoint, decoderTensors(d));
  SafeTensorsWriter melWeights;
  melWeights.add("mel_filters", {d.melCount, d.fftLength / 2 + 1},
                 runner::melFilterbank(d.melCount, d.fftLength),
                 SafeTensorsFile::ElementType::float32);

  // Written beside the destination first and moved into place whole, so a failed import never
  // leaves a folder that looks loadable.
  const fs::path staging =
      destination.parent_path() / (destination.filename().string() + ".partial");
  std::error_code error;
  fs::remove_all(staging, error);
  try {
    fs::create_directories(staging);
    writeModel(staging, "MelSpectrogram", ModelConfig::standard(ModelKind::mel, d), melWeights);
    writeModel(staging, "AudioEncoder", ModelConfig::standard(ModelKind::audioEncoder, d),
               encoderWeights);
    ModelConfig decoder = ModelConfig::standard(ModelKind::textDecoder, d);
    decoder.alignmentHeads = alignmentHeads;
    writeModel(staging, "TextDecoder", decoder, decoderWeights);
    for (const char *name : kTokenizerFiles) {
      if (fs::exists(source / name, error)) {
        fs::copy_file(source / name, staging / name, fs::copy_options::overwrite_existing);
      }
    }
    std::ofstream(staging / kStampName, std::ios::binary | std::ios::trunc) << sourceStamp(source);
    fs::remove_all(destination, error);
    fs::rename(staging, destination);
  } catch (const fs::filesystem_error &fsError) {
    fs::remove_all(staging, error);
    throw MLModelError(MLModelError::Code::io, destination.string() +
                                                   ": cannot write the imported models (" +
                                                   fsError.code().message() + ")");
  } catch (...) {
    fs::remove_all(staging, error);
    throw;
  }
}

fs::path importCheckpointIfNeeded(const fs::path &source, const fs::path &destination) {
  std::ifstream in(destination / kStampName, std::ios::binary);
  if (in) {
    std::ostringstream stamp;
    stamp << in.rdbuf();
    if (stamp.str() == sourceStamp(source)) {
      return destination;
    }
  }
  importCheckpoint(source, destination);
  return destination;
}

} // namespace platform
