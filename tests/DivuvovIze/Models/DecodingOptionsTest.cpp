#include "DivuvovIze/Models/DecodingOptions.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <string>
#include <vector>

#include "DivuvovIze/Models/Constants.hpp"

namespace divuvovize {
namespace {

std::vector<std::string> keysOf(const Json &document) {
  std::vector<std::string> keys;
  for (auto it = document.begin(); it != document.end(); ++it) {
    keys.push_back(it.key());
  }
  return keys;
}

TEST(DecodingOptionsTest, DefaultsMatchTheEngineDefaults) {
  const DecodingOptions o;
  EXPECT_FALSE(o.verbose);
  EXPECT_EQ(o.task, DecodingTask::transcribe);
  EXPECT_FALSE(o.language.has_value());
  EXPECT_EQ(o.temperature, 0.0f);
  EXPECT_EQ(o.temperatureIncrementOnFallback, 0.2f);
  EXPECT_EQ(o.temperatureFallbackCount, 5);
  EXPECT_EQ(o.sampleLength, Constants::maxTokenContext);
  EXPECT_EQ(o.topK, 5);
  EXPECT_TRUE(o.usePrefillPrompt);
  EXPECT_FALSE(o.detectLanguage);
  EXPECT_TRUE(o.suppressTokens.empty());
  EXPECT_EQ(o.windowClipTime, 1.0f);
  EXPECT_EQ(o.compressionRatioThreshold, std::optional<float>(2.4f));
  EXPECT_EQ(o.logProbThreshold, std::optional<float>(-1.0f));
  EXPECT_EQ(o.firstTokenLogProbThreshold, std::optional<float>(-1.5f));
  EXPECT_EQ(o.noSpeechThreshold, std::optional<float>(0.6f));
  EXPECT_EQ(o.concurrentWorkerCount, 16);
  EXPECT_FALSE(o.chunkingStrategy.has_value());
  // Building from arguments with nothing given is the same value.
  EXPECT_EQ(DecodingOptions(DecodingOptions::Arguments{}), o);
}

TEST(DecodingOptionsTest, DerivedArgumentsResolveWhenBuilt) {
  struct Case {
    const char *name;
    DecodingOptions::Arguments arguments;
    bool detectLanguage;
    int workers;
  };
  const std::vector<Case> cases = {
      {"no prefill, detect not given", {.usePrefillPrompt = false}, true, 16},
      {"no prefill, detect false", {.usePrefillPrompt = false, .detectLanguage = false}, false, 16},
      {"prefill, detect true", {.usePrefillPrompt = true, .detectLanguage = true}, true, 16},
      {"workers 0 stays 0", {.concurrentWorkerCount = 0}, false, 0},
      {"workers 3", {.concurrentWorkerCount = 3}, false, 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const DecodingOptions o(c.arguments);
    EXPECT_EQ(o.detectLanguage, c.detectLanguage);
    EXPECT_EQ(o.concurrentWorkerCount, c.workers);
  }
  const DecodingOptions withTokens({.suppressTokens = std::vector<int>{1, 2}});
  EXPECT_EQ(withTokens.suppressTokens, (std::vector<int>{1, 2}));
}

TEST(DecodingOptionsTest, DefaultDocumentHasTwentyOneKeysInFieldOrder) {
  const Json document = DecodingOptions().toJson();
  const std::vector<std::string> expected = {"verbose",
                                             "task",
                                             "temperature",
                                             "temperatureIncrementOnFallback",
                                             "temperatureFallbackCount",
                                             "sampleLength",
                                             "topK",
                                             "usePrefillPrompt",
                                             "detectLanguage",
                                             "skipSpecialTokens",
                                             "withoutTimestamps",
                                             "wordTimestamps",
                                             "clipTimestamps",
                                             "windowClipTime",
                                             "suppressBlank",
                                             "suppressTokens",
                                             "compressionRatioThreshold",
                                             "logProbThreshold",
                                             "firstTokenLogProbThreshold",
                                             "noSpeechThreshold",
                                             "concurrentWorkerCount"};
  EXPECT_EQ(keysOf(document), expected);
  // Floats are written in their shortest single-precision form.
  EXPECT_EQ(document.dump(),
            R"({"verbose":false,"task":{"transcribe":{}},"temperature":0.0,)"
            R"("temperatureIncrementOnFallback":0.2,"temperatureFallbackCount":5,)"
            R"("sampleLength":224,"topK":5,"usePrefillPrompt":true,"detectLanguage":false,)"
            R"("skipSpecialTokens":false,"withoutTimestamps":false,"wordTimestamps":false,)"
            R"("clipTimestamps":[],"windowClipTime":1.0,"suppressBlank":false,)"
            R"("suppressTokens":[],"compressionRatioThreshold":2.4,"logProbThreshold":-1.0,)"
            R"("firstTokenLogProbThreshold":-1.5,"noSpeechThreshold":0.6,)"
            R"("concurrentWorkerCount":16})");
}

TEST(DecodingOptionsTest, EveryFieldSurvivesARoundTrip) {
  const DecodingOptions full({.verbose = true,
                              .task = DecodingTask::translate,
                              .language = "de",
                              .temperature = 0.3f,
                              .temperatureIncrementOnFallback = 0.1f,
                              .temperatureFallbackCount = 2,
                              .sampleLength = 100,
                              .topK = -1,
                              .usePrefillPrompt = false,
                              .detectLanguage = false,
                              .skipSpecialTokens = true,
                              .withoutTimestamps = true,
                              .wordTimestamps = true,
                              .maxInitialTimestamp = 1.1f,
                              .maxWindowSeek = 48000,
                              .clipTimestamps = {0.1f, 2.7f, 3.3f},
                              .windowClipTime = 0.7f,
                              .promptTokens = std::vector<int>{},
                              .prefixTokens = std::vector<int>{50364, 7},
                              .suppressBlank = true,
                              .suppressTokens = std::vector<int>{220, 50257},
                              .compressionRatioThreshold = std::nullopt,
                              .logProbThreshold = 0.0f,
                              .firstTokenLogProbThreshold = std::nullopt,
                              .noSpeechThreshold = 0.9f,
                              .concurrentWorkerCount = 0,
                              .chunkingStrategy = ChunkingStrategy::vad});
  for (const auto &options : {DecodingOptions(), full}) {
    const auto text = options.toJson().dump();
    EXPECT_EQ(DecodingOptions::fromJson(Json::parse(text)), options) << text;
  }
  const Json document = full.toJson();
  EXPECT_FALSE(document.contains("compressionRatioThreshold"));
  EXPECT_EQ(document["task"].dump(), R"({"translate":{}})");
  EXPECT_EQ(document["chunkingStrategy"], "vad");
  EXPECT_EQ(document["promptTokens"].dump(), "[]");
}

TEST(DecodingOptionsTest, OptionalKeysTakeTheirFieldPlaces) {
  const DecodingOptions options({.language = "en",
                                 .maxInitialTimestamp = 1.0f,
                                 .maxWindowSeek = 10,
                                 .promptTokens = std::vector<int>{1},
                                 .prefixTokens = std::vector<int>{2},
                                 .chunkingStrategy = ChunkingStrategy::none});
  const std::vector<std::string> expected = {"verbose",
                                             "task",
                                             "language",
                                             "temperature",
                                             "temperatureIncrementOnFallback",
                                             "temperatureFallbackCount",
                                             "sampleLength",
                                             "topK",
                                             "usePrefillPrompt",
                                             "detectLanguage",
                                             "skipSpecialTokens",
                                             "withoutTimestamps",
                                             "wordTimestamps",
                                             "maxInitialTimestamp",
                                             "maxWindowSeek",
                                             "clipTimestamps",
                                             "windowClipTime",
                                             "promptTokens",
                                             "prefixTokens",
                                             "suppressBlank",
                                             "suppressTokens",
                                             "compressionRatioThreshold",
                                             "logProbThreshold",
                                             "firstTokenLogProbThreshold",
                                             "noSpeechThreshold",
                                             "concurrentWorkerCount",
                                             "chunkingStrategy"};
  const Json document = options.toJson();
  EXPECT_EQ(keysOf(document), expected);
  EXPECT_EQ(document["chunkingStrategy"], "none");
  EXPECT_EQ(DecodingOptions::fromJson(document), options);
}

TEST(DecodingOptionsTest, StrictDecodingNamesTheFailingKey) {
  struct Case {
    const char *name;
    std::string key;   // replaced or removed key
    std::string value; // JSON text; empty removes the key
    JsonDecodingError::Kind kind;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"missing worker count", "concurrentWorkerCount", "", JsonDecodingError::Kind::keyNotFound,
       "concurrentWorkerCount"},
      {"missing detectLanguage", "detectLanguage", "", JsonDecodingError::Kind::keyNotFound,
       "detectLanguage"},
      {"missing suppressTokens", "suppressTokens", "", JsonDecodingError::Kind::keyNotFound,
       "suppressTokens"},
      {"null plain field", "topK", "null", JsonDecodingError::Kind::valueNotFound, "topK"},
      {"string for a bool", "verbose", "\"yes\"", JsonDecodingError::Kind::typeMismatch, "verbose"},
      {"fraction for an int", "sampleLength", "2.5", JsonDecodingError::Kind::dataCorrupted,
       "sampleLength"},
      {"empty task", "task", "{}", JsonDecodingError::Kind::typeMismatch, "task"},
      {"two-key task", "task", R"({"transcribe":{},"translate":{}})",
       JsonDecodingError::Kind::typeMismatch, "task"},
      {"bare task text", "task", "\"translate\"", JsonDecodingError::Kind::typeMismatch, "task"},
      {"task payload not an object", "task", R"({"translate":1})",
       JsonDecodingError::Kind::typeMismatch, "task.translate"},
      {"capital VAD", "chunkingStrategy", "\"VAD\"", JsonDecodingError::Kind::dataCorrupted,
       "chunkingStrategy"},
      {"string in a token list", "suppressTokens", R"([1,"2"])",
       JsonDecodingError::Kind::typeMismatch, "suppressTokens[1]"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Json document = DecodingOptions().toJson();
    if (c.value.empty()) {
      document.erase(c.key);
    } else {
      document[c.key] = Json::parse(c.value);
    }
    try {
      DecodingOptions::fromJson(document);
      ADD_FAILURE() << "decoded";
    } catch (const JsonDecodingError &e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
      EXPECT_EQ(e.codingPath(), c.path) << e.what();
      if (c.kind == JsonDecodingError::Kind::keyNotFound) {
        EXPECT_NE(std::string(e.what()).find(c.key), std::string::npos) << e.what();
      }
    }
  }
  Json twoKeys = DecodingOptions().toJson();
  twoKeys["task"] = Json::parse(R"({"transcribe":{},"translate":{}})");
  try {
    DecodingOptions::fromJson(twoKeys);
    ADD_FAILURE() << "decoded";
  } catch (const JsonDecodingError &e) {
    EXPECT_STREQ(e.what(), "Invalid number of keys found, expected one.");
  }
}

TEST(DecodingOptionsTest, OptionalFieldsMayBeNullOrMissingAndExtrasAreIgnored) {
  Json document = DecodingOptions().toJson();
  document["language"] = nullptr;
  document["noSpeechThreshold"] = nullptr;
  document.erase("logProbThreshold");
  document["somethingElse"] = 3;
  document["task"] = Json::parse(R"({"translate":{"ignored":true},"other":1})");
  document["chunkingStrategy"] = "vad";
  const auto o = DecodingOptions::fromJson(document);
  EXPECT_FALSE(o.language.has_value());
  // An absent threshold switches its test off; it is not the default.
  EXPECT_FALSE(o.noSpeechThreshold.has_value());
  EXPECT_FALSE(o.logProbThreshold.has_value());
  EXPECT_EQ(o.task, DecodingTask::translate);
  EXPECT_EQ(o.chunkingStrategy, ChunkingStrategy::vad);
}

TEST(DecodingOptionsTest, WritingANonFiniteNumberFails) {
  DecodingOptions o;
  o.temperature = std::numeric_limits<float>::quiet_NaN();
  try {
    o.toJson();
    ADD_FAILURE() << "written";
  } catch (const JsonEncodingError &e) {
    EXPECT_EQ(e.codingPath(), "temperature");
    EXPECT_NE(std::string(e.what()).find("nan"), std::string::npos) << e.what();
  }
}

TEST(DecodingOptionsTest, SeekClipRanges) {
  struct Case {
    std::vector<float> clips;
    std::vector<std::pair<int, int>> ranges;
  };
  const int total = 480000;
  const std::vector<Case> cases = {
      {{}, {{0, total}}},
      {{1.5f}, {{24000, total}}},
      {{1.0f, 2.0f, 3.0f}, {{16000, 32000}, {48000, total}}},
      {{0.1f, 0.2f}, {{1600, 3200}}},
      {{5.0f, 1.0f}, {{80000, 16000}}}, // no ordering check
      {{std::numeric_limits<float>::quiet_NaN(), 1e30f},
       {{0, std::numeric_limits<int>::max()}}}, // saturated, never undefined
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.clips));
    DecodingOptions o;
    o.clipTimestamps = c.clips;
    EXPECT_EQ(o.seekClipRanges(total), c.ranges);
  }
}

TEST(DecodingOptionsTest, EnumerationTexts) {
  EXPECT_EQ(description(DecodingTask::transcribe), "transcribe");
  EXPECT_EQ(description(DecodingTask::translate), "translate");
  EXPECT_EQ(chunkingStrategyFromRawValue("vad"), ChunkingStrategy::vad);
  EXPECT_EQ(chunkingStrategyFromRawValue("none"), ChunkingStrategy::none);
  EXPECT_FALSE(chunkingStrategyFromRawValue("VAD").has_value());
  EXPECT_FALSE(chunkingStrategyFromRawValue("").has_value());
}

} // namespace
} // namespace divuvovize
