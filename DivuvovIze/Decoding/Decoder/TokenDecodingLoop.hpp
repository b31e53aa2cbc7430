#pragma once

#include <memory>
#include <vector>

#include "DeduveCore/Support/EarlyStopActor.hpp"
#include "DivuvovIze/Decoding/Decoder/TextDecoding.hpp"
#include "platform/system/Clock.hpp"

namespace divuvovize {

// The token loop that decodes one window: forces the prompt, runs the decoder one token at a
// time over its key-value cache, filters the logits, samples, tests for the end, updates the
// cache and masks in place, reports progress and honours early stop, then finalises the tokens
// into a DecodingResult with its quality measures and fallback verdict. Works on any
// TextDecoding through predictLogits, so TextDecoder and scripted test decoders share it.
struct TokenDecodingLoop {
  // The last index a window may reach is one less than the token context.
  static constexpr int maxSampleLength = 223;

  // The decoder's own filters, then suppress-blank (from `sampleBegin`), suppress-tokens (when
  // the options list any; special ids above the text range are dropped) and the timestamp
  // rules (from `timestampSampleBegin`, unless decoding without timestamps).
  static std::vector<std::shared_ptr<LogitsFiltering>>
  prepareLogitsFilters(const TextDecoding &decoder, const DecodingOptions &options, int sampleBegin,
                       int timestampSampleBegin, const WhisperTokenizer &tokenizer);

  // Decodes one window; see TextDecoding::decodeText. `earlyStop` holds the window's stop flag
  // while it runs; `clock` times the steps and `wallClock` stamps the first token's absolute
  // time. The callback is called on this thread after each
  // step's cache update; false from it after the prompt stops the window at that step.
  // Throws WhisperError: tokenizerUnavailable without a tokenizer, prepareDecoderInputsFailed
  // for inputs that are not DecodingInputs, an empty prompt or an absent encoder output,
  // decodingLogitsFailed when a step gives no logits, decodingFailed("Invalid model output")
  // when a step gives no cache update; the decoder's own errors pass through.
  static DecodingResult decodeText(TextDecoding &decoder, deduve::EarlyStopActor &earlyStop,
                                   const AudioEncoderOutputType &encoderOutput,
                                   DecodingInputsType &decoderInputs, TokenSampling &sampler,
                                   const DecodingOptions &options,
                                   const TranscriptionCallback &callback,
                                   const platform::SteadyClock &clock,
                                   const platform::WallClock &wallClock);
};

} // namespace divuvovize
