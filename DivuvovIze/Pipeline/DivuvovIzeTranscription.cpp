// The facade's transcription entry points: buffers, batches, files and language detection.
#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Audio/EnergyVAD.hpp"
#include "DivuvovIze/Audio/VADAudioChunker.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeking.hpp"
#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "platform/system/ThreadPool.hpp"

namespace divuvovize {

using deduve::Logging;
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
    std::shared_ptr<const VoiceActivityDetector> detector = voiceActivityDetector;
    if (!detector) {
      detector = std::make_shared<EnergyVAD>(16000, 1600, 0, 0.02f);
    }
    VADAudioChunker chunker(16000, detector);
    const std::vector<AudioChunk> chunks =
        chunker.chunkAll(audioArray, windowOf(*featureExtractor), decodeOptions);
    Logging::debug("Found " + std::to_string(chunks.size()) + " VAD chunks");
    if (progress_->totalUnitCount() < static_cast<int64_t>(chunks.size())) {
      progress_->setTotalUnitCount(static_cast<int64_t>(chunks.size()));
    }
    DecodingOptions chunkOptions = *decodeOptions;
    chunkOptions.clipTimestamps.clear();
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
    results = chunker.updateSeekOffsetsForResults(chunked, chunks);
  } else {
    const SegmentDiscoveryCallback segments =
        segmentCallback ? segmentCallback : segmentDiscoveryCallback;
    results = runTranscribeTask(audioArray, decodeOptions, callback, segments);
  }
  if (decodeOptions && decodeOptions->verbose) {
    Logging::info("Total Transcription Results: " + std::to_string(results.size()));
    for (std::size_t i = 0; i < results.size(); ++i) {
      Logging::debug("[Result " + std::to_string(i) + "]");
      results[i]->logSegments();
    }
  }
  return results;
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
    if (progress_->totalUnitCount() < 1) {
      progress_->setTotalUnitCount(1);
    }
    auto child = deduve::Progress::make(0, progress_, 1);
    std::unique_ptr<TranscribeTask> task =
        setupTranscribeTask(currentTimings_, child, audioProcessor, audioEncoder, featureExtractor,
                            segmentSeeker, textDecoder, tokenizer);
    task->setSegmentDiscoveryCallback(segmentCallback);
    std::shared_ptr<TranscriptionResult> result = task->run(audioArray, decodeOptions, callback);
    if (decodeOptions && decodeOptions->verbose) {
      result->logTimings();
    }
    if (progress_->isFinished()) {
      progress_ = deduve::Progress::make(0);
    }
    return {result};
  } catch (const platform::CancellationError &) {
    progress_ = deduve::Progress::make(0);
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
  Logging::debug("Audio loading and convert time: " + std::to_string(currentTimings_.audioLoading));
  Logging::logCurrentMemoryUsage("Audio Loading and Convert");
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
  std::vector<Outcome> outcomes(count, Outcome{Results{}});
  if (count == 0) {
    return outcomes;
  }
  // Several windows must not each start a load of their own.
  if (modelState_ != ModelState::loaded) {
    try {
      loadModels(/*prewarmMode=*/false);
    } catch (...) {
      std::fill(outcomes.begin(), outcomes.end(), Outcome{std::current_exception()});
      return outcomes;
    }
  }
  int batchSize = 0;
  for (const auto &options : decodeOptionsArray) {
    batchSize = std::max(batchSize, options ? options->concurrentWorkerCount : 0);
  }
  const std::size_t batch = batchSize > 0 ? static_cast<std::size_t>(batchSize) : count;
  const std::optional<platform::CancellationToken> token = platform::Task::currentToken();

  for (std::size_t first = 0; first < count; first += batch) {
    const std::size_t last = std::min(count, first + batch);
    std::mutex mutex;
    std::condition_variable done;
    std::size_t remaining = last - first;
    for (std::size_t index = first; index < last; ++index) {
      platform::ThreadPool::shared().post([&, index] {
        std::optional<platform::CancellationScope> scope;
        if (token) {
          scope.emplace(*token);
        }
        Outcome outcome;
        try {
          const int offset = seekOffsets && index < seekOffsets->size() ? (*seekOffsets)[index] : 0;
          const TranscriptionCallback itemCallback =
              callback ? TranscriptionCallback([&callback, index](const TranscriptionProgress &p) {
                TranscriptionProgress moved = p;
                moved.windowId = static_cast<int>(index);
                return callback(moved);
              })
                       : TranscriptionCallback();
          const SegmentDiscoveryCallback discovered = segmentDiscoveryCallback;
          const SegmentDiscoveryCallback itemSegments =
              discovered ? SegmentDiscoveryCallback(
                               [discovered, offset](const std::vector<TranscriptionSegment> &s) {
                                 std::vector<TranscriptionSegment> moved = s;
                                 for (auto &segment : moved) {
                                   segment.seek += offset;
                                 }
                                 discovered(moved);
                               })
                         : SegmentDiscoveryCallback();
          const auto &options =
              index < decodeOptionsArray.size() ? decodeOptionsArray[index] : std::nullopt;
          outcome = runTranscribeTask(audioArrays[index], options, itemCallback, itemSegments);
        } catch (...) {
          outcome = std::current_exception();
        }
        std::lock_guard lock(mutex);
        outcomes[index] = std::move(outcome);
        if (--remaining == 0) {
          done.notify_one();
        }
      });
    }
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return remaining == 0; });
  }
  return outcomes;
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
  const std::vector<Outcome> transcribed = transcribeWithResults(buffers, decodeOptions, callback);
  for (std::size_t j = 0; j < positions.size(); ++j) {
    outcomes[positions[j]] = transcribed[j];
  }
  return outcomes;
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
  options.verbose = Logging::isLoggingEnabled();
  const auto inputs =
      textDecoder->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
  const auto audio = audioProcessor->padOrTrim(audioArray, 0, windowOf(*featureExtractor));
  if (!audio) {
    throw WhisperError::transcriptionFailed("Audio samples are nil");
  }
  const auto mel = featureExtractor->logMelSpectrogram(*audio);
  const auto encoded = audioEncoder->encodeFeatures(mel);
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
