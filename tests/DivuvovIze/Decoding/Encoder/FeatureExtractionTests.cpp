#include "DeduveCore/Support/ModelUtilities.hpp"
#include "DivuvovIze/Decoding/Encoder/AudioEncoder.hpp"
#include "DivuvovIze/Decoding/Encoder/FeatureExtractor.hpp"
#include "DivuvovIze/Logging/Signposts.hpp"
#include "DivuvovIze/Models/WhisperError.hpp"
#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLModelError.hpp"
#include "platform/system/CancellationError.hpp"
#include "platform/system/CancellationScope.hpp"
#include "tests/support/TempDir.hpp"
#include "tests/support/Tones.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>

namespace {

using namespace divuvovize;
using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

// Forwards to a real model (or fails) and counts the predictions that reached it.
class CountingModel : public platform::MLModel {
public:
  explicit CountingModel(std::shared_ptr<platform::MLModel> inner, bool fail = false)
      : inner_(std::move(inner)), fail_(fail) {}
  const platform::MLModelDescription &description() const override { return inner_->description(); }
  std::shared_ptr<platform::MLFeatureProvider>
  prediction(const platform::MLFeatureProvider &input,
             const platform::MLPredictionOptions &options) const override {
    ++calls;
    if (fail_) {
      throw platform::MLModelError(platform::MLModelError::Code::predictionFailed, "device lost");
    }
    return inner_->prediction(input, options);
  }
  using platform::MLModel::prediction;
  mutable std::atomic<int> calls{0};

private:
  std::shared_ptr<platform::MLModel> inner_;
  bool fail_;
};

// The three test models, written once for the suite.
class FeatureExtraction : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    folder_ = new mqtest::TempDir();
    platform::runner::writeTestModels(folder_->path(), platform::runner::TestModelOptions{});
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static std::shared_ptr<platform::MLModel> load(const std::string &name) {
    return platform::loadMLModel(*folder_ / (name + ".mlmodelc"));
  }
  static MLMultiArray toneWindow() {
    MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
    const std::vector<float> tone = mqtest::sineSamples(440.0, 16000.0, 480000, 0.3);
    std::copy(tone.begin(), tone.end(), audio.data<float>());
    return audio;
  }
  static mqtest::TempDir *folder_;
};
mqtest::TempDir *FeatureExtraction::folder_ = nullptr;

template <class F> void expectWhisperError(F &&f, WhisperError expected) {
  try {
    f();
    ADD_FAILURE() << "no error";
  } catch (const WhisperError &error) {
    EXPECT_EQ(error, expected) << error.what();
  }
}

TEST_F(FeatureExtraction, WithoutModelsDimensionsAreAbsentAndCallsThrowModelsUnavailable) {
  FeatureExtractor extractor;
  AudioEncoder encoder;
  EXPECT_EQ(extractor.melCount(), std::nullopt);
  EXPECT_EQ(extractor.windowSamples(), std::nullopt);
  EXPECT_EQ(encoder.embedSize(), std::nullopt);
  EXPECT_EQ(encoder.sequenceLength(), std::nullopt);
  const MLMultiArray audio({480000}, MLMultiArrayDataType::float32);
  const MLMultiArray mel({1, 80, 1, 3000}, MLMultiArrayDataType::float16);
  expectWhisperError([&] { extractor.logMelSpectrogram(audio); },
                     WhisperError::modelsUnavailable("Models are unavailable"));
  expectWhisperError([&] { encoder.encodeFeatures(mel); },
                     WhisperError::modelsUnavailable("Models are unavailable"));
  // Something that is not an array is reported before the missing model.
  expectWhisperError(
      [&] { extractor.logMelSpectrogram(MLMultiArray()); },
      WhisperError::audioProcessingFailed("FeatureExtractor input must be MLMultiArray"));
  expectWhisperError(
      [&] { encoder.encodeFeatures(MLMultiArray()); },
      WhisperError::audioProcessingFailed("AudioEncoder input must be MLMultiArray"));
}

TEST_F(FeatureExtraction, LoadedModelsReportTheirDimensionsAndRunAWindow) {
  FeatureExtractor extractor;
  AudioEncoder encoder;
  extractor.loadModel(*folder_ / "MelSpectrogram.mlmodelc", platform::MLComputeUnits::cpuOnly,
                      /*prewarmMode=*/false);
  encoder.setModel(load("AudioEncoder"));
  const auto decoder = load("TextDecoder");
  EXPECT_EQ(extractor.melCount(), 80);
  EXPECT_EQ(extractor.windowSamples(), 480000);
  EXPECT_EQ(encoder.embedSize(), 64);
  EXPECT_EQ(encoder.sequenceLength(), 1500);
  using deduve::ModelUtilities;
  EXPECT_EQ(ModelUtilities::getModelOutputDimension(decoder, "logits", 2), 51864);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder, "key_cache", 1), 128);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder, "key_cache", 3), 224);
  EXPECT_EQ(ModelUtilities::getModelInputDimension(decoder, "encoder_output_embeds", 3), 1500);

  std::vector<SignpostEvent> events;
  Signposter::featureExtractor().setHook([&](const SignpostEvent &e) { events.push_back(e); });
  Signposter::audioEncoding().setHook([&](const SignpostEvent &e) { events.push_back(e); });
  const auto mel = extractor.logMelSpectrogram(toneWindow());
  const auto embeddings = encoder.encodeFeatures(mel);
  Signposter::featureExtractor().setHook(nullptr);
  Signposter::audioEncoding().setHook(nullptr);

  EXPECT_EQ(mel.shape(), (MLMultiArray::Shape{1, 80, 1, 3000}));
  EXPECT_EQ(embeddings.shape(), (MLMultiArray::Shape{1, 64, 1, 1500}));
  for (int i = 0; i < embeddings.count(); i += 997) {
    ASSERT_TRUE(std::isfinite(embeddings.value(i))) << i;
  }
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].name, "ExtractAudioFeatures");
  EXPECT_EQ(events[0].kind, SignpostEvent::Kind::begin);
  EXPECT_EQ(events[1].kind, SignpostEvent::Kind::end);
  EXPECT_EQ(events[1].id, events[0].id);
  EXPECT_EQ(events[2].name, "EncodeAudio");
  EXPECT_EQ(events[3].kind, SignpostEvent::Kind::end);
  EXPECT_EQ(events[3].message, "");

  // Prewarming loads and drops the model.
  FeatureExtractor prewarmed;
  prewarmed.loadModel(*folder_ / "MelSpectrogram.mlmodelc", platform::MLComputeUnits::all,
                      /*prewarmMode=*/true);
  EXPECT_EQ(prewarmed.model(), nullptr);
}

TEST_F(FeatureExtraction, CancelledTaskThrowsBeforeAnyPrediction) {
  FeatureExtractor extractor;
  AudioEncoder encoder;
  const auto mel = std::make_shared<CountingModel>(load("MelSpectrogram"));
  const auto audioEncoder = std::make_shared<CountingModel>(load("AudioEncoder"));
  extractor.setModel(mel);
  encoder.setModel(audioEncoder);
  platform::CancellationToken token;
  token.cancel();
  {
    platform::CancellationScope scope(token);
    EXPECT_THROW(extractor.logMelSpectrogram(toneWindow()), platform::CancellationError);
    EXPECT_THROW(
        encoder.encodeFeatures(MLMultiArray({1, 80, 1, 3000}, MLMultiArrayDataType::float16)),
        platform::CancellationError);
  }
  EXPECT_EQ(mel->calls.load(), 0);
  EXPECT_EQ(audioEncoder->calls.load(), 0);
  // Outside the cancelled scope the same calls predict.
  EXPECT_NO_THROW(extractor.logMelSpectrogram(toneWindow()));
  EXPECT_EQ(mel->calls.load(), 1);
}

TEST_F(FeatureExtraction, PredictionErrorsPassThroughAndCloseTheInterval) {
  FeatureExtractor extractor;
  extractor.setModel(std::make_shared<CountingModel>(load("MelSpectrogram"), /*fail=*/true));
  std::vector<SignpostEvent> events;
  Signposter::featureExtractor().setHook([&](const SignpostEvent &e) { events.push_back(e); });
  try {
    extractor.logMelSpectrogram(toneWindow());
    ADD_FAILURE() << "no error";
  } catch (const platform::MLModelError &error) {
    EXPECT_STREQ(error.what(), "device lost");
  }
  Signposter::featureExtractor().setHook(nullptr);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].kind, SignpostEvent::Kind::end);
  EXPECT_EQ(events[1].id, events[0].id);
}

} // namespace
