#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

#include <cstdint>

namespace divuvovize {

// The decoder model's inputs for one step, each field presented under its own name.
class TextDecoderInput : public platform::MLFeatureProvider {
public:
  TextDecoderInput(platform::MLMultiArray input_ids, platform::MLMultiArray cache_length,
                   platform::MLMultiArray key_cache, platform::MLMultiArray value_cache,
                   platform::MLMultiArray kv_cache_update_mask,
                   platform::MLMultiArray encoder_output_embeds,
                   platform::MLMultiArray decoder_key_padding_mask);
  // From shaped arrays: the ids and cache length of 32-bit integers, the rest of floats.
  TextDecoderInput(const platform::MLShapedArray<std::int32_t> &input_ids,
                   const platform::MLShapedArray<std::int32_t> &cache_length,
                   const platform::MLShapedArray<float> &key_cache,
                   const platform::MLShapedArray<float> &value_cache,
                   const platform::MLShapedArray<float> &kv_cache_update_mask,
                   const platform::MLShapedArray<float> &encoder_output_embeds,
                   const platform::MLShapedArray<float> &decoder_key_padding_mask);

  // The seven feature names.
  std::set<std::string> featureNames() const override;
  // The array of the named field; absent for any other name (names are case-sensitive).
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override;

  platform::MLMultiArray input_ids;
  platform::MLMultiArray cache_length;
  platform::MLMultiArray key_cache;
  platform::MLMultiArray value_cache;
  platform::MLMultiArray kv_cache_update_mask;
  platform::MLMultiArray encoder_output_embeds;
  platform::MLMultiArray decoder_key_padding_mask;
};

} // namespace divuvovize
