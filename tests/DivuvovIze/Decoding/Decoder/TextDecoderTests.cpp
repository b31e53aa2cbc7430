#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DivuvovIze/Decoding/Decoder/TextDecoder.hpp"
#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/Float16.hpp"
#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"
#include "tests/support/LogCapture.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

namespace divuvovize {
namespace {

using platform::Float16;
using platform::MLMultiArray;
using platform::MLMultiArrayDataType;
using Ids = std::vector<int>;

// Hand-made decoder inputs with caches of `positions` positions; no model needed.
std::shared_ptr<DecodingInputs> smallInputs(int positions = 8) {
  MLMultiArray update({1, positions}, MLMultiArrayDataType::int32);
  MLMultiArray padding({1, positions}, MLMultiArrayDataType::float16, Float16(-10000));
  return std::make_shared<DecodingInputs>(
      Ids{}, MLMultiArray({1}, MLMultiArrayDataType::int32),
      MLMultiArray({1}, MLMultiArrayDataType::int32),
      MLMultiArray({1, 4, 1, positions}, MLMultiArrayDataType::float16),
      MLMultiArray({1, 4, 1, positions}, MLMultiArrayDataType::float16),
      MLMultiArray({positions, 3}, MLMultiArrayDataType::float16), update, padding);
}

void expectWhisperError(const std::function<void()> &call, WhisperError::Case errorCase,
                        const std::string &message) {
  try {
    call();
    FAIL() << "no error, expected " << message;
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), errorCase);
    EXPECT_EQ(error.message(), message);
  }
}

TEST(TextDecoder, WithoutAModelHasNoDimensionsAndPredictsNothing) {
  TextDecoder decoder;
  EXPECT_EQ(decoder.logitsSize(), std::nullopt);
  EXPECT_EQ(decoder.kvCacheEmbedDim(), std::nullopt);
  EXPECT_EQ(decoder.kvCacheMaxSequenceLength(), std::nullopt);
  EXPECT_EQ(decoder.windowSize(), std::nullopt);
  EXPECT_EQ(decoder.embedSize(), std::nullopt);
  EXPECT_FALSE(decoder.supportsWordTimestamps());
  const auto inputs = smallInputs();
  const auto output = decoder.predictLogits(TextDecoderMLMultiArrayInputType(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), MLMultiArray({1, 64, 1, 3}, MLMultiArrayDataType::float16),
      inputs->decoderKeyPaddingMask()));
  EXPECT_FALSE(output.has_value());
  expectWhisperError([&] { decoder.predictLogits(TextDecoderInputType()); },
                     WhisperError::Case::transcriptionFailed,
                     "Input must be TextDecoderMLMultiArrayInputType");
  expectWhisperError([&] { decoder.prepareDecoderInputs({1}); },
                     WhisperError::Case::prepareDecoderInputsFailed,
                     "Unable to determine kvCacheEmbedDim");
  GreedyTokenSampler sampler(0, 1, DecodingOptions{});
  expectWhisperError(
      [&] {
        decoder.detectLanguage(MLMultiArray({1}, MLMultiArrayDataType::float16), *inputs, sampler,
                               DecodingOptions{}, 0);
      },
      WhisperError::Case::tokenizerUnavailable, "Tokenizer is unavailable");
  decoder.setTokenizer(mqtest::makeSpeechTokenizer());
  expectWhisperError(
      [&] {
        decoder.detectLanguage(MLMultiArray({1}, MLMultiArrayDataType::float16), *inputs, sampler,
                               DecodingOptions{}, 0);
      },
      WhisperError::Case::modelsUnavailable, "Failed to read logits size from model");
}

// --- prompt building

class PrefillTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    multilingual_ = mqtest::makeSpeechTokenizer();
    withoutTasks_ =
        mqtest::makeSpeechTokenizer(mqtest::SpeechVocabulary::multilingual, {"<|translate|>"});
  }
  static void TearDownTestSuite() {
    multilingual_.reset();
    withoutTasks_.reset();
  }

  static Ids prompt(const std::optional<DecodingOptions> &options, bool multilingual = true,
                    std::shared_ptr<WhisperTokenizer> tokenizer = nullptr) {
    TextDecoder decoder;
    decoder.setTokenizer(tokenizer ? tokenizer : multilingual_);
    decoder.setIsModelMultilingual(multilingual);
    auto inputs = smallInputs();
    EXPECT_EQ(decoder.prefillDecoderInputs(inputs, options), inputs);
    EXPECT_EQ(inputs->kvCacheUpdateMask().value(0), 1.0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask().value(0), 0.0);
    return inputs->initialPrompt();
  }

  static std::shared_ptr<WhisperTokenizerWrapper> multilingual_;
  static std::shared_ptr<WhisperTokenizerWrapper> withoutTasks_;
};
std::shared_ptr<WhisperTokenizerWrapper> PrefillTest::multilingual_;
std::shared_ptr<WhisperTokenizerWrapper> PrefillTest::withoutTasks_;

constexpr int kSot = 50258, kEn = 50259, kFr = 50265, kTranslate = 50358, kTranscribe = 50359,
              kPrev = 50361, kNoTimestamps = 50363, kZero = 50364;

TEST_F(PrefillTest, PromptsFromOptions) {
  struct Case {
    const char *name;
    std::optional<DecodingOptions> options;
    bool multilingual;
    Ids expected;
  };
  const Case cases[] = {
      {"NoOptions", std::nullopt, true, {kSot}},
      {"EnglishModelHasNoLanguageOrTask",
       DecodingOptions({.language = "fr"}),
       false,
       {kSot, kZero}},
      {"WithoutTimestamps",
       DecodingOptions({.withoutTimestamps = true}),
       false,
       {kSot, kNoTimestamps}},
      {"LanguageAndTask",
       DecodingOptions({.language = "fr"}),
       true,
       {kSot, kFr, kTranscribe, kZero}},
      {"NoLanguageIsEnglish", DecodingOptions{}, true, {kSot, kEn, kTranscribe, kZero}},
      {"UnknownLanguageIsEnglish",
       DecodingOptions({.language = "xx"}),
       true,
       {kSot, kEn, kTranscribe, kZero}},
      {"LanguageTheVocabularyLacksIsEnglish",
       DecodingOptions({.language = "yue"}),
       true,
       {kSot, kEn, kTranscribe, kZero}},
      {"Translate",
       DecodingOptions({.task = DecodingTask::translate, .language = "fr"}),
       true,
       {kSot, kFr, kTranslate, kZero}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(prompt(c.options, c.multilingual), c.expected);
  }
}

TEST_F(PrefillTest, TranslateWithoutItsTokenFallsBackToTranscribe) {
  const auto options = DecodingOptions({.task = DecodingTask::translate});
  EXPECT_EQ(prompt(options, true, withoutTasks_), (Ids{kSot, kEn, kTranscribe, kZero}));
}

// `count` ids from `first` on, skipping those `skip` names.
Ids run(int first, int count, const std::function<bool(int)> &skip = nullptr) {
  Ids ids;
  for (int id = first; id < first + count; ++id) {
    if (!skip || !skip(id)) {
      ids.push_back(id);
    }
  }
  return ids;
}

Ids joined(std::initializer_list<Ids> parts) {
  Ids all;
  for (const auto &part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// The prompt keeps at most the last 111 previous tokens and the prefix its last 112 (special
// tokens among them are dropped after the cut). When the window cannot hold them and still
// sample a token, only the overflow goes: the previous text's oldest tokens first (its marker
// with its last token), then the prefix's oldest; the cut is logged.
TEST_F(PrefillTest, TailsKeptWhenTheyFitAndOnlyTheOverflowCut) {
  // 200 previous tokens with a start-of-transcript every 50; 200 prefix tokens with a
  // timestamp every 20 from 100 on.
  Ids previous;
  for (int i = 0; i < 200; ++i) {
    previous.push_back(i % 50 == 0 ? kSot : 1000 + i);
  }
  Ids prefix;
  for (int i = 0; i < 200; ++i) {
    prefix.push_back(i >= 100 && i % 20 == 0 ? kZero + 3 : 2000 + i);
  }
  const auto previousSpecial = [](int id) { return id == 1100 || id == 1150; };
  const auto prefixSpecial = [](int id) { return id >= 2100 && id % 20 == 0; };
  struct Case {
    const char *name;
    DecodingOptions options;
    bool multilingual;
    int positions;
    Ids expected;
    std::string log; // the cut's line; empty when nothing is cut
  };
  const Case cases[] = {
      {"short tails are kept whole",
       DecodingOptions({.promptTokens = run(1000, 10), .prefixTokens = run(2000, 10)}), false, 224,
       joined({{kPrev}, run(1000, 10), {kSot, kZero}, run(2000, 10)}), ""},
      {"a full previous tail fits beside the task tokens",
       DecodingOptions({.promptTokens = run(1000, 111)}), false, 224,
       joined({{kPrev}, run(1000, 111), {kSot, kZero}}), ""},
      // 2 + 1 + 109 + 107 = 219 of the 222 tokens a prompt may have: a window holds 223.
      {"both tails after their special tokens fit",
       DecodingOptions({.promptTokens = previous, .prefixTokens = prefix}), false, 224,
       joined({{kPrev},
               run(1089, 111, previousSpecial),
               {kSot, kZero},
               run(2088, 112, prefixSpecial)}),
       ""},
      {"a short prefix fits a short sample length",
       DecodingOptions({.sampleLength = 100, .prefixTokens = run(2000, 5)}), false, 224,
       joined({{kSot, kZero}, run(2000, 5)}), ""},
      // 1 + 111 + 4 + 112 = 228: six too many, taken from the previous text.
      {"multilingual prompt and prefix",
       DecodingOptions({.promptTokens = run(1000, 200), .prefixTokens = run(2000, 200)}), true, 224,
       joined({{kPrev}, run(1095, 105), {kSot, kEn, kTranscribe, kZero}, run(2088, 112)}),
       "Prompt cut to fit the window: dropped 6 of 111 previous tokens and 0 of 112 prefix "
       "tokens"},
      {"a short sample length cuts the previous text",
       DecodingOptions(
           {.sampleLength = 20, .promptTokens = run(1000, 10), .prefixTokens = run(2000, 10)}),
       false, 224, joined({{kPrev}, run(1003, 7), {kSot, kZero}, run(2000, 10)}),
       "Prompt cut to fit the window: dropped 3 of 10 previous tokens and 0 of 10 prefix tokens"},
      {"a small cache keeps the prefix's end",
       DecodingOptions({.promptTokens = previous, .prefixTokens = prefix}), false, 8,
       joined({{kSot, kZero}, run(2195, 5)}),
       "Prompt cut to fit the window: dropped 109 of 109 previous tokens and 102 of 107 prefix "
       "tokens"},
      {"no room beside the task tokens",
       DecodingOptions({.prefixTokens = run(2000, 5)}),
       false,
       3,
       {kSot, kZero},
       "Prompt cut to fit the window: dropped 0 of 0 previous tokens and 5 of 5 prefix tokens"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TextDecoder decoder;
    decoder.setTokenizer(multilingual_);
    decoder.setIsModelMultilingual(c.multilingual);
    auto inputs = smallInputs(c.positions);
    mqtest::LogCapture log(deduve::Logging::LogLevel::info);
    decoder.prefillDecoderInputs(inputs, c.options);
    EXPECT_EQ(inputs->initialPrompt(), c.expected);
    EXPECT_EQ(log.startingWith("Prompt cut"),
              c.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.log});
  }
}

TEST_F(PrefillTest, RefusesMissingTokenizerAndForeignInputs) {
  class OtherInputs : public DecodingInputsType {
  public:
    std::vector<int> &initialPrompt() override { return prompt_; }
    MLMultiArray &inputIds() override { return array_; }
    MLMultiArray &cacheLength() override { return array_; }
    void reset(int) override {}

  private:
    std::vector<int> prompt_;
    MLMultiArray array_;
  };
  TextDecoder decoder;
  const auto other = std::make_shared<OtherInputs>();
  expectWhisperError([&] { decoder.prefillDecoderInputs(other, std::nullopt); },
                     WhisperError::Case::tokenizerUnavailable, "Tokenizer is unavailable");
  decoder.setTokenizer(multilingual_);
  expectWhisperError([&] { decoder.prefillDecoderInputs(other, std::nullopt); },
                     WhisperError::Case::prepareDecoderInputsFailed,
                     "Unable to cast decoderInputs to DecodingInputs");
}

// --- a real decoder model

class LoadedDecoderTest : public ::testing::Test {
protected:
  // English vocabulary ids: "<|fr|>" is 50264, "<|de|>" 50260.
  static constexpr int kFrench = 50264;
  static constexpr int kGerman = 50260;

  static void SetUpTestSuite() {
    folder_ = new mqtest::TempDir;
    platform::runner::TestModelOptions options;
    options.scriptedLogits = {{kFrench, 12.0f}, {kGerman, 10.0f}, {100, 30.0f}};
    const auto model = platform::runner::writeTextDecoderModel(folder_->path(), options);
    decoder_ = new TextDecoder;
    decoder_->loadModel(model, platform::MLComputeUnits::cpuOnly, /*prewarmMode=*/false);
    decoder_->setTokenizer(mqtest::makeSpeechTokenizer(mqtest::SpeechVocabulary::englishOnly));
  }
  static void TearDownTestSuite() {
    delete decoder_;
    delete folder_;
  }

  static MLMultiArray encoderOutput() {
    return MLMultiArray({1, 64, 1, 1500}, MLMultiArrayDataType::float16, Float16(0.1f));
  }

  static mqtest::TempDir *folder_;
  static TextDecoder *decoder_;
};
mqtest::TempDir *LoadedDecoderTest::folder_ = nullptr;
TextDecoder *LoadedDecoderTest::decoder_ = nullptr;

TEST_F(LoadedDecoderTest, DimensionsComeFromTheModel) {
  EXPECT_EQ(decoder_->logitsSize(), 51864);
  EXPECT_EQ(decoder_->kvCacheEmbedDim(), 128);
  EXPECT_EQ(decoder_->kvCacheMaxSequenceLength(), 224);
  EXPECT_EQ(decoder_->windowSize(), 1500);
  EXPECT_EQ(decoder_->embedSize(), 64);
  EXPECT_TRUE(decoder_->supportsWordTimestamps());
}

TEST_F(LoadedDecoderTest, PreparedInputsHaveTheModelsShapesAndStartMasks) {
  const auto inputs =
      std::dynamic_pointer_cast<DecodingInputs>(decoder_->prepareDecoderInputs({50257}));
  ASSERT_NE(inputs, nullptr);
  EXPECT_EQ(inputs->initialPrompt(), Ids{50257});
  EXPECT_EQ(inputs->keyCache().shape(), (MLMultiArray::Shape{1, 128, 1, 224}));
  EXPECT_EQ(inputs->valueCache().dataType(), MLMultiArrayDataType::float16);
  EXPECT_EQ(inputs->alignmentWeights().shape(), (MLMultiArray::Shape{224, 1500}));
  EXPECT_EQ(inputs->kvCacheUpdateMask().dataType(), MLMultiArrayDataType::int32);
  for (int p : {0, 1, 223}) {
    EXPECT_EQ(inputs->kvCacheUpdateMask().value(p), p == 0 ? 1.0 : 0.0);
    EXPECT_EQ(inputs->decoderKeyPaddingMask().value(p), p == 0 ? 0.0 : -10000.0);
  }
}

TEST_F(LoadedDecoderTest, OneStepYieldsLogitsAndThisPositionsCacheUpdates) {
  const auto inputs =
      std::dynamic_pointer_cast<DecodingInputs>(decoder_->prepareDecoderInputs({50257}));
  ASSERT_NE(inputs, nullptr);
  inputs->inputIds().setValue(0, 50257);
  const TextDecoderMLMultiArrayInputType step(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoderOutput(), inputs->decoderKeyPaddingMask());
  const auto result = decoder_->predictLogits(step);
  ASSERT_TRUE(result.has_value());
  const auto &output = *result;
  ASSERT_TRUE(output.logits.has_value());
  EXPECT_EQ(output.logits->shape(), (MLMultiArray::Shape{1, 1, 51864}));
  EXPECT_EQ(output.logits->dataType(), MLMultiArrayDataType::float32);
  EXPECT_NEAR(output.logits->value({0, 0, kFrench}), 12.0, 0.1);
  ASSERT_TRUE(output.cache.has_value());
  EXPECT_EQ(output.cache->keyCache->shape(), (MLMultiArray::Shape{1, 128, 1, 1}));
  ASSERT_TRUE(output.cache->alignmentWeights.has_value());
  EXPECT_EQ(output.cache->alignmentWeights->count(), 1500);

  // The next step on this thread writes into the same arrays: nothing new per step.
  const auto again = decoder_->predictLogits(step);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->logits->dataPointer(), output.logits->dataPointer());
  EXPECT_EQ(again->cache->keyCache->dataPointer(), output.cache->keyCache->dataPointer());
}

// The keyword form runs the same step on the seven arrays and hands back the logits and the
// step's cache updates as a pair; without a model it gives nothing.
TEST_F(LoadedDecoderTest, KeywordFormPredictsAsTheTypedForm) {
  const auto inputs =
      std::dynamic_pointer_cast<DecodingInputs>(decoder_->prepareDecoderInputs({50257}));
  ASSERT_NE(inputs, nullptr);
  inputs->inputIds().setValue(0, 50257);
  const MLMultiArray encoded = encoderOutput();
  const auto typed = decoder_->predictLogits(TextDecoderMLMultiArrayInputType(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoded, inputs->decoderKeyPaddingMask()));
  ASSERT_TRUE(typed && typed->logits && typed->cache);
  const std::vector<float> typedLogits(typed->logits->data<float>(),
                                       typed->logits->data<float>() + typed->logits->count());

  const auto pair = decoder_->predictLogits(
      inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(), inputs->valueCache(),
      inputs->kvCacheUpdateMask(), encoded, inputs->decoderKeyPaddingMask());
  ASSERT_TRUE(pair.has_value());
  const auto &[logits, cache] = *pair;
  EXPECT_EQ(logits.shape(), (MLMultiArray::Shape{1, 1, 51864}));
  EXPECT_EQ(std::vector<float>(logits.data<float>(), logits.data<float>() + logits.count()),
            typedLogits);
  ASSERT_TRUE(cache.keyCache && cache.valueCache && cache.alignmentWeights);
  EXPECT_EQ(cache.keyCache->shape(), (MLMultiArray::Shape{1, 128, 1, 1}));
  EXPECT_EQ(cache.valueCache->shape(), (MLMultiArray::Shape{1, 128, 1, 1}));
  EXPECT_EQ(cache.alignmentWeights->count(), 1500);

  TextDecoder modelless;
  EXPECT_FALSE(modelless
                   .predictLogits(inputs->inputIds(), inputs->cacheLength(), inputs->keyCache(),
                                  inputs->valueCache(), inputs->kvCacheUpdateMask(), encoded,
                                  inputs->decoderKeyPaddingMask())
                   .has_value());
}

// The scripted model makes token 100 the most probable of all and French the most probable
// language: detection must pick among language tags only.
TEST_F(LoadedDecoderTest, DetectsTheLanguageTheModelFavours) {
  const auto inputs =
      std::dynamic_pointer_cast<DecodingInputs>(decoder_->prepareDecoderInputs({50257}));
  ASSERT_NE(inputs, nullptr);
  GreedyTokenSampler sampler(0, 50256, DecodingOptions{});
  const DecodingResult result =
      decoder_->detectLanguage(encoderOutput(), *inputs, sampler, DecodingOptions{}, 0);
  EXPECT_EQ(result.language, "fr");
  ASSERT_EQ(result.languageProbs.size(), 1u);
  // French against German at 10 and 97 other tags near 0.
  EXPECT_NEAR(result.languageProbs.at("fr"), -std::log1p(std::exp(-2.0) + 97 * std::exp(-12.0)),
              0.05);
  EXPECT_TRUE(result.tokens.empty());
  EXPECT_TRUE(result.text.empty());
  ASSERT_TRUE(result.timings.has_value());
  EXPECT_GT(result.timings->decodingPredictions, 0.0);
  EXPECT_EQ(inputs->inputIds().value(0), 50257.0);
  EXPECT_EQ(inputs->cacheLength().value(0), 0.0);

  const auto filter = decoder_->languageLogitsFilter();
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->logitsDim(), 51864);
  decoder_->detectLanguage(encoderOutput(), *inputs, sampler, DecodingOptions{}, 0);
  EXPECT_EQ(decoder_->languageLogitsFilter(), filter) << "made once and reused";
}

TEST_F(LoadedDecoderTest, DetectionRefusesAMissingEncoderOutput) {
  const auto inputs =
      std::dynamic_pointer_cast<DecodingInputs>(decoder_->prepareDecoderInputs({50257}));
  ASSERT_NE(inputs, nullptr);
  GreedyTokenSampler sampler(0, 50256, DecodingOptions{});
  expectWhisperError(
      [&] { decoder_->detectLanguage(MLMultiArray(), *inputs, sampler, DecodingOptions{}, 0); },
      WhisperError::Case::prepareDecoderInputsFailed, "Input must be MLMultiArray");
}

// A multilingual model's window given 200 previous and 200 prefix tokens used to hold a
// prompt of 228 tokens in a window that holds 223, so it sampled nothing and its text was the
// prefix. Cut to 222 tokens it samples one. The model here favours token 100 at every step and
// never ends by itself.
TEST(TextDecoder, LongPromptAndPrefixLeaveAMultilingualWindowRoomToSample) {
  mqtest::TempDir folder;
  platform::runner::TestModelOptions modelOptions;
  modelOptions.dimensions.vocabularySize = 51865;
  modelOptions.scriptedLogits = {{100, 30.0f}};
  TextDecoder decoder;
  decoder.loadModel(platform::runner::writeTextDecoderModel(folder.path(), modelOptions),
                    platform::MLComputeUnits::cpuOnly, /*prewarmMode=*/false);
  decoder.setTokenizer(mqtest::makeSpeechTokenizer());
  decoder.setIsModelMultilingual(true);
  DecodingOptions options;
  options.withoutTimestamps = true;
  options.promptTokens = run(1000, 200);
  options.prefixTokens = run(2000, 200);
  const auto inputs = decoder.prefillDecoderInputs(decoder.prepareDecoderInputs({kSot}), options);
  EXPECT_EQ(
      inputs->initialPrompt(),
      joined({{kPrev}, run(1095, 105), {kSot, kEn, kTranscribe, kNoTimestamps}, run(2088, 112)}));

  GreedyTokenSampler sampler(0, 50257, options);
  const DecodingResult result = decoder.decodeText(
      MLMultiArray({1, 64, 1, 1500}, MLMultiArrayDataType::float16, Float16(0.1f)), *inputs,
      sampler, options, nullptr);
  // From the start of transcript: the task tokens, the prefix, the one sampled token that
  // filled the window, and the end of text that closes it.
  EXPECT_EQ(result.tokens,
            joined({{kSot, kEn, kTranscribe, kNoTimestamps}, run(2088, 112), {100, 50257}}));
}

// The no-speech probability is that of the vocabulary's own no-speech token: "<|nospeech|>"
// (50362) in the multilingual vocabulary, "<|nocaptions|>" (50361) in the English one, where
// 50362 is "<|notimestamps|>"; a vocabulary with neither gives none. The scripted model gives
// the listed tokens a logit of 30 at every step, so a listed no-speech token is all but certain.
TEST(TextDecoder, NoSpeechProbabilityComesFromTheVocabularysNoSpeechToken) {
  struct Case {
    const char *name;
    mqtest::SpeechVocabulary vocabulary;
    std::set<std::string> omitted;
    std::vector<std::size_t> likely;
    float expected;
  };
  const Case cases[] = {
      {"multilingual <|nospeech|>", mqtest::SpeechVocabulary::multilingual, {}, {50362}, 1.0f},
      {"English <|nocaptions|>", mqtest::SpeechVocabulary::englishOnly, {}, {50361}, 1.0f},
      {"English <|notimestamps|> is not it",
       mqtest::SpeechVocabulary::englishOnly,
       {},
       {50362},
       0.0f},
      {"no no-speech token",
       mqtest::SpeechVocabulary::englishOnly,
       {"<|nocaptions|>"},
       {50361, 50362},
       0.0f},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const bool multilingual = c.vocabulary == mqtest::SpeechVocabulary::multilingual;
    mqtest::TempDir folder;
    platform::runner::TestModelOptions modelOptions;
    modelOptions.dimensions.vocabularySize = multilingual ? 51865 : 51864;
    for (const std::size_t token : c.likely) {
      modelOptions.scriptedLogits.push_back({token, 30.0f});
    }
    TextDecoder decoder;
    decoder.loadModel(platform::runner::writeTextDecoderModel(folder.path(), modelOptions),
                      platform::MLComputeUnits::cpuOnly, /*prewarmMode=*/false);
    const auto tokenizer = mqtest::makeSpeechTokenizer(c.vocabulary, c.omitted);
    decoder.setTokenizer(tokenizer);
    decoder.setIsModelMultilingual(multilingual);
    DecodingOptions options;
    options.withoutTimestamps = true;
    options.sampleLength = 4;
    const SpecialTokens &special = tokenizer->specialTokens();
    const auto inputs = decoder.prefillDecoderInputs(
        decoder.prepareDecoderInputs({special.startOfTranscriptToken}), options);
    GreedyTokenSampler sampler(0, special.endToken, options);
    const DecodingResult result = decoder.decodeText(
        MLMultiArray({1, 64, 1, 1500}, MLMultiArrayDataType::float16, Float16(0.1f)), *inputs,
        sampler, options, nullptr);
    EXPECT_NEAR(result.noSpeechProb, c.expected, 1e-4f);
  }
}

TEST(TextDecoder, UnloadDropsTheModelAndTheLanguageFilterButKeepsTheTokenizer) {
  mqtest::TempDir folder;
  platform::runner::TestModelOptions options;
  options.withAlignmentOutput = false;
  const auto model = platform::runner::writeTextDecoderModel(folder.path(), options);
  TextDecoder decoder;
  decoder.loadModel(model, platform::MLComputeUnits::cpuOnly, false);
  decoder.setTokenizer(mqtest::makeSpeechTokenizer(mqtest::SpeechVocabulary::englishOnly));
  EXPECT_FALSE(decoder.supportsWordTimestamps());
  const auto inputs = decoder.prepareDecoderInputs({50257});
  ASSERT_NE(inputs, nullptr);
  GreedyTokenSampler sampler(0, 50256, DecodingOptions{});
  decoder.detectLanguage(MLMultiArray({1, 64, 1, 1500}, MLMultiArrayDataType::float16), *inputs,
                         sampler, DecodingOptions{}, 0);
  EXPECT_NE(decoder.languageLogitsFilter(), nullptr);
  decoder.unloadModel();
  EXPECT_EQ(decoder.model(), nullptr);
  EXPECT_EQ(decoder.languageLogitsFilter(), nullptr);
  EXPECT_NE(decoder.tokenizer(), nullptr);
}

} // namespace
} // namespace divuvovize
