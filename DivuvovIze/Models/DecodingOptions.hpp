#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "DivuvovIze/Models/JsonCoding.hpp"

namespace divuvovize {

enum class DecodingTask { transcribe, translate };

// "transcribe" or "translate".
std::string_view description(DecodingTask task);
std::ostream &operator<<(std::ostream &out, DecodingTask task);
inline constexpr std::array<DecodingTask, 2> allDecodingTasks{DecodingTask::transcribe,
                                                              DecodingTask::translate};
// Document form: {"transcribe":{}} or {"translate":{}}.
Json toJson(DecodingTask task);
// Exactly one of the keys "transcribe"/"translate" (others are ignored) holding an object;
// anything else is a typeMismatch "Invalid number of keys found, expected one.".
DecodingTask decodingTaskFromJson(const Json &document, const std::string &path = "");

enum class ChunkingStrategy { none, vad };

// "none" or "vad".
std::string_view rawValue(ChunkingStrategy strategy);
std::ostream &operator<<(std::ostream &out, ChunkingStrategy strategy);
inline constexpr std::array<ChunkingStrategy, 2> allChunkingStrategies{ChunkingStrategy::none,
                                                                       ChunkingStrategy::vad};
// Exactly "none" or "vad" (case-sensitive); anything else gives no value.
std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view raw);

// Every setting of one transcription run. A plain value: copy it freely; no field is checked.
struct DecodingOptions {
  // Initialiser arguments: every field of DecodingOptions with its default, except that three
  // are optional and resolved when the options are built (see the constructor).
  struct Arguments {
    bool verbose = false;
    DecodingTask task = DecodingTask::transcribe;
    std::optional<std::string> language{};
    float temperature = 0.0f;
    float temperatureIncrementOnFallback = 0.2f;
    int temperatureFallbackCount = 5;
    int sampleLength = 224;
    int topK = 5;
    bool usePrefillPrompt = true;
    std::optional<bool> detectLanguage{}; // absent: !usePrefillPrompt
    bool skipSpecialTokens = false;
    bool withoutTimestamps = false;
    bool wordTimestamps = false;
    std::optional<float> maxInitialTimestamp{};
    std::optional<int> maxWindowSeek{};
    std::vector<float> clipTimestamps{};
    float windowClipTime = 1.0f;
    std::optional<std::vector<int>> promptTokens{};
    std::optional<std::vector<int>> prefixTokens{};
    bool suppressBlank = false;
    std::optional<std::vector<int>> suppressTokens{}; // absent: []
    std::optional<float> compressionRatioThreshold = 2.4f;
    std::optional<float> logProbThreshold = -1.0f;
    std::optional<float> firstTokenLogProbThreshold = -1.5f;
    std::optional<float> noSpeechThreshold = 0.6f;
    std::optional<int> concurrentWorkerCount{}; // absent: 16
    std::optional<ChunkingStrategy> chunkingStrategy{};
  };

  // The defaults: detectLanguage false, suppressTokens [], concurrentWorkerCount 16.
  DecodingOptions();
  // Stores every argument; an absent detectLanguage becomes !usePrefillPrompt, an absent
  // suppressTokens [], an absent concurrentWorkerCount 16. Use designated initialisers:
  // DecodingOptions({.language = "en", .usePrefillPrompt = false}).
  DecodingOptions(const Arguments &arguments); // NOLINT(google-explicit-constructor)

  bool verbose = false;                         // diagnostic switch
  DecodingTask task = DecodingTask::transcribe; // transcribe or translate
  std::optional<std::string> language;          // language code ("en"); absent: engine picks
  float temperature = 0.0f;                     // first attempt; 0 = arg-max
  float temperatureIncrementOnFallback = 0.2f;  // added per further attempt
  int temperatureFallbackCount = 5;             // further attempts after the first
  int sampleLength = 224;                       // token bound of one window
  int topK = 5;                                 // candidates at non-zero temperature
  bool usePrefillPrompt = true;                 // prefill the decoder's prompt
  bool detectLanguage = false;                  // detect the language from the audio
  bool skipSpecialTokens = false;               // drop special tokens from texts
  bool withoutTimestamps = false;               // decode without timestamp tokens
  bool wordTimestamps = false;                  // compute word timings
  std::optional<float> maxInitialTimestamp;     // seconds
  std::optional<int> maxWindowSeek;             // window seek limit
  std::vector<float> clipTimestamps;            // seconds; start/end pairs
  float windowClipTime = 1.0f;                  // seconds
  std::optional<std::vector<int>> promptTokens; // previous-context tokens
  std::optional<std::vector<int>> prefixTokens; // forced output prefix
  bool suppressBlank = false;                   // suppress a blank first token
  std::vector<int> suppressTokens;              // never sampled
  std::optional<float> compressionRatioThreshold = 2.4f;   // absent: test off
  std::optional<float> logProbThreshold = -1.0f;           // absent: test off
  std::optional<float> firstTokenLogProbThreshold = -1.5f; // absent: test off
  std::optional<float> noSpeechThreshold = 0.6f;           // absent: test off
  int concurrentWorkerCount = 16;                          // batch size; 0 = all at once
  std::optional<ChunkingStrategy> chunkingStrategy;        // absent or none: no cutting

  // Sample ranges [start, end) to transcribe, from clipTimestamps: each time x 16000 rounded
  // half away from zero; empty means [0]; an odd count is closed by `totalSamples`. Never
  // empty. Values are not checked against each other or the audio; a NaN time counts as 0 and
  // times beyond the integer range saturate.
  std::vector<std::pair<int, int>> seekClipRanges(int totalSamples) const;
  // The samples at a clip's end within which no window starts: windowClipTime at 16 kHz,
  // truncated toward zero and kept within 0 ... totalSamples (0 when not a finite number).
  int windowClipSamples(int totalSamples) const;

  // Document form: the 27 field names in field order; absent optionals are left out. Throws
  // JsonEncodingError for a non-finite float.
  Json toJson() const;
  // Strict: every plain field is required (no defaults applied); optionals may be missing or
  // null. Throws JsonDecodingError naming the failing key.
  static DecodingOptions fromJson(const Json &document, const std::string &path = "");

  bool operator==(const DecodingOptions &other) const = default;
};

} // namespace divuvovize
