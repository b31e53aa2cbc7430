#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"

#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"
#include "DivuvovIze/Decoding/Model/ModelOutputArrays.hpp"
#include "DivuvovIze/Decoding/Sampling/TokenSampling.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/TextUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/AsyncPrediction.hpp"
#include "platform/system/CancellationScope.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>

namespace divuvovize {
namespace {

using platform::MLMultiArray;

constexpr std::array<const char *, 7> kInputNames = {"input_ids",
                                                     "cache_length",
                                                     "key_cache",
                                                     "value_cache",
                                                     "kv_cache_update_mask",
                                                     "encoder_output_embeds",
                                                     "decoder_key_padding_mask"};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A prompt tail kept from the options: the last `count` entries, then only text tokens.
std::vector<int> textTail(const std::optional<std::vector<int>> &tokens, std::size_t count,
                          int specialTokenBegin) {
  std::vector<int> tail;
  if (!tokens) {
    return tail;
  }
  const std::size_t first = tokens->size() > count ? tokens->size() - count : 0;
  std::copy_if(tokens->begin() + static_cast<std::ptrdiff_t>(first), tokens->end(),
               std::back_inserter(tail), [&](int token) { return token < specialTokenBegin; });
  return tail;
}

// Keeps the last `count` entries at most.
void keepLast(std::vector<int> &tokens, std::size_t count) {
  if (tokens.size() > count) {
    tokens.erase(tokens.begin(), tokens.end() - static_cast<std::ptrdiff_t>(count));
  }
}

constexpr std::size_t kPromptTokensKept = 111;
constexpr std::size_t kPrefixTokensKept = 112;

// The most tokens a window's prompt may hold and still leave the window one token to sample. A
// window of these inputs and options holds its loop bound plus one tokens (the last step's
// prediction included), and never more than the token loop's cap.
std::size_t promptCapacity(DecodingInputs &inputs, const DecodingOptions &options) {
  const int cachePositions = inputs.kvCacheUpdateMask().count();
  const int loopBound = std::min(
      {options.sampleLength, TokenDecodingLoop::maxSampleLength, std::max(cachePositions - 1, 0)});
  const long held = std::min<long>(std::max(loopBound, 0) + 1L, TokenDecodingLoop::maxSampleLength);
  return static_cast<std::size_t>(std::max(held - 1, 0L));
}

// Output names as strings made once: a name longer than the short-string buffer would
// otherwise be allocated at every step.
const std::string kLogits = "logits";
const std::string kKeyCacheUpdates = "key_cache_updates";
const std::string kValueCacheUpdates = "value_cache_updates";
const std::string kAlignmentHeadsWeights = "alignment_heads_weights";

// The named output array; read without copying the result's storage where it holds its
// values. A missing required output throws MLModelError.
std::optional<MLMultiArray> outputArray(const platform::MLFeatureProvider &provider,
                                        const std::string &name) {
  if (const platform::MLFeatureValue *value = provider.storedFeatureValue(name)) {
    if (const MLMultiArray *array = value->multiArrayPointer()) {
      return *array;
    }
  }
  return optionalOutputArray(provider, name);
}

MLMultiArray requiredArray(const platform::MLFeatureProvider &provider, const std::string &name) {
  auto array = outputArray(provider, name);
  if (!array) {
    return requiredOutputArray(provider, name);
  }
  return std::move(*array);
}

} // namespace

struct TextDecoder::StepArrays {
  // The arrays the input provider was built over; a step with other arrays rebuilds it.
  std::array<const void *, 7> inputStorage{};
  std::shared_ptr<platform::MLDictionaryFeatureProvider> input;
  platform::MLPredictionOptions options;
};

TextDecoder::~TextDecoder() = default;

std::shared_ptr<platform::MLModel> TextDecoder::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

void TextDecoder::setModel(std::shared_ptr<platform::MLModel> model) {
  std::lock_guard lock(mutex_);
  model_ = std::move(model);
  stepArrays_.clear();
}

std::shared_ptr<WhisperTokenizer> TextDecoder::tokenizer() const {
  std::lock_guard lock(mutex_);
  return tokenizer_;
}

void TextDecoder::setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) {
  std::lock_guard lock(mutex_);
  tokenizer_ = std::move(tokenizer);
}

bool TextDecoder::isModelMultilingual() const {
  std::lock_guard lock(mutex_);
  return isModelMultilingual_;
}

void TextDecoder::setIsModelMultilingual(bool isModelMultilingual) {
  std::lock_guard lock(mutex_);
  isModelMultilingual_ = isModelMultilingual;
}

std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> TextDecoder::logitsFilters() const {
  std::lock_guard lock(mutex_);
  return logitsFilters_;
}

void TextDecoder::setLogitsFilters(
    std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) {
  std::lock_guard lock(mutex_);
  logitsFilters_ = std::move(filters);
}

std::shared_ptr<const LanguageLogitsFilter> TextDecoder::languageLogitsFilter() const {
  std::lock_guard lock(mutex_);
  return languageLogitsFilter_;
}

std::optional<int> TextDecoder::logitsSize() const {
  return deduve::ModelUtilities::getModelOutputDimension(model(), "logits", 2);
}

std::optional<int> TextDecoder::kvCacheEmbedDim() const {
  return deduve::ModelUtilities::getModelInputDimension(model(), "key_cache", 1);
}

std::optional<int> TextDecoder::kvCacheMaxSequenceLength() const {
  return deduve::ModelUtilities::getModelInputDimension(model(), "key_cache", 3);
}

std::optional<int> TextDecoder::windowSize() const {
  return deduve::ModelUtilities::getModelInputDimension(model(), "encoder_output_embeds", 3);
}

std::optional<int> TextDecoder::embedSize() const {
  return deduve::ModelUtilities::getModelInputDimension(model(), "encoder_output_embeds", 1);
}

bool TextDecoder::supportsWordTimestamps() const {
  return deduve::ModelUtilities::getModelOutputDimension(model(), "alignment_heads_weights", 0)
      .has_value();
}

void TextDecoder::unloadModel() {
  std::lock_guard lock(mutex_);
  model_.reset();
  languageLogitsFilter_.reset();
  stepArrays_.clear();
}

std::shared_ptr<TextDecoder::StepArrays>
TextDecoder::stepArrays(const std::shared_ptr<platform::MLModel> &model) {
  std::lock_guard lock(mutex_);
  if (model != model_) {
    // The model changed since this call read it: arrays sized for it are not kept.
    return std::make_shared<StepArrays>();
  }
  auto &slot = stepArrays_[std::this_thread::get_id()];
  if (!slot) {
    slot = std::make_shared<StepArrays>();
    std::map<std::string, MLMultiArray> backings;
    for (const auto &[name, description] : model->description().outputDescriptionsByName) {
      if (description.multiArrayConstraint) {
        const auto &constraint = *description.multiArrayConstraint;
        backings.emplace(name, MLMultiArray(constraint.shape, constraint.dataType));
      }
    }
    slot->options.outputBackings =
        std::make_shared<platform::MLDictionaryFeatureProvider>(std::move(backings));
  }
  return slot;
}

std::optional<TextDecoderMLMultiArrayOutputType>
TextDecoder::predictLogits(const TextDecoderInputType &input) {
  const auto *arrays = dynamic_cast<const TextDecoderMLMultiArrayInputType *>(&input);
  if (arrays == nullptr) {
    throw WhisperError::transcriptionFailed("Input must be TextDecoderMLMultiArrayInputType");
  }
  const auto decoder = model();
  if (!decoder) {
    return std::nullopt;
  }
  const std::array<const MLMultiArray *, 7> given = {&arrays->inputIds,
                                                     &arrays->cacheLength,
                                                     &arrays->keyCache,
                                                     &arrays->valueCache,
                                                     &arrays->kvCacheUpdateMask,
                                                     &arrays->encoderOutputEmbeds,
                                                     &arrays->decoderKeyPaddingMask};
  const auto step = stepArrays(decoder);
  bool sameInputs = step->input != nullptr;
  for (std::size_t i = 0; i < given.size() && sameInputs; ++i) {
    sameInputs = given[i]->dataPointer() == step->inputStorage[i];
  }
  if (!sameInputs) {
    std::map<std::string, MLMultiArray> features;
    for (std::size_t i = 0; i < given.size(); ++i) {
      features.emplace(kInputNames[i], *given[i]);
      step->inputStorage[i] = given[i]->dataPointer();
    }
    step->input = std::make_shared<platform::MLDictionaryFeatureProvider>(std::move(features));
  }
  platform::Task::checkCancellation();
  const auto result = platform::asyncPrediction(*decoder, *step->input, step->options);
  DecodingCache cache;
  cache.keyCache = requiredArray(*result, kKeyCacheUpdates);
  cache.valueCache = requiredArray(*result, kValueCacheUpdates);
  cache.alignmentWeights = outputArray(*result, kAlignmentHeadsWeights);
  return TextDecoderMLMultiArrayOutputType(requiredArray(*result, kLogits), std::move(cache));
}

std::optional<std::pair<MLMultiArray, DecodingCache>> TextDecoder::predictLogits(
    const MLMultiArray &inputIds, const MLMultiArray &cacheLength, const MLMultiArray &keyCache,
    const MLMultiArray &valueCache, const MLMultiArray &kvCacheUpdateMask,
    const MLMultiArray &encoderOutputEmbeds, const MLMultiArray &decoderKeyPaddingMask) {
  auto output = predictLogits(TextDecoderMLMultiArrayInputType(
      inputIds, cacheLength, keyCache, valueCache, kvCacheUpdateMask, encoderOutputEmbeds,
      decoderKeyPaddingMask));
  if (!output || !output->logits) {
    return std::nullopt;
  }
  return std::make_pair(std::move(*output->logits),
                        std::move(output->cache).value_or(DecodingCache{}));
}

std::shared_ptr<DecodingInputsType>
TextDecoder::prefillDecoderInputs(std::shared_ptr<DecodingInputsType> decoderInputs,
                                  const std::optional<DecodingOptions> &options) {
  const auto tokenizer = this->tokenizer();
  if (!tokenizer) {
    throw WhisperError::tokenizerUnavailable();
  }
  auto *inputs = dynamic_cast<DecodingInputs *>(decoderInputs.get());
  if (inputs == nullptr) {
    throw WhisperError::prepareDecoderInputsFailed(
        "Unable to cast decoderInputs to DecodingInputs");
  }
  inputs->initialPrompt() =
      options ? windowPrompt(*tokenizer, *inputs, *options)
              : std::vector<int>{tokenizer->specialTokens().startOfTranscriptToken};
  if (inputs->kvCacheUpdateMask().count() > 0) {
    inputs->kvCacheUpdateMask().setValue(0, 1.0);
  }
  if (inputs->decoderKeyPaddingMask().count() > 0) {
    inputs->decoderKeyPaddingMask().setValue(0, 0.0);
  }
  return decoderInputs;
}

std::vector<int> TextDecoder::windowPrompt(const WhisperTokenizer &tokenizer,
                                           DecodingInputs &inputs,
                                           const DecodingOptions &options) const {
  const SpecialTokens &special = tokenizer.specialTokens();
  std::vector<int> task = {special.startOfTranscriptToken};
  if (isModelMultilingual()) {
    const std::string language =
        options.language.value_or(std::string(Constants::defaultLanguageCode));
    task.push_back(tokenizer.vocabularyId("<|" + language + "|>").value_or(special.englishToken));
    const char *name = options.task == DecodingTask::translate ? "translate" : "transcribe";
    task.push_back(
        tokenizer.vocabularyId(std::string("<|") + name + "|>").value_or(special.transcribeToken));
  }
  task.push_back(options.withoutTimestamps ? special.noTimestampsToken : special.timeTokenBegin);

  std::vector<int> previous =
      textTail(options.promptTokens, kPromptTokensKept, special.specialTokenBegin);
  std::vector<int> prefix =
      textTail(options.prefixTokens, kPrefixTokensKept, special.specialTokenBegin);
  const std::size_t previousGiven = previous.size();
  const std::size_t prefixGiven = prefix.size();
  // Only what overflows the window goes: the prefix starts the text being decoded, so the
  // earlier text gives way first, oldest tokens first, and its marker with its last token.
  std::size_t room = promptCapacity(inputs, options);
  room = room > task.size() ? room - task.size() : 0;
  keepLast(prefix, room);
  room -= prefix.size();
  bool withPrevious = options.promptTokens && room > 0;
  keepLast(previous, withPrevious ? room - 1 : 0);
  withPrevious = withPrevious && (previousGiven == 0 || !previous.empty());
  if (previous.size() < previousGiven || prefix.size() < prefixGiven) {
    modelslog::info("Prompt cut to fit the window: dropped " +
                    std::to_string(previousGiven - previous.size()) + " of " +
                    std::to_string(previousGiven) + " previous tokens and " +
                    std::to_string(prefixGiven - prefix.size()) + " of " +
                    std::to_string(prefixGiven) + " prefix tokens");
  }

  std::vector<int> prompt;
  prompt.reserve(previous.size() + task.size() + prefix.size() + 1);
  if (withPrevious) {
    prompt.push_back(special.startOfPreviousToken);
    prompt.insert(prompt.end(), previous.begin(), previous.end());
  }
  prompt.insert(prompt.end(), task.begin(), task.end());
  prompt.insert(prompt.end(), prefix.begin(), prefix.end());
  return prompt;
}

DecodingResult TextDecoder::detectLanguage(const AudioEncoderOutputType &encoderOutput,
                                           DecodingInputsType &decoderInputs,
                                           TokenSampling &sampler, const DecodingOptions &, float) {
  const auto tokenizer = this->tokenizer();
  if (!tokenizer) {
    throw WhisperError::tokenizerUnavailable();
  }
  const auto vocabulary = logitsSize();
  if (!vocabulary) {
    throw WhisperError::modelsUnavailable("Failed to read logits size from model");
  }
  const SpecialTokens &special = tokenizer->specialTokens();
  const std::vector<int> tokens = {special.startOfTranscriptToken};
  const std::vector<float> logProbs = {0.0f};

  std::shared_ptr<const LanguageLogitsFilter> filter;
  {
    std::lock_guard lock(mutex_);
    if (!languageLogitsFilter_) {
      languageLogitsFilter_ = std::make_shared<LanguageLogitsFilter>(
          tokenizer->allLanguageTokens(), *vocabulary, /*sampleBegin=*/0);
    }
    filter = languageLogitsFilter_;
  }

  decoderInputs.inputIds().setValue(0, static_cast<double>(special.startOfTranscriptToken));
  decoderInputs.cacheLength().setValue(0, 0.0);
  modelslog::debug("Detecting language...");
  if (encoderOutput.shape().empty()) {
    throw WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray");
  }
  auto *inputs = dynamic_cast<DecodingInputs *>(&decoderInputs);
  if (inputs == nullptr) {
    throw WhisperError::prepareDecoderInputsFailed("DecodingInputsType must be DecodingInputs");
  }

  TranscriptionTimings timings;
  const auto predictionStart = std::chrono::steady_clock::now();
  const auto output = predictLogits(TextDecoderMLMultiArrayInputType(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoderOutput, inputs->decoderKeyPaddingMask()));
  timings.decodingPredictions = secondsSince(predictionStart);
  if (!output || !output->logits) {
    modelslog::error("Unable to decode logits");
    throw WhisperError::decodingLogitsFailed();
  }

  const auto samplingStart = std::chrono::steady_clock::now();
  MLMultiArray logits = *output->logits;
  filter->filterLogits(logits, tokens);
  const SamplingResult sampled = sampler.update(tokens, logits, logProbs);
  timings.decodingSampling = secondsSince(samplingStart);

  DecodingResult result;
  const auto &languageTokens = tokenizer->allLanguageTokens();
  for (std::size_t i = 0; i < sampled.tokens.size() && i < sampled.logProbs.size(); ++i) {
    const int token = sampled.tokens[i];
    if (languageTokens.count(token) != 0) {
      result.languageProbs[trimmingSpecialTokenCharacters(tokenizer->decode({token}))] =
          sampled.logProbs[i];
    }
  }
  std::string language =
      sampled.tokens.empty()
          ? std::string()
          : trimmingSpecialTokenCharacters(tokenizer->decode({sampled.tokens.back()}));
  if (Constants::languageCodes().count(language) != 0) {
    modelslog::debug("Detected language: " + language);
  } else {
    const std::string fallback(Constants::defaultLanguageCode);
    modelslog::error("Detected language " + language + " is not supported, defaulting to " +
                     fallback);
    language = fallback;
  }
  result.language = std::move(language);
  result.timings = timings;
  return result;
}

} // namespace divuvovize
