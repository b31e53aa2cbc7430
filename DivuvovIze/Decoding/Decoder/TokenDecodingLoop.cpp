#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "DeduveCore/Support/Logging.hpp"
#include "DeduveCore/Support/StringUtilities.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressBlankFilter.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressTokensFilter.hpp"
#include "DivuvovIze/Decoding/Filters/TimestampRulesFilter.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/UUID.hpp"

namespace divuvovize {
namespace {

using deduve::Logging;
using Clock = platform::SteadyClock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

bool debugEnabled() { return Logging::isLoggingEnabled(Logging::LogLevel::debug); }

// Softmax probability of `token` over the logits of one step (before any filter).
float tokenProbability(const platform::MLMultiArray &logits, int token) {
  if (logits.dataType() != platform::MLMultiArrayDataType::float32 || token < 0 ||
      token >= logits.count()) {
    return 0;
  }
  const float *values = logits.data<float>();
  const int count = logits.count();
  float maximum = -std::numeric_limits<float>::infinity();
  for (int i = 0; i < count; ++i) {
    maximum = std::max(maximum, values[i]);
  }
  if (!std::isfinite(maximum)) {
    return 0;
  }
  double sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += std::exp(static_cast<double>(values[i] - maximum));
  }
  return static_cast<float>(std::exp(static_cast<double>(values[token] - maximum)) / sum);
}

std::string trimSpecialCharacters(const std::string &text) {
  return trimmingSpecialTokenCharacters(text);
}

} // namespace

std::vector<std::shared_ptr<LogitsFiltering>>
TokenDecodingLoop::prepareLogitsFilters(const TextDecoding &decoder, const DecodingOptions &options,
                                        int sampleBegin, int timestampSampleBegin,
                                        const WhisperTokenizer &tokenizer) {
  std::vector<std::shared_ptr<LogitsFiltering>> filters =
      decoder.logitsFilters().value_or(std::vector<std::shared_ptr<LogitsFiltering>>{});
  const SpecialTokens &special = tokenizer.specialTokens();
  if (options.suppressBlank) {
    filters.push_back(std::make_shared<SuppressBlankFilter>(special, sampleBegin));
  }
  if (!options.suppressTokens.empty()) {
    std::vector<int> textTokens;
    std::copy_if(options.suppressTokens.begin(), options.suppressTokens.end(),
                 std::back_inserter(textTokens),
                 [&](int token) { return token < special.specialTokenBegin; });
    filters.push_back(std::make_shared<SuppressTokensFilter>(std::move(textTokens)));
  }
  if (!options.withoutTimestamps) {
    std::optional<int> maxInitialTimestampIndex;
    if (options.maxInitialTimestamp) {
      const double steps = static_cast<double>(*options.maxInitialTimestamp) / 0.02;
      // A limit beyond every timestamp, or not a number, limits nothing.
      if (std::isfinite(steps) && std::abs(steps) < 1e9) {
        maxInitialTimestampIndex = static_cast<int>(steps);
      }
    }
    filters.push_back(std::make_shared<TimestampRulesFilter>(
        special, timestampSampleBegin, maxInitialTimestampIndex, decoder.isModelMultilingual()));
  }
  return filters;
}

DecodingResult TokenDecodingLoop::decodeText(TextDecoding &decoder,
                                             deduve::EarlyStopActor &earlyStop,
                                             const AudioEncoderOutputType &encoderOutput,
                                             DecodingInputsType &decoderInputs,
                                             TokenSampling &sampler, const DecodingOptions &options,
                                             const TranscriptionCallback &callback,
                                             const Clock &clock) {
  const std::shared_ptr<WhisperTokenizer> tokenizerHandle = decoder.tokenizer();
  if (!tokenizerHandle) {
    throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  }
  const WhisperTokenizer &tokenizer = *tokenizerHandle;
  const SpecialTokens &special = tokenizer.specialTokens();
  auto *inputs = dynamic_cast<DecodingInputs *>(&decoderInputs);
  if (inputs == nullptr) {
    throw WhisperError::prepareDecoderInputsFailed("DecodingInputsType must be DecodingInputs");
  }
  if (encoderOutput.shape().empty()) {
    throw WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray");
  }
  const std::vector<int> initialPrompt = inputs->initialPrompt();
  if (initialPrompt.empty()) {
    throw WhisperError::prepareDecoderInputsFailed("The initial prompt is empty");
  }

  TranscriptionTimings timings;
  const int prefilledIndex = std::max(static_cast<int>(inputs->cacheLength().value(0)), 0);
  const int initialPromptIndex = static_cast<int>(initialPrompt.size());
  // The first step whose sampled token is kept: the prompt's last position.
  const int firstSampledIndex = std::max(prefilledIndex, initialPromptIndex - 1);
  // Every step writes mask position index + 1, so the loop stays one short of the cache.
  const int cachePositions = inputs->kvCacheUpdateMask().count();
  const int loopBound =
      std::min({options.sampleLength, maxSampleLength, std::max(cachePositions - 1, 0)});

  // The token sequence so far with one log-probability per token (prompt entries 0); the
  // sampler appends to it in place, so steps allocate nothing once it has room.
  SamplingResult sequence;
  const std::size_t capacity =
      static_cast<std::size_t>(std::max(loopBound, initialPromptIndex)) + 2;
  sequence.tokens.reserve(capacity);
  sequence.logProbs.reserve(capacity);
  sequence.tokens = initialPrompt;
  sequence.logProbs.assign(initialPrompt.size(), 0.0f);
  std::vector<int> &currentTokens = sequence.tokens;
  std::vector<float> &logProbs = sequence.logProbs;
  int nextToken = initialPrompt.back();

  // Blank suppression and the first-token test judge the first sampled token, which is
  // sampled when the tokens hold the whole prompt.
  const auto filters =
      prepareLogitsFilters(decoder, options, initialPromptIndex, initialPromptIndex, tokenizer);

  // The no-speech probability is read at the step fed with the start-of-transcript token.
  const auto sotPosition =
      std::find(initialPrompt.begin(), initialPrompt.end(), special.startOfTranscriptToken) -
      initialPrompt.begin();
  const int noSpeechIndex = sotPosition < initialPromptIndex && sotPosition >= prefilledIndex
                                ? static_cast<int>(sotPosition)
                                : prefilledIndex;
  float noSpeechProb = 0;

  Logging::debug("Running main loop for a maximum of " + std::to_string(loopBound) +
                 " iterations, starting at index " + std::to_string(prefilledIndex));
  const platform::UUID windowUUID;
  earlyStop.set(false, windowUUID);

  auto *inputIds = inputs->inputIds().data<std::int32_t>();
  auto *cacheLength = inputs->cacheLength().data<std::int32_t>();
  auto *updateMask = inputs->kvCacheUpdateMask().data<std::int32_t>();
  auto *paddingMask = inputs->decoderKeyPaddingMask().data<platform::Float16>();
  const TextDecoderMLMultiArrayInputType stepInput(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoderOutput, inputs->decoderKeyPaddingMask());

  bool hasAlignment = false;
  bool isFirstTokenLogProbTooLow = false;
  for (int tokenIndex = prefilledIndex; tokenIndex < loopBound; ++tokenIndex) {
    const auto stepStart = clock.now();
    const bool inPrompt = tokenIndex < initialPromptIndex - 1;
    if (tokenIndex < initialPromptIndex) {
      const int promptToken = initialPrompt[static_cast<std::size_t>(tokenIndex)];
      const bool keepPredictedTimestamp = tokenIndex == initialPromptIndex - 1 &&
                                          promptToken >= special.timeTokenBegin &&
                                          nextToken >= special.timeTokenBegin;
      if (keepPredictedTimestamp) {
        currentTokens[static_cast<std::size_t>(tokenIndex)] = nextToken;
      } else {
        nextToken = promptToken;
      }
      if (debugEnabled()) {
        Logging::debug(std::string(keepPredictedTimestamp ? "Skipping" : "Forcing") +
                       " prompt tokenIndex: " + std::to_string(tokenIndex) + ", token: " +
                       std::to_string(nextToken) + ", text: " + tokenizer.decode({nextToken}));
      }
    }
    inputIds[0] = nextToken;
    cacheLength[0] = tokenIndex;
    if (tokenIndex <= prefilledIndex + 3) {
      debugDecoderInputs(*inputs, tokenIndex);
    }

    const auto predictionStart = clock.now();
    auto output = decoder.predictLogits(stepInput);
    if (!output || !output->logits) {
      throw WhisperError::decodingLogitsFailed("Unable to decode logits");
    }
    platform::MLMultiArray &logits = *output->logits;
    const auto predictionEnd = clock.now();
    timings.decodingPredictions += secondsBetween(predictionStart, predictionEnd);
    if (tokenIndex == noSpeechIndex) {
      noSpeechProb = tokenProbability(logits, special.noSpeechToken);
    }

    for (const auto &filter : filters) {
      filter->filterLogits(logits, currentTokens);
    }
    const auto filteringEnd = clock.now();
    timings.decodingFiltering += secondsBetween(predictionEnd, filteringEnd);

    sequence.completed = false;
    sampler.update(sequence, logits);
    nextToken = currentTokens.back();
    const float nextLogProb = logProbs.back();
    const bool samplerCompleted = sequence.completed;
    currentTokens.pop_back();
    logProbs.pop_back();
    if (debugEnabled()) {
      Logging::debug("Predicted next tokenIndex: " + std::to_string(tokenIndex + 1) + ", token: " +
                     std::to_string(nextToken) + ", text: " + tokenizer.decode({nextToken}));
    }
    const auto samplingEnd = clock.now();
    timings.decodingSampling += secondsBetween(filteringEnd, samplingEnd);

    if (tokenIndex == firstSampledIndex && options.firstTokenLogProbThreshold &&
        *options.firstTokenLogProbThreshold > nextLogProb) {
      isFirstTokenLogProbTooLow = true;
    }
    // Predictions at prompt positions are replaced by the prompt, so they cannot end a window.
    const bool isComplete =
        !inPrompt &&
        (samplerCompleted || currentTokens.size() >= static_cast<std::size_t>(maxSampleLength) ||
         isFirstTokenLogProbTooLow);
    if (isComplete) {
      const auto stepEnd = clock.now();
      timings.decodingNonPrediction += secondsBetween(predictionEnd, stepEnd);
      timings.decodingLoop += secondsBetween(stepStart, stepEnd);
      timings.totalDecodingLoops += 1;
      break;
    }
    if (!inPrompt) {
      currentTokens.push_back(nextToken);
      logProbs.push_back(nextLogProb);
    }

    if (!output->cache || !output->cache->keyCache || !output->cache->valueCache) {
      throw WhisperError::decodingFailed("Invalid model output");
    }
    TextDecoding::updateKVCache(inputs->keyCache(), *output->cache->keyCache, inputs->valueCache(),
                                *output->cache->valueCache, tokenIndex);
    paddingMask[tokenIndex + 1] = 0;
    updateMask[tokenIndex] = 0;
    updateMask[tokenIndex + 1] = 1;
    if (output->cache->alignmentWeights) {
      TextDecoding::updateAlignmentWeights(inputs->alignmentWeights(),
                                           *output->cache->alignmentWeights, tokenIndex);
      hasAlignment = true;
    }
    const auto cachingEnd = clock.now();
    timings.decodingKvCaching += secondsBetween(samplingEnd, cachingEnd);
    timings.totalKVUpdateRuns += 1;

    if (callback) {
      std::vector<int> textTokens;
      if (options.skipSpecialTokens) {
        std::copy_if(currentTokens.begin(), currentTokens.end(), std::back_inserter(textTokens),
                     [&](int token) { return token < special.specialTokenBegin; });
      } else {
        textTokens = currentTokens;
      }
      float sum = 0;
      for (float value : logProbs) {
        sum += value;
      }
      TranscriptionProgress progress;
      progress.timings = timings;
      progress.text = tokenizer.decode(textTokens);
      progress.tokens = currentTokens;
      progress.avgLogprob = sum / static_cast<float>(logProbs.size());
      progress.compressionRatio = TextUtilities::compressionRatio(currentTokens);
      progress.windowId = 0;
      const std::optional<bool> keepGoing = callback(progress);
      if (keepGoing == false && !inPrompt) {
        Logging::debug("Early stopping");
        earlyStop.set(true, windowUUID);
      }
    }

    const auto stepEnd = clock.now();
    timings.decodingNonPrediction += secondsBetween(predictionEnd, stepEnd);
    timings.decodingLoop += secondsBetween(stepStart, stepEnd);
    timings.totalDecodingLoops += 1;
    if (tokenIndex == firstSampledIndex) {
      timings.firstTokenTime = std::chrono::duration<double>(stepEnd.time_since_epoch()).count();
      Logging::debug("Found first token at: " + deduve::formatDouble(timings.firstTokenTime));
    }
    if (earlyStop.get(windowUUID)) {
      break;
    }
  }

  if (!earlyStop.remove(windowUUID)) {
    Logging::error("Early stop flag not found for window: " + windowUUID.uuidString());
  }
  DecodingCache cache{inputs->keyCache(), inputs->valueCache(),
                      hasAlignment ? std::optional(inputs->alignmentWeights()) : std::nullopt};

  const SamplingResult finalized = sampler.finalize(currentTokens, logProbs);
  const auto &tokens = finalized.tokens;
  const auto sot = std::find(tokens.begin(), tokens.end(), special.startOfTranscriptToken);
  const std::size_t keptBegin =
      sot == tokens.end() ? 0 : static_cast<std::size_t>(sot - tokens.begin());
  const auto eot = std::find(tokens.begin(), tokens.end(), special.endToken);
  const std::size_t keptEnd =
      eot == tokens.end() ? tokens.size() : static_cast<std::size_t>(eot - tokens.begin()) + 1;

  DecodingResult result;
  result.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(keptBegin),
                       tokens.begin() + static_cast<std::ptrdiff_t>(std::max(keptBegin, keptEnd)));
  std::vector<float> keptLogProbs;
  for (std::size_t i = keptBegin; i < std::max(keptBegin, keptEnd) && i < finalized.logProbs.size();
       ++i) {
    keptLogProbs.push_back(finalized.logProbs[i]);
  }
  float sum = 0;
  for (float value : keptLogProbs) {
    sum += value;
  }
  result.avgLogProb = sum / static_cast<float>(keptLogProbs.size());
  result.tokenLogProbs.reserve(result.tokens.size());
  for (std::size_t i = 0; i < result.tokens.size(); ++i) {
    result.tokenLogProbs.push_back(
        {{result.tokens[i], i < keptLogProbs.size() ? keptLogProbs[i] : 0.0f}});
  }
  std::vector<int> keptText;
  std::copy_if(result.tokens.begin(), result.tokens.end(), std::back_inserter(keptText),
               [&](int token) { return token < special.specialTokenBegin; });
  result.compressionRatio = TextUtilities::compressionRatio(keptText);

  if (const auto *greedy = dynamic_cast<const GreedyTokenSampler *>(&sampler)) {
    result.temperature = deduve::rounded(greedy->temperature, 3);
  } else {
    result.temperature = options.temperature;
  }

  if (options.language) {
    result.language = *options.language;
    result.languageProbs = {{*options.language, 0.0f}};
  } else {
    const auto &languageTokens = tokenizer.allLanguageTokens();
    const auto found = std::find_if(result.tokens.begin(), result.tokens.end(),
                                    [&](int token) { return languageTokens.count(token) > 0; });
    if (found != result.tokens.end()) {
      const auto position = static_cast<std::size_t>(found - result.tokens.begin());
      result.language = trimSpecialCharacters(tokenizer.decode({*found}));
      result.languageProbs = {{result.language, result.tokenLogProbs[position].at(*found)}};
    } else {
      result.language = std::string(Constants::defaultLanguageCode);
      result.languageProbs = {{result.language, 0.0f}};
    }
  }

  result.text = tokenizer.decode(result.tokens);
  Logging::debug("Completed window: " + result.text);
  result.noSpeechProb = noSpeechProb;
  result.cache = std::move(cache);
  result.timings = timings;
  result.fallback = DecodingFallback::make(options, isFirstTokenLogProbTooLow, noSpeechProb,
                                           result.compressionRatio, result.avgLogProb);
  return result;
}

} // namespace divuvovize
