#include "DivuvovIze/Logging/Signposts.hpp"
#include "DivuvovIze/Models/Constants.hpp"
#include "DivuvovIze/Models/DivuvovIzeConfig.hpp"
#include "DivuvovIze/Models/ModelState.hpp"
#include "DivuvovIze/Models/TranscriptionTimings.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeduveCore/Hub/HubApi.hpp"
#include "DeduveCore/Support/Logging.hpp"

namespace divuvovize {
namespace {

TEST(WhisperErrorTest, EqualityComparesCaseAndExactMessage) {
  using E = WhisperError;
  EXPECT_EQ(E::transcriptionFailed("Audio samples are nil"),
            E::transcriptionFailed("Audio samples are nil"));
  EXPECT_NE(E::transcriptionFailed("Decoding failed"), E::decodingFailed("Decoding failed"));
  EXPECT_NE(E::transcriptionFailed("Mel output is nil"),
            E::transcriptionFailed("mel output is nil"));
  EXPECT_STREQ(E::modelsUnavailable("Models are unavailable").what(), "Models are unavailable");
  EXPECT_EQ(E::segmentingFailed("x").errorCase(), E::Case::segmentingFailed);
  EXPECT_EQ(static_cast<int>(E::Case::initializationError), 10);
}

TEST(WhisperErrorTest, ErrorDescriptionLogsOncePerRead) {
  std::vector<std::string> lines;
  deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::error);
  deduve::Logging::updateCallback([&lines](const std::string &line) { lines.push_back(line); });
  const auto error = WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
  EXPECT_EQ(error.errorDescription(), std::optional<std::string>("Tokenizer is unavailable"));
  EXPECT_EQ(error.errorDescription(), std::optional<std::string>("Tokenizer is unavailable"));
  (void)error.what(); // what() has no side effect
  deduve::Logging::updateLogLevel(deduve::Logging::LogLevel::none);
  (void)error.errorDescription(); // silent at level none
  deduve::Logging::updateCallback(nullptr);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Tokenizer is unavailable", "Tokenizer is unavailable"}));
}

TEST(SignpostsTest, IntervalsPairAndADoubleEndIsReported) {
  Signposter signposter(std::string(Signposter::engineSubsystem), "TestCategory");
  std::vector<SignpostEvent> events;
  // Disabled: nothing is emitted and ending still works.
  auto quiet = beginSignpostInterval("Decode", signposter);
  endSignpostInterval("Decode", quiet);
  signposter.setHook([&events](const SignpostEvent &event) { events.push_back(event); });
  const auto first = beginSignpostInterval("EncodeAudio", signposter);
  const auto second = beginSignpostInterval("EncodeAudio", signposter);
  endSignpostInterval("EncodeAudio", first);
  endSignpostInterval("EncodeAudio", first);
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].kind, SignpostEvent::Kind::begin);
  EXPECT_NE(events[0].id, events[1].id);
  EXPECT_EQ(events[2].kind, SignpostEvent::Kind::end);
  EXPECT_EQ(events[2].id, first.id());
  EXPECT_EQ(events[2].message, "");
  EXPECT_EQ(events[3].message, "[Error] Interval already ended");
  EXPECT_TRUE(first.hasEnded());
  EXPECT_FALSE(second.hasEnded());
  EXPECT_EQ(Signposter::engineSubsystem, "com.divuvovize.engine");
  for (const Signposter *shared : {&Signposter::audioEncoding(), &Signposter::featureExtractor(),
                                   &Signposter::transcribeTask()}) {
    EXPECT_EQ(shared->subsystem(), Signposter::engineSubsystem);
  }
  EXPECT_EQ(Signposter::audioEncoding().category(), "AudioEncoding");
  EXPECT_EQ(Signposter::featureExtractor().category(), "FeatureExtractor");
  EXPECT_EQ(Signposter::transcribeTask().category(), "TranscribeTask");
  EXPECT_EQ(&Signposter::audioEncoding(), &Signposter::audioEncoding());
}

TEST(ModelStateTest, DescriptionsAndBusyStates) {
  struct Case {
    ModelState state;
    const char *text;
    bool busy;
  };
  const std::vector<Case> cases = {
      {ModelState::unloading, "Unloading", true},     {ModelState::unloaded, "Unloaded", false},
      {ModelState::loading, "Loading", true},         {ModelState::loaded, "Loaded", false},
      {ModelState::prewarming, "Specializing", true}, {ModelState::prewarmed, "Specialized", false},
      {ModelState::downloading, "Downloading", true}, {ModelState::downloaded, "Downloaded", false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(description(c.state), c.text);
    EXPECT_EQ(isBusy(c.state), c.busy) << c.text;
  }
  EXPECT_EQ(description(TranscriptionState::convertingAudio), "Converting Audio");
}

TEST(ConstantsTest, LanguageTableAndFixedValues) {
  EXPECT_EQ(Constants::languages().size(), 112u);
  EXPECT_EQ(Constants::languageCodes().size(), 100u);
  EXPECT_EQ(Constants::languages().at("mandarin"), "zh");
  EXPECT_EQ(Constants::languages().at("haitian creole"), "ht");
  EXPECT_EQ(Constants::languageCodes().count("haw"), 1u);
  // The hub client's own default endpoint.
  EXPECT_EQ(Constants::defaultRemoteEndpoint(), "https://huggingface.co");
  EXPECT_EQ(Constants::defaultRemoteEndpoint(), deduve::HubApi::kDefaultEndpoint);
  EXPECT_EQ(Constants::defaultRemoteConfigName, "config.json");
  // 9 and 17 characters, as UTF-8.
  EXPECT_EQ(Constants::defaultPrependPunctuations, "\"'\u201C\u00A1\u00BF([{-");
  EXPECT_EQ(Constants::defaultAppendPunctuations,
            "\"'.\u3002,\uFF0C!\uFF01?\uFF1F:\uFF1A\u201D)]}\u3001");
}

TEST(DivuvovIzeConfigTest, StoresWhatItIsGiven) {
  const ModelComputeOptions options(platform::MLComputeUnits::cpuOnly, std::nullopt,
                                    platform::MLComputeUnits::all);
  EXPECT_EQ(options.melCompute, platform::MLComputeUnits::cpuOnly);
  EXPECT_EQ(options.audioEncoderCompute, platform::MLComputeUnits::cpuAndNeuralEngine);
  EXPECT_EQ(options.textDecoderCompute, platform::MLComputeUnits::all);

  const DivuvovIzeConfig empty;
  EXPECT_FALSE(empty.model || empty.modelFolder || empty.computeOptions || empty.prewarm ||
               empty.load || empty.logitsFilters);
  EXPECT_EQ(empty.audioProcessor, nullptr);
  const DivuvovIzeConfig config({.modelFolder = "/models/base",
                                 .computeOptions = options,
                                 .verbose = true,
                                 .logLevel = deduve::Logging::LogLevel::info,
                                 .prewarm = false,
                                 .download = true});
  EXPECT_EQ(config.modelFolder, std::optional<std::string>("/models/base"));
  EXPECT_EQ(config.computeOptions, std::optional<ModelComputeOptions>(options));
  EXPECT_EQ(config.prewarm, std::optional<bool>(false)); // false is not absent
  EXPECT_FALSE(config.load.has_value());
  EXPECT_TRUE(config.download);
  EXPECT_EQ(config.logLevel, deduve::Logging::LogLevel::info);
}

} // namespace
} // namespace divuvovize
