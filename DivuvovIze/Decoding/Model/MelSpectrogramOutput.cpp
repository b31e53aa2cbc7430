#include "DivuvovIze/Decoding/Model/MelSpectrogramOutput.hpp"

#include "DivuvovIze/Decoding/Model/ModelOutputArrays.hpp"
#include "platform/ml/MLDictionaryFeatureProvider.hpp"

namespace divuvovize {

MelSpectrogramOutput::MelSpectrogramOutput(platform::MLMultiArray melspectrogram_features)
    : provider(std::make_shared<platform::MLDictionaryFeatureProvider>(
          std::map<std::string, platform::MLMultiArray>{
              {"melspectrogram_features", std::move(melspectrogram_features)}})) {}

platform::MLMultiArray MelSpectrogramOutput::melspectrogramFeatures() const {
  return requiredOutputArray(*provider, "melspectrogram_features");
}

platform::MLShapedArray<platform::Float16>
MelSpectrogramOutput::melspectrogram_featuresShapedArray() const {
  return float16ShapedArray(melspectrogramFeatures());
}

} // namespace divuvovize
