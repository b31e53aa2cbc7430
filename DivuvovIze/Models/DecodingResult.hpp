#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DivuvovIze/Models/DecodingOptions.hpp"
#include "DivuvovIze/Models/TokenLogProbs.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"
#include "platform/ml/MLMultiArray.hpp"

namespace divuvovize {

// One decoder step's cache updates and alignment weights.
struct DecodingCache {
  std::optional<platform::MLMultiArray> keyCache;
  std::optional<platform::MLMultiArray> valueCache;
  std::optional<platform::MLMultiArray> alignmentWeights;
};

// Whether a window must be decoded again at a higher temperature, and why.
struct DecodingFallback {
  bool needsFallback = false;
  // "firstTokenLogProbThreshold", "silence", "compressionRatioThreshold" or
  // "logProbThreshold".
  std::string fallbackReason;

  // The verdict of the fallback test; the first test that holds decides:
  // a too-low first token (fallback); no-speech probability above its threshold ("silence",
  // no fallback: the window is reported as silence); compression ratio above its threshold;
  // average log-probability below its threshold. None: nullopt. Comparisons are strict, a NaN
  // passes its test, an absent threshold skips it.
  static std::optional<DecodingFallback> make(const DecodingOptions &options,
                                              bool isFirstTokenLogProbTooLow, float noSpeechProb,
                                              float compressionRatio, float avgLogProb);

  bool operator==(const DecodingFallback &) const = default;
};

// The outcome of decoding one window at one temperature.
struct DecodingResult {
  std::string language;
  std::map<std::string, float> languageProbs; // language code -> probability
  std::vector<int> tokens;
  std::vector<TokenLogProbs> tokenLogProbs; // one map per token: id -> log-probability
  std::string text;
  float avgLogProb = 0;
  float noSpeechProb = 0;
  float temperature = 0; // of the attempt that produced it
  float compressionRatio = 0;
  std::optional<DecodingCache> cache;
  std::optional<TranscriptionTimings> timings;
  std::optional<DecodingFallback> fallback;

  // Empty texts and lists, zero numbers, and no cache, timings or fallback.
  static DecodingResult emptyResults() { return {}; }
};

} // namespace divuvovize
