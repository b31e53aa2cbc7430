#include "DivuvovIze/Decoding/Model/TextDecoderInput.hpp"

namespace divuvovize {

TextDecoderInput::TextDecoderInput(platform::MLMultiArray input_ids,
                                   platform::MLMultiArray cache_length,
                                   platform::MLMultiArray key_cache,
                                   platform::MLMultiArray value_cache,
                                   platform::MLMultiArray kv_cache_update_mask,
                                   platform::MLMultiArray encoder_output_embeds,
                                   platform::MLMultiArray decoder_key_padding_mask)
    : input_ids(std::move(input_ids)), cache_length(std::move(cache_length)),
      key_cache(std::move(key_cache)), value_cache(std::move(value_cache)),
      kv_cache_update_mask(std::move(kv_cache_update_mask)),
      encoder_output_embeds(std::move(encoder_output_embeds)),
      decoder_key_padding_mask(std::move(decoder_key_padding_mask)) {}

TextDecoderInput::TextDecoderInput(const platform::MLShapedArray<std::int32_t> &input_ids,
                                   const platform::MLShapedArray<std::int32_t> &cache_length,
                                   const platform::MLShapedArray<float> &key_cache,
                                   const platform::MLShapedArray<float> &value_cache,
                                   const platform::MLShapedArray<float> &kv_cache_update_mask,
                                   const platform::MLShapedArray<float> &encoder_output_embeds,
                                   const platform::MLShapedArray<float> &decoder_key_padding_mask)
    : TextDecoderInput(
          input_ids.toMLMultiArray(), cache_length.toMLMultiArray(), key_cache.toMLMultiArray(),
          value_cache.toMLMultiArray(), kv_cache_update_mask.toMLMultiArray(),
          encoder_output_embeds.toMLMultiArray(), decoder_key_padding_mask.toMLMultiArray()) {}

std::set<std::string> TextDecoderInput::featureNames() const {
  return {"input_ids",
          "cache_length",
          "key_cache",
          "value_cache",
          "kv_cache_update_mask",
          "encoder_output_embeds",
          "decoder_key_padding_mask"};
}

std::optional<platform::MLFeatureValue>
TextDecoderInput::featureValue(const std::string &name) const {
  const platform::MLMultiArray *field = nullptr;
  if (name == "input_ids") {
    field = &input_ids;
  } else if (name == "cache_length") {
    field = &cache_length;
  } else if (name == "key_cache") {
    field = &key_cache;
  } else if (name == "value_cache") {
    field = &value_cache;
  } else if (name == "kv_cache_update_mask") {
    field = &kv_cache_update_mask;
  } else if (name == "encoder_output_embeds") {
    field = &encoder_output_embeds;
  } else if (name == "decoder_key_padding_mask") {
    field = &decoder_key_padding_mask;
  }
  if (field == nullptr) {
    return std::nullopt;
  }
  return platform::MLFeatureValue(*field);
}

} // namespace divuvovize
