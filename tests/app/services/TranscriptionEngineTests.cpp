#include "app/services/TranscriptionEngine.hpp"

#include "platform/system/CancellationScope.hpp"
#include "platform/system/ManualExecutor.hpp"
#include "tests/app/FakeSpeechModule.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

namespace murmurquill {
namespace {

using Kind = TranscriptionEngine::LoadingPhase::Kind;
using ErrorKind = TranscriptionEngine::EngineError::Kind;

std::string describe(const std::exception_ptr &error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception &caught) {
    return caught.what();
  }
}

class TranscriptionEngineTest : public ::testing::Test {
protected:
  platform::Environment environment() const {
    return platform::Environment({{"XDG_DATA_HOME", temp.path().string()}}, temp.path());
  }

  // Loads and returns the phases reported and the completion's error text ("" on success).
  std::pair<std::vector<TranscriptionEngine::LoadingPhase>, std::string> load() {
    std::vector<TranscriptionEngine::LoadingPhase> phases;
    std::optional<std::string> outcome;
    engine->load(
        "openai_whisper-base.en",
        [&](const TranscriptionEngine::LoadingPhase &phase) { phases.push_back(phase); },
        [&](std::exception_ptr error) { outcome = error ? describe(error) : ""; });
    main->runUntilIdle();
    EXPECT_TRUE(outcome);
    return {phases, outcome.value_or("<none>")};
  }

  std::pair<std::string, std::string> transcribe(std::size_t samples) {
    std::optional<std::pair<std::string, std::string>> outcome;
    engine->transcribe(std::vector<float>(samples, 0.1f),
                       [&](std::string text, std::exception_ptr error) {
                         outcome.emplace(text, error ? describe(error) : "");
                       });
    EXPECT_FALSE(outcome) << "completions come back through the main executor";
    main->runUntilIdle();
    EXPECT_TRUE(outcome);
    return outcome.value_or(std::pair<std::string, std::string>{"<none>", "<none>"});
  }

  mqtest::TempDir temp;
  std::shared_ptr<testing::FakeSpeechModule> module = std::make_shared<testing::FakeSpeechModule>();
  std::shared_ptr<platform::ManualExecutor> main = std::make_shared<platform::ManualExecutor>();
  std::shared_ptr<TranscriptionEngine> engine =
      TranscriptionEngine::make(module, environment(), main, main);
};

TEST_F(TranscriptionEngineTest, LoadReportsItsPhasesAndBuildsTheEngineOnTheDownloadedFolder) {
  module->reports = {{0.25, 1, 4, 30.0}, {1.0, 4, 4, std::nullopt}};
  const auto [phases, error] = load();
  EXPECT_EQ(error, "");
  ASSERT_EQ(phases.size(), 5u);
  EXPECT_EQ(phases[0].kind, Kind::preparing);
  EXPECT_EQ(phases[1], (TranscriptionEngine::LoadingPhase{Kind::downloading, 0.25, 1, 4, 30.0}));
  EXPECT_EQ(phases[2], (TranscriptionEngine::LoadingPhase{Kind::downloading, 1.0, 4, 4, {}}));
  EXPECT_EQ(phases[3].kind, Kind::initializing);
  EXPECT_EQ(phases[4].kind, Kind::ready);
  EXPECT_TRUE(engine->isReady());

  const auto folder = temp.path() / "Murmurquill";
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(module->downloads, (std::vector<std::string>{"openai_whisper-base.en"}));
  ASSERT_EQ(module->configs.size(), 1u);
  const auto &config = module->configs[0];
  EXPECT_EQ(config.modelFolder, (folder / "openai_whisper-base.en").string());
  EXPECT_FALSE(config.model);
  EXPECT_FALSE(config.downloadBase);
  EXPECT_FALSE(config.modelRepo);
  EXPECT_FALSE(config.tokenizerFolder);
  EXPECT_FALSE(config.computeOptions);
  EXPECT_FALSE(config.verbose);
  EXPECT_EQ(config.logLevel, deduve::Logging::LogLevel::info);
  EXPECT_EQ(config.prewarm, true);
  EXPECT_FALSE(config.load);
  EXPECT_TRUE(config.download);
  EXPECT_FALSE(config.useBackgroundDownloadSession);
}

TEST_F(TranscriptionEngineTest, PhasesRankInDeclarationOrder) {
  EXPECT_EQ(TranscriptionEngine::LoadingPhase::of(Kind::idle).ordinal(), 0);
  EXPECT_EQ(TranscriptionEngine::LoadingPhase::of(Kind::preparing).ordinal(), 1);
  EXPECT_EQ(TranscriptionEngine::LoadingPhase::of(Kind::downloading).ordinal(), 2);
  EXPECT_EQ(TranscriptionEngine::LoadingPhase::of(Kind::initializing).ordinal(), 3);
  EXPECT_EQ(TranscriptionEngine::LoadingPhase::of(Kind::ready).ordinal(), 4);
}

TEST_F(TranscriptionEngineTest, FailedDownloadOrBuildIsALoadFailure) {
  module->downloadError = "offline";
  auto [phases, error] = load();
  EXPECT_EQ(error, "Failed to load Whisper model: offline");
  EXPECT_EQ(phases.back().kind, Kind::preparing);
  EXPECT_FALSE(engine->isReady());
  EXPECT_TRUE(module->configs.empty());

  module->downloadError.reset();
  module->buildError = "TextDecoder.mlmodelc missing";
  std::tie(phases, error) = load();
  EXPECT_EQ(error, "Failed to load Whisper model: TextDecoder.mlmodelc missing");
  EXPECT_EQ(phases.back().kind, Kind::initializing);
  EXPECT_FALSE(engine->isReady());
  EXPECT_EQ(transcribe(16000).second, "Transcription engine is still loading.");

  module->buildError.reset();
  EXPECT_EQ(load().second, "");
  EXPECT_TRUE(engine->isReady());
}

TEST_F(TranscriptionEngineTest, ASecondLoadWalksEveryStepAndReplacesTheEngine) {
  load();
  const auto first = module->engine;
  const auto [phases, error] = load();
  EXPECT_EQ(phases.front().kind, Kind::preparing);
  EXPECT_EQ(module->downloads.size(), 2u);
  EXPECT_NE(module->engine, first);
  transcribe(1600);
  EXPECT_TRUE(first->takes.empty());
  EXPECT_EQ(module->engine->takes.size(), 1u);
}

TEST_F(TranscriptionEngineTest, TranscribeBeforeLoadIsNotReady) {
  const auto [text, error] = transcribe(16000);
  EXPECT_EQ(text, "");
  EXPECT_EQ(error, "Transcription engine is still loading.");
}

TEST_F(TranscriptionEngineTest, TakesUnderATenthOfASecondNeverReachTheEngine) {
  load();
  EXPECT_EQ(transcribe(1599), (std::pair<std::string, std::string>{"", ""}));
  EXPECT_TRUE(module->engine->takes.empty());
  EXPECT_EQ(transcribe(1600), (std::pair<std::string, std::string>{"Hello world.", ""}));
  EXPECT_EQ(module->engine->takes, (std::vector<std::size_t>{1600}));
}

TEST_F(TranscriptionEngineTest, ResultsJoinWithOneSpaceAndTrimOnlyTheEnds) {
  load();
  module->engine->texts = {" One.", " Two. \n"};
  EXPECT_EQ(transcribe(2000).first, "One.  Two.");
  module->engine->texts = {};
  EXPECT_EQ(transcribe(2000).first, "");
}

TEST_F(TranscriptionEngineTest, EngineErrorsAreTranscriptionFailures) {
  load();
  module->engine->error = "decoder exploded";
  const auto [text, error] = transcribe(2000);
  EXPECT_EQ(text, "");
  EXPECT_EQ(error, "Transcription failed: decoder exploded");
}

TEST_F(TranscriptionEngineTest, TheDictationDecodesWithItsFixedOptions) {
  load();
  transcribe(2000);
  ASSERT_TRUE(module->engine->lastOptions);
  const auto &options = *module->engine->lastOptions;
  EXPECT_EQ(&TranscriptionEngine::dictationDecodingOptions(),
            &TranscriptionEngine::dictationDecodingOptions());
  EXPECT_EQ(options, TranscriptionEngine::dictationDecodingOptions());
  EXPECT_FALSE(options.verbose);
  EXPECT_EQ(options.task, divuvovize::DecodingTask::transcribe);
  EXPECT_EQ(options.language, "en");
  EXPECT_EQ(options.temperature, 0.0f);
  EXPECT_EQ(options.temperatureIncrementOnFallback, 0.2f);
  EXPECT_EQ(options.temperatureFallbackCount, 0);
  EXPECT_EQ(options.sampleLength, 224);
  EXPECT_EQ(options.topK, 5);
  EXPECT_TRUE(options.usePrefillPrompt);
  EXPECT_FALSE(options.detectLanguage);
  EXPECT_TRUE(options.skipSpecialTokens);
  EXPECT_TRUE(options.withoutTimestamps);
  EXPECT_FALSE(options.wordTimestamps);
  EXPECT_FALSE(options.maxInitialTimestamp);
  EXPECT_FALSE(options.maxWindowSeek);
  EXPECT_TRUE(options.clipTimestamps.empty());
  EXPECT_EQ(options.windowClipTime, 1.0f);
  EXPECT_FALSE(options.promptTokens);
  EXPECT_FALSE(options.prefixTokens);
  EXPECT_FALSE(options.suppressBlank);
  EXPECT_TRUE(options.suppressTokens.empty());
  EXPECT_EQ(options.compressionRatioThreshold, 2.4f);
  EXPECT_EQ(options.logProbThreshold, -1.0f);
  EXPECT_EQ(options.firstTokenLogProbThreshold, -1.5f);
  EXPECT_EQ(options.noSpeechThreshold, 0.6f);
  EXPECT_EQ(options.concurrentWorkerCount, 16);
  EXPECT_FALSE(options.chunkingStrategy);
}

TEST_F(TranscriptionEngineTest, ModelFolderIsCreatedUnderApplicationSupport) {
  const auto folder = TranscriptionEngine::modelFolder(environment());
  EXPECT_EQ(folder, temp.path() / "Murmurquill");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  // Computing it again (the folder exists) is fine.
  EXPECT_EQ(TranscriptionEngine::modelFolder(environment()), folder);
}

} // namespace
} // namespace murmurquill

namespace murmurquill {
namespace {

// A module that notes the cancellation its blocking calls run under.
class TokenRecordingModule final : public SpeechModule {
public:
  std::filesystem::path download(const std::string &, const std::filesystem::path &base,
                                 const ProgressCallback &) override {
    downloadToken = platform::Task::currentToken();
    return base;
  }
  std::shared_ptr<SpeechEngine> makeEngine(const divuvovize::DivuvovIzeConfig &) override {
    buildToken = platform::Task::currentToken();
    return std::make_shared<testing::FakeSpeechEngine>();
  }
  std::optional<platform::CancellationToken> downloadToken;
  std::optional<platform::CancellationToken> buildToken;
};

// A load takes minutes on a large model: once nobody waits for it (the app quits), the work
// under way is cancelled, so it stops between its steps instead of running to its end.
TEST(TranscriptionEngineLifetimeTest, ALoadOutlivingTheEngineIsCancelled) {
  mqtest::TempDir temp;
  auto module = std::make_shared<TokenRecordingModule>();
  auto main = std::make_shared<platform::ManualExecutor>();
  auto engine = TranscriptionEngine::make(
      module, platform::Environment({{"XDG_DATA_HOME", temp.path().string()}}, temp.path()), main,
      main);
  engine->load("openai_whisper-base.en", nullptr, nullptr);
  main->runUntilIdle();
  ASSERT_TRUE(module->downloadToken && module->buildToken)
      << "the load's blocking calls run under a cancellation of the engine's";
  EXPECT_FALSE(module->buildToken->isCancelled());
  engine.reset();
  EXPECT_TRUE(module->downloadToken->isCancelled());
  EXPECT_TRUE(module->buildToken->isCancelled());
}

} // namespace
} // namespace murmurquill
