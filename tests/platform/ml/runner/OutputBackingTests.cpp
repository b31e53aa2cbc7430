// Caller-owned outputs: a prediction writes into the arrays the caller hands over, with the same
// values it would have returned in new arrays, and refuses backings that do not fit.

#include "platform/ml/LoadMLModel.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"
#include "platform/ml/MLModel.hpp"
#include "platform/ml/MLModelError.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/make-test-model/TestModelWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using namespace platform;
using T = MLMultiArrayDataType;
using Arrays = std::map<std::string, MLMultiArray>;

struct DecoderFixture {
  mqtest::TempDir dir;
  runner::TestModelOptions options;
  std::shared_ptr<MLModel> model;
  int width = 0, length = 0, vocabulary = 0, positions = 0;

  DecoderFixture() {
    options.dimensions = runner::TestModelOptions::smallDimensions();
    options.dimensions.audioContext = 24;
    options.dimensions.vocabularySize = 1000;
    options.alignmentHeads = {{0, 1}, {1, 2}};
    model = loadMLModel(runner::writeTextDecoderModel(dir.path(), options));
    const auto &d = options.dimensions;
    width = static_cast<int>(d.decoderLayers * d.width);
    length = static_cast<int>(d.cacheLength);
    vocabulary = static_cast<int>(d.vocabularySize);
    positions = static_cast<int>(d.audioContext);
  }

  // The inputs of the step at position 2 over a cache with a few filled slots.
  Arrays inputs() const {
    MLMultiArray keys({1, width, 1, length}, T::float16);
    MLMultiArray values({1, width, 1, length}, T::float16);
    for (int i = 0; i < keys.count(); ++i) {
      keys.setValue(i, 0.001 * (i % 97));
      values.setValue(i, -0.002 * (i % 89));
    }
    MLMultiArray update({1, length}, T::int32);
    MLMultiArray padding({1, length}, T::float16, -10000.0f);
    update.setValue(2, 1);
    for (int s = 0; s <= 2; ++s) {
      padding.setValue(s, 0);
    }
    MLMultiArray encoder({1, static_cast<int>(options.dimensions.width), 1, positions}, T::float16);
    for (int i = 0; i < encoder.count(); ++i) {
      encoder.setValue(i, 0.01 * (i % 53) - 0.25);
    }
    return {{"input_ids", MLMultiArray::from({440})},
            {"cache_length", MLMultiArray::from({2})},
            {"key_cache", keys},
            {"value_cache", values},
            {"kv_cache_update_mask", update},
            {"encoder_output_embeds", encoder},
            {"decoder_key_padding_mask", padding}};
  }
};

MLPredictionOptions backedBy(Arrays arrays) {
  MLPredictionOptions options;
  options.outputBackings = std::make_shared<MLDictionaryFeatureProvider>(arrays);
  return options;
}

MLMultiArray outputOf(const MLFeatureProvider &result, const std::string &name) {
  const auto value = result.featureValue(name);
  EXPECT_TRUE(value.has_value()) << name;
  return value ? *value->multiArrayValue() : MLMultiArray();
}

// Every element of `actual` equals `expected` once both are rounded as `expected`'s type.
void expectSameValues(const MLMultiArray &actual, const MLMultiArray &expected,
                      const std::string &what) {
  ASSERT_EQ(actual.shape(), expected.shape()) << what;
  for (int i = 0; i < expected.count(); ++i) {
    const double a = actual.value(i);
    const double e = expected.value(i);
    if (std::abs(a - e) > 1e-3 * std::max(1.0, std::abs(e))) {
      FAIL() << what << ": index " << i << " is " << a << ", expected " << e;
    }
  }
}

// An array of `shape` whose elements lie two apart in memory.
MLMultiArray stridedArray(const MLMultiArray::Shape &shape, T type) {
  MLMultiArray::Shape strides(shape.size(), 2);
  for (std::size_t d = shape.size() - 1; d-- > 0;) {
    strides[d] = strides[d + 1] * shape[d + 1];
  }
  return MLMultiArray(shape, type, strides);
}

TEST(OutputBackings, HoldTheValuesOfUnbackedOutputsInAnyFloatTypeAndStrides) {
  DecoderFixture f;
  const MLDictionaryFeatureProvider input(f.inputs());
  const auto plain = f.model->prediction(input);

  struct Case {
    std::string name;
    T logitsType;
    T cacheType;
    bool strided;
  };
  const std::vector<Case> cases = {{"declared types", T::float32, T::float16, false},
                                   {"widened", T::float64, T::float32, false},
                                   {"narrowed", T::float16, T::float16, false},
                                   {"strided", T::float32, T::float16, true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto make = [&](const MLMultiArray::Shape &shape, T type) {
      return c.strided ? stridedArray(shape, type) : MLMultiArray(shape, type);
    };
    const Arrays arrays = {{"logits", make({1, 1, f.vocabulary}, c.logitsType)},
                           {"key_cache_updates", make({1, f.width, 1, 1}, c.cacheType)},
                           {"value_cache_updates", make({1, f.width, 1, 1}, c.cacheType)},
                           {"alignment_heads_weights", make({1, f.positions}, c.logitsType)}};
    const auto options = backedBy(arrays);
    const auto result = f.model->prediction(input, options);
    // Full backings: the result is the caller's own provider.
    EXPECT_EQ(result, options.outputBackings);
    for (const auto &[name, array] : arrays) {
      expectSameValues(array, outputOf(*plain, name), name);
    }
  }
}

TEST(OutputBackings, PartialBackingsAreSharedAndTheRestAreNewArrays) {
  DecoderFixture f;
  const MLDictionaryFeatureProvider input(f.inputs());
  const auto plain = f.model->prediction(input);
  MLMultiArray logits({1, 1, f.vocabulary}, T::float32);
  const auto options = backedBy({{"logits", logits}});
  const auto result = f.model->prediction(input, options);

  EXPECT_NE(result, options.outputBackings);
  EXPECT_EQ(result->featureNames(), plain->featureNames());
  EXPECT_EQ(outputOf(*result, "logits").dataPointer(), logits.dataPointer());
  expectSameValues(logits, outputOf(*plain, "logits"), "logits");
  expectSameValues(outputOf(*result, "key_cache_updates"), outputOf(*plain, "key_cache_updates"),
                   "keys");
}

TEST(OutputBackings, BackingsThatDoNotFitAreRefusedBeforeAnythingIsWritten) {
  DecoderFixture f;
  const MLDictionaryFeatureProvider input(f.inputs());
  struct Case {
    std::string name;
    std::function<void(Arrays &)> change;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"unknown output", [](Arrays &a) { a["probabilities"] = MLMultiArray({1}, T::float32); },
       "TextDecoder.mlmodelc: output backing probabilities names no output"},
      {"wrong shape",
       [&](Arrays &a) {
         a["logits"] = MLMultiArray({1, f.vocabulary}, T::float32);
       },
       "output backing logits has shape [1, " + std::to_string(f.vocabulary) +
           "], expected [1, 1, " + std::to_string(f.vocabulary) + "]"},
      {"integer backing of a float output",
       [&](Arrays &a) {
         a["key_cache_updates"] = MLMultiArray({1, f.width, 1, 1}, T::int32);
       },
       "output backing key_cache_updates holds int32, expected float16"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    MLMultiArray logits({1, 1, f.vocabulary}, T::float32, 7.0f);
    Arrays arrays = {{"logits", logits}};
    c.change(arrays);
    try {
      f.model->prediction(input, backedBy(arrays));
      ADD_FAILURE() << "no error";
    } catch (const MLModelError &error) {
      EXPECT_EQ(error.code(), MLModelError::Code::featureType);
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
    EXPECT_EQ(logits.value(0), 7.0);
  }
}

TEST(OutputBackings, EncoderAndMelWriteIntoTheirBackings) {
  mqtest::TempDir dir;
  runner::TestModelOptions options;
  options.dimensions = runner::TestModelOptions::smallDimensions();
  options.dimensions.windowSamples = 32000; // 200 mel frames
  options.dimensions.audioContext = 100;
  options.dimensions.vocabularySize = 1000;
  runner::writeTestModels(dir.path(), options);
  const auto &d = options.dimensions;
  const auto mel = loadMLModel(dir / "MelSpectrogram.mlmodelc");
  const auto encoder = loadMLModel(dir / "AudioEncoder.mlmodelc");

  MLMultiArray audio({static_cast<int>(d.windowSamples)}, T::float32);
  for (int i = 0; i < audio.count(); ++i) {
    audio.setValue(i, 0.1 * std::sin(0.05 * i));
  }
  const MLDictionaryFeatureProvider audioInput(Arrays{{"audio", audio}});
  const auto plainMel = outputOf(*mel->prediction(audioInput), "melspectrogram_features");
  MLMultiArray melBacking(plainMel.shape(), T::float32);
  mel->prediction(audioInput, backedBy({{"melspectrogram_features", melBacking}}));
  expectSameValues(melBacking, plainMel, "mel");

  const MLDictionaryFeatureProvider melInput(Arrays{{"melspectrogram_features", plainMel}});
  const auto plainEncoded = outputOf(*encoder->prediction(melInput), "encoder_output_embeds");
  MLMultiArray encodedBacking(plainEncoded.shape(), T::float16);
  encoder->prediction(melInput, backedBy({{"encoder_output_embeds", encodedBacking}}));
  expectSameValues(encodedBacking, plainEncoded, "encoder");
}

// A prediction that refills a backing marks it changed, so a decoder given that backing as its
// encoder output attends to the new window rather than to the memory of the one before.
TEST(OutputBackings, AnEncoderOutputRefilledInItsBackingReachesTheDecoder) {
  DecoderFixture f;
  const auto encoder = loadMLModel(runner::writeAudioEncoderModel(f.dir.path(), f.options));
  const auto &description = encoder->description();
  const auto &melShape =
      *description.inputDescriptionsByName.at("melspectrogram_features").multiArrayConstraint;
  const auto &encodedShape =
      *description.outputDescriptionsByName.at("encoder_output_embeds").multiArrayConstraint;
  const MLMultiArray backing(encodedShape.shape, encodedShape.dataType);
  const auto backed = backedBy({{"encoder_output_embeds", backing}});
  Arrays decoderInput = f.inputs();
  decoderInput["encoder_output_embeds"] = backing;
  const MLDictionaryFeatureProvider backedInput(decoderInput);

  for (const double scale : {0.5, -0.8}) {
    SCOPED_TRACE(scale);
    const MLMultiArray mel(melShape.shape, melShape.dataType);
    for (int i = 0; i < mel.count(); ++i) {
      mel.setValue(i, scale * std::sin(0.1 * i));
    }
    encoder->prediction(MLDictionaryFeatureProvider(Arrays{{"melspectrogram_features", mel}}),
                        backed);
    Arrays freshInput = decoderInput;
    freshInput["encoder_output_embeds"] = backing.deepCopy();
    const auto expected =
        outputOf(*f.model->prediction(MLDictionaryFeatureProvider(freshInput)), "logits");
    expectSameValues(outputOf(*f.model->prediction(backedInput), "logits"), expected, "logits");
  }
}

} // namespace
