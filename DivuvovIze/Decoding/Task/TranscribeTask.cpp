#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include "DeduveCore/Support/Description.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Logging/Signposts.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {
namespace {

constexpr int kSampleRate = 16000;

// Ends a signpost interval on every way out of a scope.
class SignpostScope {
public:
  explicit SignpostScope(std::string_view name)
      : name_(name), state_(beginSignpostInterval(name, Signposter::transcribeTask())) {}
  ~SignpostScope() { endSignpostInterval(name_, state_); }
  SignpostScope(const SignpostScope &) = delete;
  SignpostScope &operator=(const SignpostScope &) = delete;

private:
  std::string_view name_;
  SignpostIntervalState state_;
};

std::string seconds2(float value) { return numbers::fixed(value, 2); }

// The cache positions a window bounded by `sampleLength` can have written: its last step opens
// the position after its own, so a bound of n steps touches positions 0 to n.
int positionsTouched(int sampleLength) {
  return std::clamp(sampleLength, 0, TokenDecodingLoop::maxSampleLength) + 1;
}

std::string trimSpacesAndTabs(const std::string &text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) {
    return "";
  }
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

} // namespace

TranscribeTask::TranscribeTask(
    TranscriptionTimings currentTimings, std::shared_ptr<deduve::Progress> progress,
    std::shared_ptr<AudioProcessing> audioProcessor, std::shared_ptr<AudioEncoding> audioEncoder,
    std::shared_ptr<FeatureExtracting> featureExtractor,
    std::shared_ptr<SegmentSeeking> segmentSeeker, std::shared_ptr<TextDecoding> textDecoder,
    std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<platform::SteadyClock> clock,
    std::shared_ptr<platform::WallClock> wallClock)
    : timings_(currentTimings),
      progress_(progress ? std::move(progress) : deduve::Progress::make(0)),
      audioEncoder_(std::move(audioEncoder)), featureExtractor_(std::move(featureExtractor)),
      segmentSeeker_(std::move(segmentSeeker)), textDecoder_(std::move(textDecoder)),
      audioProcessor_(audioProcessor ? std::move(audioProcessor)
                                     : std::make_shared<AudioProcessor>()),
      tokenizer_(std::move(tokenizer)),
      clock_(clock ? std::move(clock) : platform::SteadyClock::system()),
      wallClock_(wallClock ? std::move(wallClock) : platform::WallClock::system()) {}

TranscribeTask::~TranscribeTask() = default;

double TranscribeTask::now() const {
  return std::chrono::duration<double>(clock_->now().time_since_epoch()).count();
}

void TranscribeTask::windowPreprocess(const AudioProcessorOutputType &, int, int) {}

std::vector<TranscriptionSegment>
TranscribeTask::windowPostProcess(int, int, std::vector<TranscriptionSegment> originalSegments) {
  return originalSegments;
}

std::string TranscribeTask::promptDescription(const DecodingInputsType &inputs) const {
  std::vector<std::string> texts;
  auto &prompt = const_cast<DecodingInputsType &>(inputs).initialPrompt();
  texts.reserve(prompt.size());
  for (int id : prompt) {
    texts.push_back(tokenizer_->convertIdToToken(id).value_or(""));
  }
  return describeList(texts);
}

// What one run carries from window to window.
struct TranscribeTask::RunState {
  std::span<const float> audio;
  int totalSamples = 0;
  DecodingOptions options;
  // The cache positions a reset clears: every one a window of these options can have written.
  int resetContext = 0;
  std::shared_ptr<DecodingInputsType> decoderInputs;
  std::vector<int> allTokens;
  std::vector<TranscriptionSegment> allSegments;
  std::optional<std::string> detectedLanguage;
  int windowIndex = 0;
};

// Adds the seconds from its construction to the end of its scope to `total`, and one to `runs`
// when given, on the task's clock, unless the scope ends by an exception or discard() was called.
class TranscribeTask::StageTimer {
public:
  StageTimer(const TranscribeTask &task, double &total, double *runs = nullptr)
      : task_(task), total_(&total), runs_(runs), start_(task.now()),
        exceptions_(std::uncaught_exceptions()) {}
  ~StageTimer() {
    if (total_ != nullptr && std::uncaught_exceptions() == exceptions_) {
      *total_ += task_.now() - start_;
      if (runs_ != nullptr) {
        *runs_ += 1;
      }
    }
  }
  StageTimer(const StageTimer &) = delete;
  StageTimer &operator=(const StageTimer &) = delete;

  void discard() { total_ = nullptr; }

private:
  const TranscribeTask &task_;
  double *total_;
  double *runs_;
  double start_;
  int exceptions_;
};

std::shared_ptr<TranscriptionResult>
TranscribeTask::run(std::span<const float> audioArray,
                    const std::optional<DecodingOptions> &decodeOptions,
                    const TranscriptionCallback &callback) {
  SignpostScope signpost("TranscribeAudio");
  // pipelineStart is an absolute time (so records of separate runs merge); the durations,
  // fullPipeline among them, are measured on the monotonic clock.
  const auto startDate = wallClock_->now();
  const double runStart = now();
  timings_.pipelineStart = std::min(timings_.pipelineStart, platform::absoluteTime(startDate));
  // What an earlier run of this record had already spent, when its start is kept.
  const double earlierSeconds =
      std::max(platform::absoluteTime(startDate) - timings_.pipelineStart, 0.0);
  modelslog::debug("Starting pipeline at: " + platform::dateDescription(startDate));

  RunState run;
  run.audio = audioArray;
  run.options = decodeOptions.value_or(DecodingOptions());
  run.options.verbose = modelslog::enabled();
  run.resetContext = positionsTouched(run.options.sampleLength);
  const double clipStart = decodeOptions && !decodeOptions->clipTimestamps.empty()
                               ? static_cast<double>(decodeOptions->clipTimestamps.front())
                               : 0.0;
  timings_.inputAudioSeconds = static_cast<double>(audioArray.size()) / kSampleRate - clipStart;
  prepareDecoderInputs(run);

  run.totalSamples = static_cast<int>(std::min<std::size_t>(
      audioArray.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
  const auto seekClips = run.options.seekClipRanges(run.totalSamples);
  if (modelslog::debugEnabled()) {
    std::string clips = "[";
    for (std::size_t i = 0; i < seekClips.size(); ++i) {
      clips += (i > 0 ? ", (" : "(") + std::to_string(seekClips[i].first) + ", " +
               std::to_string(seekClips[i].second) + ")";
    }
    modelslog::debug("Decoding seek clips: " + clips + "]");
  }
  std::int64_t totalUnits = 0;
  for (const auto &[clipBegin, clipEnd] : seekClips) {
    totalUnits += static_cast<std::int64_t>(clipEnd) - clipBegin;
  }
  progress_->setTotalUnitCount(totalUnits);

  const double loopStart = now();
  for (const auto &[clipBegin, clipEnd] : seekClips) {
    decodeClip(run, clipBegin, clipEnd, callback);
  }
  progress_->setCompletedUnitCount(progress_->totalUnitCount());
  timings_.decodingLoop = now() - loopStart;
  timings_.fullPipeline = earlierSeconds + (now() - runStart);
  return finalizeTranscriptionResult(run.allTokens, std::move(run.allSegments),
                                     run.detectedLanguage, timings_);
}

void TranscribeTask::prepareDecoderInputs(RunState &run) {
  double initSeconds = 0;
  {
    StageTimer timer(*this, initSeconds);
    run.decoderInputs =
        textDecoder_->prepareDecoderInputs({tokenizer_->specialTokens().startOfTranscriptToken});
  }
  timings_.decodingInit = initSeconds;
  modelslog::debug("Decoder init time: " + deduve::formatDouble(timings_.decodingInit));
  if (run.options.usePrefillPrompt) {
    run.decoderInputs = textDecoder_->prefillDecoderInputs(run.decoderInputs, run.options);
  }
  modelslog::debug("Prefill prompt: " + promptDescription(*run.decoderInputs));
}

void TranscribeTask::decodeClip(RunState &run, int clipBegin, int clipEnd,
                                const TranscriptionCallback &callback) {
  // A clip that starts beyond the samples has nothing to decode.
  int seek = std::clamp(clipBegin, 0, run.totalSamples);
  const int end = std::min(clipEnd, run.totalSamples);
  const std::int64_t base = progress_->completedUnitCount();
  const int endMargin = run.options.windowClipSamples(run.totalSamples);
  const int windowSamples =
      featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);
  while (seek < end - endMargin) {
    const int segmentSize = std::min({windowSamples, run.totalSamples - seek, end - seek});
    const WindowEnd window = decodeWindow(run, seek, segmentSize, windowSamples, callback);
    // Kept or not, the next window starts from an empty cache.
    run.decoderInputs->reset(run.resetContext);
    if (window.kept) {
      progress_->setCompletedUnitCount(base + (std::min(window.nextSeek, end) - clipBegin));
    }
    // Every window moves the seek on; the guard holds for a feature extractor that reports
    // an empty window.
    seek = std::max(window.nextSeek, seek + 1);
  }
}

AudioEncoderOutputType TranscribeTask::encodeWindow(const RunState &run, int seek, int segmentSize,
                                                    int windowSamples) {
  std::optional<AudioProcessorOutputType> audioSamples;
  {
    StageTimer timer(*this, timings_.audioProcessing, &timings_.totalAudioProcessingRuns);
    const auto clip =
        run.audio.subspan(static_cast<std::size_t>(seek), static_cast<std::size_t>(segmentSize));
    audioSamples = audioProcessor_->padOrTrim(clip, 0, windowSamples);
    if (!audioSamples) {
      throw WhisperError::transcriptionFailed("Audio samples are nil");
    }
    windowPreprocess(*audioSamples, seek, segmentSize);
  }
  platform::Task::checkCancellation();

  FeatureExtractorOutputType mel;
  {
    StageTimer timer(*this, timings_.logmels, &timings_.totalLogmelRuns);
    mel = featureExtractor_->logMelSpectrogram(*audioSamples);
    if (mel.shape().empty()) {
      throw WhisperError::transcriptionFailed("Mel output is nil");
    }
  }
  platform::Task::checkCancellation();

  StageTimer timer(*this, timings_.encoding, &timings_.totalEncodingRuns);
  AudioEncoderOutputType encoderOutput = audioEncoder_->encodeFeatures(mel);
  if (encoderOutput.shape().empty()) {
    throw WhisperError::transcriptionFailed("Encoder output is nil");
  }
  return encoderOutput;
}

TranscribeTask::WindowEnd TranscribeTask::decodeWindow(RunState &run, int seek, int segmentSize,
                                                       int windowSamples,
                                                       const TranscriptionCallback &callback) {
  const float seekSeconds = static_cast<float>(seek) / kSampleRate;
  const float endSeconds = static_cast<float>(seek + segmentSize) / kSampleRate;
  modelslog::debug("Decoding Seek: " + std::to_string(seek) + " (" + seconds2(seekSeconds) + "s)");
  modelslog::debug("Decoding Window Size: " + std::to_string(segmentSize) + " (" +
                   seconds2(endSeconds - seekSeconds) + "s)");
  const AudioEncoderOutputType encoderOutput = encodeWindow(run, seek, segmentSize, windowSamples);
  modelslog::info("Decoding " + seconds2(seekSeconds) + "s - " + seconds2(endSeconds) + "s");
  // The window's ordinal in this run: distinct per window and never negative, however many
  // fallbacks earlier windows needed.
  const int windowId = run.windowIndex++;
  TranscriptionCallback windowCallback;
  if (callback) {
    windowCallback = [&callback, windowId](const TranscriptionProgress &progress) {
      TranscriptionProgress copy = progress;
      copy.windowId = windowId;
      return callback(copy);
    };
  }
  platform::Task::checkCancellation();
  const DecodingResult decodingResult = decodeWithFallback(
      encoderOutput, run.options, windowCallback, run.decoderInputs, run.detectedLanguage);
  return keepWindow(run, decodingResult, seek, segmentSize);
}

TranscribeTask::WindowEnd TranscribeTask::keepWindow(RunState &run,
                                                     const DecodingResult &decodingResult, int seek,
                                                     int segmentSize) {
  const SpecialTokens &special = tokenizer_->specialTokens();
  StageTimer windowing(*this, timings_.decodingWindowing, &timings_.totalDecodingWindows);
  auto [returnedSeek, segments] = segmentSeeker_->findSeekPointAndSegments(
      decodingResult, run.options, static_cast<int>(run.allSegments.size()), seek, segmentSize,
      kSampleRate, special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
  int nextSeek = std::max(seek, returnedSeek);
  if (run.options.wordTimestamps && decodingResult.cache &&
      decodingResult.cache->alignmentWeights) {
    segments = timeWords(run.options, std::move(segments), *decodingResult.cache->alignmentWeights,
                         seek, segmentSize, nextSeek);
  }
  if (nextSeek <= seek) {
    // A window whose last closed timestamp is its own start (an empty pair at 0.00) would be
    // decoded again from the same place into the same tokens: it counts as consumed, as a
    // window without a pair does.
    nextSeek = seek + segmentSize;
  }
  if (run.options.maxWindowSeek && *run.options.maxWindowSeek > 0) {
    nextSeek = std::min(nextSeek, seek + *run.options.maxWindowSeek);
  }
  if (!segments) {
    // Nothing kept from this window.
    windowing.discard();
    return {nextSeek, /*kept=*/false};
  }
  auto processed = windowPostProcess(seek, segmentSize, std::move(*segments));
  if (run.options.verbose) {
    modelslog::debug("Segments for window:");
    for (const auto &segment : processed) {
      modelslog::debug("[" + seconds2(segment.start) + " --> " + seconds2(segment.end) + "] " +
                       segment.text);
    }
  }
  if (segmentDiscoveryCallback_) {
    segmentDiscoveryCallback_(processed);
  }
  for (auto &segment : processed) {
    run.allTokens.insert(run.allTokens.end(), segment.tokens.begin(), segment.tokens.end());
    run.allSegments.push_back(std::move(segment));
  }
  return {nextSeek, /*kept=*/true};
}

std::optional<std::vector<TranscriptionSegment>> TranscribeTask::timeWords(
    const DecodingOptions &options, std::optional<std::vector<TranscriptionSegment>> segments,
    const platform::MLMultiArray &alignmentWeights, int seek, int segmentSize, int &nextSeek) {
  std::optional<std::vector<TranscriptionSegment>> timed;
  {
    StageTimer timer(*this, timings_.decodingWordTimestamps, &timings_.totalTimestampAlignmentRuns);
    timed = segmentSeeker_->addWordTimestamps(
        segments.value_or(std::vector<TranscriptionSegment>{}), alignmentWeights, *tokenizer_, seek,
        segmentSize, Constants::defaultPrependPunctuations, Constants::defaultAppendPunctuations,
        static_cast<float>(static_cast<double>(seek) / kSampleRate), options, timings_);
  }
  if (!timed) {
    return std::nullopt;
  }
  std::vector<TranscriptionSegment> kept;
  for (auto &segment : *timed) {
    if (segment.end > segment.start) {
      kept.push_back(std::move(segment));
    }
  }
  if (!kept.empty()) {
    nextSeek = std::max(nextSeek, static_cast<int>(kept.back().end * kSampleRate));
  }
  if (options.verbose) {
    modelslog::debug("Word timestamps:");
    for (const auto &segment : kept) {
      for (const auto &word : segment.words.value_or(std::vector<WordTiming>{})) {
        modelslog::debug(
            "[" + numbers::significant(word.start, 3) + " -> " + numbers::significant(word.end, 3) +
            "] prob: " + deduve::formatFloat(word.probability) + ", word: " + word.word);
      }
    }
  }
  return kept;
}

std::shared_ptr<TranscriptionResult> TranscribeTask::finalizeTranscriptionResult(
    const std::vector<int> &tokens, std::vector<TranscriptionSegment> segments,
    const std::optional<std::string> &language, const TranscriptionTimings &timings) {
  const int specialTokenBegin = tokenizer_->specialTokens().specialTokenBegin;
  std::vector<int> textTokens;
  textTokens.reserve(tokens.size());
  std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(textTokens),
               [&](int token) { return token < specialTokenBegin; });
  return std::make_shared<TranscriptionResult>(
      trimSpacesAndTabs(tokenizer_->decode(textTokens)), std::move(segments),
      language.value_or(std::string(Constants::defaultLanguageCode)), timings, std::nullopt);
}

DecodingResult TranscribeTask::decodeWithFallback(
    const AudioEncoderOutputType &encoderOutput, const DecodingOptions &options,
    const TranscriptionCallback &callback, std::shared_ptr<DecodingInputsType> &decoderInputs,
    std::optional<std::string> &detectedLanguage) {
  SignpostScope signpost("Decode");
  // A negative count is treated as no further attempt.
  const int attempts = std::max(options.temperatureFallbackCount, 0) + 1;
  std::vector<float> temperatures;
  temperatures.reserve(static_cast<std::size_t>(attempts));
  for (int k = 0; k < attempts; ++k) {
    temperatures.push_back(options.temperature +
                           options.temperatureIncrementOnFallback * static_cast<float>(k));
  }
  if (modelslog::debugEnabled()) {
    std::string list = "[";
    for (std::size_t i = 0; i < temperatures.size(); ++i) {
      list += (i > 0 ? ", " : "") + deduve::formatFloat(temperatures[i]);
    }
    modelslog::debug("Decoding with temperatures " + list + "]");
  }

  std::optional<DecodingResult> result;
  for (std::size_t i = 0; i < temperatures.size(); ++i) {
    const float temperature = temperatures[i];
    modelslog::info("Decoding Temperature: " + deduve::formatFloat(temperature));
    const double attemptStart = now();
    GreedyTokenSampler sampler(temperature, tokenizer_->specialTokens().endToken, options);
    DecodingOptions attemptOptions = options;

    if (textDecoder_->isModelMultilingual() && !options.language && options.detectLanguage) {
      std::optional<DecodingResult> languageResult;
      try {
        languageResult = textDecoder_->detectLanguage(encoderOutput, *decoderInputs, sampler,
                                                      options, temperature);
      } catch (const std::exception &error) {
        // A failed detection decodes without a language; the attempt's result names one.
        modelslog::error(std::string("Language detection failed, decoding without a language: ") +
                         error.what());
      }
      detectedLanguage =
          languageResult ? std::optional<std::string>(languageResult->language) : std::nullopt;
      attemptOptions.language = detectedLanguage;
      if (options.usePrefillPrompt) {
        decoderInputs = textDecoder_->prefillDecoderInputs(decoderInputs, attemptOptions);
      }
      modelslog::debug("Prefill prompt updated to: " + promptDescription(*decoderInputs));
      if (languageResult && languageResult->timings) {
        timings_.decodingPredictions += languageResult->timings->decodingPredictions;
        timings_.decodingSampling += languageResult->timings->decodingSampling;
      }
    }

    result =
        textDecoder_->decodeText(encoderOutput, *decoderInputs, sampler, attemptOptions, callback);
    if (!detectedLanguage) {
      detectedLanguage = result->language;
    }
    if (result->timings) {
      const TranscriptionTimings &r = *result->timings;
      timings_.firstTokenTime = std::min(timings_.firstTokenTime, r.firstTokenTime);
      timings_.decodingNonPrediction += r.decodingNonPrediction;
      timings_.decodingPredictions += r.decodingPredictions;
      timings_.decodingFiltering += r.decodingFiltering;
      timings_.decodingSampling += r.decodingSampling;
      timings_.decodingKvCaching += r.decodingKvCaching;
      timings_.totalDecodingLoops += r.totalDecodingLoops;
      timings_.totalKVUpdateRuns += r.totalKVUpdateRuns;
    }
    if (result->fallback && result->fallback->needsFallback) {
      timings_.decodingFallback += now() - attemptStart;
      timings_.totalDecodingFallbacks = static_cast<double>(i);
      decoderInputs->reset(positionsTouched(options.sampleLength));
      modelslog::info("Fallback #" + std::to_string(i + 1) + " (" +
                      result->fallback->fallbackReason + ")");
      continue;
    }
    break;
  }
  if (!result) {
    throw WhisperError::decodingFailed("Decoding failed");
  }
  return *result;
}

} // namespace divuvovize
