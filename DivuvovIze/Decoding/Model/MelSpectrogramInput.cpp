#include "DivuvovIze/Decoding/Model/MelSpectrogramInput.hpp"

namespace divuvovize {

std::set<std::string> MelSpectrogramInput::featureNames() const { return {"audio"}; }

std::optional<platform::MLFeatureValue>
MelSpectrogramInput::featureValue(const std::string &name) const {
  if (name == "audio") {
    return platform::MLFeatureValue(audio);
  }
  return std::nullopt;
}

} // namespace divuvovize
