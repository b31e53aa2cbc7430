#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "DeduveCore/Support/StringUtilities.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressBlankFilter.hpp"
#include "DivuvovIze/Decoding/Filters/SuppressTokensFilter.hpp"
#include "DivuvovIze/Decoding/Filters/TimestampRulesFilter.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/UUID.hpp"

namespace divuvovize {
namespace {

using Clock = platform::SteadyClock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

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

// The vocabulary's own no-speech token: "<|nospeech|>" in the multilingual vocabulary,
// "<|nocaptions|>" in the English one (where SpecialTokens' default id, 50362, is
// "<|notimestamps|>"); none when it has neither.
std::optional<int> noSpeechTokenOf(const WhisperTokenizer &tokenizer) {
  if (const auto id = tokenizer.vocabularyId("<|nospeech|>")) {
    return id;
  }
  return tokenizer.vocabularyId("<|nocaptions|>");
}

std::string trimSpecialCharacters(const std::string &text) {
  return trimmingSpecialTokenCharacters(text);
}

// What decodeText checks before its first step.
struct ValidatedWindow {
  std::shared_ptr<WhisperTokenizer> tokenizer;
  DecodingInputs *inputs = nullptr;
  std::vector<int> initialPrompt;
};

ValidatedWindow validated(const TextDecoding &decoder, const AudioEncoderOutputType &encoderOutput,
                          DecodingInputsType &decoderInputs) {
  ValidatedWindow window;
  window.tokenizer = decoder.tokenizer();
  if (!window.tokenizer) {
    throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  }
  window.inputs = dynamic_cast<DecodingInputs *>(&decoderInputs);
  if (window.inputs == nullptr) {
    throw WhisperError::prepareDecoderInputsFailed("DecodingInputsType must be DecodingInputs");
  }
  if (encoderOutput.shape().empty()) {
    throw WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray");
  }
  window.initialPrompt = window.inputs->initialPrompt();
  if (window.initialPrompt.empty()) {
    throw WhisperError::prepareDecoderInputsFailed("The initial prompt is empty");
  }
  return window;
}

float sumOf(const std::vector<float> &values) {
  float sum = 0;
  for (float value : values) {
    sum += value;
  }
  return sum;
}

std::vector<int> textTokensOf(const std::vector<int> &tokens, const SpecialTokens &special) {
  std::vector<int> text;
  text.reserve(tokens.size());
  std::copy_if(tokens.begin(), tokens.end(), std::back_inserter(text),
               [&](int token) { return token < special.specialTokenBegin; });
  return text;
}

// The collaborators of one window's loop, as decodeText receives them.
struct WindowServices {
  TextDecoding &decoder;
  deduve::EarlyStopActor &earlyStop;
  const AudioEncoderOutputType &encoderOutput;
  TokenSampling &sampler;
  const DecodingOptions &options;
  const TranscriptionCallback &callback;
  const Clock &clock;
  const platform::WallClock &wallClock;
};

// One window's token loop: the state the steps share, from the validated inputs to the result.
class WindowDecoding {
public:
  WindowDecoding(ValidatedWindow window, WindowServices services);

  DecodingResult run();

private:
  enum class StepOutcome { carryOn, windowEnds };

  StepOutcome step(int tokenIndex);
  // Puts the prompt's token for `tokenIndex` in nextToken_ (or keeps a predicted timestamp in
  // place of the prompt's last one).
  void forcePromptToken(int tokenIndex);
  struct Sampled {
    float logProb = 0;       // of the token now in nextToken_
    bool completed = false;  // the sampler completed the sequence
    Clock::time_point end{}; // when sampling ended
  };
  // Filters the step's logits from `filteringStart` on and samples nextToken_.
  Sampled filterAndSample(platform::MLMultiArray &logits, int tokenIndex,
                          Clock::time_point filteringStart);
  void updateCaches(const TextDecoderMLMultiArrayOutputType &output, int tokenIndex);
  void reportProgress(bool inPrompt);
  void addStepTimes(Clock::time_point stepStart, Clock::time_point predictionEnd,
                    Clock::time_point stepEnd);
  DecodingResult finish();
  void keepTokensOfTranscript(DecodingResult &result) const;
  void setLanguage(DecodingResult &result) const;

  ValidatedWindow window_;
  WindowServices services_;
  const WhisperTokenizer &tokenizer_;
  const SpecialTokens &special_;
  DecodingInputs &inputs_;
  const std::vector<int> &initialPrompt_;

  TranscriptionTimings timings_;
  int prefilledIndex_ = 0;
  int initialPromptIndex_ = 0;
  // The first step whose sampled token is kept: the prompt's last position.
  int firstSampledIndex_ = 0;
  int loopBound_ = 0;
  // The no-speech probability is read at the step fed with the start-of-transcript token, as
  // the probability of noSpeechToken_ (0 without one).
  int noSpeechIndex_ = 0;
  std::optional<int> noSpeechToken_;
  float noSpeechProb_ = 0;
  // The token sequence so far with one log-probability per token (prompt entries 0); the
  // sampler appends to it in place, so steps allocate nothing once it has room.
  SamplingResult sequence_;
  int nextToken_ = 0;
  std::vector<std::shared_ptr<LogitsFiltering>> filters_;
  const platform::UUID windowUUID_;
  std::int32_t *inputIds_;
  std::int32_t *cacheLength_;
  std::int32_t *updateMask_;
  platform::Float16 *paddingMask_;
  const TextDecoderMLMultiArrayInputType stepInput_;
  bool hasAlignment_ = false;
  bool isFirstTokenLogProbTooLow_ = false;
};

WindowDecoding::WindowDecoding(ValidatedWindow window, WindowServices services)
    : window_(std::move(window)), services_(services), tokenizer_(*window_.tokenizer),
      special_(tokenizer_.specialTokens()), inputs_(*window_.inputs),
      initialPrompt_(window_.initialPrompt), inputIds_(inputs_.inputIds().data<std::int32_t>()),
      cacheLength_(inputs_.cacheLength().data<std::int32_t>()),
      updateMask_(inputs_.kvCacheUpdateMask().data<std::int32_t>()),
      paddingMask_(inputs_.decoderKeyPaddingMask().data<platform::Float16>()),
      stepInput_(inputs_.inputIds(), inputs_.cacheLength(), inputs_.keyCache(),
                 inputs_.valueCache(), inputs_.kvCacheUpdateMask(), services.encoderOutput,
                 inputs_.decoderKeyPaddingMask()) {
  prefilledIndex_ = std::max(static_cast<int>(inputs_.cacheLength().value(0)), 0);
  initialPromptIndex_ = static_cast<int>(initialPrompt_.size());
  firstSampledIndex_ = std::max(prefilledIndex_, initialPromptIndex_ - 1);
  // Every step writes mask position index + 1, so the loop stays one short of the cache.
  const int cachePositions = inputs_.kvCacheUpdateMask().count();
  loopBound_ = std::min({services_.options.sampleLength, TokenDecodingLoop::maxSampleLength,
                         std::max(cachePositions - 1, 0)});

  const std::size_t capacity =
      static_cast<std::size_t>(std::max(loopBound_, initialPromptIndex_)) + 2;
  sequence_.tokens.reserve(capacity);
  sequence_.logProbs.reserve(capacity);
  sequence_.tokens = initialPrompt_;
  sequence_.logProbs.assign(initialPrompt_.size(), 0.0f);
  nextToken_ = initialPrompt_.back();

  // Blank suppression and the first-token test judge the first sampled token, which is
  // sampled when the tokens hold the whole prompt.
  filters_ = TokenDecodingLoop::prepareLogitsFilters(
      services_.decoder, services_.options, initialPromptIndex_, initialPromptIndex_, tokenizer_);

  const auto sotPosition =
      std::find(initialPrompt_.begin(), initialPrompt_.end(), special_.startOfTranscriptToken) -
      initialPrompt_.begin();
  noSpeechIndex_ = sotPosition < initialPromptIndex_ && sotPosition >= prefilledIndex_
                       ? static_cast<int>(sotPosition)
                       : prefilledIndex_;
  noSpeechToken_ = noSpeechTokenOf(tokenizer_);
}

DecodingResult WindowDecoding::run() {
  modelslog::debug("Running main loop for a maximum of " + std::to_string(loopBound_) +
                   " iterations, starting at index " + std::to_string(prefilledIndex_));
  services_.earlyStop.set(false, windowUUID_);
  for (int tokenIndex = prefilledIndex_; tokenIndex < loopBound_; ++tokenIndex) {
    if (step(tokenIndex) == StepOutcome::windowEnds) {
      break;
    }
  }
  if (!services_.earlyStop.remove(windowUUID_)) {
    modelslog::error("Early stop flag not found for window: " + windowUUID_.uuidString());
  }
  return finish();
}

WindowDecoding::StepOutcome WindowDecoding::step(int tokenIndex) {
  const auto &clock = services_.clock;
  const auto stepStart = clock.now();
  const bool inPrompt = tokenIndex < initialPromptIndex_ - 1;
  if (tokenIndex < initialPromptIndex_) {
    forcePromptToken(tokenIndex);
  }
  inputIds_[0] = nextToken_;
  cacheLength_[0] = tokenIndex;
  if (tokenIndex <= prefilledIndex_ + 3) {
    debugDecoderInputs(inputs_, tokenIndex);
  }

  const auto predictionStart = clock.now();
  auto output = services_.decoder.predictLogits(stepInput_);
  if (!output || !output->logits) {
    throw WhisperError::decodingLogitsFailed("Unable to decode logits");
  }
  const auto predictionEnd = clock.now();
  timings_.decodingPredictions += secondsBetween(predictionStart, predictionEnd);
  if (tokenIndex == noSpeechIndex_ && noSpeechToken_) {
    noSpeechProb_ = tokenProbability(*output->logits, *noSpeechToken_);
  }

  const Sampled sampled = filterAndSample(*output->logits, tokenIndex, predictionEnd);
  if (tokenIndex == firstSampledIndex_ && services_.options.firstTokenLogProbThreshold &&
      *services_.options.firstTokenLogProbThreshold > sampled.logProb) {
    isFirstTokenLogProbTooLow_ = true;
  }
  // Predictions at prompt positions are replaced by the prompt, so they cannot end a window.
  const bool isComplete =
      !inPrompt &&
      (sampled.completed ||
       sequence_.tokens.size() >= static_cast<std::size_t>(TokenDecodingLoop::maxSampleLength) ||
       isFirstTokenLogProbTooLow_);
  if (isComplete) {
    addStepTimes(stepStart, predictionEnd, clock.now());
    return StepOutcome::windowEnds;
  }
  if (!inPrompt) {
    sequence_.tokens.push_back(nextToken_);
    sequence_.logProbs.push_back(sampled.logProb);
  }

  updateCaches(*output, tokenIndex);
  timings_.decodingKvCaching += secondsBetween(sampled.end, clock.now());
  timings_.totalKVUpdateRuns += 1;
  if (services_.callback) {
    reportProgress(inPrompt);
  }

  const auto stepEnd = clock.now();
  addStepTimes(stepStart, predictionEnd, stepEnd);
  if (tokenIndex == firstSampledIndex_) {
    // An absolute time, comparable with pipelineStart and with other machines' records.
    const auto found = services_.wallClock.now();
    timings_.firstTokenTime = platform::absoluteTime(found);
    modelslog::debug("Found first token at: " + platform::dateDescription(found));
  }
  return services_.earlyStop.get(windowUUID_) ? StepOutcome::windowEnds : StepOutcome::carryOn;
}

void WindowDecoding::forcePromptToken(int tokenIndex) {
  const int promptToken = initialPrompt_[static_cast<std::size_t>(tokenIndex)];
  const bool keepPredictedTimestamp = tokenIndex == initialPromptIndex_ - 1 &&
                                      promptToken >= special_.timeTokenBegin &&
                                      nextToken_ >= special_.timeTokenBegin;
  if (keepPredictedTimestamp) {
    sequence_.tokens[static_cast<std::size_t>(tokenIndex)] = nextToken_;
  } else {
    nextToken_ = promptToken;
  }
  if (modelslog::debugEnabled()) {
    modelslog::debug(std::string(keepPredictedTimestamp ? "Skipping" : "Forcing") +
                     " prompt tokenIndex: " + std::to_string(tokenIndex) + ", token: " +
                     std::to_string(nextToken_) + ", text: " + tokenizer_.decode({nextToken_}));
  }
}

WindowDecoding::Sampled WindowDecoding::filterAndSample(platform::MLMultiArray &logits,
                                                        int tokenIndex,
                                                        Clock::time_point filteringStart) {
  for (const auto &filter : filters_) {
    filter->filterLogits(logits, sequence_.tokens);
  }
  const auto filteringEnd = services_.clock.now();
  timings_.decodingFiltering += secondsBetween(filteringStart, filteringEnd);

  sequence_.completed = false;
  services_.sampler.update(sequence_, logits);
  Sampled sampled;
  nextToken_ = sequence_.tokens.back();
  sampled.logProb = sequence_.logProbs.back();
  sampled.completed = sequence_.completed;
  sequence_.tokens.pop_back();
  sequence_.logProbs.pop_back();
  if (modelslog::debugEnabled()) {
    modelslog::debug("Predicted next tokenIndex: " + std::to_string(tokenIndex + 1) + ", token: " +
                     std::to_string(nextToken_) + ", text: " + tokenizer_.decode({nextToken_}));
  }
  sampled.end = services_.clock.now();
  timings_.decodingSampling += secondsBetween(filteringEnd, sampled.end);
  return sampled;
}

void WindowDecoding::updateCaches(const TextDecoderMLMultiArrayOutputType &output, int tokenIndex) {
  if (!output.cache || !output.cache->keyCache || !output.cache->valueCache) {
    throw WhisperError::decodingFailed("Invalid model output");
  }
  TextDecoding::updateKVCache(inputs_.keyCache(), *output.cache->keyCache, inputs_.valueCache(),
                              *output.cache->valueCache, tokenIndex);
  paddingMask_[tokenIndex + 1] = 0;
  updateMask_[tokenIndex] = 0;
  updateMask_[tokenIndex + 1] = 1;
  if (output.cache->alignmentWeights) {
    TextDecoding::updateAlignmentWeights(inputs_.alignmentWeights(),
                                         *output.cache->alignmentWeights, tokenIndex);
    hasAlignment_ = true;
  }
}

void WindowDecoding::reportProgress(bool inPrompt) {
  const std::vector<int> &tokens = sequence_.tokens;
  TranscriptionProgress progress;
  progress.timings = timings_;
  progress.text = tokenizer_.decode(
      services_.options.skipSpecialTokens ? textTokensOf(tokens, special_) : tokens);
  progress.tokens = tokens;
  progress.avgLogprob = sumOf(sequence_.logProbs) / static_cast<float>(sequence_.logProbs.size());
  progress.compressionRatio = TextUtilities::compressionRatio(tokens);
  progress.windowId = 0;
  const std::optional<bool> keepGoing = services_.callback(progress);
  if (keepGoing == false && !inPrompt) {
    modelslog::debug("Early stopping");
    services_.earlyStop.set(true, windowUUID_);
  }
}

void WindowDecoding::addStepTimes(Clock::time_point stepStart, Clock::time_point predictionEnd,
                                  Clock::time_point stepEnd) {
  timings_.decodingNonPrediction += secondsBetween(predictionEnd, stepEnd);
  timings_.decodingLoop += secondsBetween(stepStart, stepEnd);
  timings_.totalDecodingLoops += 1;
}

DecodingResult WindowDecoding::finish() {
  DecodingCache cache{inputs_.keyCache(), inputs_.valueCache(),
                      hasAlignment_ ? std::optional(inputs_.alignmentWeights()) : std::nullopt};
  DecodingResult result;
  keepTokensOfTranscript(result);
  result.compressionRatio = TextUtilities::compressionRatio(textTokensOf(result.tokens, special_));
  if (const auto *greedy = dynamic_cast<const GreedyTokenSampler *>(&services_.sampler)) {
    result.temperature = deduve::rounded(greedy->temperature, 3);
  } else {
    result.temperature = services_.options.temperature;
  }
  setLanguage(result);
  result.text = tokenizer_.decode(result.tokens);
  modelslog::debug("Completed window: " + result.text);
  result.noSpeechProb = noSpeechProb_;
  result.cache = std::move(cache);
  result.timings = timings_;
  result.fallback =
      DecodingFallback::make(services_.options, isFirstTokenLogProbTooLow_, noSpeechProb_,
                             result.compressionRatio, result.avgLogProb);
  return result;
}

// The finalised tokens from the start of transcript through the end token, with their
// log-probabilities and their mean.
void WindowDecoding::keepTokensOfTranscript(DecodingResult &result) const {
  const SamplingResult finalized = services_.sampler.finalize(sequence_.tokens, sequence_.logProbs);
  const auto &tokens = finalized.tokens;
  const auto sot = std::find(tokens.begin(), tokens.end(), special_.startOfTranscriptToken);
  const std::size_t keptBegin =
      sot == tokens.end() ? 0 : static_cast<std::size_t>(sot - tokens.begin());
  const auto eot = std::find(tokens.begin(), tokens.end(), special_.endToken);
  const std::size_t keptEnd =
      eot == tokens.end() ? tokens.size() : static_cast<std::size_t>(eot - tokens.begin()) + 1;

  result.tokens.assign(tokens.begin() + static_cast<std::ptrdiff_t>(keptBegin),
                       tokens.begin() + static_cast<std::ptrdiff_t>(std::max(keptBegin, keptEnd)));
  // The kept tokens' log-probabilities, as far as the sampler gave them; each token's map holds
  // its one entry in place, so the list costs one allocation whatever the window's length.
  const std::size_t logProbsEnd = std::min(std::max(keptBegin, keptEnd), finalized.logProbs.size());
  const std::size_t keptLogProbs = logProbsEnd > keptBegin ? logProbsEnd - keptBegin : 0;
  float sum = 0;
  result.tokenLogProbs.reserve(result.tokens.size());
  for (std::size_t i = 0; i < result.tokens.size(); ++i) {
    float logProb = 0;
    if (i < keptLogProbs) {
      logProb = finalized.logProbs[keptBegin + i];
      sum += logProb;
    }
    result.tokenLogProbs.emplace_back(result.tokens[i], logProb);
  }
  result.avgLogProb = sum / static_cast<float>(keptLogProbs);
}

// The language the options name, else the first language token kept, else the default.
void WindowDecoding::setLanguage(DecodingResult &result) const {
  if (services_.options.language) {
    result.language = *services_.options.language;
    result.languageProbs = {{*services_.options.language, 0.0f}};
    return;
  }
  const auto &languageTokens = tokenizer_.allLanguageTokens();
  const auto found = std::find_if(result.tokens.begin(), result.tokens.end(),
                                  [&](int token) { return languageTokens.count(token) > 0; });
  if (found != result.tokens.end()) {
    const auto position = static_cast<std::size_t>(found - result.tokens.begin());
    result.language = trimSpecialCharacters(tokenizer_.decode({*found}));
    result.languageProbs = {{result.language, result.tokenLogProbs[position].at(*found)}};
  } else {
    result.language = std::string(Constants::defaultLanguageCode);
    result.languageProbs = {{result.language, 0.0f}};
  }
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

DecodingResult
TokenDecodingLoop::decodeText(TextDecoding &decoder, deduve::EarlyStopActor &earlyStop,
                              const AudioEncoderOutputType &encoderOutput,
                              DecodingInputsType &decoderInputs, TokenSampling &sampler,
                              const DecodingOptions &options, const TranscriptionCallback &callback,
                              const Clock &clock, const platform::WallClock &wallClock) {
  WindowDecoding window(
      validated(decoder, encoderOutput, decoderInputs),
      {decoder, earlyStop, encoderOutput, sampler, options, callback, clock, wallClock});
  return window.run();
}

} // namespace divuvovize
