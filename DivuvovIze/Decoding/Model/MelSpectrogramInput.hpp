#pragma once

#include "platform/ml/MLFeatureProvider.hpp"
#include "platform/ml/MLMultiArray.hpp"
#include "platform/ml/MLShapedArray.hpp"

namespace divuvovize {

// The mel model's input: the padded audio window as feature "audio".
class MelSpectrogramInput : public platform::MLFeatureProvider {
public:
  explicit MelSpectrogramInput(platform::MLMultiArray audio) : audio(std::move(audio)) {}
  explicit MelSpectrogramInput(const platform::MLShapedArray<float> &audio)
      : audio(audio.toMLMultiArray()) {}

  // {"audio"}
  std::set<std::string> featureNames() const override;
  // The array for "audio" (exact, case-sensitive name); absent for any other name.
  std::optional<platform::MLFeatureValue> featureValue(const std::string &name) const override;

  platform::MLMultiArray audio;
};

} // namespace divuvovize
