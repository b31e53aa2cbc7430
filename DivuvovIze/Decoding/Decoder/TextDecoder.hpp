#pragma once

#include "DeduveCore/Support/EarlyStopActor.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "DivuvovIze/Decoding/Filters/LanguageLogitsFilter.hpp"
#include "DivuvovIze/Decoding/Model/WhisperMLModel.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"

#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace divuvovize {

// The engine's text decoder: the loaded decoder model, the speech tokenizer and the model's
// dimensions, one decoder step, the window prompt and language detection. The pipeline loads
// the model and sets the tokenizer and the multilingual flag.
//
// Thread-safe: several windows may decode at once on one decoder, each on its own thread. The
// settable slots are guarded by a private lock that is never held across a prediction.
class TextDecoder : public TextDecoding, public WhisperMLModel {
public:
  TextDecoder() = default;
  ~TextDecoder() override;

  std::shared_ptr<platform::MLModel> model() const override;
  // Also drops the step arrays made for the previous model.
  void setModel(std::shared_ptr<platform::MLModel> model) override;
  std::shared_ptr<WhisperTokenizer> tokenizer() const override;
  void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) override;
  bool isModelMultilingual() const override;
  void setIsModelMultilingual(bool isModelMultilingual) override;
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const override;
  void
  setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) override;

  // Read from the model's description at every call: "logits" output dimension 2, "key_cache"
  // input dimensions 1 and 3, "encoder_output_embeds" input dimensions 3 and 1.
  std::optional<int> logitsSize() const override;
  std::optional<int> kvCacheEmbedDim() const override;
  std::optional<int> kvCacheMaxSequenceLength() const override;
  std::optional<int> windowSize() const override;
  std::optional<int> embedSize() const override;
  // The model has an "alignment_heads_weights" output.
  bool supportsWordTimestamps() const override;

  // Drops the model and the language filter; the tokenizer and filters stay.
  void unloadModel() override;

  // Runs the model on the seven arrays (checking cancellation first). The outputs are written
  // into arrays the decoder keeps for the calling thread: the returned logits, cache updates
  // and alignment weights are rewritten by the next prediction on the same thread, so a window
  // loop reuses them without allocating; copy what must outlive the step. A result without a
  // required output throws MLModelError; prediction errors pass through.
  std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) override;
  // The same step given the seven arrays one by one (through the typed form above, so the
  // same outputs and the same reuse of them): the logits and the step's cache updates, or
  // nothing without a model.
  virtual std::optional<std::pair<platform::MLMultiArray, DecodingCache>>
  predictLogits(const platform::MLMultiArray &inputIds, const platform::MLMultiArray &cacheLength,
                const platform::MLMultiArray &keyCache, const platform::MLMultiArray &valueCache,
                const platform::MLMultiArray &kvCacheUpdateMask,
                const platform::MLMultiArray &encoderOutputEmbeds,
                const platform::MLMultiArray &decoderKeyPaddingMask);

  // The window's prompt: without options the start-of-transcript token; with options
  // [start-of-previous, the last 111 prompt tokens below specialTokenBegin] when promptTokens
  // is set, start-of-transcript, for a multilingual model the language token (the options'
  // language or "en"; English when the vocabulary lacks it) and the task token (transcribe
  // when the vocabulary lacks it), no-timestamps or the 0.00 timestamp, then the last 112
  // prefix tokens below specialTokenBegin. When the window (its sample length, its cache, the
  // token loop's cap) cannot hold all of them and still sample a token, only the overflow is
  // cut and logged: the previous text's oldest tokens first (start-of-previous with its last
  // one), then the prefix's oldest. Also sets both masks' position 0. Throws
  // WhisperError tokenizerUnavailable without a tokenizer and prepareDecoderInputsFailed
  // ("Unable to cast decoderInputs to DecodingInputs") for inputs of another kind.
  std::shared_ptr<DecodingInputsType>
  prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                       const std::optional<DecodingOptions> &options) override;

  // The token loop of one window (TokenDecodingLoop), with this decoder's stop flags.
  DecodingResult decodeText(const AudioEncoderOutputType &encoderOutput, DecodingInputsType &inputs,
                            TokenSampling &sampler, const DecodingOptions &options,
                            const TranscriptionCallback &callback) override;

  // Feeds the start-of-transcript token at position 0, masks every non-language token (the
  // language filter is made on first use and kept) and asks the sampler for one token. The
  // result carries the language ("en" when the sampled tag is not a known code), the
  // log-probability of each sampled language tag, and the prediction and sampling times.
  // Throws WhisperError: tokenizerUnavailable, modelsUnavailable ("Failed to read logits size
  // from model"), prepareDecoderInputsFailed ("Input must be MLMultiArray", "DecodingInputsType
  // must be DecodingInputs"), decodingLogitsFailed.
  DecodingResult detectLanguage(const AudioEncoderOutputType &encoderOutput,
                                DecodingInputsType &inputs, TokenSampling &sampler,
                                const DecodingOptions &options, float temperature) override;

  // Per-window stop flags of the decoding loop.
  deduve::EarlyStopActor &earlyStopActor() { return earlyStopActor_; }
  // The language filter of the last detection, if any.
  std::shared_ptr<const LanguageLogitsFilter> languageLogitsFilter() const;

private:
  // The prompt of a window decoded with `options` into `inputs` (see prefillDecoderInputs).
  std::vector<int> windowPrompt(const WhisperTokenizer &tokenizer, DecodingInputs &inputs,
                                const DecodingOptions &options) const;
  // One thread's step arrays: the input provider of the window it decodes (rebuilt when the
  // window's arrays change) and the output backings the model writes into.
  struct StepArrays;
  std::shared_ptr<StepArrays> stepArrays(const std::shared_ptr<platform::MLModel> &model);

  mutable std::mutex mutex_;
  std::shared_ptr<platform::MLModel> model_;
  std::shared_ptr<WhisperTokenizer> tokenizer_;
  bool isModelMultilingual_ = false;
  std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters_;
  std::shared_ptr<const LanguageLogitsFilter> languageLogitsFilter_;
  std::unordered_map<std::thread::id, std::shared_ptr<StepArrays>> stepArrays_;
  deduve::EarlyStopActor earlyStopActor_;
};

} // namespace divuvovize
