#include "DivuvovIze/Decoding/Model/AudioEncoderInput.hpp"
#include "DivuvovIze/Decoding/Model/AudioEncoderOutput.hpp"
#include "DivuvovIze/Decoding/Model/MelSpectrogramInput.hpp"
#include "DivuvovIze/Decoding/Model/MelSpectrogramOutput.hpp"
#include "DivuvovIze/Decoding/Model/TextDecoderInput.hpp"
#include "DivuvovIze/Decoding/Model/TextDecoderOutput.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"

#include <gtest/gtest.h>

namespace {

using namespace divuvovize;
using platform::MLMultiArray;
using platform::MLMultiArrayDataType;

MLMultiArray floats(std::vector<int> shape, float first) {
  MLMultiArray array(std::move(shape), MLMultiArrayDataType::float32);
  for (int i = 0; i < array.count(); ++i) {
    array.setValue(i, first + static_cast<float>(i));
  }
  return array;
}

TEST(ModelFeatureProviders, InputsPresentTheirFieldsByExactName) {
  const auto audio = floats({4}, 0.5f);
  const MelSpectrogramInput mel(audio);
  const AudioEncoderInput encoder(platform::MLShapedArray<float>({1, 2, 1, 2}, {1, 2, 3, 4}));
  const TextDecoderInput decoder(platform::MLShapedArray<std::int32_t>({1}, {50257}),
                                 platform::MLShapedArray<std::int32_t>({1}, {3}),
                                 platform::MLShapedArray<float>({1, 2, 1, 1}, {1, 2}),
                                 platform::MLShapedArray<float>({1, 2, 1, 1}, {3, 4}),
                                 platform::MLShapedArray<float>({1, 1}, {1}),
                                 platform::MLShapedArray<float>({1, 2, 1, 1}, {5, 6}),
                                 platform::MLShapedArray<float>({1, 1}, {0}));

  EXPECT_EQ(mel.featureNames(), (std::set<std::string>{"audio"}));
  EXPECT_EQ(encoder.featureNames(), (std::set<std::string>{"melspectrogram_features"}));
  EXPECT_EQ(decoder.featureNames(),
            (std::set<std::string>{"input_ids", "cache_length", "key_cache", "value_cache",
                                   "kv_cache_update_mask", "encoder_output_embeds",
                                   "decoder_key_padding_mask"}));
  // The value shares the field's storage.
  EXPECT_EQ(mel.featureValue("audio")->multiArrayValue()->dataPointer(), audio.dataPointer());
  EXPECT_EQ(encoder.featureValue("melspectrogram_features")->multiArrayValue()->value(3), 4.0);
  EXPECT_EQ(decoder.featureValue("input_ids")->multiArrayValue()->dataType(),
            MLMultiArrayDataType::int32);
  EXPECT_EQ(decoder.featureValue("cache_length")->multiArrayValue()->value(0), 3.0);
  EXPECT_EQ(decoder.featureValue("encoder_output_embeds")->multiArrayValue()->value(1), 6.0);

  for (const std::string name : {"Audio", "audio ", "", "melspectrogram_features"}) {
    EXPECT_FALSE(mel.featureValue(name).has_value()) << name;
  }
  for (const std::string name : {"Input_ids", "inputIds", "logits", "key_cache_updates"}) {
    EXPECT_FALSE(decoder.featureValue(name).has_value()) << name;
  }
}

TEST(ModelFeatureProviders, OutputsGiveTypedArraysAndFloat16Copies) {
  const TextDecoderOutput built(floats({1, 1, 3}, 1.0f), floats({1, 2, 1, 1}, 0.25f),
                                floats({1, 2, 1, 1}, -2.0f), floats({1}, 9.0f));
  EXPECT_EQ(built.featureNames(),
            (std::set<std::string>{"logits", "key_cache_updates", "value_cache_updates"}));
  EXPECT_FALSE(built.alignment_heads_weights().has_value());
  EXPECT_FALSE(built.alignment_heads_weightsShapedArray().has_value());
  const auto logits = built.logitsShapedArray();
  EXPECT_EQ(logits.shape, (MLMultiArray::Shape{1, 1, 3}));
  EXPECT_EQ(static_cast<float>(logits.scalars[2]), 3.0f);
  EXPECT_EQ(static_cast<float>(built.value_cache_updatesShapedArray().scalars[1]), -1.0f);

  // A prediction result with the alignment output exposes it too.
  const auto provider = std::make_shared<platform::MLDictionaryFeatureProvider>(
      std::map<std::string, MLMultiArray>{{"logits", floats({1, 1, 2}, 0)},
                                          {"key_cache_updates", floats({1, 1, 1, 1}, 0)},
                                          {"value_cache_updates", floats({1, 1, 1, 1}, 0)},
                                          {"alignment_heads_weights", floats({1, 3}, 0.5f)}});
  const TextDecoderOutput predicted(provider);
  ASSERT_TRUE(predicted.alignment_heads_weights().has_value());
  EXPECT_EQ(predicted.alignment_heads_weights()->value(2), 2.5);

  const MelSpectrogramOutput mel(floats({1, 2, 1, 2}, 0.0f));
  EXPECT_EQ(mel.featureNames(), (std::set<std::string>{"melspectrogram_features"}));
  EXPECT_EQ(static_cast<float>(mel.melspectrogram_featuresShapedArray().scalars[3]), 3.0f);
  const AudioEncoderOutput encoder(floats({1, 2, 1, 1}, 7.0f));
  EXPECT_EQ(encoder.encoder_output_embeds().value(1), 8.0);
  EXPECT_EQ(static_cast<float>(encoder.encoder_output_embedsShapedArray().scalars[0]), 7.0f);
}

} // namespace
