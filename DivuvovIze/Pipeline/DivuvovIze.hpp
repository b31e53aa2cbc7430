#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <map>
#include <span>
#include <utility>
#include <variant>

#include "DeduveCore/Hub/ModelState.hpp"
#include "DeduveCore/Hub/Progress.hpp"
#include "DivuvovIze/Audio/AudioInputConfig.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DivuvovIzeConfig.hpp"
#include "DivuvovIze/Models/ModelComputeOptions.hpp"
#include "DivuvovIze/Models/ModelSupportConfig.hpp"
#include "DivuvovIze/Models/ModelVariant.hpp"
#include "DivuvovIze/Models/TranscriptionResult.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"

namespace divuvovize {

class AudioProcessing;
class AudioEncoding;
class FeatureExtracting;
class SegmentSeeking;
class TranscribeTask;
class VoiceActivityDetector;
class WhisperTokenizer;

// The speech engine's entry object: it owns one pipeline's components (audio processor, feature
// extractor, audio encoder, text decoder, segment seeker, optional voice-activity detector and
// tokenizer), finds, downloads, prewarms and loads the three models and turns 16 kHz mono
// samples or audio files into transcription results.
//
// Every operation blocks on the calling thread. The facade holds no lock: its owner drives
// set-up, state changes and transcriptions from one thread at a time (batches run their items
// on the shared worker pool themselves). The three callbacks are called synchronously on the
// thread that makes the change and must be safe to call from any thread.
//
// The statics need no instance: which models suit this machine, which a repository offers, and
// the download of one model variant's folder; each call makes its own hub client.
class DivuvovIze {
public:
  using SegmentDiscoveryCallback = std::function<void(const std::vector<TranscriptionSegment> &)>;
  using ModelStateCallback =
      std::function<void(std::optional<deduve::ModelState> oldState, deduve::ModelState newState)>;
  using TranscriptionStateCallback = std::function<void(TranscriptionState)>;
  using Results = std::vector<std::shared_ptr<TranscriptionResult>>;
  // One item of a list operation: its results, or what made it fail.
  using Outcome = std::variant<Results, std::exception_ptr>;

  // Builds the components from `config` (defaults for what it leaves out), then resolves or
  // downloads the model folder, prewarms and loads as the configuration asks. Throws the first
  // error of those steps.
  explicit DivuvovIze(const DivuvovIzeConfig &config);
  virtual ~DivuvovIze();
  DivuvovIze(const DivuvovIze &) = delete;
  DivuvovIze &operator=(const DivuvovIze &) = delete;

  // --- State --------------------------------------------------------------------------------
  ModelVariant modelVariant() const { return modelVariant_; }
  deduve::ModelState modelState() const { return modelState_; }
  // Stores the state, then calls the callback with (previous, new), also when they are equal.
  void setModelState(deduve::ModelState state);
  ModelComputeOptions modelCompute;
  AudioInputConfig audioInputConfig;
  std::shared_ptr<WhisperTokenizer> tokenizer() const { return tokenizer_; }
  // Also hands the tokenizer to the text decoder.
  void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer);
  std::shared_ptr<AudioProcessing> audioProcessor;
  std::shared_ptr<FeatureExtracting> featureExtractor;
  std::shared_ptr<AudioEncoding> audioEncoder;
  std::shared_ptr<TextDecoding> textDecoder;
  std::shared_ptr<SegmentSeeking> segmentSeeker;
  std::shared_ptr<VoiceActivityDetector> voiceActivityDetector;
  const TranscriptionTimings &currentTimings() const { return currentTimings_; }
  // The count every running transcription reports into; replaced by a fresh one when a
  // transcription ends and finds it finished (or is cancelled). Safe from any thread.
  std::shared_ptr<deduve::Progress> progress() const;
  std::optional<std::filesystem::path> modelFolder;
  std::optional<std::filesystem::path> tokenizerFolder;
  bool useBackgroundDownloadSession() const { return useBackgroundDownloadSession_; }
  SegmentDiscoveryCallback segmentDiscoveryCallback;
  ModelStateCallback modelStateCallback;
  TranscriptionStateCallback transcriptionStateCallback;

  // --- Models -------------------------------------------------------------------------------
  // A given folder is used as is; otherwise, with `download`, the named variant (or this
  // device's default from the repository's model-support document) is downloaded.
  virtual void setupModels(const std::optional<std::string> &model,
                           const std::optional<std::filesystem::path> &downloadBase,
                           const std::optional<std::string> &modelRepo,
                           const std::optional<std::string> &modelToken,
                           const std::optional<std::string> &modelFolder, bool download,
                           const std::string &remoteConfigName, const std::string &endpoint);
  virtual void prewarmModels();
  // Loads the mel, decoder and encoder models one after the other (prewarm mode releases each at
  // once), then in load mode the tokenizer. A folder holding a published checkpoint is imported
  // once into a folder beside it and loaded from there.
  virtual void loadModels(bool prewarmMode = false);
  virtual void loadTokenizerIfNeeded();
  virtual void unloadModels();
  virtual void clearState();
  // Process-wide: every engine's and the support library's log lines go to `callback`.
  virtual void loggingCallback(std::function<void(const std::string &)> callback);

  // --- Transcription ------------------------------------------------------------------------
  virtual Results transcribe(std::span<const float> audioArray,
                             const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
                             const TranscriptionCallback &callback = nullptr,
                             const SegmentDiscoveryCallback &segmentCallback = nullptr);
  virtual Results runTranscribeTask(std::span<const float> audioArray,
                                    const std::optional<DecodingOptions> &decodeOptions,
                                    const TranscriptionCallback &callback,
                                    const SegmentDiscoveryCallback &segmentCallback);
  virtual std::unique_ptr<TranscribeTask> setupTranscribeTask(
      const TranscriptionTimings &timings, std::shared_ptr<deduve::Progress> progress,
      std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
      std::shared_ptr<FeatureExtracting> featureExtractor,
      std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
      std::shared_ptr<WhisperTokenizer> tokenizer);
  // Loads the file as 16 kHz mono and transcribes it, telling transcriptionStateCallback
  // converting, transcribing and finished.
  virtual Results transcribe(const std::string &audioPath,
                             const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
                             const TranscriptionCallback &callback = nullptr);
  // One outcome per buffer, in input order; buffers of one batch (the largest
  // concurrentWorkerCount of the options; 0 means all) run at once on the worker pool.
  virtual std::vector<Outcome>
  transcribeWithOptions(const std::vector<std::vector<float>> &audioArrays,
                        const std::vector<std::optional<DecodingOptions>> &decodeOptionsArray,
                        const std::optional<std::vector<int>> &seekOffsets = std::nullopt,
                        const TranscriptionCallback &callback = nullptr);
  virtual std::vector<Outcome>
  transcribeWithResults(const std::vector<std::vector<float>> &audioArrays,
                        const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
                        const TranscriptionCallback &callback = nullptr);
  // Loads every file (the state callback sees converting, transcribing, finished) and
  // transcribes the loaded ones as one list; a file that cannot be loaded gives its error.
  virtual std::vector<Outcome>
  transcribeWithResults(const std::vector<std::string> &audioPaths,
                        const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
                        const TranscriptionCallback &callback = nullptr);
  // The two list forms with each failure as an absent entry.
  virtual std::vector<std::optional<Results>>
  transcribe(const std::vector<std::vector<float>> &audioArrays,
             const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
             const TranscriptionCallback &callback = nullptr);
  virtual std::vector<std::optional<Results>>
  transcribe(const std::vector<std::string> &audioPaths,
             const std::optional<DecodingOptions> &decodeOptions = std::nullopt,
             const TranscriptionCallback &callback = nullptr);

  // The spoken language of the first 30 s: its code and every language's probability.
  using LanguageDetection = std::pair<std::string, std::map<std::string, float>>;
  virtual LanguageDetection detectLanguage(const std::string &audioPath);
  virtual LanguageDetection detectLangauge(std::span<const float> audioArray);

  static constexpr int sampleRate = 16000;
  static constexpr int hopLength = 160;
  static constexpr float secondsPerTimeToken = 0.02f;
  // The engine publisher's repository of converted speech models.
  static constexpr std::string_view defaultModelRepo = "murmurlab/divuvovize-coreml";

  // The hardware model identifier under which model support is looked up.
  static std::string deviceName();

  // The built-in table's models for this device.
  static ModelSupport recommendedModels();
  // The repository's model-support document's models for this device; never fails (the
  // built-in table answers when the document cannot be had).
  static ModelSupport
  recommendedRemoteModels(const std::string &repo,
                          const std::optional<std::filesystem::path> &downloadBase,
                          const std::optional<std::string> &token,
                          const std::string &remoteConfigName, const std::string &endpoint);
  // Lists and downloads the repository's model-support document and decodes it. Every failure
  // is logged and answered with the built-in table.
  static ModelSupportConfig
  fetchModelSupportConfig(const std::string &repo,
                          const std::optional<std::filesystem::path> &downloadBase,
                          const std::optional<std::string> &token,
                          const std::string &remoteConfigName, const std::string &endpoint);
  // The device's supported models matching any of `patterns`, each once, ordered by model size.
  static std::vector<std::string>
  fetchAvailableModels(const std::string &repo, const std::vector<std::string> &patterns,
                       const std::optional<std::filesystem::path> &downloadBase,
                       const std::optional<std::string> &token, const std::string &remoteConfigName,
                       const std::string &endpoint);

  using ProgressCallback = std::function<void(const std::shared_ptr<deduve::Progress> &)>;
  // Finds the one folder of the repository named like `variant` (or, among several, the one
  // with "openai" before the name) and brings its files into the local hub cache at revision
  // "main". Returns <local repository folder>/<folder name>. Throws
  // WhisperError::modelsUnavailable when no single folder matches, and the hub's errors
  // unchanged. `progressCallback` is called from the downloading thread.
  static std::filesystem::path download(const std::string &variant,
                                        const std::optional<std::filesystem::path> &downloadBase,
                                        bool useBackgroundSession, const std::string &repo,
                                        const std::optional<std::string> &token,
                                        const std::string &endpoint,
                                        const ProgressCallback &progressCallback = {});

private:
  static TranscriptionTimings initialTimings();
  // One item of a batch, at `position` of the list: its own transcription, with the progress
  // it reports renumbered to `position` and its segments moved by `seekOffset`.
  Outcome transcribeItem(std::span<const float> audioArray,
                         const std::optional<DecodingOptions> &decodeOptions, int position,
                         std::optional<int> seekOffset, const SegmentDiscoveryCallback &discovered,
                         const TranscriptionCallback &callback);
  // The voice-activity road of transcribe(audioArray:...).
  Results transcribeChunked(std::span<const float> audioArray,
                            const DecodingOptions &decodeOptions,
                            const TranscriptionCallback &callback);
  // Raises the progress total to `count` when lower.
  void raiseProgressTotal(int64_t count);
  // Replaces the progress with a fresh one; with `onlyWhenFinished`, only when it reports
  // finished.
  void renewProgress(bool onlyWhenFinished);

  ModelVariant modelVariant_ = ModelVariant::tiny;
  deduve::ModelState modelState_ = deduve::ModelState::unloaded;
  std::shared_ptr<WhisperTokenizer> tokenizer_;
  TranscriptionTimings currentTimings_ = initialTimings();
  // Batch items start, finish and renew the progress from several threads at once.
  mutable std::mutex progressMutex_;
  std::shared_ptr<deduve::Progress> progress_;
  bool useBackgroundDownloadSession_ = false;
};

} // namespace divuvovize
