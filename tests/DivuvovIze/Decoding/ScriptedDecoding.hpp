#pragma once

// Test stand-ins that let whole recordings decode into known text without a model: a small
// speech tokenizer, a feature extractor and encoder that reduce a window to its loudness per
// 20 ms frame, and a text decoder whose logits follow a script chosen from that loudness. The
// decoder runs the real token loop, filters and sampler.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DeduveCore/Support/EarlyStopActor.hpp"
#include "DivuvovIze/Audio/AudioProcessing.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "DivuvovIze/Decoding/Decoder/TokenDecodingLoop.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/system/Clock.hpp"

namespace divuvovize::testing {

// Text ids of the scripts.
inline constexpr int kHello = 1;
inline constexpr int kWorld = 2;
inline constexpr int kAgain = 3;
inline constexpr int kPeriod = 4;
inline constexpr int kVocabulary = 51865;
inline constexpr int kFramesPerWindow = 1500;
inline constexpr int kSamplesPerFrame = 320;

// The multilingual layout of special ids (SpecialTokens' defaults), with three languages.
class ScriptTokenizer : public WhisperTokenizer {
public:
  ScriptTokenizer() {
    names_ = {{kHello, " Hello"},
              {kWorld, " world"},
              {kAgain, " again"},
              {kPeriod, "."},
              {220, " "},
              {50257, "<|endoftext|>"},
              {50258, "<|startoftranscript|>"},
              {50259, "<|en|>"},
              {50260, "<|de|>"},
              {50261, "<|fr|>"},
              {50358, "<|translate|>"},
              {50359, "<|transcribe|>"},
              {50361, "<|startofprev|>"},
              {50362, "<|nospeech|>"},
              {50363, "<|notimestamps|>"}};
    languages_ = {50259, 50260, 50261};
  }

  std::vector<int> encode(std::string_view) const override { return {}; }
  std::string decode(const std::vector<int> &tokens) const override {
    std::string text;
    for (int token : tokens) {
      text += convertIdToToken(token).value_or("");
    }
    return text;
  }
  std::optional<int> convertTokenToId(std::string_view token) const override {
    for (const auto &[id, name] : names_) {
      if (name == token) {
        return id;
      }
    }
    return std::nullopt;
  }
  std::optional<std::string> convertIdToToken(int id) const override {
    if (const auto found = names_.find(id); found != names_.end()) {
      return found->second;
    }
    if (id >= special_.timeTokenBegin && id < kVocabulary) {
      char text[32];
      std::snprintf(text, sizeof text, "<|%.2f|>", (id - special_.timeTokenBegin) * 0.02);
      return std::string(text);
    }
    if (id >= 0 && id < special_.specialTokenBegin) {
      return " t" + std::to_string(id);
    }
    return std::nullopt;
  }
  std::optional<int> vocabularyId(std::string_view token) const override {
    return convertTokenToId(token);
  }
  const SpecialTokens &specialTokens() const override { return special_; }
  const std::set<int> &allLanguageTokens() const override { return languages_; }
  WordTokens splitToWordTokens(const std::vector<int> &tokenIds) const override {
    WordTokens split;
    for (int id : tokenIds) {
      const std::string text = convertIdToToken(id).value_or("");
      const bool startsWord = split.words.empty() || id >= special_.specialTokenBegin ||
                              (!text.empty() && text.front() == ' ') || text == ".";
      if (startsWord) {
        split.words.push_back(text);
        split.wordTokens.push_back({id});
      } else {
        split.words.back() += text;
        split.wordTokens.back().push_back(id);
      }
    }
    return split;
  }

private:
  SpecialTokens special_;
  std::map<int, std::string> names_;
  std::set<int> languages_;
};

// Loudness (RMS) of every 20 ms frame of the padded window: [1, 1, 1, 1500].
class LoudnessFeatureExtractor : public FeatureExtracting {
public:
  std::optional<int> melCount() const override { return 1; }
  std::optional<int> windowSamples() const override { return std::nullopt; }
  FeatureExtractorOutputType logMelSpectrogram(const AudioProcessorOutputType &audio) override {
    platform::MLMultiArray frames({1, 1, 1, kFramesPerWindow},
                                  platform::MLMultiArrayDataType::float32);
    const float *samples = audio.data<float>();
    float *out = frames.data<float>();
    for (int f = 0; f < kFramesPerWindow; ++f) {
      double sum = 0;
      for (int i = f * kSamplesPerFrame; i < (f + 1) * kSamplesPerFrame && i < audio.count(); ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
      }
      out[f] = static_cast<float>(std::sqrt(sum / kSamplesPerFrame));
    }
    return frames;
  }
};

// Passes the loudness frames on as the encoder output.
class PassThroughEncoder : public AudioEncoding {
public:
  std::optional<int> embedSize() const override { return 1; }
  AudioEncoderOutputType encodeFeatures(const FeatureExtractorOutputType &features) override {
    return features;
  }
};

// One scripted token: its id and the logit every other token gets (the chosen one gets 0), so
// -20 makes a near-certain token and -9 one with log-probability about -2.
struct ScriptToken {
  int token;
  float background = -20.0f;
  int runnerUp = -1; // when set, a token at logit -1
  int ties = 0;      // the next `ties` ids share the token's logit (log-probability -log(ties + 1))
};

// A text decoder whose every step emits the next token of a script. The script depends on the
// window's loudness: leading loud frames make speech ("Hello world" and "again." split by a
// timestamp pair at half the loud stretch, closed at its end, at most 28 s); a quiet window makes
// unsure text with a likely no-speech token. A test may replace the script choice.
class ScriptedTextDecoder : public TextDecoding {
public:
  using ScriptChoice =
      std::function<std::vector<ScriptToken>(int loudFrames, bool withTimestamps, int attempt)>;

  ScriptedTextDecoder() : tokenizer_(std::make_shared<ScriptTokenizer>()) {}

  std::shared_ptr<WhisperTokenizer> tokenizer() const override { return tokenizer_; }
  void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) override {
    tokenizer_ = std::move(tokenizer);
  }
  bool isModelMultilingual() const override { return multilingual_; }
  void setIsModelMultilingual(bool multilingual) override { multilingual_ = multilingual; }
  bool supportsWordTimestamps() const override { return true; }
  std::optional<int> logitsSize() const override { return kVocabulary; }
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const override {
    return filters_;
  }
  void setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> f) override {
    filters_ = std::move(f);
  }
  std::optional<int> kvCacheEmbedDim() const override { return 4; }
  std::optional<int> kvCacheMaxSequenceLength() const override { return 224; }
  std::optional<int> windowSize() const override { return kFramesPerWindow; }
  std::optional<int> embedSize() const override { return 1; }

  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) override;

  std::shared_ptr<DecodingInputsType>
  prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                       const std::optional<DecodingOptions> &options) override;

  DecodingResult decodeText(const AudioEncoderOutputType &encoderOutput, DecodingInputsType &inputs,
                            TokenSampling &sampler, const DecodingOptions &options,
                            const TranscriptionCallback &callback) override {
    ++attempts_;
    fedPositions.clear();
    return TokenDecodingLoop::decodeText(*this, earlyStop_, encoderOutput, inputs, sampler, options,
                                         callback, *clock_, *wallClock_);
  }

  DecodingResult detectLanguage(const AudioEncoderOutputType &, DecodingInputsType &,
                                TokenSampling &, const DecodingOptions &, float) override {
    ++languageDetections_;
    DecodingResult result;
    result.language = "fr";
    result.languageProbs = {{"fr", -0.1f}};
    return result;
  }

  // Replaces the script choice.
  ScriptChoice scriptChoice;
  // Times the token loop; tests may swap in a manual clock.
  std::shared_ptr<platform::SteadyClock> clock_ = platform::SteadyClock::system();
  // Stamps the first token's absolute time; tests may swap in a manual clock.
  std::shared_ptr<platform::WallClock> wallClock_ = platform::WallClock::system();
  // The background logit of the predictions at prompt positions (end-of-text is predicted).
  float promptBackground = -20.0f;
  // When set, every prediction moves this clock on by 10 ms.
  std::shared_ptr<platform::ManualSteadyClock> steppedClock;
  // Count of predictLogits calls and of token loops and language detections run.
  int predictions = 0;
  int attempts_ = 0;
  int languageDetections_ = 0;
  // The positions the steps of the latest token loop were fed at, in order.
  std::vector<int> fedPositions;

  static std::vector<ScriptToken> speechScript(int loudFrames, bool withTimestamps);
  static std::vector<ScriptToken> silenceScript();

private:
  std::shared_ptr<WhisperTokenizer> tokenizer_;
  bool multilingual_ = false;
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters_;
  deduve::EarlyStopActor earlyStop_;
  std::vector<int> history_; // token fed at each cache position of the current window
};

inline std::vector<ScriptToken> ScriptedTextDecoder::speechScript(int loudFrames,
                                                                  bool withTimestamps) {
  const int timeBegin = SpecialTokens{}.timeTokenBegin;
  const int end = std::min(loudFrames, 1400);
  if (!withTimestamps) {
    return {{kHello}, {kWorld}, {kAgain}, {kPeriod}, {SpecialTokens{}.endToken}};
  }
  return {{kHello}, {kWorld},  {timeBegin + end / 2}, {timeBegin + end / 2},
          {kAgain}, {kPeriod}, {timeBegin + end},     {SpecialTokens{}.endToken}};
}

inline std::vector<ScriptToken> ScriptedTextDecoder::silenceScript() {
  std::vector<ScriptToken> script{{10, -10.0f}};
  for (int i = 11; i < 20; ++i) {
    script.push_back({i, -9.0f});
  }
  script.push_back({SpecialTokens{}.endToken, -20.0f});
  return script;
}

inline std::optional<TextDecoderMLMultiArrayOutputType>
ScriptedTextDecoder::predictLogits(const TextDecoderInputType &input) {
  const auto *arrays = dynamic_cast<const TextDecoderMLMultiArrayInputType *>(&input);
  if (arrays == nullptr) {
    throw WhisperError::transcriptionFailed("Input must be TextDecoderMLMultiArrayInputType");
  }
  ++predictions;
  if (steppedClock) {
    steppedClock->advance(std::chrono::milliseconds(10));
  }
  const SpecialTokens special;
  const int token = static_cast<int>(arrays->inputIds.value(0));
  const int position = static_cast<int>(arrays->cacheLength.value(0));
  if (position == 0) {
    history_.clear();
  }
  fedPositions.push_back(position);
  history_.resize(static_cast<std::size_t>(position) + 1, -1);
  history_[static_cast<std::size_t>(position)] = token;

  const float *loudness = arrays->encoderOutputEmbeds.data<float>();
  int loudFrames = 0;
  while (loudFrames < kFramesPerWindow && loudness[loudFrames] > 0.1f) {
    ++loudFrames;
  }
  // The prompt ends with the timestamp switch; sampled tokens follow it.
  int promptEnd = -1;
  for (std::size_t p = 0; p < history_.size(); ++p) {
    if (history_[p] == special.timeTokenBegin || history_[p] == special.noTimestampsToken) {
      promptEnd = static_cast<int>(p);
      break;
    }
  }
  ScriptToken target{special.endToken, promptBackground};
  if (promptEnd >= 0) {
    const bool withTimestamps =
        history_[static_cast<std::size_t>(promptEnd)] != special.noTimestampsToken;
    const auto script = scriptChoice     ? scriptChoice(loudFrames, withTimestamps, attempts_)
                        : loudFrames > 0 ? speechScript(loudFrames, withTimestamps)
                                         : silenceScript();
    const auto k = static_cast<std::size_t>(position - promptEnd);
    target = k < script.size() ? script[k] : ScriptToken{special.endToken};
  }

  platform::MLMultiArray logits({1, 1, kVocabulary}, platform::MLMultiArrayDataType::float32,
                                target.background);
  float *values = logits.data<float>();
  values[target.token] = 0.0f;
  for (int t = 1; t <= target.ties; ++t) {
    values[target.token + t] = 0.0f;
  }
  if (target.runnerUp >= 0) {
    values[target.runnerUp] = -1.0f;
  }
  if (token == special.startOfTranscriptToken) {
    values[special.noSpeechToken] = loudFrames > 0 ? -30.0f : 10.0f;
  }

  DecodingCache cache;
  cache.keyCache = platform::MLMultiArray({1, 4, 1, 1}, platform::MLMultiArrayDataType::float16,
                                          static_cast<float>(position));
  cache.valueCache = cache.keyCache;
  platform::MLMultiArray alignment({1, kFramesPerWindow}, platform::MLMultiArrayDataType::float32);
  // Each step looks at the frame its token is said at: spread over the loud stretch.
  const int column = std::clamp(position * std::max(loudFrames, 1) / 12, 0, kFramesPerWindow - 1);
  alignment.data<float>()[column] = 1.0f;
  cache.alignmentWeights = alignment;
  return TextDecoderMLMultiArrayOutputType(logits, cache);
}

// The prompt of a window: start of transcript, language and task for a multilingual decoder,
// then the timestamp switch.
inline std::shared_ptr<DecodingInputsType>
ScriptedTextDecoder::prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                                          const std::optional<DecodingOptions> &options) {
  const SpecialTokens special;
  std::vector<int> prompt{special.startOfTranscriptToken};
  if (options) {
    if (multilingual_) {
      prompt.push_back(tokenizer_->convertTokenToId("<|" + options->language.value_or("en") + "|>")
                           .value_or(special.englishToken));
      prompt.push_back(options->task == DecodingTask::translate ? special.translateToken
                                                                : special.transcribeToken);
    }
    prompt.push_back(options->withoutTimestamps ? special.noTimestampsToken
                                                : special.timeTokenBegin);
  }
  inputs->initialPrompt() = prompt;
  return inputs;
}

} // namespace divuvovize::testing
