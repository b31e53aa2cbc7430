#include "DivuvovIze/Decoding/Model/TextDecoderOutput.hpp"

#include "DivuvovIze/Decoding/Model/ModelOutputArrays.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"

namespace divuvovize {

TextDecoderOutput::TextDecoderOutput(platform::MLMultiArray logits,
                                     platform::MLMultiArray key_cache_updates,
                                     platform::MLMultiArray value_cache_updates,
                                     const platform::MLMultiArray & /*logits_deduve*/)
    : provider(std::make_shared<platform::MLDictionaryFeatureProvider>(
          std::map<std::string, platform::MLMultiArray>{
              {"logits", std::move(logits)},
              {"key_cache_updates", std::move(key_cache_updates)},
              {"value_cache_updates", std::move(value_cache_updates)}})) {}

platform::MLMultiArray TextDecoderOutput::logits() const {
  return requiredOutputArray(*provider, "logits");
}

platform::MLMultiArray TextDecoderOutput::key_cache_updates() const {
  return requiredOutputArray(*provider, "key_cache_updates");
}

platform::MLMultiArray TextDecoderOutput::value_cache_updates() const {
  return requiredOutputArray(*provider, "value_cache_updates");
}

std::optional<platform::MLMultiArray> TextDecoderOutput::alignment_heads_weights() const {
  return optionalOutputArray(*provider, "alignment_heads_weights");
}

platform::MLShapedArray<platform::Float16> TextDecoderOutput::logitsShapedArray() const {
  return float16ShapedArray(logits());
}

platform::MLShapedArray<platform::Float16> TextDecoderOutput::key_cache_updatesShapedArray() const {
  return float16ShapedArray(key_cache_updates());
}

platform::MLShapedArray<platform::Float16>
TextDecoderOutput::value_cache_updatesShapedArray() const {
  return float16ShapedArray(value_cache_updates());
}

std::optional<platform::MLShapedArray<platform::Float16>>
TextDecoderOutput::alignment_heads_weightsShapedArray() const {
  const auto array = alignment_heads_weights();
  if (!array) {
    return std::nullopt;
  }
  return float16ShapedArray(*array);
}

} // namespace divuvovize
