// The log-mel front end: silence, a pure tone, and a direct-DFT reference, over whole windows and
// over short signals of other shapes.

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/runner/importer/MelFilterbank.hpp"
#include "platform/ml/runner/models/MelSpectrogramNetwork.hpp"
#include "platform/ml/runner/ops/LogMel.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace {

using namespace platform;
using platform::runner::TestModelOptions;

constexpr int kSamples = 480000;
constexpr int kFrames = 3000;

MLMultiArray melOf(const MLModel &model, const std::vector<float> &audio) {
  MLMultiArray samples({kSamples}, MLMultiArrayDataType::float32);
  std::copy(audio.begin(), audio.end(), samples.data<float>());
  const auto out = model.prediction(
      MLDictionaryFeatureProvider(std::map<std::string, MLMultiArray>{{"audio", samples}}));
  return *out->featureValue("melspectrogram_features")->multiArrayValue();
}

// Centre frequency of mel filter j on Slaney's scale, computed here independently of the writer.
double filterCentreHertz(int j, int melCount) {
  const double linearStep = 200.0 / 3.0;
  const double logStep = std::log(6.4) / 27.0;
  const double topMel = 15.0 + std::log(8000.0 / 1000.0) / logStep;
  const double mel = topMel * (j + 1) / (melCount + 1);
  return mel < 15.0 ? mel * linearStep : 1000.0 * std::exp(logStep * (mel - 15.0));
}

class MelCounts : public ::testing::TestWithParam<int> {};

TEST_P(MelCounts, SilenceIsMinusOneAndAHalfEverywhere) {
  mqtest::TempDir dir;
  TestModelOptions options;
  options.dimensions.melCount = static_cast<std::size_t>(GetParam());
  const auto model = loadMLModel(runner::writeMelSpectrogramModel(dir.path(), options));
  const auto mel = melOf(*model, std::vector<float>(kSamples, 0.0f));
  ASSERT_EQ(mel.shape(), (MLMultiArray::Shape{1, GetParam(), 1, kFrames}));
  const Float16 *values = mel.data<Float16>();
  for (int i = 0; i < mel.count(); ++i) {
    ASSERT_EQ(static_cast<float>(values[i]), -1.5f) << "element " << i;
  }
}

TEST_P(MelCounts, OneKilohertzTonePeaksInTheFilterCentredNearest) {
  mqtest::TempDir dir;
  TestModelOptions options;
  const int melCount = GetParam();
  options.dimensions.melCount = static_cast<std::size_t>(melCount);
  const auto model = loadMLModel(runner::writeMelSpectrogramModel(dir.path(), options));
  std::vector<float> audio(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    audio[i] = 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * i / 16000.0));
  }
  const auto mel = melOf(*model, audio);
  int expected = 0;
  for (int j = 1; j < melCount; ++j) {
    if (std::abs(filterCentreHertz(j, melCount) - 1000.0) <
        std::abs(filterCentreHertz(expected, melCount) - 1000.0)) {
      expected = j;
    }
  }
  for (int frame : {1, 1500, kFrames - 2}) {
    int peak = 0;
    for (int m = 1; m < melCount; ++m) {
      if (mel.value({0, m, 0, frame}) > mel.value({0, peak, 0, frame})) {
        peak = m;
      }
    }
    EXPECT_EQ(peak, expected) << "frame " << frame;
    // The scaled maximum of a stationary tone is (max + 4) / 4 wherever the tone is whole.
    EXPECT_NEAR(mel.value({0, peak, 0, frame}), mel.value({0, peak, 0, 1500}), 1e-2);
  }
}

INSTANTIATE_TEST_SUITE_P(Runner, MelCounts, ::testing::Values(80, 128));

// Float32 audio is read where it lies; other float types are converted first. Both must give the
// same features for the same values.
TEST(MelSpectrogramModel, AudioOfEveryFloatTypeGivesTheSameFeatures) {
  mqtest::TempDir dir;
  const auto model = loadMLModel(runner::writeMelSpectrogramModel(dir.path(), TestModelOptions{}));
  std::vector<float> audio(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    // Values float16 holds exactly, so every type carries the same samples.
    const double tone = 0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * i / 16000.0);
    audio[i] = static_cast<float>(static_cast<Float16>(static_cast<float>(tone)));
  }
  const auto expected = melOf(*model, audio);
  for (auto type : {MLMultiArrayDataType::float16, MLMultiArrayDataType::float64}) {
    MLMultiArray samples({kSamples}, type);
    for (int i = 0; i < kSamples; ++i) {
      samples.setValue(i, audio[static_cast<std::size_t>(i)]);
    }
    const auto out = model->prediction(
        MLDictionaryFeatureProvider(std::map<std::string, MLMultiArray>{{"audio", samples}}));
    const auto mel = *out->featureValue("melspectrogram_features")->multiArrayValue();
    ASSERT_EQ(mel.count(), expected.count());
    for (int i = 0; i < mel.count(); ++i) {
      ASSERT_EQ(static_cast<float>(mel.data<Float16>()[i]),
                static_cast<float>(expected.data<Float16>()[i]))
          << "element " << i;
    }
  }
}

// Direct transform in double precision over a few frames, including both reflected edges.
TEST(MelSpectrogramNetwork, MatchesDirectTransformOfNoise) {
  mqtest::TempDir dir;
  TestModelOptions options;
  const auto folder = runner::writeMelSpectrogramModel(dir.path(), options);
  const runner::SafeTensorsFile weights(folder / "weights.safetensors");
  const runner::MelSpectrogramNetwork network(options.dimensions, weights);
  const auto filters = weights.readFloats("mel_filters", {80, 201});

  std::mt19937 generator(5);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<float> audio(kSamples);
  for (auto &sample : audio) {
    sample = noise(generator);
  }
  std::vector<float> scratch(network.scratchSize());
  std::vector<float> out(80 * kFrames);
  network.run(audio.data(), scratch.data(), out.data());

  // White noise keeps every value far above the max-minus-8 floor, so frames are independent.
  auto reflected = [&](long i) {
    i -= 200;
    if (i < 0) {
      i = -i;
    }
    if (i >= kSamples) {
      i = 2 * (kSamples - 1) - i;
    }
    return static_cast<double>(audio[static_cast<std::size_t>(i)]);
  };
  for (int frame : {0, 1, 777, 2998, 2999}) {
    std::vector<double> power(201);
    for (int k = 0; k < 201; ++k) {
      double re = 0, im = 0;
      for (int n = 0; n < 400; ++n) {
        const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / 400.0);
        const double x = window * reflected(static_cast<long>(frame) * 160 + n);
        re += x * std::cos(2 * std::numbers::pi * k * n / 400.0);
        im -= x * std::sin(2 * std::numbers::pi * k * n / 400.0);
      }
      power[k] = re * re + im * im;
    }
    for (int m = 0; m < 80; ++m) {
      double energy = 0;
      for (int k = 0; k < 201; ++k) {
        energy += filters[static_cast<std::size_t>(m * 201 + k)] * power[k];
      }
      const double expected = (std::log10(std::max(energy, 1e-10)) + 4.0) / 4.0;
      ASSERT_NEAR(out[static_cast<std::size_t>(m * kFrames + frame)], expected, 1e-4)
          << "frame " << frame << " mel " << m;
    }
  }
}

struct PlanShape {
  std::size_t samples, fftLength, hop, melCount;
  std::size_t silentFrom; // samples from here on are zero, so the max-minus-8 floor applies
};

class LogMelShapes : public ::testing::TestWithParam<PlanShape> {};

// Every frame of the plan against a direct transform in double precision: both reflected edges,
// signals shorter than a window, frame counts that do not fill the last task's share, and the
// floor taken over the whole signal.
TEST_P(LogMelShapes, EveryFrameMatchesTheDirectTransform) {
  const PlanShape c = GetParam();
  const std::size_t bins = c.fftLength / 2 + 1;
  const auto filters = runner::melFilterbank(c.melCount, c.fftLength);
  const runner::LogMelPlan plan(c.samples, c.fftLength, c.hop,
                                runner::MatrixView{filters.data(), c.melCount, bins});
  std::mt19937 generator(11);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<float> audio(c.samples, 0.0f);
  for (std::size_t i = 0; i < std::min(c.samples, c.silentFrom); ++i) {
    audio[i] = noise(generator);
  }
  const std::size_t frames = c.samples / c.hop;
  std::vector<float> scratch(plan.scratchSize());
  std::vector<float> out(c.melCount * frames);
  plan.run(audio.data(), scratch.data(), out.data());

  const auto last = static_cast<long>(c.samples) - 1;
  auto reflected = [&](long i) {
    i -= static_cast<long>(c.fftLength / 2);
    i = i < 0 ? -i : (i > last ? 2 * last - i : i);
    return static_cast<double>(audio[static_cast<std::size_t>(std::clamp(i, 0L, last))]);
  };
  std::vector<double> expected(c.melCount * frames);
  for (std::size_t t = 0; t < frames; ++t) {
    std::vector<double> power(bins);
    for (std::size_t k = 0; k < bins; ++k) {
      double re = 0, im = 0;
      for (std::size_t n = 0; n < c.fftLength; ++n) {
        const double length = static_cast<double>(c.fftLength);
        const double window = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / length);
        const double x = window * reflected(static_cast<long>(t * c.hop + n));
        re += x * std::cos(2 * std::numbers::pi * static_cast<double>(k * n) / length);
        im -= x * std::sin(2 * std::numbers::pi * static_cast<double>(k * n) / length);
      }
      power[k] = re * re + im * im;
    }
    for (std::size_t m = 0; m < c.melCount; ++m) {
      double energy = 0;
      for (std::size_t k = 0; k < bins; ++k) {
        energy += filters[m * bins + k] * power[k];
      }
      expected[m * frames + t] = std::log10(std::max(energy, 1e-10));
    }
  }
  const double floor = *std::max_element(expected.begin(), expected.end()) - 8.0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_NEAR(out[i], (std::max(expected[i], floor) + 4.0) / 4.0, 1e-4)
        << "frame " << i % frames << " mel " << i / frames;
  }
}

INSTANTIATE_TEST_SUITE_P(Runner, LogMelShapes,
                         ::testing::Values(PlanShape{1000, 400, 160, 80, 1000},
                                           PlanShape{300, 400, 160, 80, 300},
                                           PlanShape{150, 400, 100, 80, 150},
                                           PlanShape{10000, 512, 128, 40, 5000},
                                           PlanShape{12000, 400, 160, 128, 6000}));

} // namespace
