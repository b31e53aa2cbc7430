#include "platform/ml/CheckpointImport.hpp"

#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/formats/ModelConfig.hpp"
#include "platform/ml/runner/formats/SafeTensorsFile.hpp"
#include "platform/ml/runner/formats/SafeTensorsWriter.hpp"
#include "platform/ml/runner/importer/MelFilterbank.hpp"
#include "platform/system/BoundedJsonParser.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/FileContents.hpp"
#include "platform/system/FileDescriptor.hpp"
#include "platform/text/Excerpt.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Names the marker file every import holds, recognising a folder the importer may replace.
constexpr const char *kStampName = ".checkpoint-import";

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

// The first line of the marker, saying what wrote the folder.
constexpr std::string_view kMarkerHeading = "Murmurquill checkpoint import";
// Markers are a few hundred bytes; a larger file is not one.
constexpr std::uintmax_t kMaxMarkerBytes = 64 * 1024;

const char *const kModelFiles[] = {
    "MelSpectrogram.mlmodelc/model.json", "MelSpectrogram.mlmodelc/weights.safetensors",
    "AudioEncoder.mlmodelc/model.json",   "AudioEncoder.mlmodelc/weights.safetensors",
    "TextDecoder.mlmodelc/model.json",    "TextDecoder.mlmodelc/weights.safetensors"};

// What an earlier import's marker says: the source files it was made from (as sourceStamp
// writes them) and the files it wrote, relative to its folder.
struct Marker {
  std::string sourceStamp;
  std::vector<std::string> wrote;
  bool current = false; // written by this version, naming its files
};

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.push_back(line);
  }
  return result;
}

bool isSourceFileName(std::string_view name) {
  for (const char *known :
       {"config.json", "model.safetensors", "generation_config.json", "preprocessor_config.json"}) {
    if (name == known) {
      return true;
    }
  }
  return std::find(std::begin(kTokenizerFiles), std::end(kTokenizerFiles), name) !=
         std::end(kTokenizerFiles);
}

// A line of a source stamp: a source file's name, its size and its time, and nothing else.
std::optional<std::string> stampedName(const std::string &line) {
  std::istringstream in(line);
  std::string name;
  std::uintmax_t size = 0;
  long long time = 0;
  std::string rest;
  if (!(in >> name >> size >> time) || (in >> rest) || !isSourceFileName(name)) {
    return std::nullopt;
  }
  return name;
}

// A file the marker says the import wrote: one of the names an import writes, nothing else.
bool isImportFileName(std::string_view name) {
  return std::find(std::begin(kModelFiles), std::end(kModelFiles), name) != std::end(kModelFiles) ||
         std::find(std::begin(kTokenizerFiles), std::end(kTokenizerFiles), name) !=
             std::end(kTokenizerFiles);
}

// The marker of an import in `folder`, or nothing when the folder holds none that an import
// wrote (no file, a link, an empty or foreign file). Markers of earlier versions held only the
// source stamp; they name the tokenizer files copied, and the model files are the fixed six.
std::optional<Marker> readMarker(const fs::path &folder) {
  std::error_code error;
  const fs::path file = folder / kStampName;
  if (!fs::is_directory(fs::symlink_status(folder, error)) ||
      !fs::is_regular_file(fs::symlink_status(file, error))) {
    return std::nullopt;
  }
  const FileContents contents = FileContents::read(file, kMaxMarkerBytes);
  if (!contents.opened || contents.failed || contents.tooLarge) {
    return std::nullopt;
  }
  const std::vector<std::string> text = lines(contents.bytes);
  Marker marker;
  if (!text.empty() && text.front() == kMarkerHeading) {
    marker.current = true;
    for (std::size_t i = 1; i < text.size(); ++i) {
      const std::string &line = text[i];
      if (line.starts_with("source ") && stampedName(line.substr(7))) {
        marker.sourceStamp += line.substr(7) + "\n";
      } else if (line.starts_with("wrote ") && isImportFileName(line.substr(6))) {
        marker.wrote.push_back(line.substr(6));
      } else {
        return std::nullopt;
      }
    }
    return marker;
  }
  // An earlier version's marker: stamp lines only, and at least the two required files.
  marker.wrote.assign(std::begin(kModelFiles), std::end(kModelFiles));
  for (const std::string &line : text) {
    const auto name = stampedName(line);
    if (!name) {
      return std::nullopt;
    }
    marker.sourceStamp += line + "\n";
    if (isImportFileName(*name)) {
      marker.wrote.push_back(*name);
    }
  }
  if (marker.sourceStamp.find("config.json ") != 0) {
    return std::nullopt;
  }
  return marker;
}

// The marker that makes `folder` an import this importer may later replace: what wrote it, the
// source it was made from and the files it wrote.
void writeStamp(const fs::path &folder, const fs::path &source,
                const std::vector<std::string> &wrote) {
  std::string text = std::string(kMarkerHeading) + "\n";
  for (const std::string &line : lines(sourceStamp(source))) {
    text += "source " + line + "\n";
  }
  for (const std::string &name : wrote) {
    text += "wrote " + name + "\n";
  }
  std::ofstream out(folder / kStampName, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    throw MLModelError(MLModelError::Code::io,
                       (folder / kStampName).string() + ": cannot be written");
  }
}

// `path` absolute, without "." and ".." parts or a trailing separator, so its name and parent are
// those of the folder meant ("." names the current directory, not a folder called ".").
fs::path plainPath(const fs::path &path) {
  fs::path plain = fs::absolute(path).lexically_normal();
  return plain.has_filename() ? plain : plain.parent_path();
}

// True when `inner` is `outer` or lies inside it.
bool isWithin(const fs::path &inner, const fs::path &outer) {
  const fs::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

// Refuses a destination where the import would delete or replace what it did not write: the
// checkpoint itself, a folder holding it, and anything but an earlier import, which holds the
// marker file. Symbolic links are not followed: one is not an earlier import.
void checkDestination(const fs::path &source, const fs::path &destination) {
  const fs::path from = fs::weakly_canonical(source);
  const fs::path to = fs::weakly_canonical(destination);
  if (isWithin(to, from)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() + ": is the checkpoint folder or lies inside it");
  }
  if (isWithin(from, to)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() + ": holds the checkpoint folder " + source.string());
  }
  const fs::file_status status = fs::symlink_status(destination);
  if (fs::exists(status) && !readMarker(destination)) {
    throw MLModelError(MLModelError::Code::io,
                       destination.string() +
                           ": exists and is not an earlier import (it holds no " + kStampName +
                           " written by an import), so it is left as it is");
  }
}

// A new, empty folder beside `destination` whose name starts with the destination's and `infix`;
// only the importer makes such a folder, so only the importer ever removes it.
fs::path makeFolderBeside(const fs::path &destination, const char *infix) {
  std::string pattern = destination.string() + infix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw fs::filesystem_error("cannot make a folder", fs::path(pattern),
                               std::error_code(errno, std::generic_category()));
  }
  using fs::perms;
  fs::permissions(pattern, perms::owner_all | perms::group_read | perms::group_exec |
                               perms::others_read | perms::others_exec);
  return pattern;
}

// Names a lock file inside a staging folder, held while its import runs: a staging folder whose
// lock nobody holds was left by an import that was killed.
constexpr const char *kLockName = ".import-in-progress";

// Holds the lock of the staging folder `staging` until destroyed.
platform::FileDescriptor lockStaging(const fs::path &staging) {
  const fs::path lock = staging / kLockName;
  platform::FileDescriptor fd(
      ::open(lock.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR));
  if (!fd.isOpen() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    throw fs::filesystem_error("cannot lock the staging folder", lock,
                               std::error_code(errno, std::generic_category()));
  }
  return fd;
}

// Removes the staging folders of imports into `destination` that were killed before they
// finished: ours by name (`destination` ".partial-" and six characters, as mkdtemp makes them)
// and by their lock file, stale because no process holds that lock.
void sweepStalePartials(const fs::path &destination) {
  const std::string prefix = destination.filename().string() + ".partial-";
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(destination.parent_path(), error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
        !fs::is_directory(fs::symlink_status(entry.path(), error))) {
      continue;
    }
    const fs::path lock = entry.path() / kLockName;
    if (!fs::is_regular_file(fs::symlink_status(lock, error))) {
      continue;
    }
    const platform::FileDescriptor fd(::open(lock.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (fd.isOpen() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      fs::remove_all(entry.path(), error);
    }
  }
}

// Removes `file` and then the folders above it inside `root` that it leaves empty.
void removeWithEmptyFolders(const fs::path &root, const fs::path &relative) {
  std::error_code error;
  fs::remove(root / relative, error);
  for (fs::path folder = relative.parent_path(); !folder.empty(); folder = folder.parent_path()) {
    if (!fs::remove(root / folder, error)) { // only an empty folder goes
      break;
    }
  }
}

// Puts the finished import in `staging` (which wrote `wrote`) at `destination`. A new
// destination is the staging folder renamed. An earlier import there is replaced file by file:
// the files it wrote are replaced or removed, anything a user added is left, and its marker is
// replaced last, so an interrupted replacement is redone by the next import.
void moveIntoPlace(const fs::path &source, const fs::path &staging, const fs::path &destination,
                   const std::vector<std::string> &wrote) {
  checkDestination(source, destination); // again: the folder may have appeared meanwhile
  if (!fs::exists(fs::symlink_status(destination))) {
    // The lock goes with the folder and is dropped there: a staging folder never lacks it.
    fs::rename(staging, destination);
    std::error_code error;
    fs::remove(destination / kLockName, error);
    return;
  }
  const std::optional<Marker> earlier = readMarker(destination);
  const auto wroteEarlier = [&](const std::string &name) {
    return std::find(earlier->wrote.begin(), earlier->wrote.end(), name) != earlier->wrote.end();
  };
  for (const std::string &name : wrote) {
    if (fs::exists(fs::symlink_status(destination / name)) && !wroteEarlier(name)) {
      throw MLModelError(MLModelError::Code::io,
                         (destination / name).string() +
                             ": was not written by an earlier import, so it is left as it is");
    }
  }
  // A model folder replaced by a link would have the import write or delete where it points.
  for (const auto *names : {&wrote, &earlier->wrote}) {
    for (const std::string &name : *names) {
      const fs::path folder = (destination / name).parent_path();
      if (folder != destination && fs::is_symlink(fs::symlink_status(folder))) {
        throw MLModelError(MLModelError::Code::io,
                           folder.string() + ": is a link, not a folder an import wrote, so it "
                                             "is left as it is");
      }
    }
  }
  for (const std::string &name : wrote) {
    fs::create_directories((destination / name).parent_path());
    fs::rename(staging / name, destination / name);
  }
  for (const std::string &name : earlier->wrote) {
    if (std::find(wrote.begin(), wrote.end(), name) == wrote.end()) {
      removeWithEmptyFolders(destination, name);
    }
  }
  fs::rename(staging / kStampName, destination / kStampName);
  std::error_code error;
  fs::remove_all(staging, error);
}

// Removes a staging folder this import made, if it is still there.
void removeStaging(const fs::path &staging) {
  std::error_code error;
  if (!staging.empty()) {
    fs::remove_all(staging, error);
  }
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
