#include "platform/ml/CheckpointImport.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "platform/ml/runner/importer/ImportDestination.hpp"
#include "platform/ml/runner/importer/ImportMarker.hpp"
#include "platform/ml/runner/importer/MelFilterbank.hpp"
#include "platform/ml/runner/importer/StagingFolder.hpp"
#include "platform/system/BoundedJsonParser.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/FileContents.hpp"
#include "platform/system/FileDescriptor.hpp"
#include "platform/text/Excerpt.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <optional>
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

using runner::importer::checkDestination;
using runner::importer::kModelFiles;
using runner::importer::kTokenizerFiles;
using runner::importer::lockStaging;
using runner::importer::makeFolderBeside;
using runner::importer::Marker;
using runner::importer::moveIntoPlace;
using runner::importer::plainPath;
using runner::importer::readMarker;
using runner::importer::removeStaging;
using runner::importer::sourceStamp;
using runner::importer::sweepStalePartials;
using runner::importer::writeStamp;

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
  const FileContents contents = FileContents::read(file, kMaxDocumentBytes);
  if (!contents.opened || contents.failed) {
    throw MLModelError(MLModelError::Code::io, file.string() + ": cannot be read");
  }
  if (contents.tooLarge) {
    fail(file, "larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
  }
  nlohmann::json document;
  try {
    document = parseJsonWithinLimits(contents.bytes, JsonLimits{.maxDepth = kMaxDocumentDepth});
  } catch (const JsonLimitError &limitError) {
    fail(file, limitError.what());
  } catch (const nlohmann::json::exception &jsonError) {
    fail(file, "is not valid JSON (" + boundedMessage(jsonError.what()) + ")");
  }
  if (!document.is_object()) {
    fail(file, "is not a JSON object");
  }
  return document;
}

// The dimension keys of one configuration document, each checked against the loader's bound of
// the dimension it sets, so nothing is built from a size the loader would refuse.
class DimensionReader {
public:
  DimensionReader(const fs::path &file, bool required)
      : file_(file), document_(readDocument(file, required)) {}

  std::optional<std::size_t> read(const char *key, std::size_t ModelDimensions::*field) const {
    const auto found = document_.find(key);
    if (found == document_.end() || found->is_null()) {
      return std::nullopt;
    }
    const std::size_t bound = runner::dimensionBound(field);
    if (!found->is_number_unsigned() || found->get<std::uint64_t>() == 0 ||
        found->get<std::uint64_t>() > bound) {
      fail(file_, std::string("\"") + key + "\" must be a whole number from 1 to " +
                      std::to_string(bound));
    }
    return found->get<std::size_t>();
  }
  // Leaves the dimension at its default when the key is absent.
  void readInto(ModelDimensions &d, const char *key, std::size_t ModelDimensions::*field) const {
    d.*field = read(key, field).value_or(d.*field);
  }
  void require(ModelDimensions &d, const char *key, std::size_t ModelDimensions::*field) const {
    const auto value = read(key, field);
    if (!value) {
      fail(file_, std::string("\"") + key + "\" is missing");
    }
    d.*field = *value;
  }
  const fs::path &file() const { return file_; }

private:
  fs::path file_;
  nlohmann::json document_;
};

// A key that repeats a dimension read before must agree with it.
void checkAgreement(const DimensionReader &reader, const char *key,
                    std::size_t ModelDimensions::*field, const ModelDimensions &d,
                    const char *firstKey, const char *suffix) {
  if (const auto value = reader.read(key, field); value && *value != d.*field) {
    fail(reader.file(), std::string("\"") + key + "\" " + std::to_string(*value) +
                            " differs from \"" + firstKey + "\" " + std::to_string(d.*field) +
                            suffix);
  }
}

ModelDimensions readDimensions(const fs::path &source) {
  using D = ModelDimensions;
  const DimensionReader config(source / "config.json", /*required=*/true);
  const DimensionReader preprocessor(source / "preprocessor_config.json", /*required=*/false);
  ModelDimensions d;
  config.require(d, "d_model", &D::width);
  config.require(d, "encoder_layers", &D::encoderLayers);
  config.require(d, "encoder_attention_heads", &D::encoderHeads);
  config.require(d, "decoder_layers", &D::decoderLayers);
  config.require(d, "decoder_attention_heads", &D::decoderHeads);
  config.require(d, "encoder_ffn_dim", &D::ffnWidth);
  checkAgreement(config, "decoder_ffn_dim", &D::ffnWidth, d, "encoder_ffn_dim",
                 ", which the runner cannot load");
  config.require(d, "vocab_size", &D::vocabularySize);
  config.readInto(d, "num_mel_bins", &D::melCount);
  config.readInto(d, "max_source_positions", &D::audioContext);
  config.readInto(d, "max_target_positions", &D::textContext);
  d.cacheLength = std::min(d.cacheLength, d.textContext);
  checkAgreement(preprocessor, "feature_size", &D::melCount, d, "num_mel_bins", " in config.json");
  preprocessor.readInto(d, "n_fft", &D::fftLength);
  preprocessor.readInto(d, "hop_length", &D::hopLength);
  preprocessor.readInto(d, "n_samples", &D::windowSamples);
  for (const ModelKind kind : {ModelKind::mel, ModelKind::audioEncoder, ModelKind::textDecoder}) {
    if (const std::string problem = runner::dimensionsProblem(kind, d); !problem.empty()) {
      fail(config.file(), problem);
    }
  }
  if (d.melFrames() != 2 * d.audioContext) {
    fail(config.file(),
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
  // The loader refuses a decoder that reports alignment weights over no head.
  if (found == generation.end() || found->is_null() || (found->is_array() && found->empty())) {
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
  runner::dropRepeatedHeads(heads);
  return heads;
}

using TensorList = std::vector<std::pair<std::string, Shape>>;

// One attention block's projections under `prefix` ("...layers.N.self_attn"); the key
// projection has no bias.
void addAttention(TensorList &tensors, const std::string &prefix, const ModelDimensions &d) {
  for (const char *projection : {"q_proj", "k_proj", "v_proj", "out_proj"}) {
    const std::string name = prefix + "." + projection;
    tensors.push_back({name + ".weight", {d.width, d.width}});
    if (std::string(projection) != "k_proj") {
      tensors.push_back({name + ".bias", {d.width}});
    }
  }
}

// A layer's norms, then its two-layer perceptron.
void addNormsAndPerceptron(TensorList &tensors, const std::string &layer,
                           std::initializer_list<const char *> norms, const ModelDimensions &d) {
  for (const char *norm : norms) {
    tensors.push_back({layer + norm + ".weight", {d.width}});
    tensors.push_back({layer + norm + ".bias", {d.width}});
  }
  tensors.push_back({layer + "fc1.weight", {d.ffnWidth, d.width}});
  tensors.push_back({layer + "fc1.bias", {d.ffnWidth}});
  tensors.push_back({layer + "fc2.weight", {d.width, d.ffnWidth}});
  tensors.push_back({layer + "fc2.bias", {d.width}});
}

TensorList encoderTensors(const ModelDimensions &d) {
  const std::string p = "model.encoder.";
  TensorList tensors = {
      {p + "conv1.weight", {d.width, d.melCount, 3}},
      {p + "conv1.bias", {d.width}},
      {p + "conv2.weight", {d.width, d.width, 3}},
      {p + "conv2.bias", {d.width}},
      {p + "embed_positions.weight", {d.audioContext, d.width}},
  };
  for (std::size_t i = 0; i < d.encoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    addAttention(tensors, layer + "self_attn", d);
    addNormsAndPerceptron(tensors, layer, {"self_attn_layer_norm", "final_layer_norm"}, d);
  }
  tensors.push_back({p + "layer_norm.weight", {d.width}});
  tensors.push_back({p + "layer_norm.bias", {d.width}});
  return tensors;
}

TensorList decoderTensors(const ModelDimensions &d) {
  const std::string p = "model.decoder.";
  TensorList tensors = {
      {p + "embed_tokens.weight", {d.vocabularySize, d.width}},
      {p + "embed_positions.weight", {d.textContext, d.width}},
  };
  for (std::size_t i = 0; i < d.decoderLayers; ++i) {
    const std::string layer = p + "layers." + std::to_string(i) + ".";
    addAttention(tensors, layer + "self_attn", d);
    addAttention(tensors, layer + "encoder_attn", d);
    addNormsAndPerceptron(
        tensors, layer, {"self_attn_layer_norm", "encoder_attn_layer_norm", "final_layer_norm"}, d);
  }
  tensors.push_back({p + "layer_norm.weight", {d.width}});
  tensors.push_back({p + "layer_norm.bias", {d.width}});
  return tensors;
}

// Copies the listed tensors, each checked against its expected shape, keeping its element type.
SafeTensorsWriter copyTensors(const SafeTensorsFile &checkpoint, const TensorList &tensors) {
  SafeTensorsWriter writer;
  for (const auto &[name, shape] : tensors) {
    // A large checkpoint takes minutes: a caller that gave up stops it between tensors.
    Task::checkCancellation();
    const SafeTensorsFile::Tensor &entry = checkpoint.tensor(name, shape);
    writer.add(name, shape, checkpoint.readFloats(name, shape), entry.type);
  }
  return writer;
}

void writeModel(const fs::path &folder, const std::string &name, const ModelConfig &config,
                const SafeTensorsWriter &weights) {
  Task::checkCancellation();
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

} // namespace

bool isCheckpointFolder(const fs::path &folder) {
  std::error_code error;
  return fs::is_regular_file(folder / "config.json", error) &&
         fs::is_regular_file(folder / "model.safetensors", error);
}

void importCheckpoint(const fs::path &source, const fs::path &destination) {
  const fs::path target = plainPath(destination);
  checkDestination(source, target);
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
  std::error_code error;
  fs::path staging;
  try {
    fs::create_directories(target.parent_path());
    sweepStalePartials(target);
    staging = makeFolderBeside(target, ".partial-");
    const platform::FileDescriptor lock = lockStaging(staging);
    std::vector<std::string> wrote(std::begin(kModelFiles), std::end(kModelFiles));
    writeModel(staging, "MelSpectrogram", ModelConfig::standard(ModelKind::mel, d), melWeights);
    writeModel(staging, "AudioEncoder", ModelConfig::standard(ModelKind::audioEncoder, d),
               encoderWeights);
    ModelConfig decoder = ModelConfig::standard(ModelKind::textDecoder, d);
    decoder.alignmentHeads = alignmentHeads;
    writeModel(staging, "TextDecoder", decoder, decoderWeights);
    for (const char *name : kTokenizerFiles) {
      if (fs::exists(source / name, error)) {
        fs::copy_file(source / name, staging / name, fs::copy_options::overwrite_existing);
        wrote.push_back(name);
      }
    }
    writeStamp(staging, source, wrote);
    Task::checkCancellation();
    moveIntoPlace(source, staging, target, wrote);
  } catch (const fs::filesystem_error &fsError) {
    removeStaging(staging);
    throw MLModelError(MLModelError::Code::io, destination.string() +
                                                   ": cannot write the imported models (" +
                                                   fsError.code().message() + ")");
  } catch (...) {
    removeStaging(staging);
    throw;
  }
}

fs::path importCheckpointIfNeeded(const fs::path &source, const fs::path &destination) {
  // An earlier version's marker is redone once, so the folder gets a marker naming its files.
  const std::optional<Marker> marker = readMarker(destination);
  if (marker && marker->current && marker->sourceStamp == sourceStamp(source)) {
    return destination;
  }
  importCheckpoint(source, destination);
  return destination;
}

} // namespace platform
