#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DivuvovIze/Decoding/Sampling/GreedyTokenSampler.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/DivuvovIze/Decoding/ScriptedDecoding.hpp"

namespace divuvovize {
namespace {

using testing::kAgain;
using testing::kHello;
using testing::kPeriod;
using testing::kWorld;
using testing::ScriptedTextDecoder;
using testing::ScriptToken;

const SpecialTokens kSpecial;

// A window's encoder output with `loudFrames` loud frames from the start.
platform::MLMultiArray encoderOutput(int loudFrames) {
  platform::MLMultiArray frames({1, 1, 1, testing::kFramesPerWindow},
                                platform::MLMultiArrayDataType::float32);
  for (int f = 0; f < loudFrames; ++f) {
    frames.data<float>()[f] = 0.35f;
  }
  return frames;
}

struct Window {
  ScriptedTextDecoder decoder;
  std::shared_ptr<DecodingInputsType> inputs;

  explicit Window(const DecodingOptions &options, bool multilingual = false) {
    decoder.setIsModelMultilingual(multilingual);
    inputs = decoder.prefillDecoderInputs(
        decoder.prepareDecoderInputs({kSpecial.startOfTranscriptToken}), options);
  }

  DecodingResult decode(const DecodingOptions &options, int loudFrames = 1000,
                        const TranscriptionCallback &callback = nullptr, float temperature = 0.0f) {
    GreedyTokenSampler sampler(temperature, kSpecial.endToken, options);
    return decoder.decodeText(encoderOutput(loudFrames), *inputs, sampler, options, callback);
  }
};

int ts(int steps) { return kSpecial.timeTokenBegin + steps; }

TEST(TokenDecodingLoopTest, DecodesTheScriptWithTimestamps) {
  const DecodingOptions options;
  Window window(options);
  const auto result = window.decode(options, /*loudFrames=*/1000);
  EXPECT_EQ(result.tokens,
            (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kHello, kWorld, ts(500),
                              ts(500), kAgain, kPeriod, ts(1000), kSpecial.endToken}));
  EXPECT_EQ(result.text, "<|startoftranscript|><|0.00|> Hello world<|10.00|><|10.00|> again."
                         "<|20.00|><|endoftext|>");
  ASSERT_EQ(result.tokenLogProbs.size(), result.tokens.size());
  EXPECT_EQ(result.tokenLogProbs[0].at(kSpecial.startOfTranscriptToken), 0.0f);
  EXPECT_NEAR(result.tokenLogProbs[2].at(kHello), 0.0f, 1e-3f);
  EXPECT_NEAR(result.avgLogProb, 0.0f, 1e-3f);
  EXPECT_EQ(result.language, "en");
  EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"en", 0.0f}}));
  EXPECT_FALSE(result.fallback.has_value());
  EXPECT_EQ(result.temperature, 0.0f);
  ASSERT_TRUE(result.cache.has_value());
  EXPECT_TRUE(result.cache->alignmentWeights.has_value());
  ASSERT_TRUE(result.timings.has_value());
  // Steps 0 ... 8 ran; the last sampled the end and stopped before its cache update.
  EXPECT_EQ(result.timings->totalDecodingLoops, 9);
  EXPECT_EQ(result.timings->totalKVUpdateRuns, 8);

  // The cache and masks were updated in place: positions 0 ... 8 open, 8 is written next.
  auto &inputs = dynamic_cast<DecodingInputs &>(*window.inputs);
  for (int p = 0; p < 12; ++p) {
    EXPECT_EQ(inputs.decoderKeyPaddingMask().value(p), p <= 8 ? 0 : -10000) << p;
    EXPECT_EQ(inputs.kvCacheUpdateMask().value(p), p == 8 ? 1 : 0) << p;
  }
  EXPECT_EQ(inputs.keyCache().value({0, 2, 0, 4}), 4);
}

// What a step's inputs held when the model was asked: the position fed, the positions the
// update mask marks, the open (0) positions of the padding mask, whether every other one is
// masked (-10000), and the key cache's position each cache column holds (-1 for an unwritten
// one; the scripted model writes its position into every channel).
struct StepMasks {
  int position = -1;
  std::vector<int> updated;
  std::vector<int> open;
  bool restMasked = true;
  std::vector<int> cached;
};

class MaskRecordingDecoder : public ScriptedTextDecoder {
public:
  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) override {
    const auto &arrays = dynamic_cast<const TextDecoderMLMultiArrayInputType &>(input);
    StepMasks step;
    step.position = static_cast<int>(arrays.cacheLength.value(0));
    const int length = arrays.kvCacheUpdateMask.shape()[1];
    for (int q = 0; q < length; ++q) {
      if (arrays.kvCacheUpdateMask.value(q) != 0) {
        step.updated.push_back(q);
      }
      const double padding = arrays.decoderKeyPaddingMask.value(q);
      if (padding == 0) {
        step.open.push_back(q);
      } else if (padding != -10000) {
        step.restMasked = false;
      }
      const double key = arrays.keyCache.value({0, 3, 0, q});
      step.cached.push_back(q > 0 && key == 0 ? -1 : static_cast<int>(key));
    }
    steps.push_back(step);
    return ScriptedTextDecoder::predictLogits(input);
  }

  std::vector<StepMasks> steps;
};

std::vector<int> iota(int count) {
  std::vector<int> values(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    values[static_cast<std::size_t>(i)] = i;
  }
  return values;
}

// Every step, prompt positions included, sees exactly its own position marked for the cache
// update, positions 0 ... p open and all later ones masked, and the cache holding what the
// steps before it wrote, at their positions and nowhere else.
TEST(TokenDecodingLoopTest, EachStepSeesItsOwnMasksAndTheCacheOfTheStepsBefore) {
  const DecodingOptions options;
  MaskRecordingDecoder decoder;
  decoder.setIsModelMultilingual(true);
  const auto inputs = decoder.prefillDecoderInputs(
      decoder.prepareDecoderInputs({kSpecial.startOfTranscriptToken}), options);
  ASSERT_EQ(inputs->initialPrompt().size(), 4u) << "start, language, task, timestamp";
  GreedyTokenSampler sampler(0, kSpecial.endToken, options);
  const auto result =
      decoder.decodeText(encoderOutput(1000), *inputs, sampler, options, /*callback=*/nullptr);
  ASSERT_EQ(result.tokens.back(), kSpecial.endToken);

  // Three prompt steps, then the eight of the script (its last samples the end).
  ASSERT_EQ(decoder.steps.size(), 11u);
  const int length = *decoder.kvCacheMaxSequenceLength();
  for (int p = 0; p < static_cast<int>(decoder.steps.size()); ++p) {
    const StepMasks &step = decoder.steps[static_cast<std::size_t>(p)];
    EXPECT_EQ(step.position, p);
    EXPECT_EQ(step.updated, std::vector<int>{p}) << "step " << p;
    EXPECT_EQ(step.open, iota(p + 1)) << "step " << p;
    EXPECT_TRUE(step.restMasked) << "step " << p;
    std::vector<int> cached = iota(p);
    cached.resize(static_cast<std::size_t>(length), -1);
    cached[0] = 0; // position 0 holds 0, written or not
    EXPECT_EQ(step.cached, cached) << "step " << p;
  }
}

TEST(TokenDecodingLoopTest, NoSpeechProbabilityIsReadAtTheStartOfTranscript) {
  const DecodingOptions options;
  Window speech(options);
  EXPECT_LT(speech.decode(options, 1000).noSpeechProb, 1e-6f);

  Window silence(options);
  const auto result = silence.decode(options, /*loudFrames=*/0);
  EXPECT_GT(result.noSpeechProb, 0.99f);
  // Silence is not decoded again: the window is reported as such.
  ASSERT_TRUE(result.fallback.has_value());
  EXPECT_EQ(*result.fallback, (DecodingFallback{false, "silence"}));
  EXPECT_LT(result.avgLogProb, -1.0f);
}

TEST(TokenDecodingLoopTest, FirstTokenTestJudgesTheFirstSampledToken) {
  DecodingOptions options;
  // Unsure predictions at the prompt positions are replaced by the prompt and never judged.
  Window window(options);
  window.decoder.scriptChoice = [](int, bool, int) {
    return std::vector<ScriptToken>{{kHello}, {kWorld}, {kSpecial.endToken}};
  };
  window.decoder.promptBackground = -9.0f;
  const auto sure = window.decode(options);
  EXPECT_EQ(sure.tokens, (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kHello, kWorld,
                                           kSpecial.endToken}));
  EXPECT_FALSE(sure.fallback.has_value());

  Window unsure(options);
  unsure.decoder.scriptChoice = [](int, bool, int) {
    return std::vector<ScriptToken>{{kHello, -9.0f}, {kWorld}, {kSpecial.endToken}};
  };
  const auto result = unsure.decode(options);
  ASSERT_TRUE(result.fallback.has_value());
  EXPECT_EQ(*result.fallback, (DecodingFallback{true, "firstTokenLogProbThreshold"}));
  // Stopped at the first sampled token, which is not kept.
  EXPECT_EQ(result.tokens,
            (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kSpecial.endToken}));
}

TEST(TokenDecodingLoopTest, SuppressBlankActsOnTheFirstSampledToken) {
  DecodingOptions options;
  options.suppressBlank = true;
  options.withoutTimestamps = true;
  Window window(options);
  window.decoder.scriptChoice = [](int, bool, int) {
    return std::vector<ScriptToken>{
        {kSpecial.whitespaceToken, -20.0f, kHello}, {kWorld}, {kSpecial.endToken}};
  };
  const auto result = window.decode(options);
  ASSERT_GE(result.tokens.size(), 3u);
  EXPECT_EQ(result.tokens[2], kHello);

  options.suppressBlank = false;
  Window plain(options);
  plain.decoder.scriptChoice = window.decoder.scriptChoice;
  EXPECT_EQ(plain.decode(options).tokens[2], kSpecial.whitespaceToken);
}

TEST(TokenDecodingLoopTest, SampleLengthBoundsTheLoop) {
  struct Case {
    int sampleLength;
    std::vector<int> tokens;
  };
  const std::vector<Case> cases = {
      // No step at all: the finalised prompt.
      {0, {kSpecial.startOfTranscriptToken, ts(0), kSpecial.endToken}},
      {3, {kSpecial.startOfTranscriptToken, ts(0), kHello, kWorld, kSpecial.endToken}},
  };
  for (const auto &c : cases) {
    DecodingOptions options;
    options.sampleLength = c.sampleLength;
    Window window(options);
    EXPECT_EQ(window.decode(options).tokens, c.tokens) << c.sampleLength;
  }

  // Above 223 the bound stays 223: a script that never ends stops at 223 tokens.
  DecodingOptions options;
  options.sampleLength = 500;
  options.compressionRatioThreshold.reset();
  options.withoutTimestamps = true;
  Window window(options);
  window.decoder.scriptChoice = [](int, bool, int) {
    std::vector<ScriptToken> script;
    for (int i = 0; i < 400; ++i) {
      script.push_back({100 + i});
    }
    return script;
  };
  const auto result = window.decode(options);
  EXPECT_EQ(result.tokens.size(), 224u); // 223 kept plus the end token
  EXPECT_EQ(window.decoder.predictions, 223);
}

TEST(TokenDecodingLoopTest, PromptLongerThanTheCacheStaysInsideIt) {
  DecodingOptions options;
  Window window(options);
  std::vector<int> prompt{kSpecial.startOfPreviousToken};
  for (int i = 0; i < 300; ++i) {
    prompt.push_back(100 + i);
  }
  prompt.push_back(kSpecial.startOfTranscriptToken);
  prompt.push_back(ts(0));
  window.inputs->initialPrompt() = prompt;
  const auto result = window.decode(options);
  // Only prompt positions fit: nothing is sampled, and no step writes past the 224 positions.
  EXPECT_EQ(window.decoder.predictions, 223);
  EXPECT_EQ(result.tokens,
            (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kSpecial.endToken}));
}

TEST(TokenDecodingLoopTest, CallbackStopsTheWindowOnlyAfterThePrompt) {
  DecodingOptions options;
  std::vector<TranscriptionProgress> seen;
  Window window(options);
  const auto result = window.decode(options, 1000, [&](const TranscriptionProgress &progress) {
    seen.push_back(progress);
    return std::optional<bool>(false);
  });
  // The prompt step's answer is ignored; the first sampled step's stops the window.
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].tokens, (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0)}));
  EXPECT_EQ(seen[1].tokens, (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kHello}));
  EXPECT_EQ(seen[1].text, "<|startoftranscript|><|0.00|> Hello");
  EXPECT_EQ(seen[1].windowId, 0);
  EXPECT_FALSE(seen[1].temperature.has_value());
  EXPECT_EQ(result.tokens,
            (std::vector<int>{kSpecial.startOfTranscriptToken, ts(0), kHello, kSpecial.endToken}));

  // No answer never stops.
  Window quiet(options);
  const auto full = quiet.decode(
      options, 1000, [](const TranscriptionProgress &) { return std::optional<bool>(); });
  EXPECT_EQ(full.tokens.size(), 10u);
}

TEST(TokenDecodingLoopTest, AbsentCompressionThresholdDoesNotCutRepetitiveWindows) {
  const auto repetitive = [](int, bool, int) {
    std::vector<ScriptToken> script;
    for (int i = 0; i < 60; ++i) {
      script.push_back({kHello});
    }
    script.push_back({kSpecial.endToken});
    return script;
  };
  DecodingOptions options;
  options.withoutTimestamps = true;
  Window withThreshold(options);
  withThreshold.decoder.scriptChoice = repetitive;
  const auto cut = withThreshold.decode(options);
  ASSERT_TRUE(cut.fallback.has_value());
  EXPECT_EQ(*cut.fallback, (DecodingFallback{true, "compressionRatioThreshold"}));

  options.compressionRatioThreshold.reset();
  Window without(options);
  without.decoder.scriptChoice = repetitive;
  const auto kept = without.decode(options);
  EXPECT_FALSE(kept.fallback.has_value());
  EXPECT_EQ(kept.tokens.size(), 2u + 60u + 1u);
}

TEST(TokenDecodingLoopTest, LanguageComesFromOptionsOrTheFirstLanguageToken) {
  DecodingOptions options;
  options.language = "de";
  Window given(options, /*multilingual=*/true);
  const auto result = given.decode(options);
  EXPECT_EQ(result.language, "de");
  EXPECT_EQ(result.languageProbs, (std::map<std::string, float>{{"de", 0.0f}}));
  EXPECT_EQ(result.tokens[1], 50260); // <|de|> from the prompt

  DecodingOptions detected;
  Window prompted(detected, /*multilingual=*/true);
  dynamic_cast<DecodingInputs &>(*prompted.inputs).initialPrompt()[1] = 50261; // <|fr|>
  const auto fromToken = prompted.decode(detected);
  EXPECT_EQ(fromToken.language, "fr");
  EXPECT_EQ(fromToken.languageProbs, (std::map<std::string, float>{{"fr", 0.0f}}));
}

TEST(TokenDecodingLoopTest, ReportsFaultsAsErrors) {
  DecodingOptions options;
  {
    Window window(options);
    window.decoder.setTokenizer(nullptr);
    try {
      window.decode(options);
      FAIL();
    } catch (const WhisperError &error) {
      EXPECT_EQ(error, WhisperError::tokenizerUnavailable("Tokenizer is unavailable"));
    }
  }
  {
    Window window(options);
    GreedyTokenSampler sampler(0, kSpecial.endToken, options);
    try {
      window.decoder.decodeText(platform::MLMultiArray(), *window.inputs, sampler, options,
                                nullptr);
      FAIL();
    } catch (const WhisperError &error) {
      EXPECT_EQ(error, WhisperError::prepareDecoderInputsFailed("Input must be MLMultiArray"));
    }
  }
}

} // namespace
} // namespace divuvovize
