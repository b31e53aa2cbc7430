// The facade's state, construction and model life cycle.
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include "platform/system/CancellationScope.hpp"

#include <chrono>
#include <cstdio>

#include "DeduveCore/Hub/HubApiWrapper.hpp"
#include "DeduveCore/Support/Logging.hpp"
#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Audio/VoiceActivityDetector.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoder.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtractor.hpp"
#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/ModelUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/CheckpointImport.hpp"

namespace divuvovize {

namespace fs = std::filesystem;
using deduve::Logging;
using deduve::ModelState;

namespace {

double absoluteNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return std::string(text) + "s";
}

// The component's model interface, when it has one; components a configuration supplies may not.
WhisperMLModel *modelOf(const std::shared_ptr<void> &) = delete;
template <class Component> WhisperMLModel *modelOf(const std::shared_ptr<Component> &component) {
  return dynamic_cast<WhisperMLModel *>(component.get());
}

// "MODEL/" and "MODEL" name one folder; only the second has a name to put a sibling beside.
fs::path withoutTrailingSeparator(const fs::path &folder) {
  fs::path normal = folder.lexically_normal();
  if (!normal.has_filename() && normal.has_relative_path()) {
    normal = normal.parent_path();
  }
  return normal;
}

// A published checkpoint in the model folder is imported once into a folder beside it.
fs::path loadableFolder(const fs::path &given) {
  const fs::path folder = withoutTrailingSeparator(given);
  if (!platform::isCheckpointFolder(folder) ||
      fs::exists(deduve::ModelUtilities::detectModelURL(folder, "MelSpectrogram"))) {
    return folder;
  }
  const fs::path imported = folder.parent_path() / (folder.filename().string() + ".imported");
  modelslog::info("Importing checkpoint " + folder.string() + " into " + imported.string());
  return platform::importCheckpointIfNeeded(folder, imported);
}

} // namespace

TranscriptionTimings DivuvovIze::initialTimings() { return TranscriptionTimings{}; }

DivuvovIze::DivuvovIze(const DivuvovIzeConfig &config)
    : modelCompute(config.computeOptions.value_or(ModelComputeOptions())),
      audioInputConfig(config.audioInputConfig ? *config.audioInputConfig : AudioInputConfig{}),
      progress_(deduve::Progress::make(0)) {
  audioProcessor =
      config.audioProcessor ? config.audioProcessor : std::make_shared<AudioProcessor>();
  featureExtractor =
      config.featureExtractor ? config.featureExtractor : std::make_shared<FeatureExtractor>();
  audioEncoder = config.audioEncoder ? config.audioEncoder : std::make_shared<AudioEncoder>();
  textDecoder = config.textDecoder ? config.textDecoder : std::make_shared<TextDecoder>();
  if (config.logitsFilters) {
    textDecoder->setLogitsFilters(config.logitsFilters);
  }
  segmentSeeker = config.segmentSeeker ? config.segmentSeeker : std::make_shared<SegmentSeeker>();
  voiceActivityDetector = config.voiceActivityDetector;
  tokenizerFolder = config.tokenizerFolder ? config.tokenizerFolder : config.downloadBase;
  useBackgroundDownloadSession_ = config.useBackgroundDownloadSession;
  Logging::updateLogLevel(config.verbose ? config.logLevel : Logging::LogLevel::none);

  setupModels(config.model, config.downloadBase, config.modelRepo, config.modelToken,
              config.modelFolder, config.download, std::string(Constants::defaultRemoteConfigName),
              config.modelEndpoint.value_or(Constants::defaultRemoteEndpoint()));
  if (config.prewarm.value_or(false)) {
    modelslog::info("Prewarming models...");
    prewarmModels();
  }
  if (config.load.value_or(config.modelFolder.has_value())) {
    modelslog::info("Loading models...");
    loadModels(/*prewarmMode=*/false);
  }
}

DivuvovIze::~DivuvovIze() {
  if (audioProcessor) {
    audioProcessor->stopRecording();
  }
}

void DivuvovIze::setModelState(ModelState state) {
  const ModelState previous = modelState_;
  modelState_ = state;
  if (modelStateCallback) {
    modelStateCallback(previous, state);
  }
}

void DivuvovIze::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
  tokenizer_ = std::move(tokenizer);
  textDecoder->setTokenizer(tokenizer_);
}

void DivuvovIze::setupModels(const std::optional<std::string> &model,
                             const std::optional<fs::path> &downloadBase,
                             const std::optional<std::string> &modelRepo,
                             const std::optional<std::string> &modelToken,
                             const std::optional<std::string> &folder, bool download,
                             const std::string &remoteConfigName, const std::string &endpoint) {
  if (folder) {
    modelFolder = withoutTrailingSeparator(fs::path(*folder));
    return;
  }
  if (!download) {
    return;
  }
  const std::string repo = modelRepo.value_or(std::string(defaultModelRepo));
  const std::string variant =
      model ? *model
            : recommendedRemoteModels(repo, downloadBase, modelToken, remoteConfigName, endpoint)
                  .defaultModel;
  try {
    modelFolder = DivuvovIze::download(variant, downloadBase, useBackgroundDownloadSession_, repo,
                                       modelToken, endpoint);
  } catch (const std::exception &error) {
    throw WhisperError::modelsUnavailable(
        std::string("Model not found. Please check the model or repo name and try again.\n"
                    "Error: ") +
        error.what());
  }
}

void DivuvovIze::prewarmModels() { loadModels(/*prewarmMode=*/true); }

void DivuvovIze::loadModels(bool prewarmMode) {
  setModelState(prewarmMode ? ModelState::prewarming : ModelState::loading);
  const double start = absoluteNow();
  if (!modelFolder) {
    throw WhisperError::modelsUnavailable("Model folder is not set.");
  }
  const fs::path folder = loadableFolder(*modelFolder);
  modelslog::debug("Loading models from " + folder.string() +
                   " with prewarmMode: " + (prewarmMode ? "true" : "false"));
  const fs::path melUrl = deduve::ModelUtilities::detectModelURL(folder, "MelSpectrogram");
  const fs::path encoderUrl = deduve::ModelUtilities::detectModelURL(folder, "AudioEncoder");
  const fs::path decoderUrl = deduve::ModelUtilities::detectModelURL(folder, "TextDecoder");
  for (const fs::path &url : {melUrl, encoderUrl, decoderUrl}) {
    if (!fs::exists(url)) {
      throw WhisperError::modelsUnavailable("Model file not found at " + url.string());
    }
  }

  // Each step may take long on a large model: a caller that gave up stops the load between them.
  platform::Task::checkCancellation();
  if (auto *mel = modelOf(featureExtractor)) {
    modelslog::debug("Loading feature extractor");
    mel->loadModel(melUrl, modelCompute.melCompute, prewarmMode);
    modelslog::debug("Loaded feature extractor");
  }
  platform::Task::checkCancellation();
  if (auto *decoder = modelOf(textDecoder)) {
    modelslog::debug("Loading text decoder");
    const double decoderStart = absoluteNow();
    decoder->loadModel(decoderUrl, modelCompute.textDecoderCompute, prewarmMode);
    const double elapsed = absoluteNow() - decoderStart;
    (prewarmMode ? currentTimings_.decoderSpecializationTime : currentTimings_.decoderLoadTime) =
        elapsed;
    modelslog::debug("Loaded text decoder in " + seconds(elapsed));
  }
  platform::Task::checkCancellation();
  if (auto *encoder = modelOf(audioEncoder)) {
    modelslog::debug("Loading audio encoder");
    const double encoderStart = absoluteNow();
    encoder->loadModel(encoderUrl, modelCompute.audioEncoderCompute, prewarmMode);
    const double elapsed = absoluteNow() - encoderStart;
    (prewarmMode ? currentTimings_.encoderSpecializationTime : currentTimings_.encoderLoadTime) =
        elapsed;
    modelslog::debug("Loaded audio encoder in " + seconds(elapsed));
  }

  if (prewarmMode) {
    setModelState(ModelState::prewarmed);
    currentTimings_.prewarmLoadTime = absoluteNow() - start;
    return;
  }
  platform::Task::checkCancellation();
  loadTokenizerIfNeeded();
  platform::Task::checkCancellation();
  setModelState(ModelState::loaded);
  currentTimings_.modelLoading = absoluteNow() - start + currentTimings_.prewarmLoadTime;
  modelslog::info("Loaded models for whisper size: " + std::string(description(modelVariant_)) +
                  " in " + seconds(currentTimings_.modelLoading));
}

void DivuvovIze::loadTokenizerIfNeeded() {
  if (tokenizer_) {
    modelslog::debug("Tokenizer already exists on DivuvovIze, skipping load");
    return;
  }
  const std::optional<int> logitsSize = textDecoder->logitsSize();
  const std::optional<int> embedSize = audioEncoder->embedSize();
  if (!logitsSize || !embedSize) {
    throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  }
  textDecoder->setIsModelMultilingual(*logitsSize != 51864);
  modelVariant_ = ModelUtilities::modelVariant(*logitsSize, *embedSize);
  modelslog::debug("Loading tokenizer for " + std::string(description(modelVariant_)));
  const double start = absoluteNow();

  std::vector<fs::path> searchPaths;
  if (modelFolder) {
    const deduve::HubApiWrapper local(*modelFolder);
    searchPaths = {*modelFolder,
                   local.localRepoLocation({ModelUtilities::tokenizerRepositoryID(modelVariant_),
                                            deduve::HubApiWrapper::RepoType::models})};
  }
  std::shared_ptr<WhisperTokenizer> loaded = ModelUtilities::loadTokenizer(
      modelVariant_, tokenizerFolder, searchPaths, useBackgroundDownloadSession_);
  currentTimings_.tokenizerLoadTime = absoluteNow() - start;
  setTokenizer(std::move(loaded));
  modelslog::debug("Loaded tokenizer in " + seconds(currentTimings_.tokenizerLoadTime));
}

void DivuvovIze::unloadModels() {
  setModelState(ModelState::unloading);
  if (auto *mel = modelOf(featureExtractor)) {
    mel->unloadModel();
  }
  if (auto *encoder = modelOf(audioEncoder)) {
    encoder->unloadModel();
  }
  if (auto *decoder = modelOf(textDecoder)) {
    decoder->unloadModel();
  }
  setModelState(ModelState::unloaded);
  modelslog::info("Unloaded all models");
}

void DivuvovIze::clearState() {
  audioProcessor->stopRecording();
  currentTimings_ = initialTimings();
}

void DivuvovIze::loggingCallback(std::function<void(const std::string &)> callback) {
  Logging::updateCallback(std::move(callback));
}

} // namespace divuvovize
