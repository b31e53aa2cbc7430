#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizer.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/DivuvovIze/Decoding/SpeechTokenizerFixture.hpp"
#include "tests/DivuvovIze/Pipeline/FacadeFixture.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/TestHub.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

namespace fs = std::filesystem;
using deduve::ModelState;
using divuvovize::DecodingOptions;
using divuvovize::DivuvovIze;
using divuvovize::DivuvovIzeConfig;
using divuvovize::TranscriptionState;
using divuvovize::WhisperError;
using mqtest::TempDir;
using platform::runner::TestModelOptions;
using namespace facadetest;

TEST_F(FacadeTest, LoadsFromTheFolderWithItsTokenizerAndReportsEveryState) {
  const fs::path folder = writeModelFolder(temp);
  DivuvovIze engine(configFor(folder));
  EXPECT_EQ(engine.modelState(), ModelState::unloaded);
  std::vector<std::pair<std::optional<ModelState>, ModelState>> states;
  engine.modelStateCallback = [&](std::optional<ModelState> from, ModelState to) {
    states.emplace_back(from, to);
  };
  engine.prewarmModels();
  engine.loadModels();
  EXPECT_EQ(states, (std::vector<std::pair<std::optional<ModelState>, ModelState>>{
                        {ModelState::unloaded, ModelState::prewarming},
                        {ModelState::prewarming, ModelState::prewarmed},
                        {ModelState::prewarmed, ModelState::loading},
                        {ModelState::loading, ModelState::loaded}}));
  ASSERT_NE(engine.tokenizer(), nullptr);
  EXPECT_EQ(engine.modelVariant(), divuvovize::ModelVariant::baseEn);
  EXPECT_FALSE(engine.textDecoder->isModelMultilingual());
  EXPECT_GT(engine.currentTimings().prewarmLoadTime, 0.0);
  EXPECT_GE(engine.currentTimings().modelLoading, engine.currentTimings().prewarmLoadTime);

  states.clear();
  engine.unloadModels();
  EXPECT_EQ(states.size(), 2u);
  EXPECT_NE(engine.tokenizer(), nullptr); // kept for the next load
}

TEST_F(FacadeTest, MissingFolderAndMissingModelFilesAreModelsUnavailable) {
  DivuvovIzeConfig noFolder;
  noFolder.tokenizerFolder = temp / "hub";
  DivuvovIze engine(noFolder);
  try {
    engine.loadModels();
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_EQ(std::string(error.what()), "Model folder is not set.");
  }
  EXPECT_EQ(engine.modelState(), ModelState::loading);

  fs::create_directories(temp / "empty");
  try {
    DivuvovIze fromEmpty(configFor(temp / "empty", /*load=*/std::nullopt));
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), WhisperError::Case::modelsUnavailable);
    EXPECT_EQ(std::string(error.what()),
              "Model file not found at " + (temp / "empty/MelSpectrogram.mlmodelc").string());
  }
}

TEST_F(FacadeTest, TranscribesABufferThroughTheWholePipeline) {
  DivuvovIze engine(configFor(writeModelFolder(temp)));
  int segmentCalls = 0;
  const auto results =
      engine.transcribe(tone(2.0), shortOptions(), nullptr, [&](const auto &) { ++segmentCalls; });
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->text(), kScriptedText);
  EXPECT_EQ(engine.modelState(), ModelState::loaded); // loaded on demand
  EXPECT_EQ(segmentCalls, 1);
}

// 488,000 samples, half a second past one window: chunked by voice activity they are
// transcribed as the whole buffer is, in one result, with no empty one for the last half second.
TEST_F(FacadeTest, VoiceActivityChunksTranscribeTheEndAsTheWholeBufferDoes) {
  DivuvovIze engine(configFor(writeModelFolder(temp)));
  const std::vector<float> speech = tone(30.5);
  const auto whole = engine.transcribe(speech, shortOptions());
  DecodingOptions chunking = shortOptions();
  chunking.chunkingStrategy = divuvovize::ChunkingStrategy::vad;
  const auto chunked = engine.transcribe(speech, chunking);
  ASSERT_EQ(whole.size(), 1u);
  ASSERT_EQ(chunked.size(), 1u);
  const auto expected = whole[0]->segments();
  const auto segments = chunked[0]->segments();
  ASSERT_EQ(segments.size(), expected.size());
  ASSERT_FALSE(segments.empty());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    EXPECT_EQ(segments[i].text, expected[i].text) << i;
    EXPECT_EQ(segments[i].seek, expected[i].seek) << i;
    EXPECT_FLOAT_EQ(segments[i].start, expected[i].start) << i;
    EXPECT_FLOAT_EQ(segments[i].end, expected[i].end) << i;
  }
}

TEST_F(FacadeTest, FileTranscriptionReportsItsPhases) {
  DivuvovIze engine(configFor(writeModelFolder(temp)));
  std::vector<TranscriptionState> phases;
  engine.transcriptionStateCallback = [&](TranscriptionState s) { phases.push_back(s); };
  try {
    engine.transcribe((temp / "missing.wav").string(), shortOptions());
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.errorCase(), WhisperError::Case::loadAudioFailed);
  }
  EXPECT_EQ(phases, std::vector<TranscriptionState>{TranscriptionState::convertingAudio});

  // Stereo at 44.1 kHz: loaded as 16 kHz mono first.
  audiotest::writeFile(temp / "take.wav", {.sampleRate = 44100, .channelCount = 2}, 66150,
                       audiotest::sine(440, 44100, 0.3));
  phases.clear();
  const auto results = engine.transcribe((temp / "take.wav").string(), shortOptions());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->text(), kScriptedText);
  EXPECT_EQ(phases, (std::vector<TranscriptionState>{TranscriptionState::convertingAudio,
                                                     TranscriptionState::transcribing,
                                                     TranscriptionState::finished}));
}

TEST_F(FacadeTest, BatchesKeepInputOrder) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  DecodingOptions options = shortOptions();
  options.concurrentWorkerCount = 2;
  std::vector<std::vector<float>> buffers = {tone(2.0), tone(1.5), tone(3.0)};
  const auto outcomes = engine.transcribeWithResults(buffers, options);
  ASSERT_EQ(outcomes.size(), 3u);
  // The texts are alike; each result's audio length tells which buffer it came from.
  const std::vector<double> seconds = {2.0, 1.5, 3.0};
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const auto *results = std::get_if<DivuvovIze::Results>(&outcomes[i]);
    ASSERT_NE(results, nullptr);
    ASSERT_EQ(results->size(), 1u);
    EXPECT_EQ((*results)[0]->text(), kScriptedText);
    EXPECT_DOUBLE_EQ((*results)[0]->timings().inputAudioSeconds, seconds[i]) << i;
  }
}

TEST_F(FacadeTest, ACheckpointFolderIsImportedOnceAndLoaded) {
  const fs::path folder = writeModelFolder(temp, "checkpoint", /*checkpoint=*/true);
  DivuvovIze engine(configFor(folder, /*load=*/true));
  EXPECT_EQ(engine.modelState(), ModelState::loaded);
  EXPECT_TRUE(fs::exists(temp / "checkpoint.imported/TextDecoder.mlmodelc/model.json"));
  const auto results = engine.transcribe(tone(2.0), shortOptions());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->text(), kScriptedText);
}

TEST_F(FacadeTest, LanguageDetectionNeedsAMultilingualModel) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  try {
    engine.detectLangauge(tone(1.0));
    FAIL();
  } catch (const WhisperError &error) {
    EXPECT_EQ(std::string(error.what()), "Language detection not supported for this model");
  }
}

// A multilingual model (51865 logits) with the small multilingual tokenizer beside it. Its
// decoder favours " Hello" above every language and French above German: detection must choose
// among language tags only.
constexpr std::size_t kFrench = 50265;     // "<|fr|>" in the multilingual vocabulary
constexpr std::size_t kGerman = 50261;     // "<|de|>"
constexpr std::size_t kFixtureHello = 260; // " Hello" in the fixture tokenizer

TEST_F(FacadeTest, DetectsTheLanguageAMultilingualModelFavours) {
  TestModelOptions options;
  options.dimensions.vocabularySize = 51865;
  options.scriptedLogits = {{kFixtureHello, 40.0f}, {kFrench, 30.0f}, {kGerman, 28.0f}};
  const fs::path folder = temp / "multilingual";
  platform::runner::writeTestModels(folder, options);
  mqtest::writeSpeechTokenizer(folder, mqtest::SpeechVocabulary::multilingual);
  DivuvovIze engine(configFor(folder, /*load=*/true));
  ASSERT_TRUE(engine.textDecoder->isModelMultilingual());
  EXPECT_EQ(engine.modelVariant(), divuvovize::ModelVariant::base);

  const auto [language, probabilities] = engine.detectLangauge(tone(1.0));
  EXPECT_EQ(language, "fr");
  ASSERT_EQ(probabilities.count("fr"), 1u);
  // French against German two below and the other 97 tags near 0.
  EXPECT_NEAR(probabilities.at("fr"), -std::log1p(std::exp(-2.0)), 0.05);

  // As the language a transcription without one detects and decodes in.
  DecodingOptions transcription = shortOptions();
  transcription.language.reset();
  transcription.detectLanguage = true;
  const auto results = engine.transcribe(tone(2.0), transcription);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->language(), "fr");
}

// A long transcription whose decoder never ends a window is cancelled from its own progress
// callback: the very next decoder step sees the cancelled token, so no further step runs.
TEST_F(FacadeTest, CancellingStopsTheTranscriptionAtTheNextDecoderStep) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  DecodingOptions options = shortOptions();
  options.sampleLength = 224;
  options.compressionRatioThreshold.reset();
  const auto progressBefore = engine.progress();

  platform::CancellationToken token;
  const platform::CancellationScope scope(token);
  int steps = 0;
  const divuvovize::TranscriptionCallback callback =
      [&](const divuvovize::TranscriptionProgress &) -> std::optional<bool> {
    if (++steps == 5) {
      token.cancel();
    }
    return std::nullopt;
  };
  int segmentCalls = 0;
  EXPECT_THROW(
      engine.transcribe(tone(45.0), options, callback, [&](const auto &) { ++segmentCalls; }),
      platform::CancellationError);
  EXPECT_EQ(steps, 5);
  EXPECT_EQ(segmentCalls, 0);
  EXPECT_NE(engine.progress(), progressBefore) << "a cancelled transcription starts a new count";
  EXPECT_EQ(engine.modelState(), ModelState::loaded);
}

// A repository holding a published checkpoint (not the runner's model folders) is downloaded
// from the hub, imported beside the download on load and transcribed.
TEST_F(FacadeTest, ACheckpointServedByTheHubIsDownloadedImportedAndTranscribed) {
  const fs::path checkpoint = writeModelFolder(temp, "checkpoint", /*checkpoint=*/true);
  mqtest::TestHub hub(temp / "hub-root");
  const std::string repo = "owner/speech-checkpoints";
  const std::string variant = "openai_whisper-base.en";
  for (const auto &entry : fs::directory_iterator(checkpoint)) {
    hub.addFile("models", repo, variant + "/" + entry.path().filename().string(),
                TempDir::read(entry.path()));
  }
  hub.addFile("models", repo, "openai_whisper-tiny/config.json", "{}");

  DivuvovIzeConfig config;
  config.model = variant;
  config.modelRepo = repo;
  config.modelEndpoint = hub.baseUrl();
  config.downloadBase = temp / "cache";
  config.tokenizerFolder = temp / "tokenizers";
  config.download = true;
  config.load = true;
  DivuvovIze engine(config);
  const fs::path downloaded = temp / "cache/models" / repo / variant;
  EXPECT_EQ(engine.modelFolder, downloaded);
  EXPECT_EQ(engine.modelState(), ModelState::loaded);
  EXPECT_TRUE(fs::exists(downloaded / "model.safetensors"));
  EXPECT_FALSE(fs::exists(temp / "cache/models" / repo / "openai_whisper-tiny"));
  EXPECT_TRUE(
      fs::exists(fs::path(downloaded.string() + ".imported") / "TextDecoder.mlmodelc/model.json"));
  const auto results = engine.transcribe(tone(2.0), shortOptions());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0]->text(), kScriptedText);
}

} // namespace
