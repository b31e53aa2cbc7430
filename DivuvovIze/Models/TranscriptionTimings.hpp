#pragma once

#include <array>
#include <limits>
#include <optional>
#include <ostream>
#include <string_view>

#include "DivuvovIze/Models/JsonCoding.hpp"

namespace divuvovize {

// How long each stage of a run took (seconds) and how often it ran. A default-constructed
// value is the engine's fresh record: pipelineStart and firstTokenTime at the largest finite
// double ("not reached yet"), inputAudioSeconds 0.001 (never 0, so ratios stay finite), every
// other field 0. The two absolute times are wall-clock seconds since 2001-01-01 00:00:00 UTC
// (platform::absoluteTime), so records of separate runs and machines compare; every duration
// is measured on the monotonic clock.
struct TranscriptionTimings {
  double pipelineStart = std::numeric_limits<double>::max();  // absolute time, earliest seen
  double firstTokenTime = std::numeric_limits<double>::max(); // absolute time
  double inputAudioSeconds = 0.001;                           // audio transcribed
  double modelLoading = 0;
  double prewarmLoadTime = 0;
  double encoderLoadTime = 0;
  double decoderLoadTime = 0;
  double encoderSpecializationTime = 0;
  double decoderSpecializationTime = 0;
  double tokenizerLoadTime = 0;
  double audioLoading = 0;
  double audioProcessing = 0;
  double logmels = 0;
  double encoding = 0;
  double decodingInit = 0;
  double decodingLoop = 0;
  double decodingPredictions = 0;
  double decodingFiltering = 0;
  double decodingSampling = 0;
  double decodingFallback = 0;
  double decodingWindowing = 0;
  double decodingKvCaching = 0;
  double decodingWordTimestamps = 0;
  double decodingNonPrediction = 0;
  double totalAudioProcessingRuns = 0; // counters are doubles like the durations
  double totalLogmelRuns = 0;
  double totalEncodingRuns = 0;
  double totalDecodingLoops = 0;
  double totalKVUpdateRuns = 0;
  double totalTimestampAlignmentRuns = 0;
  double totalDecodingFallbacks = 0;
  double totalDecodingWindows = 0;
  double fullPipeline = 0;

  // No guard against a zero divisor: a fresh value gives nan, 0 and +inf.
  double tokensPerSecond() const { return totalDecodingLoops / fullPipeline; }
  double realTimeFactor() const { return fullPipeline / inputAudioSeconds; }
  double speedFactor() const { return inputAudioSeconds / fullPipeline; }

  struct Field {
    std::string_view name; // also the document key
    double TranscriptionTimings::*member;
  };
  // The 33 fields in storage and document order.
  static const std::array<Field, 33> &fields();
  // The field named exactly `name`, if any.
  static std::optional<Field> field(std::string_view name);

  // All 33 keys in order. Throws JsonEncodingError for a non-finite value.
  Json toJson(std::string_view path = "") const;
  // Every key required; extra keys ignored.
  static TranscriptionTimings fromJson(const Json &document, const std::string &path = "");

  bool operator==(const TranscriptionTimings &) const = default;
};

// Status handed to the transcription-state callback while an audio file is transcribed.
enum class TranscriptionState { convertingAudio, transcribing, finished };

// "Converting Audio", "Transcribing", "Finished".
std::string_view description(TranscriptionState state);
std::ostream &operator<<(std::ostream &out, TranscriptionState state);

} // namespace divuvovize
