#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "DivuvovIze/Decoding/Encoder/FeatureExtracting.hpp"
#include "DivuvovIze/Models/DecodingInputs.hpp"
#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/DecodingResult.hpp"
#include "DivuvovIze/Models/TranscriptionProgress.hpp"
#include "platform/ml/MLMultiArray.hpp"

namespace divuvovize {

class WhisperTokenizer;
class LogitsFiltering;
class TokenSampling;

// The per-token progress callback of a decoding: called with the window's progress after every
// step; false asks the decoder to stop the window early, true or nothing lets it go on. May be
// called from any thread.
using TranscriptionCallback = std::function<std::optional<bool>(const TranscriptionProgress &)>;

// Marker base of what one decoder step takes and gives.
class TextDecoderInputType {
public:
  virtual ~TextDecoderInputType() = default;
};
class TextDecoderOutputType {
public:
  virtual ~TextDecoderOutputType() = default;
};

// The decoder model's seven inputs of one step. The arrays are handles: copies share them.
struct TextDecoderMLMultiArrayInputType : TextDecoderInputType {
  TextDecoderMLMultiArrayInputType(platform::MLMultiArray inputIds,
                                   platform::MLMultiArray cacheLength,
                                   platform::MLMultiArray keyCache,
                                   platform::MLMultiArray valueCache,
                                   platform::MLMultiArray kvCacheUpdateMask,
                                   platform::MLMultiArray encoderOutputEmbeds,
                                   platform::MLMultiArray decoderKeyPaddingMask)
      : inputIds(std::move(inputIds)), cacheLength(std::move(cacheLength)),
        keyCache(std::move(keyCache)), valueCache(std::move(valueCache)),
        kvCacheUpdateMask(std::move(kvCacheUpdateMask)),
        encoderOutputEmbeds(std::move(encoderOutputEmbeds)),
        decoderKeyPaddingMask(std::move(decoderKeyPaddingMask)) {}

  platform::MLMultiArray inputIds;              // "input_ids": the token of this step
  platform::MLMultiArray cacheLength;           // "cache_length": its position
  platform::MLMultiArray keyCache;              // "key_cache"
  platform::MLMultiArray valueCache;            // "value_cache"
  platform::MLMultiArray kvCacheUpdateMask;     // "kv_cache_update_mask"
  platform::MLMultiArray encoderOutputEmbeds;   // "encoder_output_embeds"
  platform::MLMultiArray decoderKeyPaddingMask; // "decoder_key_padding_mask"
};

// What one decoder step gives: the logits and the step's cache updates and alignment weights.
struct TextDecoderMLMultiArrayOutputType : TextDecoderOutputType {
  TextDecoderMLMultiArrayOutputType() = default;
  TextDecoderMLMultiArrayOutputType(std::optional<platform::MLMultiArray> logits,
                                    std::optional<DecodingCache> cache)
      : logits(std::move(logits)), cache(std::move(cache)) {}

  std::optional<platform::MLMultiArray> logits; // [1, 1, vocabulary], float32
  std::optional<DecodingCache> cache;
};

// The engine's text decoder as the transcription task, the pipeline and language detection see
// it. TextDecoder is the model-backed conformer; a configuration may supply another, and tests
// use scripted ones.
//
// Blocking calls run on a worker thread. The decoder holds no lock: one decoder may decode
// several windows at once only with separate decoder inputs; the settable properties are set
// while nothing decodes.
class TextDecoding {
public:
  virtual ~TextDecoding();

  virtual std::shared_ptr<WhisperTokenizer> tokenizer() const = 0;
  virtual void setTokenizer(std::shared_ptr<WhisperTokenizer> tokenizer) = 0;
  virtual bool isModelMultilingual() const = 0;
  virtual void setIsModelMultilingual(bool isModelMultilingual) = 0;
  // True when a step also delivers alignment weights (word timings are possible).
  virtual bool supportsWordTimestamps() const = 0;
  // Vocabulary size of the logits; absent without a model.
  virtual std::optional<int> logitsSize() const = 0;
  // Filters run before the per-call ones; absent or empty for none.
  virtual std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> logitsFilters() const = 0;
  virtual void
  setLogitsFilters(std::optional<std::vector<std::shared_ptr<LogitsFiltering>>> filters) = 0;
  // Cache width (dimension 1 of "key_cache"), cache positions (dimension 3), encoder frames of
  // one window and encoder embedding width; each absent without a model.
  virtual std::optional<int> kvCacheEmbedDim() const = 0;
  virtual std::optional<int> kvCacheMaxSequenceLength() const = 0;
  virtual std::optional<int> windowSize() const = 0;
  virtual std::optional<int> embedSize() const = 0;

  // Runs one decoder step. Accepts only a TextDecoderMLMultiArrayInputType (anything else
  // throws WhisperError::transcriptionFailed("Input must be TextDecoderMLMultiArrayInputType"));
  // nothing when there is no model. Blocking.
  virtual std::optional<TextDecoderMLMultiArrayOutputType>
  predictLogits(const TextDecoderInputType &input) = 0;

  // Fresh decoder inputs for `prompt`: zeroed caches and alignment weights sized from the
  // decoder, cache-update mask 1 at position 0 only, key-padding mask 0 at position 0 and
  // -10000 elsewhere. Throws WhisperError::prepareDecoderInputsFailed naming the first missing
  // size ("Unable to determine kvCacheEmbedDim", "... kvCacheMaxSequenceLength",
  // "... encoderOutputDim").
  virtual std::shared_ptr<DecodingInputsType> prepareDecoderInputs(const std::vector<int> &prompt);

  // Writes the window's prompt into `inputs` (start of transcript, language and task tokens for a
  // multilingual model, the timestamp switch, previous-context and prefix tokens from the
  // options) and returns them.
  virtual std::shared_ptr<DecodingInputsType>
  prefillDecoderInputs(std::shared_ptr<DecodingInputsType> inputs,
                       const std::optional<DecodingOptions> &options) = 0;

  // The token loop of one window over `encoderOutput` with `inputs` prepared and prefilled:
  // returns the decoded tokens, text, quality measures, timings and fallback verdict.
  // `inputs` is updated in place (cache, masks, alignment weights). Blocking.
  virtual DecodingResult decodeText(const AudioEncoderOutputType &encoderOutput,
                                    DecodingInputsType &inputs, TokenSampling &sampler,
                                    const DecodingOptions &options,
                                    const TranscriptionCallback &callback) = 0;

  // One step restricted to language tokens; the result carries `language`, `languageProbs`
  // and the step's prediction and sampling timings. Blocking.
  virtual DecodingResult detectLanguage(const AudioEncoderOutputType &encoderOutput,
                                        DecodingInputsType &inputs, TokenSampling &sampler,
                                        const DecodingOptions &options, float temperature) = 0;

  // Copies one step's keys and values (shape [1, E, 1, n]) into the caches ([1, E, 1, S]) at
  // positions index ..< index + n, channel after channel on the calling thread: spreading the
  // channels over the runner's threads measured slower at every shape (bench/KVCacheUpdate),
  // the copy being a few kilobytes between two model steps that use those threads. Arrays of
  // another rank, mismatched element types or positions beyond the cache copy nothing.
  static void updateKVCache(const platform::MLMultiArray &keyTensor,
                            const platform::MLMultiArray &keySlice,
                            const platform::MLMultiArray &valueTensor,
                            const platform::MLMultiArray &valueSlice, int insertAtIndex);
  // Copies one step's alignment weights ([1, W]) into row index + 1 of `alignmentTensor`
  // ([S, W]); a row beyond the array copies nothing. The slice may be float16 or float32.
  static void updateAlignmentWeights(const platform::MLMultiArray &alignmentTensor,
                                     const platform::MLMultiArray &alignmentSlice,
                                     int insertAtIndex);
};

// A zero-filled array of `shape` and `dataType`; the array's own creation error passes through.
platform::MLMultiArray makeMLMultiArray(const platform::MLMultiArray::Shape &shape,
                                        platform::MLMultiArrayDataType dataType);

// Logs the decoder inputs at debug level: cache length and input token, then one row per cache
// position up to min(tokenIndex + 4, 224) with the first key, value and alignment value and the
// two mask entries. Positions beyond an array print 0. Does nothing unless debug logging is on.
void debugDecoderInputs(DecodingInputs &inputs, int tokenIndex);

} // namespace divuvovize
