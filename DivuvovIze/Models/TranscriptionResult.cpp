#include "DivuvovIze/Models/TranscriptionResult.hpp"

#include <algorithm>

#include "DivuvovIze/Formatting/NumberFormatting.hpp"
#include "DivuvovIze/Logging/ModelsLog.hpp"

namespace divuvovize {

TranscriptionResult::TranscriptionResult(std::string text,
                                         std::vector<TranscriptionSegment> segments,
                                         std::string language, TranscriptionTimings timings,
                                         std::optional<float> seekTime)
    : text_(std::move(text)), segments_(std::move(segments)), language_(std::move(language)),
      timings_(timings), seekTime_(seekTime) {}

TranscriptionResult::~TranscriptionResult() = default;

std::string TranscriptionResult::text() const { return text_.get(); }
void TranscriptionResult::setText(std::string text) { text_.set(std::move(text)); }
void TranscriptionResult::modifyText(const std::function<void(std::string &)> &change) {
  text_.modify([&](std::string &value) { change(value); });
}

std::vector<TranscriptionSegment> TranscriptionResult::segments() const { return segments_.get(); }
void TranscriptionResult::setSegments(std::vector<TranscriptionSegment> segments) {
  segments_.set(std::move(segments));
}
void TranscriptionResult::modifySegments(
    const std::function<void(std::vector<TranscriptionSegment> &)> &change) {
  segments_.modify([&](std::vector<TranscriptionSegment> &value) { change(value); });
}

std::string TranscriptionResult::language() const { return language_.get(); }
void TranscriptionResult::setLanguage(std::string language) { language_.set(std::move(language)); }
void TranscriptionResult::modifyLanguage(const std::function<void(std::string &)> &change) {
  language_.modify([&](std::string &value) { change(value); });
}

TranscriptionTimings TranscriptionResult::timings() const { return timings_.get(); }
void TranscriptionResult::setTimings(TranscriptionTimings timings) { timings_.set(timings); }
void TranscriptionResult::modifyTimings(const std::function<void(TranscriptionTimings &)> &change) {
  timings_.modify([&](TranscriptionTimings &value) { change(value); });
}

std::optional<float> TranscriptionResult::seekTime() const { return seekTime_.get(); }
void TranscriptionResult::setSeekTime(std::optional<float> seekTime) { seekTime_.set(seekTime); }
void TranscriptionResult::modifySeekTime(
    const std::function<void(std::optional<float> &)> &change) {
  seekTime_.modify([&](std::optional<float> &value) { change(value); });
}

std::vector<WordTiming> TranscriptionResult::allWords() const {
  std::vector<WordTiming> words;
  for (const auto &segment : segments()) {
    if (segment.words) {
      words.insert(words.end(), segment.words->begin(), segment.words->end());
    }
  }
  return words;
}

void TranscriptionResult::logSegments() const {
  const auto list = segments();
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto &s = list[i];
    modelslog::debug("[Segment " + std::to_string(i) + "] [" + numbers::fixed(s.start, 2) +
                     " --> " + numbers::fixed(s.end, 2) + "] " + s.text);
  }
}

std::string TranscriptionResult::timingsReport() const {
  const TranscriptionTimings t = timings();
  const auto list = segments();
  const double base = std::max(t.decodingLoop, t.fullPipeline) * 1000.0;
  long long totalTokens = 0;
  for (const auto &segment : list) {
    totalTokens += static_cast<long long>(segment.tokens.size());
  }
  const double timeToFirstToken = t.firstTokenTime - t.pipelineStart;
  const double tokensPerSecond = t.totalDecodingLoops / t.fullPipeline;
  const double realTimeFactor = t.fullPipeline / t.inputAudioSeconds;
  const double speedFactor = 1.0 / realTimeFactor;
  const double averageLoop = t.decodingLoop / t.totalAudioProcessingRuns;

  const auto row = [base](const char *label, double time, double runs) {
    return std::string(label) + numbers::timeWithPercentage(time, runs, base);
  };
  std::string report;
  report += row("---- Transcription Timings ----\nAudio Load:          ", t.audioLoading, 1);
  report += row("\nAudio Processing:    ", t.audioProcessing, t.totalAudioProcessingRuns);
  report += row("\nMels:                ", t.logmels, t.totalLogmelRuns);
  report += row("\nEncoding:            ", t.encoding, t.totalEncodingRuns);
  report += row("\nMatrices Init:       ", t.decodingInit, 1);
  report += row("\nDecoding:            ", t.decodingPredictions, t.totalDecodingLoops);
  report += row("\nNon-inference:       ", t.decodingNonPrediction, t.totalDecodingLoops);
  report += row("\n- Logit Filtering:   ", t.decodingFiltering, t.totalDecodingLoops);
  report += row("\n- Sampling:          ", t.decodingSampling, t.totalDecodingLoops);
  report += row("\n- Kv Caching:        ", t.decodingKvCaching, t.totalKVUpdateRuns);
  report += row("\n- Word Timestamps:   ", t.decodingWordTimestamps, t.totalTimestampAlignmentRuns);
  report += row("\n- Windowing:         ", t.decodingWindowing - t.decodingWordTimestamps,
                t.totalDecodingWindows);
  report += row("\nFallbacks:           ", t.decodingFallback, t.totalDecodingFallbacks);
  report += row("\nDecoding Full Loop:  ", t.decodingLoop, t.totalDecodingLoops);

  const auto f2 = [](double v) { return numbers::fixed(v, 2); };
  report +=
      "\n-------------------------------\nModel Load Time:               " + f2(t.modelLoading) +
      " seconds\n- Prewarm:                     " + f2(t.prewarmLoadTime) +
      " seconds\n- Encoder:                     " + f2(t.encoderLoadTime) +
      " seconds\n- Decoder:                     " + f2(t.decoderLoadTime) +
      " seconds\n- Tokenizer:                   " + f2(t.tokenizerLoadTime) +
      " seconds\nInference Duration (Global):   " + f2(t.fullPipeline) +
      " seconds\n- Decoding Loop (Avg/window):  " + f2(averageLoop) +
      " seconds\n- Audio Windows:               " + f2(t.totalAudioProcessingRuns) +
      "\nTime to first token:           " + f2(timeToFirstToken) +
      " seconds\nTotal Tokens:                  " + std::to_string(totalTokens) +
      "\nTokens per Second:             " + f2(tokensPerSecond) +
      " tok/s\nReal Time Factor:              " + numbers::fixed(realTimeFactor, 3) +
      "\nSpeed Factor:                  " + numbers::fixed(speedFactor, 3) +
      "\nFallbacks:                     " + numbers::describe(t.totalDecodingFallbacks);
  return report;
}

void TranscriptionResult::logTimings() const { modelslog::info(timingsReport()); }

namespace {

Json segmentsToJson(const std::vector<TranscriptionSegment> &segments) {
  Json list = Json::array();
  for (std::size_t i = 0; i < segments.size(); ++i) {
    list.push_back(segments[i].toJson(json::indexPath("segments", i)));
  }
  return list;
}

} // namespace

Json TranscriptionResult::toJson() const {
  Json d = Json::object();
  d["text"] = text();
  d["segments"] = segmentsToJson(segments());
  d["language"] = language();
  d["timings"] = timings().toJson("timings");
  const auto seek = seekTime();
  d["seekTime"] = seek ? json::writeFloat(*seek, "seekTime") : Json(nullptr);
  return d;
}

std::shared_ptr<TranscriptionResult> TranscriptionResult::fromJson(const Json &document,
                                                                   const std::string &path) {
  const json::ObjectReader r(document, path);
  auto text = r.required<std::string>("text");
  auto segments = r.required<std::vector<TranscriptionSegment>>("segments");
  auto language = r.required<std::string>("language");
  auto timings = r.required<TranscriptionTimings>("timings");
  if (r.find("seekTime") == nullptr) {
    r.requiredValue("seekTime"); // throws keyNotFound
  }
  auto seekTime = r.optional<float>("seekTime");
  return std::make_shared<TranscriptionResult>(std::move(text), std::move(segments),
                                               std::move(language), timings, seekTime);
}

Json TranscriptionResultStruct::toJson() const {
  Json d = Json::object();
  d["text"] = text;
  d["segments"] = segmentsToJson(segments);
  d["language"] = language;
  d["timings"] = timings.toJson("timings");
  if (seekTime) {
    d["seekTime"] = json::writeFloat(*seekTime, "seekTime");
  }
  return d;
}

TranscriptionResultStruct TranscriptionResultStruct::fromJson(const Json &document,
                                                              const std::string &path) {
  const json::ObjectReader r(document, path);
  TranscriptionResultStruct result;
  result.text = r.required<std::string>("text");
  result.segments = r.required<std::vector<TranscriptionSegment>>("segments");
  result.language = r.required<std::string>("language");
  result.timings = r.required<TranscriptionTimings>("timings");
  result.seekTime = r.optional<float>("seekTime");
  return result;
}

} // namespace divuvovize
