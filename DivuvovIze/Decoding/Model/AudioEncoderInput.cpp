#include "DivuvovIze/Decoding/Model/AudioEncoderInput.hpp"

namespace divuvovize {

std::set<std::string> AudioEncoderInput::featureNames() const {
  return {"melspectrogram_features"};
}

std::optional<platform::MLFeatureValue>
AudioEncoderInput::featureValue(const std::string &name) const {
  if (name == "melspectrogram_features") {
    return platform::MLFeatureValue(melspectrogram_features);
  }
  return std::nullopt;
}

} // namespace divuvovize
