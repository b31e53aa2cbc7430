#include "DivuvovIze/Models/DecodingOptions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace divuvovize {

std::string_view description(DecodingTask task) {
  return task == DecodingTask::translate ? "translate" : "transcribe";
}

std::ostream &operator<<(std::ostream &out, DecodingTask task) { return out << description(task); }

Json toJson(DecodingTask task) {
  Json document = Json::object();
  document[std::string(description(task))] = Json::object();
  return document;
}

DecodingTask decodingTaskFromJson(const Json &document, const std::string &path) {
  const json::ObjectReader reader(document, path);
  const Json *transcribe = reader.find("transcribe");
  const Json *translate = reader.find("translate");
  if ((transcribe == nullptr) == (translate == nullptr)) {
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                            "Invalid number of keys found, expected one.");
  }
  const auto key = transcribe != nullptr ? "transcribe" : "translate";
  // The case's payload must be an object; its members are not read.
  json::ObjectReader(*(transcribe != nullptr ? transcribe : translate), json::joinPath(path, key));
  return transcribe != nullptr ? DecodingTask::transcribe : DecodingTask::translate;
}

std::string_view rawValue(ChunkingStrategy strategy) {
  return strategy == ChunkingStrategy::vad ? "vad" : "none";
}

std::ostream &operator<<(std::ostream &out, ChunkingStrategy strategy) {
  return out << rawValue(strategy);
}

std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view raw) {
  if (raw == "none") {
    return ChunkingStrategy::none;
  }
  if (raw == "vad") {
    return ChunkingStrategy::vad;
  }
  return std::nullopt;
}

DecodingOptions::DecodingOptions() = default;

DecodingOptions::DecodingOptions(const Arguments &a)
    : verbose(a.verbose), task(a.task), language(a.language), temperature(a.temperature),
      temperatureIncrementOnFallback(a.temperatureIncrementOnFallback),
      temperatureFallbackCount(a.temperatureFallbackCount), sampleLength(a.sampleLength),
      topK(a.topK), usePrefillPrompt(a.usePrefillPrompt),
      detectLanguage(a.detectLanguage.value_or(!a.usePrefillPrompt)),
      skipSpecialTokens(a.skipSpecialTokens), withoutTimestamps(a.withoutTimestamps),
      wordTimestamps(a.wordTimestamps), maxInitialTimestamp(a.maxInitialTimestamp),
      maxWindowSeek(a.maxWindowSeek), clipTimestamps(a.clipTimestamps),
      windowClipTime(a.windowClipTime), promptTokens(a.promptTokens), prefixTokens(a.prefixTokens),
      suppressBlank(a.suppressBlank), suppressTokens(a.suppressTokens.value_or(std::vector<int>{})),
      compressionRatioThreshold(a.compressionRatioThreshold), logProbThreshold(a.logProbThreshold),
      firstTokenLogProbThreshold(a.firstTokenLogProbThreshold),
      noSpeechThreshold(a.noSpeechThreshold),
      concurrentWorkerCount(a.concurrentWorkerCount.value_or(16)),
      chunkingStrategy(a.chunkingStrategy) {}

int DecodingOptions::windowClipSamples(int totalSamples) const {
  const float samples = windowClipTime * 16000.0f;
  if (!std::isfinite(samples)) {
    return 0;
  }
  return static_cast<int>(std::clamp(samples, 0.0f, static_cast<float>(std::max(totalSamples, 0))));
}

std::vector<std::pair<int, int>> DecodingOptions::seekClipRanges(int totalSamples) const {
  std::vector<int> points;
  points.reserve(clipTimestamps.size() + 1);
  for (float seconds : clipTimestamps) {
    // Single-precision product, then round half away from zero.
    const float samples = std::round(seconds * 16000.0f);
    // A caller's NaN or out-of-range time saturates instead of converting undefinedly.
    if (std::isnan(samples)) {
      points.push_back(0);
    } else if (samples >= 2147483647.0f) {
      points.push_back(std::numeric_limits<int>::max());
    } else if (samples <= -2147483648.0f) {
      points.push_back(std::numeric_limits<int>::min());
    } else {
      points.push_back(static_cast<int>(samples));
    }
  }
  if (points.empty()) {
    points.push_back(0);
  }
  if (points.size() % 2 == 1) {
    points.push_back(totalSamples);
  }
  std::vector<std::pair<int, int>> ranges;
  ranges.reserve(points.size() / 2);
  for (std::size_t i = 0; i + 1 < points.size(); i += 2) {
    ranges.emplace_back(points[i], points[i + 1]);
  }
  return ranges;
}

namespace {

void putOptionalFloat(Json &document, const char *key, const std::optional<float> &value,
                      const std::string &path) {
  if (value) {
    document[key] = json::writeFloat(*value, json::joinPath(path, key));
  }
}

} // namespace

Json DecodingOptions::toJson() const {
  const std::string path;
  Json d = Json::object();
  d["verbose"] = verbose;
  d["task"] = divuvovize::toJson(task);
  if (language) {
    d["language"] = *language;
  }
  d["temperature"] = json::writeFloat(temperature, "temperature");
  d["temperatureIncrementOnFallback"] =
      json::writeFloat(temperatureIncrementOnFallback, "temperatureIncrementOnFallback");
  d["temperatureFallbackCount"] = temperatureFallbackCount;
  d["sampleLength"] = sampleLength;
  d["topK"] = topK;
  d["usePrefillPrompt"] = usePrefillPrompt;
  d["detectLanguage"] = detectLanguage;
  d["skipSpecialTokens"] = skipSpecialTokens;
  d["withoutTimestamps"] = withoutTimestamps;
  d["wordTimestamps"] = wordTimestamps;
  putOptionalFloat(d, "maxInitialTimestamp", maxInitialTimestamp, path);
  if (maxWindowSeek) {
    d["maxWindowSeek"] = *maxWindowSeek;
  }
  d["clipTimestamps"] = json::writeFloats(clipTimestamps, "clipTimestamps");
  d["windowClipTime"] = json::writeFloat(windowClipTime, "windowClipTime");
  if (promptTokens) {
    d["promptTokens"] = json::writeInts(*promptTokens);
  }
  if (prefixTokens) {
    d["prefixTokens"] = json::writeInts(*prefixTokens);
  }
  d["suppressBlank"] = suppressBlank;
  d["suppressTokens"] = json::writeInts(suppressTokens);
  putOptionalFloat(d, "compressionRatioThreshold", compressionRatioThreshold, path);
  putOptionalFloat(d, "logProbThreshold", logProbThreshold, path);
  putOptionalFloat(d, "firstTokenLogProbThreshold", firstTokenLogProbThreshold, path);
  putOptionalFloat(d, "noSpeechThreshold", noSpeechThreshold, path);
  d["concurrentWorkerCount"] = concurrentWorkerCount;
  if (chunkingStrategy) {
    d["chunkingStrategy"] = std::string(rawValue(*chunkingStrategy));
  }
  return d;
}

DecodingOptions DecodingOptions::fromJson(const Json &document, const std::string &path) {
  const json::ObjectReader r(document, path);
  DecodingOptions o;
  o.verbose = r.required<bool>("verbose");
  o.task = decodingTaskFromJson(r.requiredValue("task"), json::joinPath(path, "task"));
  o.language = r.optional<std::string>("language");
  o.temperature = r.required<float>("temperature");
  o.temperatureIncrementOnFallback = r.required<float>("temperatureIncrementOnFallback");
  o.temperatureFallbackCount = r.required<int>("temperatureFallbackCount");
  o.sampleLength = r.required<int>("sampleLength");
  o.topK = r.required<int>("topK");
  o.usePrefillPrompt = r.required<bool>("usePrefillPrompt");
  o.detectLanguage = r.required<bool>("detectLanguage");
  o.skipSpecialTokens = r.required<bool>("skipSpecialTokens");
  o.withoutTimestamps = r.required<bool>("withoutTimestamps");
  o.wordTimestamps = r.required<bool>("wordTimestamps");
  o.maxInitialTimestamp = r.optional<float>("maxInitialTimestamp");
  o.maxWindowSeek = r.optional<int>("maxWindowSeek");
  o.clipTimestamps = r.required<std::vector<float>>("clipTimestamps");
  o.windowClipTime = r.required<float>("windowClipTime");
  o.promptTokens = r.optional<std::vector<int>>("promptTokens");
  o.prefixTokens = r.optional<std::vector<int>>("prefixTokens");
  o.suppressBlank = r.required<bool>("suppressBlank");
  o.suppressTokens = r.required<std::vector<int>>("suppressTokens");
  o.compressionRatioThreshold = r.optional<float>("compressionRatioThreshold");
  o.logProbThreshold = r.optional<float>("logProbThreshold");
  o.firstTokenLogProbThreshold = r.optional<float>("firstTokenLogProbThreshold");
  o.noSpeechThreshold = r.optional<float>("noSpeechThreshold");
  o.concurrentWorkerCount = r.required<int>("concurrentWorkerCount");
  if (const auto raw = r.optional<std::string>("chunkingStrategy")) {
    const auto strategy = chunkingStrategyFromRawValue(*raw);
    if (!strategy) {
      const auto keyPath = json::joinPath(path, "chunkingStrategy");
      throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, keyPath,
                              "Cannot initialize ChunkingStrategy from invalid String value " +
                                  *raw + " at \"" + keyPath + "\"");
    }
    o.chunkingStrategy = strategy;
  }
  return o;
}

} // namespace divuvovize
