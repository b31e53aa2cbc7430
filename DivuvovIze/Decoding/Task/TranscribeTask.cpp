#include "DivuvovIze/Decoding/Task/TranscribeTask.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <exception>
#include <iomanip>
#include <sstream>

#include "DeduveCore/Support/Logging.hpp"
#include "DivuvovIze/Audio/AudioProcessor.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Task/SegmentSeeker.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/NumberFormatting.hpp"
#include "DivuvovIze/Models/Signposts.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationScope.hpp"

namespace divuvovize {
namespace {

using deduve::Logging;

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

// The current date as the platform prints one: "2026-12-10 15:22:52 +0000".
std::string currentDateDescription() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::ostringstream out;
  out << std::put_time(&utc, "%Y-%m-%d %H:%M:%S +0000");
  return out.str();
}

std::string stringListDescription(const std::vector<std::string> &items) {
  std::string text = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      text += ", ";
    }
    text += "\"" + items[i] + "\"";
  }
  return text + "]";
}

// Three significant digits, as a locale-aware number formatter prints word times.
std::string threeSignificant(float value) {
  std::ostringstream out;
  out << std::setprecision(3) << value;
  return out.str();
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
    std::shared_ptr<WhisperTokenizer> tokenizer, std::shared_ptr<platform::SteadyClock> clock)
    : timings_(currentTimings),
      progress_(progress ? std::move(progress) : deduve::Progress::make(0)),
      audioEncoder_(std::move(audioEncoder)), featureExtractor_(std::move(featureExtractor)),
      segmentSeeker_(std::move(segmentSeeker)), textDecoder_(std::move(textDecoder)),
      audioProcessor_(audioProcessor ? std::move(audioProcessor)
                                     : std::make_shared<AudioProcessor>()),
      tokenizer_(std::move(tokenizer)),
      clock_(clock ? std::move(clock) : platform::SteadyClock::system()) {}

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
  return stringListDescription(texts);
}

std::shared_ptr<TranscriptionResult>
TranscribeTask::run(std::span<const float> audioArray,
                    const std::optional<DecodingOptions> &decodeOptions,
                    const TranscriptionCallback &callback) {
  SignpostScope signpost("TranscribeAudio");
  timings_.pipelineStart = std::min(timings_.pipelineStart, now());
  Logging::debug("Starting pipeline at: " + currentDateDescription());

  DecodingOptions options = decodeOptions.value_or(DecodingOptions());
  options.verbose = Logging::isLoggingEnabled();

  const double clipStart = decodeOptions && !decodeOptions->clipTimestamps.empty()
                               ? static_cast<double>(decodeOptions->clipTimestamps.front())
                               : 0.0;
  timings_.inputAudioSeconds = static_cast<double>(audioArray.size()) / kSampleRate - clipStart;

  std::vector<int> allTokens;
  std::vector<TranscriptionSegment> allSegments;
  std::optional<std::string> detectedLanguage;

  const SpecialTokens &special = tokenizer_->specialTokens();
  double start = now();
  std::shared_ptr<DecodingInputsType> decoderInputs =
      textDecoder_->prepareDecoderInputs({special.startOfTranscriptToken});
  timings_.decodingInit = now() - start;
  Logging::debug("Decoder init time: " + deduve::formatDouble(timings_.decodingInit));

  if (options.usePrefillPrompt) {
    decoderInputs = textDecoder_->prefillDecoderInputs(decoderInputs, options);
  }
  Logging::debug("Prefill prompt: " + promptDescription(*decoderInputs));

  const int totalSamples = static_cast<int>(std::min<std::size_t>(
      audioArray.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
  const auto seekClips = options.seekClipRanges(totalSamples);
  if (Logging::isLoggingEnabled(Logging::LogLevel::debug)) {
    std::string clips = "[";
    for (std::size_t i = 0; i < seekClips.size(); ++i) {
      clips += (i > 0 ? ", (" : "(") + std::to_string(seekClips[i].first) + ", " +
               std::to_string(seekClips[i].second) + ")";
    }
    Logging::debug("Decoding seek clips: " + clips + "]");
  }

  std::int64_t totalUnits = 0;
  for (const auto &[clipBegin, clipEnd] : seekClips) {
    totalUnits += static_cast<std::int64_t>(clipEnd) - clipBegin;
  }
  progress_->setTotalUnitCount(totalUnits);

  // A caller's options decide how many cache positions a reset clears.
  const int resetContext = decodeOptions ? decodeOptions->sampleLength : Constants::maxTokenContext;
  const double loopStart = now();
  int windowIndex = 0;
  for (const auto &[clipBegin, clipEnd] : seekClips) {
    // A clip that starts beyond the samples has nothing to decode.
    int seek = std::clamp(clipBegin, 0, totalSamples);
    const int end = std::min(clipEnd, totalSamples);
    const std::int64_t base = progress_->completedUnitCount();
    const float marginSamples = options.windowClipTime * static_cast<float>(kSampleRate);
    const int endMargin =
        std::isfinite(marginSamples)
            ? static_cast<int>(std::clamp(marginSamples, 0.0f, static_cast<float>(totalSamples)))
            : 0;
    const int windowSamples =
        featureExtractor_->windowSamples().value_or(Constants::defaultWindowSamples);

    while (seek < end - endMargin) {
      const int segmentSize = std::min({windowSamples, totalSamples - seek, end - seek});
      Logging::debug("Decoding Seek: " + std::to_string(seek) + " (" +
                     seconds2(static_cast<float>(seek) / kSampleRate) + "s)");
      Logging::debug("Decoding Window Size: " + std::to_string(segmentSize) + " (" +
                     seconds2(static_cast<float>(seek + segmentSize) / kSampleRate -
                              static_cast<float>(seek) / kSampleRate) +
                     "s)");

      double mark = now();
      const auto clip =
          audioArray.subspan(static_cast<std::size_t>(seek), static_cast<std::size_t>(segmentSize));
      const auto audioSamples = audioProcessor_->padOrTrim(clip, 0, windowSamples);
      if (!audioSamples) {
        throw WhisperError::transcriptionFailed("Audio samples are nil");
      }
      windowPreprocess(*audioSamples, seek, segmentSize);
      timings_.audioProcessing += now() - mark;
      timings_.totalAudioProcessingRuns += 1;
      platform::Task::checkCancellation();

      mark = now();
      const FeatureExtractorOutputType mel = featureExtractor_->logMelSpectrogram(*audioSamples);
      if (mel.shape().empty()) {
        throw WhisperError::transcriptionFailed("Mel output is nil");
      }
      timings_.logmels += now() - mark;
      timings_.totalLogmelRuns += 1;
      platform::Task::checkCancellation();

      mark = now();
      const AudioEncoderOutputType encoderOutput = audioEncoder_->encodeFeatures(mel);
      if (encoderOutput.shape().empty()) {
        throw WhisperError::transcriptionFailed("Encoder output is nil");
      }
      timings_.encoding += now() - mark;
      timings_.totalEncodingRuns += 1;
      Logging::info("Decoding " + seconds2(static_cast<float>(seek) / kSampleRate) + "s - " +
                    seconds2(static_cast<float>(seek + segmentSize) / kSampleRate) + "s");
      // The window's ordinal in this run: distinct per window and never negative, however many
      // fallbacks earlier windows needed.
      const int windowId = windowIndex++;
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
          encoderOutput, options, windowCallback, decoderInputs, detectedLanguage);

      const double windowingStart = now();
      auto [returnedSeek, segments] = segmentSeeker_->findSeekPointAndSegments(
          decodingResult, options, static_cast<int>(allSegments.size()), seek, segmentSize,
          kSampleRate, special.timeTokenBegin, special.specialTokenBegin, *tokenizer_);
      int nextSeek = std::max(seek, returnedSeek);

      if (options.wordTimestamps && decodingResult.cache &&
          decodingResult.cache->alignmentWeights) {
        mark = now();
        auto timed = segmentSeeker_->addWordTimestamps(
            segments.value_or(std::vector<TranscriptionSegment>{}),
            *decodingResult.cache->alignmentWeights, *tokenizer_, seek, segmentSize,
            Constants::defaultPrependPunctuations, Constants::defaultAppendPunctuations,
            static_cast<float>(static_cast<double>(seek) / kSampleRate), options, timings_);
        timings_.decodingWordTimestamps += now() - mark;
        timings_.totalTimestampAlignmentRuns += 1;
        if (timed) {
          std::vector<TranscriptionSegment> kept;
          for (auto &segment : *timed) {
            if (segment.end > segment.start) {
              kept.push_back(std::move(segment));
            }
          }
          if (!kept.empty()) {
            nextSeek = std::max(nextSeek, static_cast<int>(kept.back().end * kSampleRate));
          }
          segments = std::move(kept);
        } else {
          segments.reset();
        }
        if (options.verbose && segments) {
          Logging::debug("Word timestamps:");
          for (const auto &segment : *segments) {
            for (const auto &word : segment.words.value_or(std::vector<WordTiming>{})) {
              Logging::debug(
                  "[" + threeSignificant(word.start) + " -> " + threeSignificant(word.end) +
                  "] prob: " + deduve::formatFloat(word.probability) + ", word: " + word.word);
            }
          }
        }
      }

      if (options.maxWindowSeek && *options.maxWindowSeek > 0) {
        nextSeek = std::min(nextSeek, seek + *options.maxWindowSeek);
      }

      if (!segments) {
        // Nothing kept from this window; the next window still starts from an empty cache.
        decoderInputs->reset(resetContext);
      } else {
        auto processed = windowPostProcess(seek, segmentSize, std::move(*segments));
        if (options.verbose) {
          Logging::debug("Segments for window:");
          for (const auto &segment : processed) {
            Logging::debug("[" + seconds2(segment.start) + " --> " + seconds2(segment.end) + "] " +
                           segment.text);
          }
        }
        if (segmentDiscoveryCallback_) {
          segmentDiscoveryCallback_(processed);
        }
        for (auto &segment : processed) {
          allTokens.insert(allTokens.end(), segment.tokens.begin(), segment.tokens.end());
          allSegments.push_back(std::move(segment));
        }
        timings_.decodingWindowing += now() - windowingStart;
        timings_.totalDecodingWindows += 1;
        decoderInputs->reset(resetContext);
        progress_->setCompletedUnitCount(base + (std::min(nextSeek, end) - clipBegin));
      }
      // A window that does not move would be decoded again forever.
      seek = std::max(nextSeek, seek + 1);
    }
  }

  progress_->setCompletedUnitCount(progress_->totalUnitCount());
  timings_.decodingLoop = now() - loopStart;
  timings_.fullPipeline = now() - timings_.pipelineStart;
  return finalizeTranscriptionResult(allTokens, std::move(allSegments), detectedLanguage, timings_);
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
  if (Logging::isLoggingEnabled(Logging::LogLevel::debug)) {
    std::string list = "[";
    for (std::size_t i = 0; i < temperatures.size(); ++i) {
      list += (i > 0 ? ", " : "") + deduve::formatFloat(temperatures[i]);
    }
    Logging::debug("Decoding with temperatures " + list + "]");
  }

  std::optional<DecodingResult> result;
  for (std::size_t i = 0; i < temperatures.size(); ++i) {
    const float temperature = temperatures[i];
    Logging::info("Decoding Temperature: " + deduve::formatFloat(temperature));
    const double attemptStart = now();
    GreedyTokenSampler sampler(temperature, tokenizer_->specialTokens().endToken, options);
    DecodingOptions attemptOptions = options;

    if (textDecoder_->isModelMultilingual() && !options.language && options.detectLanguage) {
      std::optional<DecodingResult> languageResult;
      try {
        languageResult = textDecoder_->detectLanguage(encoderOutput, *decoderInputs, sampler,
                                                      options, temperature);
      } catch (const std::exception &) {
        // A failed detection decodes without a language; the attempt's result names one.
      }
      detectedLanguage =
          languageResult ? std::optional<std::string>(languageResult->language) : std::nullopt;
      attemptOptions.language = detectedLanguage;
      if (options.usePrefillPrompt) {
        decoderInputs = textDecoder_->prefillDecoderInputs(decoderInputs, attemptOptions);
      }
      Logging::debug("Prefill prompt updated to: " + promptDescription(*decoderInputs));
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
      decoderInputs->reset(options.sampleLength);
      Logging::info("Fallback #" + std::to_string(i + 1) + " (" + result->fallback->fallbackReason +
                    ")");
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
