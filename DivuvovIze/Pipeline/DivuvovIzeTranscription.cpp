// The facade's transcription entry points: buffers, batches, files and language detection.
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include <algorithm>
#include <chrono>
#include <future>

#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Audio/EnergyVAD.hpp"
#include "DivuvovIze/Audio/VADAudioChunker.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeking.hpp"
#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/RunInBackground.hpp"
#include "platform/system/ThreadPool.hpp"

namespace divuvovize {

using deduve::ModelState;

namespace {

int windowOf(const FeatureExtracting &featureExtractor) {
  return featureExtractor.windowSamples().value_or(Constants::defaultWindowSamples);
}

} // namespace

DivuvovIze::Results DivuvovIze::transcribe(std::span<const float> audioArray,
                                           const std::optional<DecodingOptions> &decodeOptions,
                                           const TranscriptionCallback &callback,
                                           const SegmentDiscoveryCallback &segmentCallback) {
  const int window = windowOf(*featureExtractor);
  Results results;
  if (decodeOptions && decodeOptions->chunkingStrategy == ChunkingStrategy::vad &&
      static_cast<std::ptrdiff_t>(audioArray.size()) > window) {
    results = transcribeChunked(audioArray, *decodeOptions, callback);
  } else {
    const SegmentDiscoveryCallback segments =
        segmentCallback ? segmentCallback : segmentDiscoveryCallback;
    results = runTranscribeTask(audioArray, decodeOptions, callback, segments);
  }
  if (decodeOptions && decodeOptions->verbose) {
    modelslog::info("Total Transcription Results: " + std::to_string(results.size()));
    for (std::size_t i = 0; i < results.size(); ++i) {
      modelslog::debug("[Result " + std::to_string(i) + "]");
      results[i]->logSegments();
    }
  }
  return results;
}

DivuvovIze::Results DivuvovIze::transcribeChunked(std::span<const float> audioArray,
                                                  const DecodingOptions &decodeOptions,
                                                  const TranscriptionCallback &callback) {
  std::shared_ptr<const VoiceActivityDetector> detector = voiceActivityDetector;
  if (!detector) {
    detector = std::make_shared<EnergyVAD>(16000, 1600, 0, 0.02f);
  }
  VADAudioChunker chunker(16000, detector);
  const std::vector<AudioChunk> chunks =
      chunker.chunkAll(audioArray, windowOf(*featureExtractor), decodeOptions);
  modelslog::debug("Found " + std::to_string(chunks.size()) + " VAD chunks");
  raiseProgressTotal(static_cast<int64_t>(chunks.size()));
  DecodingOptions chunkOptions = decodeOptions;
  chunkOptions.clipTimestamps.clear();
  // A chunk is transcribed whole: the last one may pass the window by up to the padding, and
  // chunking it again would cut it the same way without end.
  chunkOptions.chunkingStrategy = ChunkingStrategy::none;
  std::vector<std::vector<float>> audioArrays;
  std::vector<int> seekOffsets;
  for (const auto &chunk : chunks) {
    audioArrays.push_back(chunk.audioSamples);
    seekOffsets.push_back(chunk.seekOffsetIndex);
  }
  const std::vector<Outcome> outcomes = transcribeWithOptions(
      audioArrays, std::vector<std::optional<DecodingOptions>>(chunks.size(), chunkOptions),
      seekOffsets, callback);
  std::vector<ChunkTranscriptionResult> chunked;
  for (const auto &outcome : outcomes) {
    if (const auto *values = std::get_if<Results>(&outcome)) {
      chunked.push_back({*values});
    } else {
      chunked.push_back({std::get<std::exception_ptr>(outcome)});
    }
  }
  return chunker.updateSeekOffsetsForResults(chunked, chunks);
}

std::shared_ptr<deduve::Progress> DivuvovIze::progress() const {
  std::lock_guard lock(progressMutex_);
  return progress_;
}

void DivuvovIze::raiseProgressTotal(int64_t count) {
  std::lock_guard lock(progressMutex_);
  if (progress_->totalUnitCount() < count) {
    progress_->setTotalUnitCount(count);
  }
}

void DivuvovIze::renewProgress(bool onlyWhenFinished) {
  std::lock_guard lock(progressMutex_);
  if (!onlyWhenFinished || progress_->isFinished()) {
    progress_ = deduve::Progress::make(0);
  }
}

DivuvovIze::Results DivuvovIze::runTranscribeTask(
    std::span<const float> audioArray, const std::optional<DecodingOptions> &decodeOptions,
    const TranscriptionCallback &callback, const SegmentDiscoveryCallback &segmentCallback) {
  if (modelState_ != ModelState::loaded) {
    loadModels(/*prewarmMode=*/false);
  }
  const std::shared_ptr<WhisperTokenizer> tokenizer = tokenizer_;
  if (!tokenizer) {
    throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  }
  try {
    platform::Task::checkCancellation();
    std::shared_ptr<deduve::Progress> child;
    {
      std::lock_guard lock(progressMutex_);
      if (progress_->totalUnitCount() < 1) {
        progress_->setTotalUnitCount(1);
      }
      child = deduve::Progress::make(0, progress_, 1);
    }
    std::unique_ptr<TranscribeTask> task =
        setupTranscribeTask(currentTimings_, child, audioProcessor, audioEncoder, featureExtractor,
                            segmentSeeker, textDecoder, tokenizer);
    task->setSegmentDiscoveryCallback(segmentCallback);
    std::shared_ptr<TranscriptionResult> result = task->run(audioArray, decodeOptions, callback);
    if (decodeOptions && decodeOptions->verbose) {
      result->logTimings();
    }
    renewProgress(/*onlyWhenFinished=*/true);
    return {result};
  } catch (const platform::CancellationError &) {
    renewProgress(/*onlyWhenFinished=*/false);
    throw;
  }
}

std::unique_ptr<TranscribeTask> DivuvovIze::setupTranscribeTask(
    const TranscriptionTimings &timings, std::shared_ptr<deduve::Progress> progress,
    std::shared_ptr<AudioProcessing> processor, std::shared_ptr<AudioEncoding> encoder,
    std::shared_ptr<FeatureExtracting> extractor, std::shared_ptr<SegmentSeeking> seeker,
    std::shared_ptr<TextDecoding> decoder, std::shared_ptr<WhisperTokenizer> tokenizer) {
  return std::make_unique<TranscribeTask>(
      timings, std::move(progress), std::move(processor), std::move(encoder), std::move(extractor),
      std::move(seeker), std::move(decoder), std::move(tokenizer));
}

DivuvovIze::Results DivuvovIze::transcribe(const std::string &audioPath,
                                           const std::optional<DecodingOptions> &decodeOptions,
                                           const TranscriptionCallback &callback) {
  if (transcriptionStateCallback) {
    transcriptionStateCallback(TranscriptionState::convertingAudio);
  }
  const auto start = std::chrono::steady_clock::now();
  std::vector<float> samples;
  std::exception_ptr loadError;
  try {
    samples = AudioProcessor::loadAudioAsFloatArray(audioPath, audioInputConfig.channelMode,
                                                    std::nullopt, std::nullopt);
  } catch (...) {
    loadError = std::current_exception();
  }
  currentTimings_.audioLoading =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  modelslog::debug("Audio loading and convert time: " +
                   std::to_string(currentTimings_.audioLoading));
  modelslog::memoryUsage("Audio Loading and Convert");
  if (loadError) {
    std::rethrow_exception(loadError);
  }
  if (transcriptionStateCallback) {
    transcriptionStateCallback(TranscriptionState::transcribing);
  }
  try {
    Results results = transcribe(samples, decodeOptions, callback, nullptr);
    if (transcriptionStateCallback) {
      transcriptionStateCallback(TranscriptionState::finished);
    }
    return results;
  } catch (...) {
    if (transcriptionStateCallback) {
      transcriptionStateCallback(TranscriptionState::finished);
    }
    throw;
  }
}

std::vector<DivuvovIze::Outcome> DivuvovIze::transcribeWithOptions(
    const std::vector<std::vector<float>> &audioArrays,
    const std::vector<std::optional<DecodingOptions>> &decodeOptionsArray,
    const std::optional<std::vector<int>> &seekOffsets, const TranscriptionCallback &callback) {
  const std::size_t count = audioArrays.size();
  if (decodeOptionsArray.size() != count) {
    return {Outcome{std::make_exception_ptr(WhisperError::transcriptionFailed(
        "The number of audio arrays and decoding options must be balanced."))}};
  }
  if (seekOffsets && seekOffsets->size() != count) {
    return {Outcome{std::make_exception_ptr(WhisperError::transcriptionFailed(
        "The number of audio arrays and seek offset indexes must be balanced."))}};
  }
  std::vector<Outcome> outcomes;
  if (count == 0) {
    return outcomes;
  }
  // Several items must not each start a load of their own.
  if (modelState_ != ModelState::loaded) {
    try {
      loadModels(/*prewarmMode=*/false);
    } catch (...) {
      return std::vector<Outcome>(count, Outcome{std::current_exception()});
    }
  }
  int batchSize = 0;
  for (const auto &options : decodeOptionsArray) {
    batchSize = std::max(batchSize, options ? options->concurrentWorkerCount : 0);
  }
  const std::size_t batch = batchSize > 0 ? static_cast<std::size_t>(batchSize) : count;
  const std::optional<platform::CancellationToken> token = platform::Task::currentToken();

  for (std::size_t first = 0; first < count; first += batch) {
    const SegmentDiscoveryCallback discovered = segmentDiscoveryCallback;
    // The items borrow the facade and the inputs: however this batch is left, none of them
    // starts or runs on after the scope closes.
    platform::BackgroundScope items;
    std::vector<std::future<Outcome>> running;
    for (std::size_t index = first; index < std::min(count, first + batch); ++index) {
      const std::optional<int> offset =
          seekOffsets ? std::optional<int>((*seekOffsets)[index]) : std::nullopt;
      running.push_back(
          items.run(platform::ThreadPool::shared(), [=, this, &audioArrays, &decodeOptionsArray] {
            std::optional<platform::CancellationScope> scope;
            if (token) {
              scope.emplace(*token);
            }
            return transcribeItem(audioArrays[index], decodeOptionsArray[index],
                                  static_cast<int>(index), offset, discovered, callback);
          }));
    }
    for (auto &item : running) {
      outcomes.push_back(item.get());
    }
  }
  return outcomes;
}

DivuvovIze::Outcome DivuvovIze::transcribeItem(std::span<const float> audioArray,
                                               const std::optional<DecodingOptions> &decodeOptions,
                                               int position, std::optional<int> seekOffset,
                                               const SegmentDiscoveryCallback &discovered,
                                               const TranscriptionCallback &callback) {
  TranscriptionCallback itemCallback;
  if (callback) {
    itemCallback = [callback, position](const TranscriptionProgress &progress) {
      TranscriptionProgress renumbered = progress;
      renumbered.windowId = position;
      return callback(renumbered);
    };
  }
  SegmentDiscoveryCallback itemSegments = discovered;
  if (seekOffset) {
    itemSegments = [discovered, offset = *seekOffset](const std::vector<TranscriptionSegment> &s) {
      std::vector<TranscriptionSegment> moved = s;
      for (auto &segment : moved) {
        segment.seek += offset;
      }
      if (discovered) {
        discovered(moved);
      }
    };
  }
  try {
    return transcribe(audioArray, decodeOptions, itemCallback, itemSegments);
  } catch (...) {
    return std::current_exception();
  }
}

std::vector<DivuvovIze::Outcome>
DivuvovIze::transcribeWithResults(const std::vector<std::vector<float>> &audioArrays,
                                  const std::optional<DecodingOptions> &decodeOptions,
                                  const TranscriptionCallback &callback) {
  return transcribeWithOptions(
      audioArrays, std::vector<std::optional<DecodingOptions>>(audioArrays.size(), decodeOptions),
      std::nullopt, callback);
}

std::vector<DivuvovIze::Outcome>
DivuvovIze::transcribeWithResults(const std::vector<std::string> &audioPaths,
                                  const std::optional<DecodingOptions> &decodeOptions,
                                  const TranscriptionCallback &callback) {
  if (transcriptionStateCallback) {
    transcriptionStateCallback(TranscriptionState::convertingAudio);
  }
  const auto start = std::chrono::steady_clock::now();
  const auto loaded = AudioProcessor::loadAudio(audioPaths, audioInputConfig.channelMode);
  std::vector<std::vector<float>> buffers;
  std::vector<std::size_t> positions;
  std::vector<Outcome> outcomes(audioPaths.size(), Outcome{Results{}});
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    if (const auto *samples = std::get_if<std::vector<float>>(&loaded[i].value)) {
      buffers.push_back(*samples);
      positions.push_back(i);
    } else {
      outcomes[i] = std::get<std::exception_ptr>(loaded[i].value);
    }
  }
  currentTimings_.audioLoading =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  modelslog::debug("Total Audio Loading and Converting Time: " +
                   std::to_string(currentTimings_.audioLoading));
  if (transcriptionStateCallback) {
    transcriptionStateCallback(TranscriptionState::transcribing);
  }
  const std::vector<Outcome> transcribed = transcribeWithResults(buffers, decodeOptions, callback);
  for (std::size_t j = 0; j < positions.size() && j < transcribed.size(); ++j) {
    outcomes[positions[j]] = transcribed[j];
  }
  if (transcriptionStateCallback) {
    transcriptionStateCallback(TranscriptionState::finished);
  }
  return outcomes;
}

namespace {

std::vector<std::optional<DivuvovIze::Results>>
resultsOrAbsent(const std::vector<DivuvovIze::Outcome> &outcomes) {
  std::vector<std::optional<DivuvovIze::Results>> answers;
  for (const auto &outcome : outcomes) {
    const auto *results = std::get_if<DivuvovIze::Results>(&outcome);
    answers.push_back(results ? std::optional(*results) : std::nullopt);
  }
  return answers;
}

} // namespace

std::vector<std::optional<DivuvovIze::Results>>
DivuvovIze::transcribe(const std::vector<std::vector<float>> &audioArrays,
                       const std::optional<DecodingOptions> &decodeOptions,
                       const TranscriptionCallback &callback) {
  return resultsOrAbsent(transcribeWithResults(audioArrays, decodeOptions, callback));
}

std::vector<std::optional<DivuvovIze::Results>>
DivuvovIze::transcribe(const std::vector<std::string> &audioPaths,
                       const std::optional<DecodingOptions> &decodeOptions,
                       const TranscriptionCallback &callback) {
  return resultsOrAbsent(transcribeWithResults(audioPaths, decodeOptions, callback));
}

DivuvovIze::LanguageDetection DivuvovIze::detectLanguage(const std::string &audioPath) {
  if (!std::filesystem::exists(audioPath)) {
    throw WhisperError::loadAudioFailed("Resource path does not exist " + audioPath);
  }
  const auto buffer = AudioProcessor::loadAudio(
      audioPath, AudioInputConfig::ChannelMode::sumChannels(), 0.0, 30.0, std::nullopt);
  return detectLangauge(AudioProcessor::convertBufferToArray(*buffer, 1024));
}

DivuvovIze::LanguageDetection DivuvovIze::detectLangauge(std::span<const float> audioArray) {
  if (modelState_ != ModelState::loaded) {
    loadModels(/*prewarmMode=*/false);
  }
  if (!textDecoder->isModelMultilingual()) {
    throw WhisperError::decodingFailed("Language detection not supported for this model");
  }
  if (!tokenizer_) {
    throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  }
  DecodingOptions options;
  options.verbose = modelslog::enabled();
  const auto inputs =
      textDecoder->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
  const auto audio = audioProcessor->padOrTrim(audioArray, 0, windowOf(*featureExtractor));
  if (!audio) {
    throw WhisperError::transcriptionFailed("Audio samples are nil");
  }
  const auto mel = featureExtractor->logMelSpectrogram(*audio);
  if (mel.shape().empty()) {
    throw WhisperError::transcriptionFailed("Mel output is nil");
  }
  const auto encoded = audioEncoder->encodeFeatures(mel);
  if (encoded.shape().empty()) {
    throw WhisperError::transcriptionFailed("Encoder output is nil");
  }
  GreedyTokenSampler sampler(0.0f, tokenizer_->specialTokens().endToken, options);
  try {
    const DecodingResult result =
        textDecoder->detectLanguage(encoded, *inputs, sampler, options, 0.0f);
    return {result.language, result.languageProbs};
  } catch (...) {
    throw WhisperError::decodingFailed("Language detection failed");
  }
}

} // namespace divuvovize
