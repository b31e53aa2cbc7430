// The runner's networks against plain-loop references, and the decoder's cache protocol.

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/MLModelError.hpp"
#include "platform/ml/runner/kernels/Half.hpp"
#include "platform/ml/runner/models/AudioEncoderNetwork.hpp"
#include "tests/platform/ml/runner/ReferenceNetworks.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

namespace {

using namespace platform;
using platform::runner::ModelDimensions;
using platform::runner::SafeTensorsFile;
using platform::runner::TestModelOptions;

// Small enough for a sanitizer build, with every part of the networks exercised.
TestModelOptions smallOptions(SafeTensorsFile::ElementType weightType) {
  TestModelOptions options;
  options.dimensions = TestModelOptions::smallDimensions();
  options.dimensions.audioContext = 24;
  options.weightType = weightType;
  options.seed = 7;
  options.alignmentHeads = {{0, 1}, {1, 2}, {1, 3}};
  return options;
}

// Reports the first index where `actual` leaves `expected` by more than
// tolerance * max(1, |expected|).
template <class A, class E>
void expectClose(const A &actual, const E &expected, double tolerance, const std::string &what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const double e = static_cast<double>(expected[i]);
    const double a = static_cast<double>(actual[i]);
    if (std::abs(a - e) > tolerance * std::max(1.0, std::abs(e))) {
      FAIL() << what << ": index " << i << " is " << a << ", expected " << e;
    }
  }
}

std::vector<float> randomValues(std::size_t count, float limit, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> distribution(-limit, limit);
  std::vector<float> values(count);
  for (auto &v : values) {
    v = distribution(generator);
  }
  return values;
}

MLMultiArray halfArray(const MLMultiArray::Shape &shape, const std::vector<float> &values) {
  MLMultiArray array(shape, MLMultiArrayDataType::float16);
  auto *elements = array.data<Float16>();
  for (std::size_t i = 0; i < values.size(); ++i) {
    elements[i] = static_cast<Float16>(values[i]);
  }
  return array;
}

std::vector<float> floatsOf(const MLMultiArray &array) {
  std::vector<float> values(static_cast<std::size_t>(array.count()));
  for (int i = 0; i < array.count(); ++i) {
    values[static_cast<std::size_t>(i)] = static_cast<float>(array.value(i));
  }
  return values;
}

class WeightTypes : public ::testing::TestWithParam<SafeTensorsFile::ElementType> {};

TEST_P(WeightTypes, EncoderMatchesPlainLoopReference) {
  mqtest::TempDir dir;
  const auto options = smallOptions(GetParam());
  const auto folder = runner::writeAudioEncoderModel(dir.path(), options);
  const SafeTensorsFile weights(folder / "weights.safetensors");
  const runner::AudioEncoderNetwork network(options.dimensions, weights);
  const auto &d = options.dimensions;
  const auto mel = randomValues(d.melCount * 2 * d.audioContext, 1.5f, 3);

  std::vector<float> scratch(network.scratchSize());
  const float *encoded = network.forward(mel.data(), scratch.data());
  const std::vector<float> actual(encoded, encoded + d.audioContext * d.width);
  expectClose(actual, mqtest::referenceEncoder(d, weights, mel), 1e-4, "encoder output");
}

// Drives the decoder model through the cache protocol the engine uses: float16 caches and
// padding mask, the update mask at the written slot, and this step's key/value columns copied
// into the caches afterwards.
struct ProtocolRun {
  std::vector<std::vector<float>> logits;
  std::vector<std::vector<float>> alignment;
};

ProtocolRun decodeThroughCache(const MLModel &model, const ModelDimensions &d,
                               const std::vector<std::int32_t> &tokens,
                               const MLMultiArray &encoderOutput) {
  const int width = static_cast<int>(d.decoderLayers * d.width);
  const int length = static_cast<int>(d.cacheLength);
  MLMultiArray keyCache({1, width, 1, length}, MLMultiArrayDataType::float16, 0.0f);
  MLMultiArray valueCache({1, width, 1, length}, MLMultiArrayDataType::float16, 0.0f);
  MLMultiArray updateMask({1, length}, MLMultiArrayDataType::int32, std::int32_t{0});
  MLMultiArray paddingMask({1, length}, MLMultiArrayDataType::float16, -10000.0f);
  updateMask.setValue(0, 1);
  paddingMask.setValue(0, 0);
  MLMultiArray inputIds({1}, MLMultiArrayDataType::int32);
  MLMultiArray cacheLength({1}, MLMultiArrayDataType::int32);

  ProtocolRun run;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    inputIds.setValue(0, tokens[i]);
    cacheLength.setValue(0, static_cast<double>(i));
    const MLDictionaryFeatureProvider input(
        std::map<std::string, MLMultiArray>{{"input_ids", inputIds},
                                            {"cache_length", cacheLength},
                                            {"key_cache", keyCache},
                                            {"value_cache", valueCache},
                                            {"kv_cache_update_mask", updateMask},
                                            {"encoder_output_embeds", encoderOutput},
                                            {"decoder_key_padding_mask", paddingMask}});
    const auto output = model.prediction(input);
    run.logits.push_back(floatsOf(*output->featureValue("logits")->multiArrayValue()));
    if (auto alignment = output->featureValue("alignment_heads_weights")) {
      run.alignment.push_back(floatsOf(*alignment->multiArrayValue()));
    }
    const auto keys = *output->featureValue("key_cache_updates")->multiArrayValue();
    const auto values = *output->featureValue("value_cache_updates")->multiArrayValue();
    EXPECT_EQ(keys.dataType(), MLMultiArrayDataType::float16);
    for (int channel = 0; channel < width; ++channel) {
      keyCache.data<Float16>()[channel * length + static_cast<int>(i)] =
          keys.data<Float16>()[channel];
      valueCache.data<Float16>()[channel * length + static_cast<int>(i)] =
          values.data<Float16>()[channel];
    }
    paddingMask.setValue(static_cast<int>(i) + 1, 0);
    updateMask.setValue(static_cast<int>(i), 0);
    updateMask.setValue(static_cast<int>(i) + 1, 1);
  }
  return run;
}

TEST_P(WeightTypes, DecoderStepsThroughTheCacheMatchRecomputation) {
  mqtest::TempDir dir;
  const auto options = smallOptions(GetParam());
  const auto folder = runner::writeTextDecoderModel(dir.path(), options);
  const auto &d = options.dimensions;
  const auto model = loadMLModel(folder);
  const SafeTensorsFile weights(folder / "weights.safetensors");

  const auto encoderValues = randomValues(d.width * d.audioContext, 1.0f, 11);
  const auto encoder =
      halfArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)}, encoderValues);
  const auto encoderRounded = floatsOf(encoder);
  const std::vector<std::int32_t> tokens = {50257, 50362, 440, 2068, 7586,
                                            21831, 18045, 625, 50256};

  const auto run = decodeThroughCache(*model, d, tokens, encoder);
  // With the cache (and, for float16 weights, the cross-attention memory) rounded as float16
  // holds them, the step path is the reference up to float32 arithmetic; against exact
  // recomputation it differs only by that float16 rounding.
  const bool halfMemory = GetParam() == SafeTensorsFile::ElementType::float16;
  const auto exactCache = mqtest::referenceDecoder(d, options.alignmentHeads, weights, tokens,
                                                   encoderRounded, true, halfMemory);
  const auto noCache =
      mqtest::referenceDecoder(d, options.alignmentHeads, weights, tokens, encoderRounded, false);
  ASSERT_EQ(run.alignment.size(), tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    SCOPED_TRACE("position " + std::to_string(i));
    expectClose(run.logits[i], exactCache.logits[i], 1e-4, "logits vs half-cache reference");
    expectClose(run.logits[i], noCache.logits[i], 2e-2, "logits vs recomputation");
    expectClose(run.alignment[i], exactCache.alignment[i], 1e-4, "alignment weights");
  }
}

TEST(AudioEncoderModel, ConcurrentWindowsGetTheSameEmbeddingsAsOneAtATime) {
  mqtest::TempDir dir;
  const auto options = smallOptions(SafeTensorsFile::ElementType::float16);
  const auto model = loadMLModel(runner::writeAudioEncoderModel(dir.path(), options));
  const auto &d = options.dimensions;
  const MLMultiArray::Shape shape = {1, static_cast<int>(d.melCount), 1,
                                     static_cast<int>(2 * d.audioContext)};
  auto encode = [&](const MLMultiArray &mel) {
    const auto out = model->prediction(MLDictionaryFeatureProvider(
        std::map<std::string, MLMultiArray>{{"melspectrogram_features", mel}}));
    return floatsOf(*out->featureValue("encoder_output_embeds")->multiArrayValue());
  };
  std::vector<MLMultiArray> windows;
  std::vector<std::vector<float>> serial;
  for (unsigned w = 0; w < 4; ++w) {
    windows.push_back(
        halfArray(shape, randomValues(d.melCount * 2 * d.audioContext, 1.5f, 40 + w)));
    serial.push_back(encode(windows.back()));
  }
  std::vector<std::vector<float>> parallel(windows.size());
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < windows.size(); ++w) {
    threads.emplace_back([&, w] { parallel[w] = encode(windows[w]); });
  }
  for (auto &thread : threads) {
    thread.join();
  }
  for (std::size_t w = 0; w < windows.size(); ++w) {
    expectClose(parallel[w], serial[w], 1e-6, "window " + std::to_string(w));
  }
}

INSTANTIATE_TEST_SUITE_P(Runner, WeightTypes,
                         ::testing::Values(SafeTensorsFile::ElementType::float16,
                                           SafeTensorsFile::ElementType::float32));

TEST(TextDecoderModel, ConcurrentWindowsAndRefilledEncoderBuffersGetTheirOwnMemory) {
  mqtest::TempDir dir;
  const auto options = smallOptions(SafeTensorsFile::ElementType::float16);
  const auto model = loadMLModel(runner::writeTextDecoderModel(dir.path(), options));
  const auto &d = options.dimensions;
  const MLMultiArray::Shape shape = {1, static_cast<int>(d.width), 1,
                                     static_cast<int>(d.audioContext)};
  const std::vector<std::int32_t> tokens = {50257, 50362, 1374, 257, 1332};
  std::vector<MLMultiArray> encoders;
  std::vector<ProtocolRun> serial;
  for (unsigned window = 0; window < 4; ++window) {
    encoders.push_back(
        halfArray(shape, randomValues(d.width * d.audioContext, 1.0f, 100 + window)));
    serial.push_back(decodeThroughCache(*model, d, tokens, encoders.back()));
  }

  std::vector<ProtocolRun> parallel(encoders.size());
  std::vector<std::thread> threads;
  for (std::size_t w = 0; w < encoders.size(); ++w) {
    threads.emplace_back(
        [&, w] { parallel[w] = decodeThroughCache(*model, d, tokens, encoders[w]); });
  }
  for (auto &thread : threads) {
    thread.join();
  }
  for (std::size_t w = 0; w < encoders.size(); ++w) {
    SCOPED_TRACE("window " + std::to_string(w));
    ASSERT_EQ(parallel[w].logits.size(), tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      expectClose(parallel[w].logits[i], serial[w].logits[i], 1e-5, "logits");
    }
  }

  // The same array refilled with another window's output must not reuse the first memory.
  MLMultiArray reused = encoders[0].deepCopy();
  const auto first = decodeThroughCache(*model, d, tokens, reused);
  const auto other = floatsOf(encoders[1]);
  for (std::size_t i = 0; i < other.size(); ++i) {
    reused.data<Float16>()[i] = static_cast<Float16>(other[i]);
  }
  reused.markContentsChanged();
  const auto second = decodeThroughCache(*model, d, tokens, reused);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    expectClose(first.logits[i], serial[0].logits[i], 1e-5, "first fill");
    expectClose(second.logits[i], serial[1].logits[i], 1e-5, "second fill");
  }
}

// Callers may hand the float features in float32 and any array with its own strides; the step
// must read the same values as from packed float16 arrays.
MLMultiArray asFloat32(const MLMultiArray &array) {
  MLMultiArray copy(array.shape(), MLMultiArrayDataType::float32);
  for (int i = 0; i < array.count(); ++i) {
    copy.setValue(i, array.value(i));
  }
  return copy;
}

MLMultiArray padded(const MLMultiArray &array) {
  MLMultiArray::Shape strides(array.shape().size(), 1);
  for (std::size_t d = strides.size() - 1; d-- > 0;) {
    strides[d] = strides[d + 1] * array.shape()[d + 1] * 2;
  }
  strides.back() = 2;
  MLMultiArray copy(array.shape(), array.dataType(), strides);
  for (int i = 0; i < array.count(); ++i) {
    copy.setValue(i, array.value(i));
  }
  return copy;
}

TEST(TextDecoderModel, AcceptsFloat32AndStridedInputs) {
  mqtest::TempDir dir;
  const auto options = smallOptions(SafeTensorsFile::ElementType::float16);
  const auto model = loadMLModel(runner::writeTextDecoderModel(dir.path(), options));
  const auto &d = options.dimensions;
  const int width = static_cast<int>(d.decoderLayers * d.width);
  const int length = static_cast<int>(d.cacheLength);
  const auto encoder =
      halfArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)},
                randomValues(d.width * d.audioContext, 1.0f, 21));
  // A cache state after three steps, with random contents in the written slots.
  MLMultiArray keys({1, width, 1, length}, MLMultiArrayDataType::float16, 0.0f);
  MLMultiArray values({1, width, 1, length}, MLMultiArrayDataType::float16, 0.0f);
  const auto fill = randomValues(static_cast<std::size_t>(width) * 3, 1.0f, 22);
  for (int c = 0; c < width; ++c) {
    for (int s = 0; s < 3; ++s) {
      keys.setValue({0, c, 0, s}, fill[static_cast<std::size_t>(c * 3 + s)]);
      values.setValue({0, c, 0, s}, -fill[static_cast<std::size_t>(c * 3 + s)]);
    }
  }
  MLMultiArray update({1, length}, MLMultiArrayDataType::int32, std::int32_t{0});
  MLMultiArray padding({1, length}, MLMultiArrayDataType::float16, -10000.0f);
  update.setValue(3, 1);
  for (int s = 0; s <= 3; ++s) {
    padding.setValue(s, 0);
  }
  auto run = [&](const MLMultiArray &k, const MLMultiArray &v, const MLMultiArray &u,
                 const MLMultiArray &e, const MLMultiArray &p) {
    const auto out = model->prediction(MLDictionaryFeatureProvider(
        std::map<std::string, MLMultiArray>{{"input_ids", MLMultiArray::from({440})},
                                            {"cache_length", MLMultiArray::from({3})},
                                            {"key_cache", k},
                                            {"value_cache", v},
                                            {"kv_cache_update_mask", u},
                                            {"encoder_output_embeds", e},
                                            {"decoder_key_padding_mask", p}}));
    return floatsOf(*out->featureValue("logits")->multiArrayValue());
  };
  const auto packed = run(keys, values, update, encoder, padding);
  expectClose(
      run(asFloat32(keys), asFloat32(values), update, asFloat32(encoder), asFloat32(padding)),
      packed, 1e-6, "float32 inputs");
  expectClose(run(padded(keys), padded(values), padded(update), padded(encoder), padded(padding)),
              packed, 1e-6, "strided inputs");
}

TEST(TextDecoderModel, RejectsInputsOutsideItsShapesWithClearErrors) {
  mqtest::TempDir dir;
  const auto options = smallOptions(SafeTensorsFile::ElementType::float16);
  const auto model = loadMLModel(runner::writeTextDecoderModel(dir.path(), options));
  const auto &d = options.dimensions;
  const int width = static_cast<int>(d.decoderLayers * d.width);
  const int length = static_cast<int>(d.cacheLength);
  auto valid = [&] {
    return std::map<std::string, MLMultiArray>{
        {"input_ids", MLMultiArray::from({50257})},
        {"cache_length", MLMultiArray::from({0})},
        {"key_cache", MLMultiArray({1, width, 1, length}, MLMultiArrayDataType::float16)},
        {"value_cache", MLMultiArray({1, width, 1, length}, MLMultiArrayDataType::float16)},
        {"kv_cache_update_mask", MLMultiArray({1, length}, MLMultiArrayDataType::int32)},
        {"encoder_output_embeds",
         MLMultiArray({1, static_cast<int>(d.width), 1, static_cast<int>(d.audioContext)},
                      MLMultiArrayDataType::float16)},
        {"decoder_key_padding_mask", MLMultiArray({1, length}, MLMultiArrayDataType::float16)}};
  };
  struct Case {
    std::string name;
    std::function<void(std::map<std::string, MLMultiArray> &)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"missing feature", [](auto &in) { in.erase("key_cache"); },
       "missing input feature key_cache"},
      {"wrong shape",
       [&](auto &in) {
         in["key_cache"] = MLMultiArray({1, width, 1, 8}, MLMultiArrayDataType::float16);
       },
       "key_cache has shape [1, 128, 1, 8], expected [1, 128, 1, 224]"},
      {"wrong type",
       [](auto &in) { in["input_ids"] = MLMultiArray({1}, MLMultiArrayDataType::float32); },
       "input_ids holds float32, expected int32"},
      {"token outside vocabulary", [](auto &in) { in["input_ids"] = MLMultiArray::from({51864}); },
       "token 51864 is outside the vocabulary of 51864"},
      {"position outside table", [](auto &in) { in["cache_length"] = MLMultiArray::from({448}); },
       "position 448 is outside the 448 learned positions"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto inputs = valid();
    c.change(inputs);
    try {
      model->prediction(MLDictionaryFeatureProvider(inputs));
      ADD_FAILURE() << "no error";
    } catch (const MLModelError &error) {
      EXPECT_EQ(error.code(), MLModelError::Code::featureType);
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
  // The untouched inputs run.
  EXPECT_NO_THROW(model->prediction(MLDictionaryFeatureProvider(valid())));
}

} // namespace
