// The facade's list operations (batches of buffers, lists of files) and the checks of its
// single-buffer and detection roads that need a model of their own.

#include "DivuvovIze/Pipeline/DivuvovIze.hpp"

#include "DivuvovIze/Decoding/Encoder/AudioEncoding.hpp"
#include "DivuvovIze/Decoding/Tokenizer/WhisperTokenizerWrapper.hpp"
#include "DivuvovIze/Models/ModelUtilities.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "tests/DivuvovIze/Audio/AudioTestSupport.hpp"
#include "tests/DivuvovIze/Pipeline/FacadeFixture.hpp"
#include "tests/support/RefusingPort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace {

using divuvovize::DivuvovIze;
using divuvovize::TranscriptionState;
using divuvovize::WhisperError;
using namespace facadetest;

std::string failureText(const DivuvovIze::Outcome &outcome) {
  const auto *error = std::get_if<std::exception_ptr>(&outcome);
  if (error == nullptr) {
    return "(success)";
  }
  try {
    std::rethrow_exception(*error);
  } catch (const std::exception &e) {
    return e.what();
  }
}

const DivuvovIze::Results &resultsOf(const DivuvovIze::Outcome &outcome) {
  static const DivuvovIze::Results none;
  const auto *results = std::get_if<DivuvovIze::Results>(&outcome);
  EXPECT_NE(results, nullptr) << failureText(outcome);
  return results ? *results : none;
}

TEST_F(FacadeTest, MismatchedCountsGiveOneFailureAndTranscribeNothing) {
  DivuvovIze engine(configFor(temp / "no-model"));
  const std::vector<std::vector<float>> buffers(3, tone(0.5));
  struct Case {
    std::vector<std::optional<DecodingOptions>> options;
    std::optional<std::vector<int>> offsets;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{shortOptions(), shortOptions()},
       std::nullopt,
       "The number of audio arrays and decoding options must be balanced."},
      {{shortOptions(), shortOptions(), shortOptions()},
       std::vector<int>{0, 1},
       "The number of audio arrays and seek offset indexes must be balanced."},
  };
  for (const auto &c : cases) {
    const auto outcomes = engine.transcribeWithOptions(buffers, c.options, c.offsets);
    ASSERT_EQ(outcomes.size(), 1u) << c.text;
    EXPECT_EQ(failureText(outcomes[0]), c.text);
  }
  EXPECT_EQ(engine.modelState(), deduve::ModelState::unloaded) << "nothing was transcribed";
}

TEST_F(FacadeTest, BatchItemsReportTheirPositionAndTheirOwnOffsets) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  std::mutex mutex;
  std::set<int> windowIds;
  std::multiset<int> seeks;
  engine.segmentDiscoveryCallback = [&](const std::vector<divuvovize::TranscriptionSegment> &s) {
    std::lock_guard lock(mutex);
    for (const auto &segment : s) {
      seeks.insert(segment.seek);
    }
  };
  const divuvovize::TranscriptionCallback callback =
      [&](const divuvovize::TranscriptionProgress &progress) -> std::optional<bool> {
    std::lock_guard lock(mutex);
    windowIds.insert(progress.windowId);
    return std::nullopt;
  };
  DecodingOptions options = shortOptions();
  options.concurrentWorkerCount = 2;
  const std::vector<double> seconds = {1.5, 2.0, 2.5, 3.0, 3.5};
  std::vector<std::vector<float>> buffers;
  for (double s : seconds) {
    buffers.push_back(tone(s));
  }
  const std::vector<int> offsets = {100, 200, 300, 400, 500};
  const auto outcomes = engine.transcribeWithOptions(
      buffers, std::vector<std::optional<DecodingOptions>>(5, options), offsets, callback);
  ASSERT_EQ(outcomes.size(), 5u);
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const auto &results = resultsOf(outcomes[i]);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_DOUBLE_EQ(results[0]->timings().inputAudioSeconds, seconds[i]) << i;
  }
  EXPECT_EQ(windowIds, (std::set<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(seeks, (std::multiset<int>{100, 200, 300, 400, 500}));
}

// Every item goes through the single-buffer operation, so an item that asks for voice-activity
// chunking is chunked as it would be alone; and many items at once share the one progress.
TEST_F(FacadeTest, ABatchItemIsTranscribedAsItWouldBeAlone) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  DecodingOptions options = shortOptions();
  options.chunkingStrategy = divuvovize::ChunkingStrategy::vad;
  std::vector<float> speech = tone(40.0);
  std::fill(speech.begin() + 24 * 16000 + 8000, speech.begin() + 25 * 16000 + 8000, 0.0f);
  const auto alone = engine.transcribe(speech, options);
  ASSERT_EQ(alone.size(), 2u);

  const auto outcomes = engine.transcribeWithResults({speech}, options);
  ASSERT_EQ(outcomes.size(), 1u);
  const auto &batched = resultsOf(outcomes[0]);
  ASSERT_EQ(batched.size(), 2u);
  EXPECT_EQ(batched[1]->seekTime(), alone[1]->seekTime());

  const auto many = engine.transcribeWithResults(std::vector<std::vector<float>>(32, tone(0.5)),
                                                 shortOptions());
  ASSERT_EQ(many.size(), 32u);
  for (const auto &outcome : many) {
    EXPECT_EQ(resultsOf(outcome).size(), 1u);
  }
  EXPECT_GE(engine.progress()->totalUnitCount(), 0);
}

TEST_F(FacadeTest, AFileListReportsItsPhasesOnceAndKeepsEveryPath) {
  DivuvovIze engine(configFor(writeModelFolder(temp), /*load=*/true));
  std::vector<TranscriptionState> phases;
  engine.transcriptionStateCallback = [&](TranscriptionState s) { phases.push_back(s); };
  for (const char *name : {"a.wav", "c.wav"}) {
    audiotest::writeFile(temp / name, {.sampleRate = 16000, .channelCount = 1}, 16000,
                         audiotest::sine(440, 16000, 0.3));
  }
  const std::vector<std::string> paths = {(temp / "a.wav").string(), (temp / "b.wav").string(),
                                          (temp / "c.wav").string()};
  audiotest::LogCapture logs;
  const auto outcomes = engine.transcribeWithResults(paths, shortOptions());
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(resultsOf(outcomes[0]).size(), 1u);
  EXPECT_NE(failureText(outcomes[1]).find("b.wav"), std::string::npos);
  EXPECT_EQ(resultsOf(outcomes[2]).size(), 1u);
  EXPECT_EQ(phases, (std::vector<TranscriptionState>{TranscriptionState::convertingAudio,
                                                     TranscriptionState::transcribing,
                                                     TranscriptionState::finished}));
  EXPECT_EQ(logs.startingWith("Total Audio Loading and Converting Time: ").size(), 1u);
  EXPECT_GT(engine.currentTimings().audioLoading, 0.0);

  const auto answers = engine.transcribe(paths, shortOptions());
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_TRUE(answers[0].has_value());
  EXPECT_FALSE(answers[1].has_value());
  const auto buffers = engine.transcribe(std::vector<std::vector<float>>{tone(1.0)});
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_TRUE(buffers[0].has_value());
}

// Stand-ins that answer with no array, as a failed stage would.
class EmptyFeatures : public divuvovize::FeatureExtracting {
public:
  std::optional<int> melCount() const override { return 80; }
  std::optional<int> windowSamples() const override { return std::nullopt; }
  divuvovize::FeatureExtractorOutputType
  logMelSpectrogram(const divuvovize::AudioProcessorOutputType &) override {
    return {};
  }
};
class EmptyEncoder : public divuvovize::AudioEncoding {
public:
  std::optional<int> embedSize() const override { return 384; }
  divuvovize::AudioEncoderOutputType
  encodeFeatures(const divuvovize::FeatureExtractorOutputType &) override {
    return {};
  }
};

TEST_F(FacadeTest, DetectionRefusesAMissingMelOrEncoderOutput) {
  TestModelOptions model;
  model.dimensions.vocabularySize = 51865;
  const fs::path folder = temp / "multilingual";
  platform::runner::writeTestModels(folder, model);
  mqtest::writeSpeechTokenizer(folder, mqtest::SpeechVocabulary::multilingual);
  struct Case {
    bool emptyMel;
    std::string text;
  };
  for (const Case &c : {Case{true, "Mel output is nil"}, Case{false, "Encoder output is nil"}}) {
    DivuvovIzeConfig config = configFor(folder);
    if (c.emptyMel) {
      config.featureExtractor = std::make_shared<EmptyFeatures>();
    } else {
      config.audioEncoder = std::make_shared<EmptyEncoder>();
    }
    DivuvovIze engine(config);
    try {
      engine.detectLangauge(tone(1.0));
      ADD_FAILURE() << "detected";
    } catch (const WhisperError &error) {
      EXPECT_EQ(error.errorCase(), WhisperError::Case::transcriptionFailed);
      EXPECT_EQ(error.message(), c.text);
    }
  }
}

TEST_F(FacadeTest, TheTokenizerLoaderSearchesLocallyThenNamesTheHubItTried) {
  const fs::path folder = writeModelFolder(temp);
  const auto tokenizer = divuvovize::ModelUtilities::loadTokenizer(
      divuvovize::ModelVariant::baseEn, temp / "hub", {temp / "elsewhere", folder}, false);
  const auto *wrapper = dynamic_cast<divuvovize::WhisperTokenizerWrapper *>(tokenizer.get());
  ASSERT_NE(wrapper, nullptr);
  EXPECT_EQ(wrapper->tokenizerFolder(), folder);

  const mqtest::RefusingPort hub;
  setenv("HF_ENDPOINT", hub.url().c_str(), 1);
  try {
    divuvovize::ModelUtilities::loadTokenizer(divuvovize::ModelVariant::baseEn, temp / "hub",
                                              {temp / "elsewhere"}, false);
    ADD_FAILURE() << "loaded";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error.message().rfind("Cannot download the tokenizer openai/whisper-base.en from " +
                                        hub.url() + ": ",
                                    0),
              0u)
        << error.message();
  }
  unsetenv("HF_ENDPOINT");
}

TEST_F(FacadeTest, AFolderWithATrailingSlashIsImportedBesideItOnce) {
  const fs::path folder = writeModelFolder(temp, "checkpoint", /*checkpoint=*/true);
  DivuvovIzeConfig config = configFor(folder, /*load=*/true);
  config.modelFolder = folder.string() + "/";
  DivuvovIze engine(config);
  EXPECT_EQ(engine.modelState(), deduve::ModelState::loaded);
  EXPECT_EQ(engine.modelFolder, folder);
  EXPECT_TRUE(fs::exists(temp / "checkpoint.imported/TextDecoder.mlmodelc/model.json"));
  EXPECT_FALSE(fs::exists(folder / ".imported"));
}

} // namespace
