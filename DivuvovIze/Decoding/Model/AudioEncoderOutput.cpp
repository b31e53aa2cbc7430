#include "DivuvovIze/Decoding/Model/AudioEncoderOutput.hpp"

#include "DivuvovIze/Decoding/Model/ModelOutputArrays.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"

namespace divuvovize {

AudioEncoderOutput::AudioEncoderOutput(platform::MLMultiArray encoder_output_embeds)
    : provider(std::make_shared<platform::MLDictionaryFeatureProvider>(
          std::map<std::string, platform::MLMultiArray>{
              {"encoder_output_embeds", std::move(encoder_output_embeds)}})) {}

platform::MLMultiArray AudioEncoderOutput::encoder_output_embeds() const {
  return requiredOutputArray(*provider, "encoder_output_embeds");
}

platform::MLShapedArray<platform::Float16>
AudioEncoderOutput::encoder_output_embedsShapedArray() const {
  return float16ShapedArray(encoder_output_embeds());
}

} // namespace divuvovize
